#include "probe/target_object.h"

#include "common/json.h"
#include "probe/network.h"
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

}  // namespace

void writeTargetObject(ConsoleLine& line, const ProbeJob& job, TargetResult result,
                       const ProbeTally* tally, const char* reverseName) {
  JsonObject object(line, "target");
  object.text("target", job.label);
  object.text("kind", job.kind == TargetKind::hostName ? "host_name" : "address");
  if (result == TargetResult::notTranslated) {
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
  // The reverse name where a verbose text line shows it: an address that
  // replied.
  if (settings.verbose.load(std::memory_order_relaxed) != 0 && job.kind == TargetKind::address &&
      (result == TargetResult::ok || result == TargetResult::invalidData)) {
    char nameBuffer[kNameBufferSize];
    if (reverseName == nullptr) {
      reverseLookup(job.address, nameBuffer);
      reverseName = nameBuffer;
    }
    if (reverseName[0] == '\0') {
      object.null("name");
    } else {
      object.text("name", reverseName);
    }
  }
  object.text("result", resultName(result));
  const ProbeTally none;
  const ProbeTally& counts = tally != nullptr ? *tally : none;
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

}  // namespace fanecho
