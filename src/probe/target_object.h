// A target's result as a JSON object, the form its line takes under /json.
#pragma once

#include "common/run_settings.h"
#include "probe/probe_worker.h"

namespace fanecho {

enum class TargetResult { ok, unreachable, invalidData, notTranslated };

// Writes the object of one finished target; `tally` is null when no request
// was sent. Under /verbose an address that replied carries its reverse name,
// which the caller may have looked up already (null: look it up here). The
// caller holds consoleLock.
void writeTargetObject(const ProbeJob& job, TargetResult result, const ProbeTally* tally,
                       const char* reverseName = nullptr);

}  // namespace fanecho
