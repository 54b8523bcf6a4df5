// Linux back end: threads, the console lock and standard output. Echo
// requests are in icmp_linux.cpp and icmp6_linux.cpp, names in
// names_linux.cpp, the workers' stacks in worker_stacks.cpp.
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/linux/icmp6_linux.h"
#include "platform/linux/icmp_linux.h"
#include "platform/linux/names_linux.h"
#include "platform/linux/terminal_linux.h"
#include "platform/linux/worker_stacks.h"
#include "platform/platform.h"
#include "platform/standard_streams.h"

namespace fanecho {

namespace {

pthread_mutex_t consoleMutex = PTHREAD_MUTEX_INITIALIZER;

void prepareProcess() {
  // With 0, 1 or 2 closed, a socket would take that number, and standard
  // output would go to a target as packets. /dev/null, read-only, in their
  // place makes writes fail, and the run's status says so.
  for (int standard = 0; standard <= 2; ++standard) {
    if (fcntl(standard, F_GETFD) < 0 && errno == EBADF) open("/dev/null", O_RDONLY);
  }
  // Every worker holds a socket while it waits: allow as many as we may.
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  noteDescriptorsInUse();
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
}

// Descriptors held by waiting workers are no reason to call a file missing:
// wait for one to be freed.
std::FILE* openFile(const char* name) {
  std::FILE* file;
  while ((file = std::fopen(name, "r")) == nullptr) {
    if (!waitForFreeDescriptor(errno)) return nullptr;
  }
  return file;
}

// The C library's resolver needs nothing started.
bool startNames() { return true; }
void stopNames() {}

// The family picks the socket code: icmp_linux.cpp or icmp6_linux.cpp.
const char* icmpProblem(std::uint8_t family, bool& familyMissing) {
  familyMissing = false;
  if (family == 6) return icmp6ProblemPosix(familyMissing);
  return icmpProblemPosix();
}

IcmpHandle icmpCreate(std::uint8_t family) {
  return family == 6 ? icmp6CreatePosix() : icmpCreatePosix();
}

std::uint32_t icmpSendEcho(IcmpHandle handle, const EchoRequest& request, EchoReply& reply,
                           std::uint8_t* dataArea, std::size_t dataAreaSize) {
  if (request.target.family == 6) {
    return icmp6SendEchoPosix(handle, request, reply, dataArea, dataAreaSize);
  }
  return icmpSendEchoPosix(handle, request, reply, dataArea, dataAreaSize);
}

void icmpClose(IcmpHandle handle, std::uint8_t family) {
  if (family == 6) {
    icmp6ClosePosix(handle);
  } else {
    icmpClosePosix(handle);
  }
}

// The IPv4 notice names the IPv4 neighbour table; the IPv6 one only where
// every request that could not leave was an IPv6 one.
const char* localSendProblem() {
  if (const char* problem = localSendProblemPosix()) return problem;
  return localSendProblem6Posix();
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

void releaseThread(ThreadHandle handle) { recycleWorker(static_cast<Worker*>(handle)); }

// pthread_create says EAGAIN for the process limit and for threads-max
// alike, and a task needs kernel memory too.
const char* threadStartProblem() {
  return "This system lets the user start no more threads: its limit on processes (ulimit -u), "
         "kernel.threads-max or memory ran out.";
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

Platform platform = {
    .echo = {.problem = icmpProblem,
             .open = icmpCreate,
             .send = icmpSendEcho,
             .close = icmpClose,
             .localSendProblem = localSendProblem,
             .sourceProblem = sourceProblemPosix,
             .interfaceProblem = interfaceProblemPosix},
    .names = {.start = startNames,
              .stop = stopNames,
              .resolve = resolveNamePosix,
              .reverse = reverseNamePosix,
              .interfaceIndex = interfaceIndexPosix},
    .threads = {.start = startThread,
                .waitFor = waitForThreads,
                .release = releaseThread,
                .startProblem = threadStartProblem,
                .sleepMs = sleepMs,
                .monotonicMs = monotonicMs,
                .startTicker = startTickerPosix,
                .stopTicker = stopTickerPosix},
    .console = {.lockInit = consoleLockInit,
                .lockEnter = consoleLockEnter,
                .lockLeave = consoleLockLeave,
                .writeOut = writeStandardOut,
                .flushOut = flushStandardOut,
                .writeErr = writeStandardError,
                .errTerminalWidth = errTerminalWidthPosix,
                .outIsTerminal = outIsTerminalPosix},
    .process = {.prepare = prepareProcess, .openFile = openFile, .finish = closeKeptSockets},
};

}  // namespace fanecho
