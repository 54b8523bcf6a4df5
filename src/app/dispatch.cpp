#include "app/dispatch.h"

#include <vector>

#include "app/control_options.h"
#include "common/console.h"
#include "common/messages.h"
#include "common/text.h"
#include "patterns/pattern_expansion.h"
#include "probe/network.h"
#include "report/summary.h"

namespace fanecho {

void dispatchArgument(std::string_view argument, WorkerTable& table) {
  const char first = argument.empty() ? '\0' : argument[0];
  if (first == '-' || first == '/') {
    applyControlArgument(argument, table);
  } else if (isDecimalDigit(first)) {
    expandPattern(argument, table);
  } else {
    launchNameProbe(argument, table);
  }
}

void launchNameProbe(std::string_view name, WorkerTable& table) {
  if (table.full()) {
    ConsoleGuard guard;
    writeMessage(Message::tooManyAddresses, name);
    return;
  }
  auto job = std::make_unique<ProbeJob>();
  job->label.assign(name);
  job->kind = TargetKind::hostName;
  table.start(std::move(job), ThreadPriority::belowNormal);
}

RunOutcome runFanecho(int argc, const char* const* argv) {
  startNetwork();
  auto table = std::make_unique<WorkerTable>();
  for (int i = 1; i < argc; ++i) dispatchArgument(argv[i], *table);
  const bool allEnded = table->waitForWorkers();
  printSummary(table->workerCount());
  reportUnsentRequests();
  // A script must not take a run whose lines were lost for a whole one.
  if (consoleOutputError() != 0) settings.exitStatus = kExitOutputError;
  stopNetwork();
  if (!allEnded) {
    // Workers that were not waited for use their jobs until the process
    // ends, so their table is kept (and reachable) for good.
    static auto* const stillRunning = new std::vector<WorkerTable*>;
    stillRunning->push_back(table.release());
  }
  return {settings.exitStatus.load(), allEnded};
}

}  // namespace fanecho
