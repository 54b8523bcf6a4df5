// A finished target, counted and written: every result line and every JSON
// target object is made here, from what its worker hands over.
#pragma once

#include "common/run_settings.h"
#include "common/tally.h"

namespace fanecho {

// notSent: no request could leave this machine (a local shortage, or no
// thread to send them); its text line is that of an unreachable target.
enum class TargetResult { ok, unreachable, invalidData, notTranslated, notSent };

// What the requests came to: ok needs a good reply and no wrong one; a
// target that replied, if only with wrong data, did reply.
TargetResult resultOf(const ProbeTally& tally);

struct TargetReport {
  const ProbeJob& job;
  TargetResult result;
  const ProbeTally* tally;  // null: no request was made
  // The reverse name, looked up by the caller before it reports; null when
  // it looked none up.
  const char* reverseName;
};

// Whether the target's line or object would name it by its reverse name, as
// the settings stand now: the caller looks the name up before it reports,
// so that a slow resolver holds up its own worker only, never the lock.
bool wantsReverseName(const ProbeJob& job, TargetResult result);

// Counts the target and writes its line or object, under consoleLock. False,
// with nothing counted or written, when the line wants a reverse name the
// caller has not looked up (/verbose was given meanwhile): look it up, and
// report again.
bool reportTarget(const TargetReport& report);

}  // namespace fanecho
