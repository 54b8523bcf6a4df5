// A target's result as a JSON object, the form its line takes under /json.
#pragma once

#include "common/console.h"
#include "common/run_settings.h"
#include "probe/probe_worker.h"

namespace fanecho {

// notSent: no request could leave this machine (a local shortage); its
// text line is that of an unreachable target.
enum class TargetResult { ok, unreachable, invalidData, notTranslated, notSent };

// Puts the object of one finished target on `line` and ends it; `tally` is
// null when no request was sent. Under /verbose an address that replied
// carries its reverse name, which the caller may have looked up already
// (null: look it up here). The caller holds consoleLock, unless the line is
// held.
void writeTargetObject(ConsoleLine& line, const ProbeJob& job, TargetResult result,
                       const ProbeTally* tally, const char* reverseName = nullptr);

}  // namespace fanecho
