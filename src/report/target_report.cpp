#include "report/target_report.h"

#include <string>

#include "common/console.h"
#include "common/json.h"
#include "report/target_label.h"

namespace fanecho {

namespace {

std::string_view resultName(TargetResult result) {
  switch (result) {
    case TargetResult::ok:
      return "ok";
    case TargetResult::unreachable:
      return "unreachable";
    case TargetResult::invalidData:
      return "invalid_data";
    case TargetResult::notTranslated:
      return "not_translated";
    case TargetResult::notSent:
      return "not_sent";
  }
  return "";
}

std::string_view reasonName(FailureReason reason) {
  switch (reason) {
    case FailureReason::none:
      return "";
    case FailureReason::noResponse:
      return "no_response";
    case FailureReason::netUnreachable:
      return "net_unreachable";
    case FailureReason::hostUnreachable:
      return "host_unreachable";
    case FailureReason::protocolUnreachable:
      return "protocol_unreachable";
    case FailureReason::portUnreachable:
      return "port_unreachable";
    case FailureReason::adminProhibited:
      return "admin_prohibited";
    case FailureReason::timeExceeded:
      return "time_exceeded";
    case FailureReason::parameterProblem:
      return "parameter_problem";
    case FailureReason::packetTooBig:
      return "packet_too_big";
    case FailureReason::noRouteHere:
      return "no_route_here";
    case FailureReason::blockedHere:
      return "blocked_here";
    case FailureReason::notSent:
      return "not_sent";
    case FailureReason::wrongSize:
      return "wrong_size";
    case FailureReason::wrongData:
      return "wrong_data";
  }
  return "";
}

// Why the target failed, and who said so: nothing for a target that is ok
// or whose name did not resolve. A target with a wrong reply names what
// that reply got wrong; else the last request without a good reply speaks.
struct Failure {
  FailureReason reason = FailureReason::none;
  IpAddress from{0};
};

Failure failureOf(const TargetReport& report) {
  switch (report.result) {
    case TargetResult::ok:
    case TargetResult::notTranslated:
      return {};
    case TargetResult::notSent:
      return {FailureReason::notSent, IpAddress{0}};
    case TargetResult::invalidData:
    case TargetResult::unreachable:
      break;
  }
  if (report.tally == nullptr) return {};
  if (report.result == TargetResult::invalidData)
    return {report.tally->lastWrongReply, IpAddress{0}};
  return {report.tally->lastFailure, report.tally->lastFailureFrom};
}

bool replied(TargetResult result) {
  return result == TargetResult::ok || result == TargetResult::invalidData;
}

// The reverse name is shown where a verbose line shows it: for an address
// that replied, in its object always, in its text line when one is written.
bool showsReverseName(const ProbeJob& job, TargetResult result, bool json) {
  if (job.kind != TargetKind::address || !replied(result)) return false;
  if (settings.verbose.load(std::memory_order_relaxed) == 0) return false;
  if (json) return true;
  const auto& flag =
      result == TargetResult::ok ? settings.reportSuccesses : settings.reportFailures;
  return flag.load(std::memory_order_relaxed) != 0;
}

void writeTargetObject(ConsoleLine& line, const TargetReport& report) {
  const ProbeJob& job = report.job;
  JsonObject object(line, "target");
  object.text("target", job.label);
  object.text("kind", job.kind == TargetKind::hostName ? "host_name" : "address");
  if (report.result == TargetResult::notTranslated) {
    object.null("address");
  } else {
    char text[kAddressTextSize];
    object.text("address", std::string_view(text, formatAddress(job.address, text)));
  }
  // Once /ip: has been given; null for a name that might have taken either.
  if (settings.ipNamed.load(std::memory_order_relaxed) != 0) {
    if (job.address.family == kFamilyAny) {
      object.null("family");
    } else {
      object.number("family", job.address.family);
    }
  }
  if (showsReverseName(job, report.result, true)) {
    if (report.reverseName[0] == '\0') {
      object.null("name");
    } else {
      object.text("name", report.reverseName);
    }
  }
  object.text("result", resultName(report.result));
  const Failure failure = failureOf(report);
  if (failure.reason == FailureReason::none) {
    object.null("reason");
  } else {
    object.text("reason", reasonName(failure.reason));
  }
  if (failure.from.family == 0) {
    object.null("from");
  } else {
    char text[kAddressTextSize];
    object.text("from", std::string_view(text, formatAddress(failure.from, text)));
  }
  const ProbeTally none;
  const ProbeTally& counts = report.tally != nullptr ? *report.tally : none;
  object.number("sent", counts.sentCount);
  object.number("good", counts.goodReplyCount);
  object.number("wrong", counts.badReplyCount);
  const std::uint32_t replies = counts.goodReplyCount + counts.badReplyCount;
  if (replies == 0) {
    object.null("rtt_min_ms").null("rtt_avg_ms").null("rtt_max_ms");
  } else {
    const std::uint64_t meanUs = (counts.sumRttUs + replies / 2) / replies;
    object.milliseconds("rtt_min_ms", counts.minRttUs)
        .milliseconds("rtt_avg_ms", meanUs)
        .milliseconds("rtt_max_ms", counts.maxRttUs);
  }
  object.end();
}

// After /reason: "; " and the reason in words, then who said so where known.
void writeReason(ConsoleLine& line, const TargetReport& report) {
  const Failure failure = failureOf(report);
  if (settings.reason.load(std::memory_order_relaxed) == 0 ||
      failure.reason == FailureReason::none) {
    return;
  }
  std::string words(reasonName(failure.reason));
  for (char& c : words) {
    if (c == '_') c = ' ';
  }
  line.text("; ").text(words);
  if (failure.from.family != 0) {
    char text[kAddressTextSize];
    line.text(" from ").text(std::string_view(text, formatAddress(failure.from, text)));
  }
}

// The text line, if the report settings ask for one.
void writeTargetLine(const TargetReport& report) {
  const ProbeJob& job = report.job;
  const bool failed = report.result != TargetResult::ok;
  ConsoleLine line;
  switch (report.result) {
    case TargetResult::notTranslated:
      line.outside(job.label).text(" could not be translated").end();
      return;
    case TargetResult::unreachable:
    case TargetResult::notSent:
      if (settings.reportFailures.load(std::memory_order_relaxed) == 0) return;
      line.outside(job.label).text(" could not be reached");
      writeReason(line, report);
      line.end();
      return;
    case TargetResult::invalidData:
    case TargetResult::ok:
      break;
  }
  const auto& flag = failed ? settings.reportFailures : settings.reportSuccesses;
  if (flag.load(std::memory_order_relaxed) == 0) return;
  writeTargetLabel(line, job, report.reverseName);
  if (failed) {
    line.text(" replied with invalid data");
    writeReason(line, report);
    line.end();
    return;
  }
  line.text(" is ok");
  if (settings.verbose.load(std::memory_order_relaxed) != 0) {
    const ProbeTally& tally = *report.tally;
    if (tally.attemptCount <= 1) {
      line.text("; RTT = ").real(tally.meanRttMs);
    } else {
      line.text("; min/avg/max RTT = ").number(tally.minRttMs).text("/");
      line.real(tally.meanRttMs).text("/").number(tally.maxRttMs);
    }
    line.text(" msec");
  }
  line.end();
}

}  // namespace

TargetResult resultOf(const ProbeTally& tally) {
  if (tally.badReplyCount != 0) return TargetResult::invalidData;
  if (tally.goodReplyCount != 0) return TargetResult::ok;
  return tally.neverSent() ? TargetResult::notSent : TargetResult::unreachable;
}

bool wantsReverseName(const ProbeJob& job, TargetResult result) {
  return showsReverseName(job, result, jsonOutput());
}

bool reportTarget(const TargetReport& report) {
  // /json is never turned off again: an object put together before the
  // lock is still the form due when the lock is held, and the workers then
  // take turns only for the write.
  ConsoleLine object(ConsoleLine::held);
  const bool nameKnown = report.reverseName != nullptr;
  if (jsonOutput() && (nameKnown || !showsReverseName(report.job, report.result, true))) {
    writeTargetObject(object, report);
  }

  ConsoleGuard guard;
  const bool json = jsonOutput();
  if (!nameKnown && showsReverseName(report.job, report.result, json)) return false;
  if (report.result == TargetResult::ok) {
    results.okCount.fetch_add(1, std::memory_order_relaxed);
  } else {
    results.failedCount.fetch_add(1, std::memory_order_relaxed);
  }
  if (object.complete()) {
    object.write();
  } else if (json) {
    // Every target has its object, whatever /report: says of its line.
    ConsoleLine line;
    writeTargetObject(line, report);
  } else {
    writeTargetLine(report);
  }
  return true;
}

}  // namespace fanecho
