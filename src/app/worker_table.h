// The worker threads of a run: one per target, 10000 at most.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/run_settings.h"
#include "platform/platform.h"

namespace fanecho {

class WorkerTable {
 public:
  bool full() const { return workerCount_ >= kMaxWorkers; }
  std::uint32_t workerCount() const { return workerCount_; }

  // Starts a worker for the job; the caller has checked full(). A thread
  // that cannot be started now is started again once the others have ended.
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

  // Waits for every worker, in table order and in groups of kMaxWaitHandles.
  // False only when the platform's wait itself failed; then some workers may
  // still be running and their jobs must outlive them.
  bool waitForWorkers();

 private:
  bool waitForGroup(const ThreadHandle* group, std::uint32_t count);
  // Waits until /interval: has passed since the last start, then notes this one.
  void paceStart();

  // Grown as targets come: a run of one target touches no table of 10000.
  // The jobs stay where they are when it grows; their threads hold them.
  struct Worker {
    std::unique_ptr<ProbeJob> job;
    ThreadPriority priority;
    ThreadHandle handle;
  };
  std::vector<Worker> workers_;
  std::uint32_t workerCount_ = 0;
  bool probingRefused_ = false;
  bool checked_[2] = {};
  bool missing_[2] = {};
  bool anyStarted_ = false;
  std::chrono::steady_clock::time_point lastStart_;
};

}  // namespace fanecho
