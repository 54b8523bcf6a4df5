// The worker that probes one target and reports it.
#pragma once

#include <cstdint>

#include "common/run_settings.h"
#include "platform/platform.h"

namespace fanecho {

enum class AttemptResult { noReply, badReply, goodReply };

// Judges one attempt by the first reply record: no reply, wrong size or
// data, or exactly the bytes that were sent.
AttemptResult classifyAttempt(const EchoReply& reply, std::uint32_t replyCount,
                              std::uint32_t payloadSize);

// What one worker's attempts added up to.
struct ProbeTally {
  std::uint32_t attemptCount = 0;
  std::uint32_t sentCount = 0;  // attempts whose request left this machine
  std::uint32_t goodReplyCount = 0;
  std::uint32_t badReplyCount = 0;
  // Round-trip figures cover the attempts that got a reply of any kind;
  // an unanswered attempt has no round trip to count.
  std::uint32_t minRttMs = 0xFFFFFFFFu;
  std::uint32_t maxRttMs = 0;
  double meanRttMs = 0.0;
  // The same in microseconds, for /json.
  std::uint32_t minRttUs = 0xFFFFFFFFu;
  std::uint32_t maxRttUs = 0;
  std::uint64_t sumRttUs = 0;

  void record(AttemptResult result, std::uint32_t rttMs, std::uint32_t rttUs);
  // Asked, but none of its requests could leave this machine.
  bool neverSent() const { return attemptCount > 0 && sentCount == 0; }
};

enum class Verdict { unreachable, invalidData, good };

Verdict judge(const ProbeTally& tally);

// Thread routine of every worker; `argument` is its ProbeJob.
void probeTarget(void* argument);

// Counts and reports a target whose worker could never be started.
void reportUnprobedTarget(const ProbeJob& job);

}  // namespace fanecho
