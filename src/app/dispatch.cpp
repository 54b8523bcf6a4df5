#include "app/dispatch.h"

#include <string>
#include <vector>

#include "app/control_options.h"
#include "common/console.h"
#include "common/messages.h"
#include "common/progress.h"
#include "common/text.h"
#include "common/uint128.h"
#include "patterns/address_ranges.h"
#include "patterns/pattern_expansion.h"
#include "probe/network.h"
#include "report/summary.h"
#include "report/target_label.h"

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
  job.shape = currentShape();
  if (table.full()) {
    ConsoleGuard guard;
    writeMessage(Message::tooManyAddresses, label);
    return false;
  }
  const std::uint8_t family = job.address.family == 6 ? 6 : 4;
  if (!table.familyChecked(family)) {
    const EchoFamilyAnswer answer = askEchoFamily(family);
    const char* problem = answer.problem;
    // Workers of the other family already run: the run goes on without this one.
    const bool familyMissing = problem != nullptr && (answer.missing || table.workerCount() != 0);
    table.noteFamilyChecked(family, familyMissing);
    if (familyMissing) {
      echoFamilyUsable(family);  // writes the family's line, once
    } else if (problem != nullptr) {
      ConsoleGuard guard;
      writeMessage(Message::noPermission, problem);
      table.refuseProbing();
      return false;
    }
  }
  // A name that may take either family is checked as IPv4, as before /ip:;
  // its worker asks about IPv6 itself should the name resolve to it.
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

namespace {

void writeIllegal(std::string_view pattern) {
  ConsoleGuard guard;
  writeMessage(Message::illegalAddress, pattern);
}

// Under /queue, /progress shows how many targets of this argument are still
// to start; counted only then.
class WaitingTargets {
 public:
  template <typename Count>
  explicit WaitingTargets(Count count) : shown_(settings.queue.load() != 0) {
    if (shown_) setWaitingTargets(count());
  }
  ~WaitingTargets() {
    if (shown_) setWaitingTargets(0);
  }
  WaitingTargets(const WaitingTargets&) = delete;
  WaitingTargets& operator=(const WaitingTargets&) = delete;
  void taken() const {
    if (shown_) noteTargetTaken();
  }

 private:
  bool shown_;
};

}  // namespace

void launchNameProbe(std::string_view name, WorkerTable& table) {
  // Under /cidr a "/" makes a block, and no host name has one.
  if (settings.cidr.load() != 0 && name.find('/') != std::string_view::npos) {
    writeIllegal(name);
    return;
  }
  const WaitingTargets waiting([] { return Uint128{1}; });
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

// Whether, under /cidr, the pattern is a block: it has a "/".
bool namesBlock(std::string_view pattern) {
  return settings.cidr.load() != 0 &&
         pattern.substr(0, pattern.find('\0')).find('/') != std::string_view::npos;
}

// Every target of a block, ascending. A block the limit cuts off gets one
// refusal line, for the first address refused and how many follow it.
void launchBlock(const CidrBlock& block, std::uint32_t scopeId, WorkerTable& table) {
  const AddressRange targets = blockTargets(block);
  const ExclusionSet& excluded = table.exclusions();
  const WaitingTargets waiting([&] { return countIncluded(block.family, targets, excluded); });
  forEachIncluded(block.family, targets, excluded, [&](const Uint128& value) {
    if (table.probingRefused()) return false;
    const IpAddress address = addressOfValue(block.family, value, scopeId);
    const std::string label = addressLabel(address, block.zone);
    if (table.full()) {
      const Uint128 more = value == targets.last
                               ? Uint128{}
                               : countIncluded(block.family, {value + 1, targets.last}, excluded);
      ConsoleGuard guard;
      if (more == Uint128{}) {
        writeMessage(Message::tooManyAddresses, label);
      } else {
        writeBlockRefusal(label, decimalText(more));
      }
      return false;
    }
    launchAddressProbe(address, label, table);
    waiting.taken();
    return true;
  });
}

}  // namespace

void launchPatternProbes(std::string_view pattern, WorkerTable& table) {
  if (namesBlock(pattern)) {
    CidrBlock block;
    if (!parseIpv4Block(pattern, block)) {
      writeIllegal(pattern);
      return;
    }
    launchBlock(block, 0, table);
    return;
  }
  DottedPattern parsed;
  if (!parseDottedPattern(pattern, parsed)) {
    writeIllegal(pattern);
    return;
  }
  const WaitingTargets waiting([&] { return countDottedPattern(parsed, table.exclusions()); });
  expandDottedPattern(parsed, table.exclusions(),
                      [&](const IpAddress& address, std::string_view label) {
                        if (table.probingRefused()) return false;
                        launchAddressProbe(address, label, table);
                        waiting.taken();
                        return true;
                      });
}

void launchIpv6Probes(std::string_view pattern, WorkerTable& table) {
  if (namesBlock(pattern)) {
    CidrBlock block;
    std::uint32_t scopeId = 0;
    if (!parseIpv6Block(pattern, block) ||
        (!block.zone.empty() &&
         (scopeId = zoneIndex(block.zone, platform.names.interfaceIndex)) == 0)) {
      writeIllegal(pattern);
      return;
    }
    launchBlock(block, scopeId, table);
    return;
  }
  Ipv6Pattern parsed;
  if (!prepareIpv6Pattern(pattern, platform.names.interfaceIndex, parsed)) {
    writeIllegal(pattern);
    return;
  }
  const WaitingTargets waiting([&] { return countIpv6Pattern(parsed, table.exclusions()); });
  expandIpv6Pattern(parsed, table.exclusions(),
                    [&](const IpAddress& address, std::string_view label) {
                      if (table.probingRefused()) return false;
                      launchAddressProbe(address, label, table);
                      waiting.taken();
                      return true;
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
  table->reportUnstartedTargets();
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
