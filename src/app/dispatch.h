// Routing of arguments, and the run from start to end.
#pragma once

#include <string_view>

#include "app/worker_table.h"

namespace fanecho {

// "-" or "/" first: a control argument; under /ip:6 or /ip:any, one that
// holds a colon: an IPv6 address; a digit: an address pattern; anything
// else, the empty text included: a host name.
void dispatchArgument(std::string_view argument, WorkerTable& table);

// Starts a below-normal worker for a host name, or refuses it when the table
// is full.
void launchNameProbe(std::string_view name, WorkerTable& table);

// Starts a worker for each address of a pattern; addresses beyond the
// worker limit are refused one line each.
void launchPatternProbes(std::string_view pattern, WorkerTable& table);

// The same for an IPv6 address whose last group may list numbers and ranges.
void launchIpv6Probes(std::string_view pattern, WorkerTable& table);

// The exit status of a run that could not send echo requests.
inline constexpr int kExitNoPermission = 3;

struct RunOutcome {
  int exitStatus;
  bool allWorkersEnded;
};

// Everything main does short of ending the process.
RunOutcome runFanecho(int argc, const char* const* argv);

}  // namespace fanecho
