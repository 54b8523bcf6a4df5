// Linux back end: threads, the console lock, standard output and names.
// Echo requests are in icmp_linux.cpp, the workers' stacks in worker_stacks.cpp.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "common/run_settings.h"
#include "platform/linux/icmp_linux.h"
#include "platform/linux/worker_stacks.h"
#include "platform/platform.h"
#include "platform/standard_streams.h"

namespace fanecho {

namespace {

pthread_mutex_t consoleMutex = PTHREAD_MUTEX_INITIALIZER;

bool startSockets() {
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
  const rlim_t wanted = kMaxWorkers + 64;
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

void stopSockets() { releaseIdleSockets(); }

bool descriptorsShort() {
  const int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (probe >= 0) {
    close(probe);
    return false;
  }
  if (errno != EMFILE && errno != ENFILE) return false;
  noteDescriptorShortage();
  return true;
}

void sleepMs(std::uint32_t milliseconds);

// gethostbyname_r rather than getaddrinfo: getaddrinfo sorts the addresses
// of a name by its own rules, and the first address listed is the one wanted.
bool resolveName(const char* name, std::uint8_t octets[4]) {
  constexpr int kStarvedTries = 200;
  int starvedTries = 0;
  char stackBuffer[2048];
  std::vector<char> heapBuffer;
  char* buffer = stackBuffer;
  std::size_t size = sizeof stackBuffer;
  for (;;) {
    struct hostent entry;
    struct hostent* found = nullptr;
    int error = 0;
    errno = 0;
    const unsigned shortagesBefore = descriptorShortageCount();
    const int failed = gethostbyname_r(name, &entry, buffer, size, &found, &error);
    if (failed == ERANGE && size < 1024 * 1024) {
      heapBuffer.resize(size * 2);
      buffer = heapBuffer.data();
      size = heapBuffer.size();
      continue;
    }
    if (found == nullptr) {
      // Out of descriptors is no answer about the name: wait and ask again.
      // A hosts file that could not be opened reads as a name it does not
      // hold, and errno may be left elsewhere by the backends after it: so
      // a failure while descriptors are short or nearly all ours is tried
      // again, while the shortage lasts, as our sockets and other look-ups
      // free theirs.
      const bool starved = errno == EMFILE || errno == ENFILE || descriptorsShort() ||
                           descriptorsTight() || descriptorShortageCount() != shortagesBefore;
      if (starved && ++starvedTries <= kStarvedTries) {
        if (!waitForFreeDescriptor(EMFILE)) sleepMs(10);
        continue;
      }
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

void* runWorker(void* record) {
  const Worker& worker = *static_cast<const Worker*>(record);
  if (worker.lowered) {
    // One step below normal: a nice value one higher, for this thread alone.
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice + 1);
  }
  worker.routine(worker.argument);
  workerEnds.fetch_add(1, std::memory_order_relaxed);
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
  noteWorkerStarted(worker);
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

void consoleLockInit() {}
void consoleLockEnter() { pthread_mutex_lock(&consoleMutex); }
void consoleLockLeave() { pthread_mutex_unlock(&consoleMutex); }

}  // namespace

// The terminal and the ticker of /progress.
namespace {

std::uint32_t errTerminalWidth() {
  if (isatty(STDERR_FILENO) == 0) return 0;
  struct winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col != 0) return size.ws_col;
  return 80;
}

bool outIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

// A thread of the ordinary kind: the workers' small stacks are for workers.
struct Ticker {
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::thread thread;
};

ThreadHandle startTicker(void (*tick)(), std::uint32_t periodMs) {
  auto* ticker = new (std::nothrow) Ticker;
  if (ticker == nullptr) return nullptr;
  try {
    ticker->thread = std::thread([ticker, tick, periodMs] {
      std::unique_lock<std::mutex> lock(ticker->mutex);
      while (!ticker->wake.wait_for(lock, std::chrono::milliseconds(periodMs),
                                    [ticker] { return ticker->stopping; })) {
        lock.unlock();
        tick();
        lock.lock();
      }
    });
  } catch (const std::system_error&) {
    delete ticker;
    return nullptr;
  }
  return ticker;
}

void stopTicker(ThreadHandle handle) {
  auto* ticker = static_cast<Ticker*>(handle);
  {
    std::lock_guard<std::mutex> lock(ticker->mutex);
    ticker->stopping = true;
  }
  ticker->wake.notify_one();
  ticker->thread.join();
  delete ticker;
}

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
    .consoleLockInit = consoleLockInit,
    .consoleLockEnter = consoleLockEnter,
    .consoleLockLeave = consoleLockLeave,
    .writeOut = writeStandardOut,
    .flushOut = flushStandardOut,
    .localSendProblem = localSendProblemPosix,
    .writeErr = writeStandardError,
    .awaitFreeDescriptor = waitForFreeDescriptor,
    .errTerminalWidth = errTerminalWidth,
    .outIsTerminal = outIsTerminal,
    .startTicker = startTicker,
    .stopTicker = stopTicker,
};

}  // namespace fanecho
