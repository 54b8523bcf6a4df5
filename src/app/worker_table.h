// The worker threads of a run: one per target, 10000 at most at once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "common/run_settings.h"
#include "patterns/address_ranges.h"
#include "platform/platform.h"

namespace fanecho {

class WorkerTable {
 public:
  // Whether the next target is refused: without /queue a run starts
  // kMaxWorkers targets at most.
  bool full() const {
    return workerCount_ >= kMaxWorkers && settings.queue.load(std::memory_order_relaxed) == 0;
  }
  // Targets handed to a worker so far, started or not: the summary's count.
  std::uint32_t workerCount() const { return workerCount_; }

  // Starts a worker for the job; the caller has checked full(). With every
  // worker busy (under /queue) it first waits for one to end. A thread that
  // cannot be started waits for a running worker to end and is started
  // then; only when none runs and it still cannot start is the target
  // counted failed, unsent.
  void start(std::unique_ptr<ProbeJob> job, ThreadPriority priority);

  // Set by the run when echo requests cannot be sent at all: it then stops
  // at its first target and starts no worker.
  void refuseProbing() { probingRefused_ = true; }
  bool probingRefused() const { return probingRefused_; }

  // Whether echo to a family (4 or 6) has been asked about, and whether the
  // system turned out to lack it.
  bool familyChecked(std::uint8_t family) const { return checked_[family == 6]; }
  bool familyMissing(std::uint8_t family) const { return missing_[family == 6]; }
  void noteFamilyChecked(std::uint8_t family, bool missing) {
    checked_[family == 6] = true;
    missing_[family == 6] = missing;
  }

  // What /exclude: has left out so far; later targets skip it.
  ExclusionSet& exclusions() { return exclusions_; }

  // Waits for every worker still in the table, in the order they started
  // and in groups of kMaxWaitHandles. False only when the platform's wait
  // itself failed; then some workers may still be running and the table
  // must outlive them.
  bool waitForWorkers();

  // The one notice at the end of a run about targets whose thread could not
  // be started at all; nothing when there were none.
  void reportUnstartedTargets() const;

  // The job that a thread of this table was started for, given the
  // argument its routine was handed.
  static const ProbeJob& jobOf(const void* threadArgument);

 private:
  // A worker's place in the table: taken when its thread starts, given
  // back (job freed, handle released) once its thread has been waited for.
  struct Worker {
    std::unique_ptr<ProbeJob> job;
    ThreadHandle handle = nullptr;
    WorkerTable* table = nullptr;
    Worker* older = nullptr;  // the workers in the table, in start order
    Worker* newer = nullptr;
    Worker* nextEnded = nullptr;  // on the ended list, or the spare list
  };

  // Every thread's routine: the probe, then word that it has ended.
  static void runWorker(void* argument);
  void noteEnded(Worker* worker);
  // Waits for the threads of the workers that have ended, releases their
  // handles and gives their places back; how many.
  std::uint32_t reapEnded();
  // Blocks until some worker has ended.
  void awaitEnd();
  ThreadHandle launch(Worker& worker, ThreadPriority priority);
  void unlink(Worker& worker);
  bool waitForGroup(const ThreadHandle* group, std::uint32_t count);
  // Waits until /interval: has passed since the last start, then notes this one.
  void paceStart();

  // Grown as targets come (a run of one target touches no table of 10000),
  // and never beyond the workers that run at once: places of workers that
  // have ended are used again. A deque, as threads hold their place.
  std::deque<Worker> places_;
  Worker* spare_ = nullptr;
  Worker* oldest_ = nullptr;
  Worker* newest_ = nullptr;
  std::uint32_t inTable_ = 0;  // workers started and not yet waited for
  std::uint32_t workerCount_ = 0;
  std::uint32_t unstartedCount_ = 0;
  bool startsFailing_ = false;  // the last start failed with no worker running
  bool waitFailed_ = false;

  // Pushed by the workers as they end, taken whole by the main thread. The
  // main thread says when it sleeps on endSignal_, so that a worker takes
  // the mutex only then.
  std::atomic<Worker*> ended_{nullptr};
  std::atomic<bool> mainWaiting_{false};
  std::mutex endMutex_;
  std::condition_variable endSignal_;

  ExclusionSet exclusions_;
  bool probingRefused_ = false;
  bool checked_[2] = {};
  bool missing_[2] = {};
  bool anyStarted_ = false;
  std::chrono::steady_clock::time_point lastStart_;
};

}  // namespace fanecho
