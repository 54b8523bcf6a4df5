#include "probe/probe_worker.h"

#include <algorithm>
#include <cstring>

#include "common/console.h"
#include "common/json.h"
#include "probe/network.h"
#include "probe/target_object.h"
#include "report/target_label.h"

namespace fanecho {

AttemptResult classifyAttempt(const EchoReply& reply, std::uint32_t replyCount,
                              std::uint32_t payloadSize) {
  if (reply.Status != kIpSuccess) return AttemptResult::noReply;
  if (replyCount == 0) return AttemptResult::badReply;
  if (reply.DataSize != payloadSize) return AttemptResult::badReply;
  if (payloadSize != 0 &&
      (reply.Data == nullptr || std::memcmp(reply.Data, echoPayload, payloadSize) != 0)) {
    return AttemptResult::badReply;
  }
  return AttemptResult::goodReply;
}

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

Verdict judge(const ProbeTally& tally) {
  // A target that replied, if only with wrong data, did reply: it is
  // invalid, not unreachable.
  if (tally.badReplyCount != 0) return Verdict::invalidData;
  if (tally.goodReplyCount == 0) return Verdict::unreachable;
  return Verdict::good;
}

namespace {

static_assert(kMaxPayloadSize <= kLargestRequest);

// Which reply lines would name the target with its reverse name now.
bool wantsReverseName(const ProbeJob& job, Verdict verdict) {
  if (job.kind != TargetKind::address || verdict == Verdict::unreachable) return false;
  if (settings.verbose.load(std::memory_order_relaxed) == 0) return false;
  // Under /json every such target's object carries the name.
  if (settings.json.load(std::memory_order_relaxed) != 0) return true;
  const auto& flag = verdict == Verdict::good ? settings.reportSuccesses : settings.reportFailures;
  return flag.load(std::memory_order_relaxed) != 0;
}

// Out of line, like reportUntranslated and probeAddress below: a waiting
// worker's stack holds the frames of the wait alone.
[[gnu::noinline]] void reportVerdict(const ProbeJob& job, const ProbeTally& tally) {
  const Verdict verdict = judge(tally);
  // Look the name up before taking the lock: a slow resolver then holds up
  // this worker alone, not every line of the run.
  char reverseName[kNameBufferSize];
  const bool haveReverseName = wantsReverseName(job, verdict);
  if (haveReverseName) reverseLookup(job.address, reverseName);

  const char* knownName = haveReverseName ? reverseName : nullptr;
  const TargetResult result = verdict == Verdict::good          ? TargetResult::ok
                              : verdict == Verdict::invalidData ? TargetResult::invalidData
                              : tally.neverSent()               ? TargetResult::notSent
                                                                : TargetResult::unreachable;
  // /json is never turned off again: an object put together before the
  // lock is still the form due when the lock is held, and the workers then
  // take turns only for the write.
  ConsoleLine object(ConsoleLine::held);
  if (jsonOutput()) writeTargetObject(object, job, result, &tally, knownName);

  ConsoleGuard guard;
  if (verdict == Verdict::good) {
    results.okCount.fetch_add(1, std::memory_order_relaxed);
  } else {
    results.failedCount.fetch_add(1, std::memory_order_relaxed);
  }
  if (object.complete()) {
    object.write();
    return;
  }
  if (jsonOutput()) {
    // Every target has its object, whatever /report: says of its line.
    ConsoleLine line;
    writeTargetObject(line, job, result, &tally, knownName);
    return;
  }
  ConsoleLine line;
  switch (verdict) {
    case Verdict::unreachable:
      if (settings.reportFailures.load(std::memory_order_relaxed) == 0) return;
      line.text(job.label).text(" could not be reached").end();
      return;
    case Verdict::invalidData:
      if (settings.reportFailures.load(std::memory_order_relaxed) == 0) return;
      writeTargetLabel(line, job, knownName, reverseLookup);
      line.text(" replied with invalid data").end();
      return;
    case Verdict::good:
      if (settings.reportSuccesses.load(std::memory_order_relaxed) == 0) return;
      writeTargetLabel(line, job, knownName, reverseLookup);
      line.text(" is ok");
      if (settings.verbose.load(std::memory_order_relaxed) != 0) {
        if (tally.attemptCount <= 1) {
          line.text("; RTT = ").real(tally.meanRttMs);
        } else {
          line.text("; min/avg/max RTT = ").number(tally.minRttMs).text("/");
          line.real(tally.meanRttMs).text("/").number(tally.maxRttMs);
        }
        line.text(" msec");
      }
      line.end();
      return;
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

// Sends one echo request and waits for its reply, as icmpSendEcho does,
// trying again while the request cannot leave this machine. Status is
// kIpNoResources only when the time-out passed without a send.
std::uint32_t sendEcho(IcmpHandle handle, const IpAddress& address, std::uint32_t payloadSize,
                       EchoReply& reply, std::uint8_t* dataArea, std::size_t dataAreaSize,
                       std::uint32_t timeoutMs) {
  // A local shortage (a full neighbour table or queue) is no word from the
  // target: try again until the request's time-out, counted from the first
  // try, has passed. The round trip is timed by the send that went out.
  // Sleeps overshoot with thousands of threads, so the clock says what is
  // left, not the sum of the pauses.
  const std::uint64_t deadline = platform.monotonicMs() + timeoutMs;
  std::uint32_t leftMs = timeoutMs;
  for (std::uint32_t tries = 0;; ++tries) {
    reply = EchoReply{255, 0, 0, nullptr, 0};
    const std::uint32_t count =
        platform.icmpSendEcho(handle, address, echoPayload, static_cast<std::uint16_t>(payloadSize),
                              &reply, dataArea, dataAreaSize, leftMs);
    if (reply.Status != kIpNoResources) return count;
    std::uint64_t now = platform.monotonicMs();
    if (now >= deadline) return count;
    platform.sleepMs(static_cast<std::uint32_t>(
        std::min<std::uint64_t>(retryPauseMs(tries, address), deadline - now)));
    now = platform.monotonicMs();
    // No try with nothing left to wait for: it could only time out.
    if (now >= deadline) return count;
    leftMs = static_cast<std::uint32_t>(deadline - now);
  }
}

[[gnu::noinline]] void reportUntranslated(const ProbeJob& job) {
  ConsoleGuard guard;
  results.failedCount.fetch_add(1, std::memory_order_relaxed);
  if (jsonOutput()) {
    ConsoleLine line;
    writeTargetObject(line, job, TargetResult::notTranslated, nullptr);
  } else {
    ConsoleLine().text(job.label).text(" could not be translated").end();
  }
}

// The requests to one target, in a frame apart from the one that reports:
// a waiting worker's stack then holds the deeper of the two, not both.
[[gnu::noinline]] ProbeTally probeAddress(const IpAddress& address) {
  ProbeTally tally;
  const IcmpHandle handle = platform.icmpCreate(address.family);
  while (tally.attemptCount < settings.echoCount.load(std::memory_order_relaxed)) {
    // One read of the size per attempt: the request and the check of its
    // reply must agree even if /size: changes meanwhile.
    const std::uint32_t payloadSize = settings.payloadSize.load(std::memory_order_relaxed);
    std::uint8_t replyData[kMaxPayloadSize];
    EchoReply reply;
    const std::uint32_t replyCount =
        sendEcho(handle, address, payloadSize, reply, replyData, sizeof replyData,
                 settings.timeoutMs.load(std::memory_order_relaxed));
    if (reply.Status != kIpNoResources) ++tally.sentCount;
    tally.record(classifyAttempt(reply, replyCount, payloadSize), reply.RoundTripTime,
                 reply.RoundTripTimeUs);
  }
  platform.icmpClose(handle);
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
    if (!resolveHostName(job.label.c_str(), job.address.family, job.address)) {
      reportUntranslated(job);
      return;
    }
  }
  // No request can leave for this family here: the target fails unsent.
  const ProbeTally tally = job.familyMissing ? ProbeTally{} : probeAddress(job.address);
  reportVerdict(job, tally);
}

void reportUnprobedTarget(const ProbeJob& job) {
  ConsoleGuard guard;
  results.failedCount.fetch_add(1, std::memory_order_relaxed);
  if (jsonOutput()) {
    ConsoleLine line;
    writeTargetObject(line, job, TargetResult::unreachable, nullptr);
    return;
  }
  if (settings.reportFailures.load(std::memory_order_relaxed) == 0) return;
  ConsoleLine().text(job.label).text(" could not be reached").end();
}

}  // namespace fanecho
