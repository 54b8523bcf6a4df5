// Stacks for worker threads. glibc maps, guards and unmaps a stack for every
// thread, and with ten thousand threads those calls, and the mapping they
// keep splitting and merging, cost more than the threads themselves. So
// stacks are slots of one reservation made at the first start, each below a
// guard page that the kernel keeps in its page tables (MADV_GUARD_INSTALL:
// no split mapping). Threads that have ended are joined as new ones start,
// and their slots, already backed and warm, go to the new ones: a run of
// answering targets then touches a few hundred stacks, not one for each
// target. Where the kernel cannot place such guards, or the slots run out,
// a thread gets a stack of glibc's.
#include "platform/linux/worker_stacks.h"

#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

namespace fanecho {

namespace {

// A worker needs little stack: its reply buffers and the resolver's. Ten
// thousand of glibc's default 8 MiB reservations would be needless.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kWorkerStackSize = 1024 * 1024;
#else
constexpr std::size_t kWorkerStackSize = 256 * 1024;
#endif

#ifndef MADV_GUARD_INSTALL
#define MADV_GUARD_INSTALL 102  // Linux 6.13
#endif

constexpr std::uint32_t kStackSlots = kMaxThreads;
constexpr std::uint32_t kNoSlot = 0xFFFFFFFFu;

// Guards go in kGuardBatch slots at a time with one process_madvise: one
// madvise per thread held up the thread that starts them all, and 64 makes
// that cost small beside a thread's start. Where the kernel does not take
// that advice through process_madvise (before Linux 6.13), one at a time.
constexpr std::uint32_t kGuardBatch = 64;

// The rest is under slotMutex.
pthread_mutex_t slotMutex = PTHREAD_MUTEX_INITIALIZER;
char* stackArena = nullptr;
bool stackArenaTried = false;
std::size_t guardSize = 0;
int selfPidfd = -1;  // for process_madvise; -1 when it cannot place guards
bool slotGuarded[kStackSlots];
std::uint32_t freeSlots[kStackSlots];
std::uint32_t freeSlotCount = 0;
std::uint32_t unusedSlot = 0;  // slots from here on were never handed out

// A record comes back once the core has released its handle and no list
// holds it any more, or at once when its thread never ran. Beyond these,
// records come from the heap: a run of /queue can have more threads on
// their way out than it keeps running.
Worker records[kMaxThreads];
std::uint32_t unusedRecord = 0;
Worker* spareRecords = nullptr;  // linked through nextEnded

// Threads that have ended and are not joined yet, the last to end first.
Worker* ended = nullptr;

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
    slotGuarded[slot] = madvise(stackArena + slot * slotSize(), guardSize, MADV_GUARD_INSTALL) == 0;
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

void freeSlot(std::uint32_t slot) {
  if (slot != kNoSlot) freeSlots[freeSlotCount++] = slot;
}

// A stack slot, or kNoSlot.
std::uint32_t takeSlot() {
  if (!stackArenaTried) reserveStacks();
  if (stackArena == nullptr) return kNoSlot;
  std::uint32_t slot = kNoSlot;
  if (freeSlotCount > 0) {
    slot = freeSlots[--freeSlotCount];
  } else if (unusedSlot < kStackSlots) {
    slot = unusedSlot++;
  }
  // A slot whose guard cannot be placed stays out of use.
  return slot != kNoSlot && guardSlot(slot) ? slot : kNoSlot;
}

void spareRecord(Worker* worker) {
  worker->nextEnded = spareRecords;
  spareRecords = worker;
}

// Joins the threads that have ended. One that is still on its way out
// stays on the list for a later start, rather than hold this one up; those
// joined meanwhile by joinWorker are dropped.
void joinEnded() {
  for (Worker** link = &ended; *link != nullptr;) {
    Worker* worker = *link;
    if (!worker->joined && pthread_tryjoin_np(worker->thread, nullptr) != 0) {
      link = &worker->nextEnded;
      continue;
    }
    if (!worker->joined) {
      worker->joined = true;
      freeSlot(worker->slot);
    }
    *link = worker->nextEnded;
    worker->onEndedList = false;
    if (worker->released) spareRecord(worker);
  }
}

Worker* takeRecord() {
  if (Worker* spare = spareRecords) {
    spareRecords = spare->nextEnded;
    return spare;
  }
  if (unusedRecord < kMaxThreads) return &records[unusedRecord++];
  return new (std::nothrow) Worker{};
}

}  // namespace

Worker* allocateWorker() {
  pthread_mutex_lock(&slotMutex);
  joinEnded();
  Worker* worker = takeRecord();
  if (worker != nullptr) {
    worker->joined = false;
    worker->released = false;
    worker->onEndedList = false;
    worker->slot = takeSlot();
  }
  pthread_mutex_unlock(&slotMutex);
  return worker;
}

void noteWorkerEnded(Worker* worker) {
  pthread_mutex_lock(&slotMutex);
  worker->nextEnded = ended;
  worker->onEndedList = true;
  ended = worker;
  pthread_mutex_unlock(&slotMutex);
}

void setWorkerStack(pthread_attr_t& attributes, const Worker& worker) {
  if (worker.slot != kNoSlot) {
    pthread_attr_setstack(&attributes, stackArena + worker.slot * slotSize() + guardSize,
                          kWorkerStackSize);
  } else {
    pthread_attr_setstacksize(&attributes, kWorkerStackSize);
  }
}

bool joinWorker(Worker* worker) {
  pthread_mutex_lock(&slotMutex);
  const bool joinedEarly = worker->joined;
  pthread_mutex_unlock(&slotMutex);
  if (joinedEarly) return true;
  if (pthread_join(worker->thread, nullptr) != 0) return false;
  pthread_mutex_lock(&slotMutex);
  worker->joined = true;  // joinEnded passes it over
  freeSlot(worker->slot);
  pthread_mutex_unlock(&slotMutex);
  return true;
}

void releaseWorker(Worker* worker) {
  pthread_mutex_lock(&slotMutex);
  freeSlot(worker->slot);
  spareRecord(worker);
  pthread_mutex_unlock(&slotMutex);
}

void recycleWorker(Worker* worker) {
  pthread_mutex_lock(&slotMutex);
  // Still on the ended list: joinEnded gives it back as it drops it.
  worker->released = true;
  if (!worker->onEndedList) spareRecord(worker);
  pthread_mutex_unlock(&slotMutex);
}

}  // namespace fanecho
