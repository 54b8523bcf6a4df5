#include "common/tally.h"

namespace fanecho {

void ProbeTally::record(AttemptResult result, std::uint32_t rttMs, std::uint32_t rttUs) {
  ++attemptCount;
  if (result == AttemptResult::noReply) return;
  if (result == AttemptResult::goodReply) {
    ++goodReplyCount;
  } else {
    ++badReplyCount;
  }
  const std::uint32_t replies = goodReplyCount + badReplyCount;
  if (rttMs < minRttMs) minRttMs = rttMs;
  if (rttMs > maxRttMs) maxRttMs = rttMs;
  meanRttMs = (static_cast<double>(replies - 1) * meanRttMs + static_cast<double>(rttMs)) /
              static_cast<double>(replies);
  if (rttUs < minRttUs) minRttUs = rttUs;
  if (rttUs > maxRttUs) maxRttUs = rttUs;
  sumRttUs += rttUs;
}

void ProbeTally::recordFailure(FailureReason reason, const IpAddress& from) {
  lastFailure = reason;
  lastFailureFrom = from;
  if (reason == FailureReason::wrongSize || reason == FailureReason::wrongData) {
    lastWrongReply = reason;
  }
}

}  // namespace fanecho
