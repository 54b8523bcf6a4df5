// How a result line names its target.
#pragma once

#include <cstdint>

#include "common/console.h"
#include "common/run_settings.h"

namespace fanecho {

// Fills `name` (kNameBufferSize bytes) with the host name of an address, or
// the empty text; the probe layer's reverseLookup.
using ReverseLookup = int (*)(std::uint32_t address, char* name);

// Writes the label, and in verbose mode its address part: the resolved
// address of a host name, or the reverse name of a pattern address, which
// the caller may have looked up already (null: look it up here through
// `lookup`). The caller holds consoleLock.
void writeTargetLabel(ConsoleLine& line, const ProbeJob& job, const std::uint16_t resolvedOctets[4],
                      const char* reverseName, ReverseLookup lookup);

}  // namespace fanecho
