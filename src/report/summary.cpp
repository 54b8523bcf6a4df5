#include "report/summary.h"

#include <string>

#include "common/console.h"
#include "common/run_settings.h"
#include "platform/platform.h"

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

void reportUnsentRequests() {
  const std::uint32_t targets = results.unsentCount.load();
  if (targets == 0) return;
  std::string notice = "fanecho: echo requests to " + std::to_string(targets) +
                       (targets == 1 ? " target" : " targets") +
                       " could not leave this machine before their time-out; those targets were "
                       "counted as failed without being asked.";
  if (const char* problem = platform.localSendProblem()) notice.append(" ").append(problem);
  notice.append("\n");
  platform.writeErr(notice.data(), notice.size());
}

}  // namespace fanecho
