#include "probe/probe_worker.h"

#include <algorithm>
#include <cstring>

#include "probe/network.h"
#include "probe/pacing.h"
#include "report/target_report.h"

namespace fanecho {

FailureReason failureOf(const EchoReply& reply, std::uint32_t replyCount,
                        std::uint32_t payloadSize) {
  switch (reply.status) {
    case EchoStatus::reply:
      break;
    case EchoStatus::noResponse:
      return FailureReason::noResponse;
    case EchoStatus::netUnreachable:
      return FailureReason::netUnreachable;
    case EchoStatus::hostUnreachable:
      return FailureReason::hostUnreachable;
    case EchoStatus::protocolUnreachable:
      return FailureReason::protocolUnreachable;
    case EchoStatus::portUnreachable:
      return FailureReason::portUnreachable;
    case EchoStatus::adminProhibited:
      return FailureReason::adminProhibited;
    case EchoStatus::timeExceeded:
      return FailureReason::timeExceeded;
    case EchoStatus::parameterProblem:
      return FailureReason::parameterProblem;
    case EchoStatus::packetTooBig:
      return FailureReason::packetTooBig;
    case EchoStatus::noRouteHere:
    // Refused here for another reason (an address or source the system
    // would not send to or from): like a missing route it is this machine
    // that had no way to send it, and no word of a firewall would be true.
    case EchoStatus::refusedHere:
      return FailureReason::noRouteHere;
    case EchoStatus::blockedHere:
      return FailureReason::blockedHere;
    case EchoStatus::shortage:
    case EchoStatus::notSent:
      return FailureReason::notSent;
  }
  if (replyCount == 0 || reply.dataSize != payloadSize) return FailureReason::wrongSize;
  if (payloadSize != 0 &&
      (reply.data == nullptr || std::memcmp(reply.data, echoPayload, payloadSize) != 0)) {
    return FailureReason::wrongData;
  }
  return FailureReason::none;
}

namespace {

AttemptResult attemptOf(FailureReason failure) {
  switch (failure) {
    case FailureReason::none:
      return AttemptResult::goodReply;
    case FailureReason::wrongSize:
    case FailureReason::wrongData:
      return AttemptResult::badReply;
    default:
      return AttemptResult::noReply;
  }
}

}  // namespace

AttemptResult classifyAttempt(const EchoReply& reply, std::uint32_t replyCount,
                              std::uint32_t payloadSize) {
  return attemptOf(failureOf(reply, replyCount, payloadSize));
}

namespace {

static_assert(kMaxPayloadSize <= kLargestRequest);

// Out of line, like probeAddress below: a waiting worker's stack holds the
// frames of the wait alone. The reverse name is looked up before the lock:
// a slow resolver then holds up this worker alone, not every line of the
// run.
[[gnu::noinline]] void report(const ProbeJob& job, TargetResult result, const ProbeTally* tally) {
  char reverseName[kNameBufferSize];
  const char* known = nullptr;
  if (wantsReverseName(job, result)) {
    reverseLookup(job.address, reverseName);
    known = reverseName;
  }
  while (!reportTarget({job, result, tally, known})) {
    reverseLookup(job.address, reverseName);
    known = reverseName;
  }
}

// Pauses between tries of a request that could not leave this machine:
// short at first, then longer, and never two workers in step.
std::uint32_t retryPauseMs(std::uint32_t tries, const IpAddress& target) {
  std::uint32_t address = target.packed();
  for (int i = 4; i < 16; i += 4) {
    address ^= static_cast<std::uint32_t>(target.bytes[i] | target.bytes[i + 1] << 8 |
                                          target.bytes[i + 2] << 16 | target.bytes[i + 3] << 24);
  }
  const std::uint32_t base = tries < 7 ? 1u << tries : 128u;
  std::uint32_t mix = (address ^ tries * 0x9E3779B9u) * 0x85EBCA6Bu;
  mix ^= mix >> 13;
  return base / 2 + mix % (base / 2 + 1) + 1;
}

// Sends one echo request and waits for its reply, as the platform's send
// does, trying again while the request cannot leave this machine. The
// status is shortage only when the time-out passed without a send.
std::uint32_t sendEcho(IcmpHandle handle, EchoRequest& request, EchoReply& reply,
                       std::uint8_t* dataArea, std::size_t dataAreaSize) {
  // A local shortage (a full neighbour table or queue) is no word from the
  // target: try again until the request's time-out, counted from the first
  // try, has passed. The round trip is timed by the send that went out.
  // Sleeps overshoot with thousands of threads, so the clock says what is
  // left, not the sum of the pauses.
  const std::uint64_t deadline = platform.threads.monotonicMs() + request.timeoutMs;
  for (std::uint32_t tries = 0;; ++tries) {
    reply = EchoReply{};
    const std::uint32_t count = platform.echo.send(handle, request, reply, dataArea, dataAreaSize);
    if (reply.status != EchoStatus::shortage) return count;
    std::uint64_t now = platform.threads.monotonicMs();
    if (now >= deadline) return count;
    platform.threads.sleepMs(static_cast<std::uint32_t>(
        std::min<std::uint64_t>(retryPauseMs(tries, request.target), deadline - now)));
    now = platform.threads.monotonicMs();
    // No try with nothing left to wait for: it could only time out.
    if (now >= deadline) return count;
    request.timeoutMs = static_cast<std::uint32_t>(deadline - now);
  }
}

// Who sent the ICMP error that a status stands for; family 0 for the rest.
IpAddress errorSender(const EchoReply& reply) {
  const bool error = reply.status >= EchoStatus::netUnreachable && !heldHere(reply.status);
  return error ? reply.from : IpAddress{0};
}

// One request, once /rate: lets it leave, and its reply, in the tally.
void probeOnce(IcmpHandle handle, const IpAddress& address, const RequestShape& shape,
               std::uint32_t timeoutMs, ProbeTally& tally) {
  // One read of the size per attempt: the request and the check of its
  // reply must agree even if /size: changes meanwhile.
  const std::uint32_t payloadSize = settings.payloadSize.load(std::memory_order_relaxed);
  std::uint8_t replyData[kMaxPayloadSize];
  awaitRequestTurn();
  EchoRequest request{address, echoPayload, static_cast<std::uint16_t>(payloadSize), timeoutMs,
                      requestOptions(shape, address)};
  EchoReply reply;
  const std::uint32_t replyCount = sendEcho(handle, request, reply, replyData, sizeof replyData);
  if (reply.requestLeft) {
    ++tally.sentCount;
  } else if (reply.status == EchoStatus::shortage || reply.status == EchoStatus::notSent) {
    ++tally.shortageCount;
  }
  const FailureReason failure = failureOf(reply, replyCount, payloadSize);
  tally.record(attemptOf(failure), reply.roundTripMs, reply.roundTripUs);
  if (failure != FailureReason::none) tally.recordFailure(failure, errorSender(reply));
}

// Half as long again as `ms`, short of the 32-bit signed range that a
// time-out keeps to everywhere else.
std::uint32_t longerWait(std::uint32_t ms) {
  constexpr std::uint64_t kMaxMs = 0x7FFFFFFFu;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms + std::uint64_t{ms} / 2, kMaxMs));
}

// The requests to one target, in a frame apart from the one that reports:
// a waiting worker's stack then holds the deeper of the two, not both.
[[gnu::noinline]] ProbeTally probeAddress(const IpAddress& address, const RequestShape& shape) {
  ProbeTally tally;
  const IcmpHandle handle = platform.echo.open(address.family);
  for (std::uint32_t i = 0; i < settings.echoCount.load(std::memory_order_relaxed); ++i) {
    probeOnce(handle, address, shape, settings.timeoutMs.load(std::memory_order_relaxed), tally);
  }
  // /retry: one after another while no request has had a good reply; none
  // after /times:0, which asked for no request at all.
  std::uint32_t waitMs = settings.timeoutMs.load(std::memory_order_relaxed);
  for (std::uint32_t i = 0; tally.attemptCount != 0 && tally.goodReplyCount == 0 &&
                            i < settings.retryCount.load(std::memory_order_relaxed);
       ++i) {
    waitMs = longerWait(waitMs);
    probeOnce(handle, address, shape, waitMs, tally);
  }
  platform.echo.close(handle, address.family);
  // A target none of whose requests left was never asked: that is ours to
  // say, apart from the silent targets.
  if (tally.neverSent()) {
    results.unsentCount.fetch_add(1, std::memory_order_relaxed);
  }
  return tally;
}

}  // namespace

void probeTarget(void* argument) {
  ProbeJob& job = *static_cast<ProbeJob*>(argument);
  if (job.kind == TargetKind::hostName) {
    const std::uint8_t asked = job.address.family;
    if (!resolveHostName(job.label.c_str(), asked, job.address)) {
      report(job, TargetResult::notTranslated, nullptr);
      return;
    }
    // Either family was allowed: the name is the address it resolved to.
    if (asked == kFamilyAny) job.familyMissing = !echoFamilyUsable(job.address.family);
  }
  // No request can leave for this family here: the target fails unsent.
  ProbeTally tally;
  if (job.familyMissing) {
    tally.recordFailure(FailureReason::notSent, IpAddress{0});
  } else {
    tally = probeAddress(job.address, job.shape);
  }
  report(job, resultOf(tally), &tally);
}

void reportUnprobedTarget(const ProbeJob& job) { report(job, TargetResult::notSent, nullptr); }

}  // namespace fanecho
