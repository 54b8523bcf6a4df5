// POSIX back end: threads, the console lock, standard output and names.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include "common/run_settings.h"
#include "platform/platform.h"
#include "platform/posix/icmp_posix.h"

namespace fanecho {

namespace {

// A worker needs little stack: its reply buffers and the resolver's. Ten
// thousand of glibc's default 8 MiB reservations would be needless. What
// counts towards memory is what a worker touches: the page with glibc's
// thread block and one more, as long as the frames down to the wait in
// icmpSendEchoPosix stay under about 3.5 KiB; a third page would cost 40 MiB
// at ten thousand workers.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kWorkerStackSize = 1024 * 1024;
#else
constexpr std::size_t kWorkerStackSize = 256 * 1024;
#endif

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

void stopSockets() {}

bool descriptorsShort() {
  const int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (probe >= 0) {
    close(probe);
    return false;
  }
  return errno == EMFILE || errno == ENFILE;
}

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
      // The resolver may report it as a temporary failure and leave errno
      // elsewhere, so look for the shortage itself.
      if ((error == NETDB_INTERNAL || error == TRY_AGAIN) &&
          waitForFreeDescriptor(descriptorsShort() ? EMFILE : errno)) {
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

// Worker stacks. glibc maps, guards and unmaps a stack for every thread, and
// with ten thousand threads those calls, and the mapping they keep splitting
// and merging, cost more than the threads themselves. So stacks are slots of
// one reservation made at the first start, each below a guard page that the
// kernel keeps in its page tables (MADV_GUARD_INSTALL: no split mapping), and
// a slot is used again once its thread has been joined. Where the kernel
// cannot place such guards, or the slots run out, a thread gets a stack of
// glibc's as before.
#ifndef MADV_GUARD_INSTALL
#define MADV_GUARD_INSTALL 102  // Linux 6.13
#endif

constexpr std::uint32_t kStackSlots = kMaxWorkers;
constexpr std::uint32_t kNoSlot = 0xFFFFFFFFu;

// What a thread runs, and on which stack. A thread's handle points at it:
// the routine needs no allocation of its own, and the thread touches no heap.
struct Worker {
  pthread_t thread;
  ThreadRoutine routine;
  void* argument;
  bool lowered;
  std::uint32_t slot;  // kNoSlot: glibc's stack, and this record is on the heap
};

// Guards go in kGuardBatch slots at a time with one process_madvise: one
// madvise per thread cost the starting thread 20-30 ms at ten thousand
// workers, batched it is under 10 ms. Where the kernel does not take that
// advice through process_madvise (before Linux 6.13), one at a time.
constexpr std::uint32_t kGuardBatch = 64;

// The rest is under slotMutex.
pthread_mutex_t slotMutex = PTHREAD_MUTEX_INITIALIZER;
char* stackArena = nullptr;
bool stackArenaTried = false;
std::size_t guardSize = 0;
int selfPidfd = -1;  // for process_madvise; -1 when it cannot place guards
Worker slotWorkers[kStackSlots];
bool slotGuarded[kStackSlots];
std::uint32_t freeSlots[kStackSlots];
std::uint32_t freeSlotCount = 0;
std::uint32_t unusedSlot = 0;  // slots from here on were never handed out

std::size_t slotSize() { return guardSize + kWorkerStackSize; }

// Guards for `first` and the slots after it, which are handed out in order.
void guardAhead(std::uint32_t first) {
#ifdef SYS_process_madvise
  if (selfPidfd < 0) return;
  iovec pages[kGuardBatch];
  std::uint32_t count = 0;
  for (; count < kGuardBatch && first + count < kStackSlots; ++count) {
    pages[count] = {stackArena + (first + count) * slotSize(), guardSize};
  }
  const long advised =
      syscall(SYS_process_madvise, selfPidfd, pages, std::size_t{count}, MADV_GUARD_INSTALL, 0u);
  if (advised < 0) {
    close(selfPidfd);
    selfPidfd = -1;
    return;
  }
  for (std::size_t i = 0; i < static_cast<std::size_t>(advised) / guardSize; ++i) {
    slotGuarded[first + i] = true;
  }
#else
  static_cast<void>(first);
#endif
}

bool guardSlot(std::uint32_t slot) {
  if (!slotGuarded[slot]) guardAhead(slot);
  if (!slotGuarded[slot]) {
    slotGuarded[slot] =
        madvise(stackArena + slot * slotSize(), guardSize, MADV_GUARD_INSTALL) == 0;
  }
  return slotGuarded[slot];
}

void reserveStacks() {
  stackArenaTried = true;
  guardSize = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  if (kStackSlots > SIZE_MAX / slotSize()) return;  // a 32-bit address space
  // Only touched pages are backed; MAP_STACK keeps huge pages out, which
  // would back a few bytes of stack with 2 MiB.
  void* arena = mmap(nullptr, kStackSlots * slotSize(), PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
  if (arena == MAP_FAILED) return;
  stackArena = static_cast<char*>(arena);
  madvise(stackArena, kStackSlots * slotSize(), MADV_NOHUGEPAGE);
#ifdef SYS_pidfd_open
  selfPidfd = static_cast<int>(syscall(SYS_pidfd_open, getpid(), 0u));
#endif
  if (!guardSlot(0)) {
    // An older kernel: no stack without a guard, so glibc's stacks after all.
    munmap(arena, kStackSlots * slotSize());
    stackArena = nullptr;
  }
}

// A record with a stack slot, or null.
Worker* takeSlot() {
  Worker* worker = nullptr;
  pthread_mutex_lock(&slotMutex);
  if (!stackArenaTried) reserveStacks();
  if (stackArena != nullptr) {
    std::uint32_t slot = kNoSlot;
    if (freeSlotCount > 0) {
      slot = freeSlots[--freeSlotCount];
    } else if (unusedSlot < kStackSlots) {
      slot = unusedSlot++;
    }
    // A slot whose guard cannot be placed stays out of use.
    if (slot != kNoSlot && guardSlot(slot)) {
      worker = &slotWorkers[slot];
      worker->slot = slot;
    }
  }
  pthread_mutex_unlock(&slotMutex);
  return worker;
}

void releaseWorker(Worker* worker) {
  if (worker->slot == kNoSlot) {
    delete worker;
    return;
  }
  pthread_mutex_lock(&slotMutex);
  freeSlots[freeSlotCount++] = worker->slot;
  pthread_mutex_unlock(&slotMutex);
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
  return nullptr;
}

ThreadHandle startThread(ThreadRoutine routine, void* argument, ThreadPriority priority) {
  Worker* worker = takeSlot();
  if (worker == nullptr) {
    worker = new (std::nothrow) Worker{};
    if (worker == nullptr) return nullptr;
    worker->slot = kNoSlot;
  }
  worker->routine = routine;
  worker->argument = argument;
  worker->lowered = priority == ThreadPriority::belowNormal;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  if (worker->slot != kNoSlot) {
    pthread_attr_setstack(&attributes, stackArena + worker->slot * slotSize() + guardSize,
                          kWorkerStackSize);
  } else {
    pthread_attr_setstacksize(&attributes, kWorkerStackSize);
  }
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
    auto* worker = static_cast<Worker*>(handles[i]);
    if (pthread_join(worker->thread, nullptr) != 0) {
      // It may still be running on its stack: keep both.
      allJoined = false;
      continue;
    }
    releaseWorker(worker);
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

int writeOut(const char* text, std::size_t length) {
  errno = 0;
  if (std::fwrite(text, 1, length, stdout) == length) return 0;
  return errno != 0 ? errno : EIO;
}

int flushOut() {
  errno = 0;
  if (std::fflush(stdout) == 0) return 0;
  return errno != 0 ? errno : EIO;
}

void writeErr(const char* text, std::size_t length) {
  std::fwrite(text, 1, length, stderr);
  std::fflush(stderr);
}

}  // namespace

PlatformOps platform = {
    startSockets,
    stopSockets,
    resolveName,
    reverseName,
    icmpProblemPosix,
    icmpCreatePosix,
    icmpSendEchoPosix,
    icmpClosePosix,
    startThread,
    waitForThreads,
    sleepMs,
    consoleLockInit,
    consoleLockEnter,
    consoleLockLeave,
    writeOut,
    flushOut,
    localSendProblemPosix,
    writeErr,
    waitForFreeDescriptor,
};

}  // namespace fanecho
