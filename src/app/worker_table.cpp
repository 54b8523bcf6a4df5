#include "app/worker_table.h"

#include <string>

#include "probe/probe_worker.h"

namespace fanecho {

namespace {

// Pauses (1, 2, 4 ... 256 ms) before a start is given up with no worker of
// ours running, or tried again after workers were waited for: a thread that
// has just ended may still count against the system's limits for a moment
// (Linux wakes a thread's joiner before it lets the task go).
constexpr std::uint32_t kStartPauses = 9;

}  // namespace

const ProbeJob& WorkerTable::jobOf(const void* threadArgument) {
  return *static_cast<const Worker*>(threadArgument)->job;
}

void WorkerTable::runWorker(void* argument) {
  auto* worker = static_cast<Worker*>(argument);
  probeTarget(worker->job.get());
  worker->table->noteEnded(worker);
}

void WorkerTable::noteEnded(Worker* worker) {
  // Once pushed, the place may be taken for another target at any moment:
  // nothing of it is touched after that. The table itself lives on until
  // the main thread has waited for this thread.
  worker->nextEnded = ended_.load(std::memory_order_relaxed);
  while (!ended_.compare_exchange_weak(worker->nextEnded, worker)) {
  }
  // Either the main thread sees the push before it sleeps, or this sees
  // that it sleeps (both sides sequentially consistent).
  if (mainWaiting_.load()) {
    std::lock_guard<std::mutex> lock(endMutex_);
    endSignal_.notify_one();
  }
}

void WorkerTable::awaitEnd() {
  std::unique_lock<std::mutex> lock(endMutex_);
  mainWaiting_.store(true);
  endSignal_.wait(lock, [this] { return ended_.load() != nullptr; });
  mainWaiting_.store(false);
}

void WorkerTable::unlink(Worker& worker) {
  (worker.older != nullptr ? worker.older->newer : oldest_) = worker.newer;
  (worker.newer != nullptr ? worker.newer->older : newest_) = worker.older;
  worker.older = worker.newer = nullptr;
}

std::uint32_t WorkerTable::reapEnded() {
  Worker* list = ended_.exchange(nullptr);
  std::uint32_t reaped = 0;
  while (list != nullptr) {
    Worker* group[kMaxWaitHandles];
    ThreadHandle handles[kMaxWaitHandles];
    std::uint32_t count = 0;
    for (; list != nullptr && count < kMaxWaitHandles; list = list->nextEnded) {
      group[count] = list;
      handles[count++] = list->handle;
    }
    // Their routines have returned, so this wait is short.
    const bool waited = platform.threads.waitFor(handles, count);
    if (!waited) waitFailed_ = true;
    for (std::uint32_t i = 0; i < count; ++i) {
      Worker& worker = *group[i];
      // A thread that was not waited for may still be on its way out: its
      // handle stays as it is, and the run keeps the table for good.
      if (waited) platform.threads.release(worker.handle);
      worker.handle = nullptr;
      worker.job.reset();
      unlink(worker);
      worker.nextEnded = spare_;
      spare_ = &worker;
      --inTable_;
      ++reaped;
    }
  }
  return reaped;
}

ThreadHandle WorkerTable::launch(Worker& worker, ThreadPriority priority) {
  std::uint32_t pauses = 0;
  bool freed = false;  // workers have been waited for since the first try
  for (;;) {
    if (ThreadHandle handle = platform.threads.start(runWorker, &worker, priority)) {
      startsFailing_ = false;
      return handle;
    }
    if (reapEnded() != 0) {
      freed = true;
      pauses = 0;
      continue;
    }
    // No pauses for every target of a run in which no thread starts at all.
    const bool worthPausing = freed || (inTable_ == 0 && !startsFailing_);
    if (worthPausing && pauses < kStartPauses) {
      platform.threads.sleepMs(1u << pauses++);
      continue;
    }
    if (inTable_ == 0) {
      startsFailing_ = true;
      return nullptr;
    }
    awaitEnd();
    reapEnded();
    freed = true;
    pauses = 0;
  }
}

void WorkerTable::start(std::unique_ptr<ProbeJob> job, ThreadPriority priority) {
  // Every worker busy, as only /queue lets happen: wait for one to end.
  while (inTable_ >= kMaxWorkers) {
    if (reapEnded() == 0) awaitEnd();
  }
  Worker* place = spare_;
  if (place != nullptr) {
    spare_ = place->nextEnded;
  } else {
    place = &places_.emplace_back();
    place->table = this;
  }
  place->job = std::move(job);
  place->nextEnded = nullptr;
  paceStart();
  place->handle = launch(*place, priority);
  ++workerCount_;
  results.startedCount.fetch_add(1, std::memory_order_relaxed);
  if (place->handle == nullptr) {
    ++unstartedCount_;
    reportUnprobedTarget(*place->job);
    place->job.reset();
    place->nextEnded = spare_;
    spare_ = place;
    return;
  }
  place->older = newest_;
  (newest_ != nullptr ? newest_->newer : oldest_) = place;
  newest_ = place;
  ++inTable_;
}

void WorkerTable::paceStart() {
  using Clock = std::chrono::steady_clock;
  const std::uint32_t intervalMs = settings.intervalMs.load(std::memory_order_relaxed);
  if (intervalMs != 0 && anyStarted_) {
    // Counted from the last start, so that the time a start takes counts
    // towards the interval rather than adding to it.
    const auto due = lastStart_ + std::chrono::milliseconds(intervalMs);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    if (left > 0) platform.threads.sleepMs(static_cast<std::uint32_t>(left));
  }
  anyStarted_ = true;
  lastStart_ = Clock::now();
}

bool WorkerTable::waitForGroup(const ThreadHandle* group, std::uint32_t count) {
  if (count == 0 || platform.threads.waitFor(group, count)) return true;
  platform.threads.sleepMs(settings.timeoutMs.load(std::memory_order_relaxed));
  return false;
}

bool WorkerTable::waitForWorkers() {
  ThreadHandle group[kMaxWaitHandles];
  for (Worker* worker = oldest_; worker != nullptr;) {
    std::uint32_t count = 0;
    for (; worker != nullptr && count < kMaxWaitHandles; worker = worker->newer) {
      group[count++] = worker->handle;
    }
    if (!waitForGroup(group, count)) return false;
  }
  return !waitFailed_;
}

void WorkerTable::reportUnstartedTargets() const {
  if (unstartedCount_ == 0) return;
  std::string notice = "fanecho: no worker thread could be started for " +
                       std::to_string(unstartedCount_) +
                       (unstartedCount_ == 1 ? " target" : " targets") +
                       ", even with no other worker running; they were counted as failed "
                       "without being asked.";
  if (const char* problem = platform.threads.startProblem()) notice.append(" ").append(problem);
  notice.append("\n");
  platform.console.writeErr(notice.data(), notice.size());
}

}  // namespace fanecho
