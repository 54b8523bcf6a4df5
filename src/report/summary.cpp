#include "report/summary.h"

#include "common/console.h"
#include "common/run_settings.h"

namespace fanecho {

void printSummary(std::uint32_t workerCount) {
  if (workerCount == 0) return;
  ConsoleGuard guard;
  const std::uint32_t ok = results.okCount.load(std::memory_order_relaxed);
  const std::uint32_t failed = results.failedCount.load(std::memory_order_relaxed);
  writeLine("");
  ConsoleLine line;
  if (workerCount == ok) {
    if (workerCount <= 1) {
      line.text("machine is ok");
    } else {
      line.text("all ").number(workerCount).text(" machines are ok");
    }
    results.exitStatus = 0;
  } else if (workerCount == failed) {
    if (workerCount <= 1) {
      line.text("machine is not ok");
    } else {
      line.text("none of the ").number(workerCount).text(" machines are ok");
    }
    results.exitStatus = 2;
  } else {
    line.text("#machines sent / replied / timed-out = ").number(workerCount).text(" / ");
    line.number(ok).text(" / ").number(failed);
    results.exitStatus = 1;
  }
  line.end();
}

}  // namespace fanecho
