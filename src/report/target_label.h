// How a result line names its target.
#pragma once

#include <cstdint>

#include "common/console.h"
#include "common/run_settings.h"

namespace fanecho {

// Writes the label, and in verbose mode its address part: the resolved
// address of a host name, or the reverse name of a pattern address, which
// the caller may have looked up already (null: look it up here). The
// caller holds consoleLock.
void writeTargetLabel(ConsoleLine& line, const ProbeJob& job, const std::uint16_t resolvedOctets[4],
                      const char* reverseName = nullptr);

}  // namespace fanecho
