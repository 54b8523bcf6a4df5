#include "app/dispatch.h"

#include <vector>

#include "app/control_options.h"
#include "common/console.h"
#include "common/messages.h"
#include "common/progress.h"
#include "common/text.h"
#include "patterns/pattern_expansion.h"
#include "probe/network.h"
#include "report/summary.h"

namespace fanecho {

namespace {

// Whether a target gets a worker: not when the table is full (said in a line
// of its own, and no job is made), and not when echo requests cannot be sent
// at all. That is asked as the first worker is about to start: without it
// every target would come out unreachable, so the run says why once and
// stops instead.
bool admitTarget(std::string_view label, WorkerTable& table) {
  if (table.probingRefused()) return false;
  if (table.full()) {
    ConsoleGuard guard;
    writeMessage(Message::tooManyAddresses, label);
    return false;
  }
  if (table.workerCount() == 0) {
    if (const char* problem = platform.icmpProblem()) {
      ConsoleGuard guard;
      writeMessage(Message::noPermission, problem);
      table.refuseProbing();
      return false;
    }
  }
  return true;
}

}  // namespace

void dispatchArgument(std::string_view argument, WorkerTable& table) {
  if (table.probingRefused()) return;
  const char first = argument.empty() ? '\0' : argument[0];
  if (first == '-' || first == '/') {
    applyControlArgument(argument, table);
  } else if (isDecimalDigit(first)) {
    launchPatternProbes(argument, table);
  } else {
    launchNameProbe(argument, table);
  }
}

void launchNameProbe(std::string_view name, WorkerTable& table) {
  if (!admitTarget(name, table)) return;
  auto job = std::make_unique<ProbeJob>();
  job->label.assign(name);
  job->kind = TargetKind::hostName;
  table.start(std::move(job), ThreadPriority::belowNormal);
}

void launchPatternProbes(std::string_view pattern, WorkerTable& table) {
  expandPattern(pattern, [&table](std::uint32_t address, std::string_view label) {
    if (!admitTarget(label, table)) return;
    auto job = std::make_unique<ProbeJob>();
    job->address = address;
    job->label.assign(label);
    job->kind = TargetKind::address;
    table.start(std::move(job), ThreadPriority::normal);
  });
}

RunOutcome runFanecho(int argc, const char* const* argv) {
  startNetwork();
  auto table = std::make_unique<WorkerTable>();
  for (int i = 1; i < argc && !table->probingRefused(); ++i) dispatchArgument(argv[i], *table);
  if (table->probingRefused()) {
    endProgress();
    stopNetwork();
    return {kExitNoPermission, true};
  }
  const bool allEnded = table->waitForWorkers();
  endProgress();
  printSummary(table->workerCount());
  reportUnsentRequests();
  // A script must not take a run whose lines were lost for a whole one.
  if (consoleOutputError() != 0) results.exitStatus = kExitOutputError;
  stopNetwork();
  if (!allEnded) {
    // Workers that were not waited for use their jobs until the process
    // ends, so their table is kept (and reachable) for good.
    static auto* const stillRunning = new std::vector<WorkerTable*>;
    stillRunning->push_back(table.release());
  }
  return {results.exitStatus.load(), allEnded};
}

}  // namespace fanecho
