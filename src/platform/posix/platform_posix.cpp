// POSIX back end: threads, the console lock, standard output and names.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/icmp_posix.h"

namespace fanecho {

namespace {

// A worker needs little stack: its reply buffers and the resolver's. Ten
// thousand of glibc's default 8 MiB reservations would be needless.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kWorkerStackSize = 1024 * 1024;
#else
constexpr std::size_t kWorkerStackSize = 256 * 1024;
#endif

pthread_mutex_t consoleMutex = PTHREAD_MUTEX_INITIALIZER;

bool startSockets() {
  // Every worker holds a socket while it waits: allow as many as we may.
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  return true;
}

void stopSockets() {}

// gethostbyname_r rather than getaddrinfo: getaddrinfo sorts the addresses
// of a name by its own rules, and the first address listed is the one wanted.
bool resolveName(const char* name, std::uint8_t octets[4]) {
  char stackBuffer[2048];
  std::vector<char> heapBuffer;
  char* buffer = stackBuffer;
  std::size_t size = sizeof stackBuffer;
  for (;;) {
    struct hostent entry;
    struct hostent* found = nullptr;
    int error = 0;
    const int failed = gethostbyname_r(name, &entry, buffer, size, &found, &error);
    if (failed == ERANGE && size < 1024 * 1024) {
      heapBuffer.resize(size * 2);
      buffer = heapBuffer.data();
      size = heapBuffer.size();
      continue;
    }
    if (found == nullptr) {
      // Out of descriptors is no answer about the name: wait and ask again.
      if ((error == NETDB_INTERNAL || error == TRY_AGAIN) && waitForFreeDescriptor(errno)) continue;
      return false;
    }
    if (found->h_addrtype != AF_INET || found->h_length != 4 || found->h_addr_list[0] == nullptr) {
      return false;
    }
    std::memcpy(octets, found->h_addr_list[0], 4);
    return true;
  }
}

void reverseName(std::uint32_t address, char* name, std::size_t size) {
  sockaddr_in target;
  std::memset(&target, 0, sizeof target);
  target.sin_family = AF_INET;
  std::memcpy(&target.sin_addr.s_addr, &address, 4);
  char host[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&target), sizeof target, host, sizeof host,
                  nullptr, 0, NI_NAMEREQD) != 0) {
    name[0] = '\0';
    return;
  }
  std::snprintf(name, size, "%s", host);
}

// What a new thread runs; made by startThread, released by the thread.
struct ThreadStart {
  ThreadRoutine routine;
  void* argument;
};

void* runRoutine(void* start) {
  const ThreadStart what = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  what.routine(what.argument);
  return nullptr;
}

void* runLowered(void* start) {
  // One step below normal: a nice value one higher, for this thread alone.
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice + 1);
  return runRoutine(start);
}

ThreadHandle startThread(ThreadRoutine routine, void* argument, ThreadPriority priority) {
  auto* start = new (std::nothrow) ThreadStart{routine, argument};
  if (start == nullptr) return nullptr;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kWorkerStackSize);
  pthread_t thread;
  const int failed =
      pthread_create(&thread, &attributes,
                     priority == ThreadPriority::belowNormal ? runLowered : runRoutine, start);
  pthread_attr_destroy(&attributes);
  if (failed != 0) {
    delete start;
    return nullptr;
  }
  static_assert(sizeof(pthread_t) <= sizeof(ThreadHandle));
  return reinterpret_cast<ThreadHandle>(thread);
}

bool waitForThreads(const ThreadHandle* handles, std::uint32_t count) {
  bool allJoined = true;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (pthread_join(reinterpret_cast<pthread_t>(handles[i]), nullptr) != 0) allJoined = false;
  }
  return allJoined;
}

void sleepMs(std::uint32_t milliseconds) {
  struct timespec pause;
  pause.tv_sec = milliseconds / 1000;
  pause.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

void consoleLockInit() {}
void consoleLockEnter() { pthread_mutex_lock(&consoleMutex); }
void consoleLockLeave() { pthread_mutex_unlock(&consoleMutex); }

void writeOut(const char* text, std::size_t length) { std::fwrite(text, 1, length, stdout); }
void flushOut() { std::fflush(stdout); }

}  // namespace

PlatformOps platform = {
    startSockets,     stopSockets,      resolveName,       reverseName,
    icmpProblemPosix, icmpCreatePosix,  icmpSendEchoPosix, icmpClosePosix,
    startThread,      waitForThreads,   sleepMs,           consoleLockInit,
    consoleLockEnter, consoleLockLeave, writeOut,          flushOut,
};

}  // namespace fanecho
