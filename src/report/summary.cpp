#include "report/summary.h"

#include <string>

#include "common/console.h"
#include "common/json.h"
#include "common/run_settings.h"
#include "platform/platform.h"

namespace fanecho {

namespace {

// The object ends the output: no empty line before it. It is written even
// when no target was started, so that a script always finds one.
void writeSummaryObject(std::uint32_t workerCount, std::uint32_t ok, std::uint32_t failed) {
  ConsoleLine line;
  JsonObject(line, "summary")
      .number("targets", workerCount)
      .number("ok", ok)
      .number("failed", failed)
      .number("exit_status", static_cast<std::uint32_t>(results.exitStatus.load()))
      .end();
}

}  // namespace

void printSummary(std::uint32_t workerCount) {
  // Only the main thread changes /json, and this is the main thread.
  if (workerCount == 0) {
    if (jsonOutput()) {
      ConsoleGuard guard;
      if (consoleOutputError() != 0) results.exitStatus = kExitOutputError;
      writeSummaryObject(0, 0, 0);
    }
    return;
  }
  ConsoleGuard guard;
  const std::uint32_t ok = results.okCount.load(std::memory_order_relaxed);
  const std::uint32_t failed = results.failedCount.load(std::memory_order_relaxed);
  results.exitStatus = workerCount == ok ? 0 : workerCount == failed ? 2 : 1;
  // Lines lost already: decided before the summary object states it.
  if (consoleOutputError() != 0) results.exitStatus = kExitOutputError;
  if (jsonOutput()) {
    writeSummaryObject(workerCount, ok, failed);
    return;
  }
  writeLine("");
  ConsoleLine line;
  if (workerCount == ok) {
    if (workerCount <= 1) {
      line.text("machine is ok");
    } else {
      line.text("all ").number(workerCount).text(" machines are ok");
    }
  } else if (workerCount == failed) {
    if (workerCount <= 1) {
      line.text("machine is not ok");
    } else {
      line.text("none of the ").number(workerCount).text(" machines are ok");
    }
  } else {
    line.text("#machines sent / replied / timed-out = ").number(workerCount).text(" / ");
    line.number(ok).text(" / ").number(failed);
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
  if (const char* problem = platform.echo.localSendProblem()) notice.append(" ").append(problem);
  notice.append(
      " /interval:<ms> starts the targets that far apart (/interval:1: 10000 targets over "
      "about 10 s), so fewer requests are on their way at once.\n");
  platform.console.writeErr(notice.data(), notice.size());
}

}  // namespace fanecho
