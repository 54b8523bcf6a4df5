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
// at all. That is asked as the first worker of each family is about to
// start: without it every target would come out unreachable, so the run says
// why once and stops instead. A system that lacks the family outright (no
// IPv6) says so once; its targets then fail unsent and the others go on.
bool admitTarget(std::string_view label, ProbeJob& job, WorkerTable& table) {
  if (table.probingRefused()) return false;
  if (table.full()) {
    ConsoleGuard guard;
    writeMessage(Message::tooManyAddresses, label);
    return false;
  }
  const std::uint8_t family = job.address.family == 6 ? 6 : 4;
  if (!table.familyChecked(family)) {
    bool familyMissing = false;
    const char* problem = platform.icmpProblem(family, familyMissing);
    // Workers of the other family already run: the run goes on without this one.
    familyMissing = problem != nullptr && (familyMissing || table.workerCount() != 0);
    table.noteFamilyChecked(family, familyMissing);
    if (familyMissing) {
      ConsoleGuard guard;
      writeMessage(Message::familyMissing, problem);
    } else if (problem != nullptr) {
      ConsoleGuard guard;
      writeMessage(Message::noPermission, problem);
      table.refuseProbing();
      return false;
    }
  }
  // A name that may take either family is checked as IPv4, as before /ip:.
  if (job.address.family != kFamilyAny) job.familyMissing = table.familyMissing(family);
  return true;
}

}  // namespace

void dispatchArgument(std::string_view argument, WorkerTable& table) {
  if (table.probingRefused()) return;
  const char first = argument.empty() ? '\0' : argument[0];
  if (first == '-' || first == '/') {
    applyControlArgument(argument, table);
  } else if (settings.ipFamily.load() != 4 && argument.find(':') != std::string_view::npos) {
    launchIpv6Probes(argument, table);
  } else if (isDecimalDigit(first)) {
    launchPatternProbes(argument, table);
  } else {
    launchNameProbe(argument, table);
  }
}

void launchNameProbe(std::string_view name, WorkerTable& table) {
  auto job = std::make_unique<ProbeJob>();
  job->address.family = static_cast<std::uint8_t>(settings.ipFamily.load());
  if (!admitTarget(name, *job, table)) return;
  job->label.assign(name);
  job->kind = TargetKind::hostName;
  table.start(std::move(job), ThreadPriority::belowNormal);
}

namespace {

void launchAddressProbe(const IpAddress& address, std::string_view label, WorkerTable& table) {
  auto job = std::make_unique<ProbeJob>();
  job->address = address;
  if (!admitTarget(label, *job, table)) return;
  job->label.assign(label);
  job->kind = TargetKind::address;
  table.start(std::move(job), ThreadPriority::normal);
}

}  // namespace

void launchPatternProbes(std::string_view pattern, WorkerTable& table) {
  expandPattern(pattern, [&table](const IpAddress& address, std::string_view label) {
    launchAddressProbe(address, label, table);
  });
}

void launchIpv6Probes(std::string_view pattern, WorkerTable& table) {
  expandIpv6Pattern(pattern, [&table](const IpAddress& address, std::string_view label) {
    launchAddressProbe(address, label, table);
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
