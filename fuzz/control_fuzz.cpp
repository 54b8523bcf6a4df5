// applyControlArgument over any bytes: each line of the input is one
// argument. The settings and the output are checked against a model of the
// keywords, and the settings against their ranges after every argument.
// Under /json every line must be a valid JSON object that says the same as
// the text line would; at the end the whole input, as a target's label and
// as its reverse name, must come out of a target's object unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/control_options.h"
#include "app/worker_table.h"
#include "common/json.h"
#include "fake_platform.h"
#include "fuzz_support.h"
#include "probe/probe_worker.h"

using namespace fanecho;
using namespace fanecho::fuzz;

namespace {

constexpr std::size_t kMaxArguments = 64;
constexpr std::uint32_t kInt32Max = std::numeric_limits<std::int32_t>::max();

std::string lowered(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

// Leading blanks, one sign, digits; saturated to 32 bits.
// Four numbers 0-255 of one to three digits, dot-separated, the whole text.
bool dottedQuad(std::string_view text, int octets[4]) {
  std::size_t at = 0;
  for (int field = 0; field < 4; ++field) {
    if (field != 0 && (at >= text.size() || text[at++] != '.')) return false;
    const std::size_t start = at;
    int value = 0;
    while (at < text.size() && isDigit(text[at]) && at - start < 3)
      value = value * 10 + (text[at++] - '0');
    if (at == start || value > 255) return false;
    octets[field] = value;
  }
  return at == text.size();
}

std::int64_t number(std::string_view value) {
  std::size_t at = 0;
  while (at < value.size() && isBlank(value[at])) ++at;
  bool negative = false;
  if (at < value.size() && (value[at] == '+' || value[at] == '-')) negative = value[at++] == '-';
  std::int64_t magnitude = 0;
  for (; at < value.size() && isDigit(value[at]); ++at) {
    magnitude = std::min<std::int64_t>(magnitude * 10 + (value[at] - '0'), std::int64_t{1} << 32);
  }
  const std::int64_t signedValue = negative ? -magnitude : magnitude;
  return std::clamp<std::int64_t>(signedValue, std::numeric_limits<std::int32_t>::min(),
                                  std::numeric_limits<std::int32_t>::max());
}

struct Model {
  std::uint32_t timeoutMs = 5000;
  std::uint32_t reportSuccesses = 0;
  std::uint32_t reportFailures = 0;
  std::uint32_t verbose = 0;
  std::uint32_t payloadSize = kMaxPayloadSize;
  std::uint32_t echoCount = 1;
  std::uint32_t intervalMs = 0;
  std::uint32_t json = 0;
  std::uint32_t ipFamily = 4;
  std::uint32_t cidr = 0;
  std::uint32_t queue = 0;
  std::uint32_t ttl = 0;
  std::uint32_t reason = 0;
  std::uint32_t retryCount = 0;
  std::uint32_t requestRate = 0;
  // An IPv6 /exclude: value is not modelled here: either line is right.
  bool ipv6Exclusion = false;
  // Nor an IPv6 /source: value: nothing, "illegal IP address" or a line
  // that says it is no address of this machine.
  bool ipv6Source = false;
  std::string output;  // as text lines, whatever the form
  std::size_t jsonLines = 0;

  void apply(std::string_view argument) {
    const std::size_t before = output.size();
    ipv6Exclusion = false;
    ipv6Source = false;
    applyKeyword(argument);
    if (json != 0 && output.size() != before) {
      ++jsonLines;  // a message or the help
      // An object's reader gets a C1 control back as the byte of its value.
      output.replace(before, std::string::npos, jsonDecodedForm(output.substr(before)));
    }
  }

  void applyKeyword(std::string_view argument) {
    const std::string body = lowered(argument.substr(1));
    const std::string_view value = argument.substr(1);
    auto has = [&body](std::string_view keyword) { return body.rfind(keyword, 0) == 0; };
    if (has("report:")) {
      const std::string word = lowered(value.substr(7));
      if (word == "all" || word == "ok" || word == "error") {
        reportSuccesses = word != "error";
        reportFailures = word != "ok";
      } else {
        output += "expected all, ok or error\n";
      }
    } else if (has("timeout:")) {
      const std::int64_t seconds = number(value.substr(8));
      timeoutMs =
          static_cast<std::uint32_t>(std::clamp<std::int64_t>(seconds * 1000, 0, kInt32Max));
    } else if (has("size:")) {
      const auto bytes =
          static_cast<std::uint32_t>(static_cast<std::int32_t>(number(value.substr(5))));
      payloadSize = bytes > kMaxPayloadSize ? kMaxPayloadSize : bytes;
    } else if (has("verbose")) {
      verbose = 1;
    } else if (has("times:")) {
      echoCount = static_cast<std::uint32_t>(std::max<std::int64_t>(number(value.substr(6)), 0));
    } else if (has("?")) {
      for (std::string_view line : helpLines) output.append(line).append("\n");
    } else if (has("interval:")) {
      intervalMs = static_cast<std::uint32_t>(std::max<std::int64_t>(number(value.substr(9)), 0));
    } else if (has("ip:")) {
      const std::string word = lowered(value.substr(3));
      if (word == "4" || word == "6") {
        ipFamily = static_cast<std::uint32_t>(word[0] - '0');
      } else if (word == "any") {
        ipFamily = kFamilyAny;
      } else {
        output += "expected 4, 6 or any\n";
      }
    } else if (has("json")) {
      json = 1;
    } else if (has("progress")) {
      // Standard error is no terminal here: nothing is written.
    } else if (has("cidr")) {
      cidr = 1;
    } else if (has("queue")) {
      queue = 1;
    } else if (has("exclude:")) {
      const std::string_view excluded = argument.substr(9);
      ExclusionModel model;
      if (excluded.substr(0, excluded.find('\0')).find(':') != std::string_view::npos) {
        ipv6Exclusion = true;
      } else if (!exclusionModel(excluded, model)) {
        output += "illegal IP address\n";
      }
    } else if (has("source:")) {
      const std::string_view address = value.substr(7);
      const std::string_view cut = address.substr(0, address.find('\0'));
      int octets[4];
      if (cut.find(':') != std::string_view::npos) {
        ipv6Source = true;
      } else if (!dottedQuad(cut, octets)) {
        output += "illegal IP address\n";
      } else if (!(octets[0] == 10 && octets[1] == 0 && octets[2] == 0 && octets[3] == 100)) {
        output += "cannot send from " + std::to_string(octets[0]) + "." +
                  std::to_string(octets[1]) + "." + std::to_string(octets[2]) + "." +
                  std::to_string(octets[3]) + ": it is not an address of this machine\n";
      }
    } else if (has("interface:")) {
      std::string name(value.substr(10));
      name = name.substr(0, name.find('\0'));
      if (name != "eth0") {
        output += "cannot send through " + shown(name) + ": " +
                  (name.empty() ? "no interface was named"
                                : "this machine has no interface of that name") +
                  "\n";
      }
    } else if (has("ttl:")) {
      const std::int64_t hops = number(value.substr(4));
      if (hops >= 1 && hops <= 255) {
        ttl = static_cast<std::uint32_t>(hops);
      } else {
        output += "expected a TTL of 1 to 255\n";
      }
    } else if (has("reason")) {
      reason = 1;
    } else if (has("wait:")) {
      const std::int64_t ms = number(value.substr(5));
      if (ms >= 0) {
        timeoutMs = static_cast<std::uint32_t>(ms);
      } else {
        output += "expected a wait of 0 to 2147483647 milliseconds\n";
      }
    } else if (has("retry:")) {
      const std::int64_t retries = number(value.substr(6));
      if (retries >= 0 && retries <= 10) {
        retryCount = static_cast<std::uint32_t>(retries);
      } else {
        output += "expected 0 to 10 retries\n";
      }
    } else if (has("rate:")) {
      const std::int64_t rate = number(value.substr(5));
      if (rate >= 0 && rate <= 1000000) {
        requestRate = static_cast<std::uint32_t>(rate);
      } else {
        output += "expected a rate of 0 to 1000000 requests a second\n";
      }
    } else {
      output.append("invalid control argument ")
          .append(shown(argument))
          .append("; try fanecho /? for more help\n");
    }
  }
};

// The output with each JSON object turned back into the text it stands
// for; counts the objects.
std::string asText(const std::string& output, std::size_t& objects) {
  std::string text;
  objects = 0;
  for (const std::string& line : testing::linesOf(output)) {
    if (line.empty() || line[0] != '{') {
      text.append(line).append("\n");
      continue;
    }
    ++objects;
    std::map<std::string, JsonValue> fields;
    FUZZ_CHECK(parseJsonObject(line, fields));
    FUZZ_CHECK(fields.count("type") == 1);
    const std::string& type = fields["type"].text;
    if (type == "help") {
      FUZZ_CHECK(fields["lines"].kind == JsonValue::Kind::array);
      for (const std::string& help : fields["lines"].items) text.append(help).append("\n");
    } else {
      FUZZ_CHECK(type == "message");
      FUZZ_CHECK(fields["text"].kind == JsonValue::Kind::string);
      text.append(fields["text"].text).append("\n");
    }
  }
  return text;
}

// A target named by the whole input, in both kinds, written as an object.
void checkTargetObjects(std::string_view input) {
  testing::FakePlatform fake;
  settings.json = 1;
  settings.verbose = 1;
  ProbeJob name;
  name.label.assign(input);
  name.kind = TargetKind::hostName;
  probeTarget(&name);  // the fake resolves no name

  ProbeJob address;
  address.label.assign(input);
  address.address = testing::addressOf(10, 0, 0, 1);
  const std::string reverse(input.substr(0, std::min(input.find('\0'), std::size_t{99})));
  fake.addReverseName(address.address, reverse);
  probeTarget(&address);

  const std::vector<std::string> lines = testing::linesOf(fake.output);
  FUZZ_CHECK(lines.size() == 2);
  std::map<std::string, JsonValue> fields;
  FUZZ_CHECK(parseJsonObject(lines[0], fields));
  FUZZ_CHECK(fields["target"].text == jsonDecodedForm(input) &&
             fields["result"].text == "not_translated");
  fields.clear();
  FUZZ_CHECK(parseJsonObject(lines[1], fields));
  FUZZ_CHECK(fields["target"].text == jsonDecodedForm(input) && fields["result"].text == "ok");
  if (reverse.empty()) {
    FUZZ_CHECK(fields["name"].kind == JsonValue::Kind::null);
  } else {
    FUZZ_CHECK(fields["name"].text == jsonDecodedForm(reverse));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> arguments;
  for (std::size_t start = 0; start <= input.size() && arguments.size() <= kMaxArguments;) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    std::string argument(input.substr(start, end - start));
    // The caller guarantees the leading "/" or "-".
    if (argument.empty() || (argument[0] != '/' && argument[0] != '-')) argument.insert(0, "/");
    arguments.push_back(std::move(argument));
    start = end + 1;
  }
  if (arguments.size() > kMaxArguments) return -1;
  // Below the most an exclusion set takes, which would make legal values
  // refused: an IPv6 value takes 32768 ranges at most.
  std::uint64_t ipv4Ranges = 0;
  std::uint64_t ipv6Ranges = 0;
  for (const std::string& argument : arguments) {
    if (lowered(argument.substr(1)).rfind("exclude:", 0) != 0) continue;
    const std::string_view value = std::string_view(argument).substr(9);
    ExclusionModel model;
    if (value.substr(0, value.find('\0')).find(':') != std::string_view::npos) {
      ipv6Ranges += 32768;
    } else if (exclusionModel(value, model)) {
      ipv4Ranges += model.ranges;
    }
  }
  if (ipv4Ranges > (std::uint64_t{1} << 20) || ipv6Ranges > (std::uint64_t{1} << 20)) return -1;

  testing::FakePlatform fake;
  fake.threadMode = testing::ThreadMode::record;
  auto table = std::make_unique<WorkerTable>();
  Model model;
  for (const std::string& argument : arguments) {
    // Include files would read whatever the name finds on this machine;
    // the include target covers them.
    if (lowered(argument.substr(1)).rfind("include:", 0) == 0) continue;
    const std::size_t outputBefore = fake.output.size();
    applyControlArgument(argument, *table);
    model.apply(argument);
    if (model.ipv6Source) {
      const std::string added = fake.output.substr(outputBefore);
      std::size_t objects = 0;
      const std::string text = asText(added, objects);
      FUZZ_CHECK(text.empty() || text == "illegal IP address\n" ||
                 (text.rfind("cannot send from ", 0) == 0 &&
                  text.find(": it is not an address of this machine\n") != std::string::npos));
      model.output += text;
      model.jsonLines += objects;
    }
    if (model.ipv6Exclusion) {
      // Nothing, or one line that says the value is illegal; then the model says the same.
      const std::string added = fake.output.substr(outputBefore);
      std::size_t objects = 0;
      const std::string text = asText(added, objects);
      FUZZ_CHECK(text.empty() || text == "illegal IP address\n");
      model.output += text;
      model.jsonLines += objects;
    }

    FUZZ_CHECK(settings.payloadSize <= kMaxPayloadSize);
    FUZZ_CHECK(settings.timeoutMs <= kInt32Max);
    FUZZ_CHECK(settings.echoCount <= kInt32Max);
    FUZZ_CHECK(settings.ipFamily == model.ipFamily);
    FUZZ_CHECK(settings.reportSuccesses <= 1 && settings.reportFailures <= 1);
    FUZZ_CHECK(settings.verbose <= 1);
    FUZZ_CHECK(settings.timeoutMs == model.timeoutMs);
    FUZZ_CHECK(settings.payloadSize == model.payloadSize);
    FUZZ_CHECK(settings.echoCount == model.echoCount);
    FUZZ_CHECK(settings.reportSuccesses == model.reportSuccesses);
    FUZZ_CHECK(settings.reportFailures == model.reportFailures);
    FUZZ_CHECK(settings.verbose == model.verbose);
    FUZZ_CHECK(settings.intervalMs == model.intervalMs);
    FUZZ_CHECK(settings.json == model.json);
    FUZZ_CHECK(settings.cidr == model.cidr);
    FUZZ_CHECK(settings.queue == model.queue);
    FUZZ_CHECK(settings.ttl == model.ttl);
    FUZZ_CHECK(settings.reason == model.reason);
    FUZZ_CHECK(settings.retryCount == model.retryCount);
    FUZZ_CHECK(settings.requestRate == model.requestRate);
    std::size_t objects = 0;
    FUZZ_CHECK(asText(fake.output, objects) == model.output);
    FUZZ_CHECK(objects == model.jsonLines);
  }
  FUZZ_CHECK(fake.started.empty());
  FUZZ_CHECK(settings.includeDepth == 0);
  checkTargetObjects(input);
  return 0;
}
