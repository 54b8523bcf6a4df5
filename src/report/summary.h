// The summary line that ends a run, and the exit status.
#pragma once

#include <cstdint>

namespace fanecho {

// Writes an empty line and the summary over `workerCount` targets and sets
// results.exitStatus: 0 all ok, 2 none ok, 1 mixed. Writes nothing and
// leaves 255 when no worker was started.
void printSummary(std::uint32_t workerCount);

}  // namespace fanecho
