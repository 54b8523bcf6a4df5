// The worker that probes one target and reports it.
#pragma once

#include <cstdint>

#include "common/run_settings.h"
#include "common/tally.h"
#include "platform/platform.h"

namespace fanecho {

// What one attempt's first reply record got wrong, in the words of a
// target's report: none for exactly the bytes that were sent.
FailureReason failureOf(const EchoReply& reply, std::uint32_t replyCount,
                        std::uint32_t payloadSize);

// Judges one attempt by the first reply record: no reply, wrong size or
// data, or exactly the bytes that were sent.
AttemptResult classifyAttempt(const EchoReply& reply, std::uint32_t replyCount,
                              std::uint32_t payloadSize);

// Thread routine of every worker; `argument` is its ProbeJob.
void probeTarget(void* argument);

// Counts and reports a target whose worker could never be started: failed,
// its line that of an unreachable target, its object's result not_sent.
void reportUnprobedTarget(const ProbeJob& job);

}  // namespace fanecho
