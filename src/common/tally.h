// What one worker's requests to its target added up to.
#pragma once

#include <cstdint>

#include "platform/address.h"

namespace fanecho {

enum class AttemptResult { noReply, badReply, goodReply };

// Why a request got no good reply, in the words a target's report uses.
enum class FailureReason : std::uint8_t {
  none,  // a good reply, or no request made
  noResponse,
  netUnreachable,
  hostUnreachable,
  protocolUnreachable,
  portUnreachable,
  adminProhibited,
  timeExceeded,
  parameterProblem,
  packetTooBig,
  noRouteHere,
  blockedHere,
  notSent,
  wrongSize,  // a reply of another size, or none in a success
  wrongData,
};

struct ProbeTally {
  std::uint32_t attemptCount = 0;
  std::uint32_t sentCount = 0;  // attempts whose request left this machine
  // Attempts held back by a local shortage (no handle, a full table or
  // queue) until their time-out: ours to say, not the target's silence.
  std::uint32_t shortageCount = 0;
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

  // Why the last request without a good reply had none, and who said so
  // (an ICMP error's sender; family 0: nobody). The last wrong reply's fault
  // is kept apart: an invalid_data target names what its data got wrong,
  // even if a silent request came after it.
  FailureReason lastFailure = FailureReason::none;
  IpAddress lastFailureFrom{0};
  FailureReason lastWrongReply = FailureReason::none;

  void record(AttemptResult result, std::uint32_t rttMs, std::uint32_t rttUs);
  // For a request without a good reply, after record.
  void recordFailure(FailureReason reason, const IpAddress& from);
  // None of its requests left, and a local shortage kept some of them
  // here. Requests the system refused outright (an unreachable route, a
  // firewall) make an unreachable target instead.
  bool neverSent() const { return sentCount == 0 && shortageCount > 0; }
};

}  // namespace fanecho
