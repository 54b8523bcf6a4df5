#include "app/worker_table.h"

#include <vector>

#include "common/console.h"
#include "probe/probe_worker.h"

namespace fanecho {

void WorkerTable::start(std::unique_ptr<ProbeJob> job, ThreadPriority priority) {
  ProbeJob* const started = job.get();
  workers_.push_back({std::move(job), priority, nullptr});
  paceStart();
  workers_.back().handle = platform.startThread(probeTarget, started, priority);
  ++workerCount_;
  results.startedCount.fetch_add(1, std::memory_order_relaxed);
}

void WorkerTable::paceStart() {
  using Clock = std::chrono::steady_clock;
  const std::uint32_t intervalMs = settings.intervalMs.load(std::memory_order_relaxed);
  if (intervalMs != 0 && anyStarted_) {
    // Counted from the last start, so that the time a start takes counts
    // towards the interval rather than adding to it.
    const auto due = lastStart_ + std::chrono::milliseconds(intervalMs);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    if (left > 0) platform.sleepMs(static_cast<std::uint32_t>(left));
  }
  anyStarted_ = true;
  lastStart_ = Clock::now();
}

bool WorkerTable::waitForGroup(const ThreadHandle* group, std::uint32_t count) {
  if (count == 0 || platform.waitForThreads(group, count)) return true;
  platform.sleepMs(settings.timeoutMs.load(std::memory_order_relaxed));
  return false;
}

bool WorkerTable::waitForWorkers() {
  std::vector<std::uint32_t> unstarted;
  ThreadHandle group[kMaxWaitHandles];
  for (std::uint32_t done = 0; done < workerCount_;) {
    const std::uint32_t batch =
        workerCount_ - done < kMaxWaitHandles ? workerCount_ - done : kMaxWaitHandles;
    std::uint32_t started = 0;
    for (std::uint32_t i = done; i < done + batch; ++i) {
      if (workers_[i].handle != nullptr) {
        group[started++] = workers_[i].handle;
      } else {
        unstarted.push_back(i);
      }
    }
    if (!waitForGroup(group, started)) return false;
    done += batch;
  }

  // Threads that could not be started get another chance now that every
  // other worker has ended and given back its resources.
  for (std::size_t first = 0; first < unstarted.size(); first += kMaxWaitHandles) {
    std::uint32_t started = 0;
    for (std::size_t k = first; k < unstarted.size() && k < first + kMaxWaitHandles; ++k) {
      const std::uint32_t i = unstarted[k];
      paceStart();
      Worker& worker = workers_[i];
      worker.handle = platform.startThread(probeTarget, worker.job.get(), worker.priority);
      if (worker.handle != nullptr) {
        group[started++] = worker.handle;
      } else {
        reportUnprobedTarget(*worker.job);
      }
    }
    if (!waitForGroup(group, started)) return false;
  }
  return true;
}

}  // namespace fanecho
