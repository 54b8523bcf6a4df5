// applyControlArgument over any bytes: each line of the input is one
// argument. The settings and the output are checked against a model of the
// keywords, and the settings against their ranges after every argument.
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
#include "fake_platform.h"
#include "fuzz_support.h"

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
  std::string output;

  void apply(std::string_view argument) {
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
    } else {
      output.append("invalid control argument ")
          .append(argument)
          .append("; try fanecho /? for more help\n");
    }
  }
};

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

  testing::FakePlatform fake;
  fake.threadMode = testing::ThreadMode::record;
  auto table = std::make_unique<WorkerTable>();
  Model model;
  for (const std::string& argument : arguments) {
    // Include files would read whatever the name finds on this machine;
    // the include target covers them.
    if (lowered(argument.substr(1)).rfind("include:", 0) == 0) continue;
    applyControlArgument(argument, *table);
    model.apply(argument);

    FUZZ_CHECK(settings.payloadSize <= kMaxPayloadSize);
    FUZZ_CHECK(settings.timeoutMs <= kInt32Max);
    FUZZ_CHECK(settings.echoCount <= kInt32Max);
    FUZZ_CHECK(settings.reportSuccesses <= 1 && settings.reportFailures <= 1);
    FUZZ_CHECK(settings.verbose <= 1);
    FUZZ_CHECK(settings.timeoutMs == model.timeoutMs);
    FUZZ_CHECK(settings.payloadSize == model.payloadSize);
    FUZZ_CHECK(settings.echoCount == model.echoCount);
    FUZZ_CHECK(settings.reportSuccesses == model.reportSuccesses);
    FUZZ_CHECK(settings.reportFailures == model.reportFailures);
    FUZZ_CHECK(settings.verbose == model.verbose);
    FUZZ_CHECK(fake.output == model.output);
  }
  FUZZ_CHECK(fake.started.empty());
  FUZZ_CHECK(settings.includeDepth == 0);
  return 0;
}
