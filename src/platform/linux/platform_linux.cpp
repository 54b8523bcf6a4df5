// Linux back end: threads, the console lock, standard output and names.
// Echo requests are in icmp_linux.cpp, the workers' stacks in worker_stacks.cpp.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/linux/icmp_linux.h"
#include "platform/linux/terminal_linux.h"
#include "platform/linux/worker_stacks.h"
#include "platform/platform.h"
#include "platform/standard_streams.h"

namespace fanecho {

namespace {

pthread_mutex_t consoleMutex = PTHREAD_MUTEX_INITIALIZER;

bool startSockets() {
  // With 0, 1 or 2 closed, a socket would take that number, and standard
  // output would go to a target as packets. /dev/null, read-only, in their
  // place makes writes fail, and the run's status says so.
  for (int standard = 0; standard <= 2; ++standard) {
    if (fcntl(standard, F_GETFD) < 0 && errno == EBADF) open("/dev/null", O_RDONLY);
  }
  // Every worker holds a socket while it waits: allow as many as we may.
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return true;
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  // Grow the descriptor table to a full table's worth now, while no worker
  // runs: grown later, every doubling waits for an RCU grace period and holds
  // up each worker opening a socket meanwhile. F_DUPFD, unlike dup2, never
  // closes a descriptor that is already there.
  const rlim_t wanted = kMaxThreads + 64;
  const int highest = static_cast<int>((limit.rlim_cur < wanted ? limit.rlim_cur : wanted) - 1);
  for (int source = 0; source <= 2; ++source) {
    const int high = fcntl(source, F_DUPFD_CLOEXEC, highest);
    if (high >= 0) {
      close(high);
      break;
    }
  }
  return true;
}

void stopSockets() { closeKeptSockets(); }

// gethostbyname_r rather than getaddrinfo: getaddrinfo sorts the addresses
// of a name by its own rules, and the first address listed is the one wanted.
bool resolveName(const char* name, std::uint8_t octets[4]) {
  const LookupDescriptors held;
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
    if (found == nullptr || found->h_addrtype != AF_INET || found->h_length != 4 ||
        found->h_addr_list[0] == nullptr) {
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
  const LookupDescriptors held;
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&target), sizeof target, host, sizeof host,
                  nullptr, 0, NI_NAMEREQD) != 0) {
    name[0] = '\0';
    return;
  }
  std::snprintf(name, size, "%s", host);
}

void* runWorker(void* record) {
  const Worker& worker = *static_cast<const Worker*>(record);
  if (worker.lowered) {
    // One step below normal: a nice value one higher, for this thread alone.
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice + 1);
  }
  worker.routine(worker.argument);
  noteWorkerEnded(static_cast<Worker*>(record));
  return nullptr;
}

ThreadHandle startThread(ThreadRoutine routine, void* argument, ThreadPriority priority) {
  Worker* worker = allocateWorker();
  if (worker == nullptr) return nullptr;
  worker->routine = routine;
  worker->argument = argument;
  worker->lowered = priority == ThreadPriority::belowNormal;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  setWorkerStack(attributes, *worker);
  const int failed = pthread_create(&worker->thread, &attributes, runWorker, worker);
  pthread_attr_destroy(&attributes);
  if (failed != 0) {
    releaseWorker(worker);
    return nullptr;
  }
  return worker;
}

bool waitForThreads(const ThreadHandle* handles, std::uint32_t count) {
  bool allJoined = true;
  // Last started first: it usually ends last, so the group costs one sleep
  // rather than a wake-up for every thread that is still waiting.
  for (std::uint32_t i = count; i-- > 0;) {
    // A failed join leaves the thread its stack: it may still run on it.
    if (!joinWorker(static_cast<Worker*>(handles[i]))) allJoined = false;
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

std::uint64_t monotonicMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000 +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
}

void consoleLockInit() {}
void consoleLockEnter() { pthread_mutex_lock(&consoleMutex); }
void consoleLockLeave() { pthread_mutex_unlock(&consoleMutex); }

}  // namespace

PlatformOps platform = {
    .startSockets = startSockets,
    .stopSockets = stopSockets,
    .resolveName = resolveName,
    .reverseName = reverseName,
    .icmpProblem = icmpProblemPosix,
    .icmpCreate = icmpCreatePosix,
    .icmpSendEcho = icmpSendEchoPosix,
    .icmpClose = icmpClosePosix,
    .startThread = startThread,
    .waitForThreads = waitForThreads,
    .sleepMs = sleepMs,
    .monotonicMs = monotonicMs,
    .consoleLockInit = consoleLockInit,
    .consoleLockEnter = consoleLockEnter,
    .consoleLockLeave = consoleLockLeave,
    .writeOut = writeStandardOut,
    .flushOut = flushStandardOut,
    .localSendProblem = localSendProblemPosix,
    .writeErr = writeStandardError,
    .awaitFreeDescriptor = waitForFreeDescriptor,
    .errTerminalWidth = errTerminalWidthPosix,
    .outIsTerminal = outIsTerminalPosix,
    .startTicker = startTickerPosix,
    .stopTicker = stopTickerPosix,
};

}  // namespace fanecho
