// The summary line that ends a run, and the exit status.
#pragma once

#include <cstdint>

namespace fanecho {

// Writes an empty line and the summary over `workerCount` targets and sets
// settings.exitStatus: 0 all ok, 2 none ok, 1 mixed. Writes nothing and
// leaves 255 when no worker was started.
void printSummary(std::uint32_t workerCount);

// Exit status of a run whose standard output could not be written.
inline constexpr int kExitOutputError = 4;

// One notice on standard error when requests of the run never left this
// machine, so that no one takes those targets for dead without a word.
void reportUnsentRequests();

}  // namespace fanecho
