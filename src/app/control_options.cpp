#include "app/control_options.h"

#include <limits>
#include <utility>
#include <vector>

#include "app/include_files.h"
#include "app/request_options.h"
#include "common/console.h"
#include "common/json.h"
#include "common/messages.h"
#include "common/progress.h"
#include "common/text.h"
#include "patterns/address_ranges.h"

#ifndef FANECHO_VERSION
#define FANECHO_VERSION "0.0.0"
#endif

namespace fanecho {

namespace {

constexpr std::string_view kTitle =
    "fanecho - which IPv4 hosts answer ICMP echo requests   Version " FANECHO_VERSION;
static_assert(kTitle.size() == 68, "reword the title line to keep it 68 characters long");

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

void writeHelp() {
  ConsoleGuard guard;
  if (jsonOutput()) {
    ConsoleLine line;
    JsonObject(line, "help").texts("lines", helpLines, kHelpLineCount).end();
    return;
  }
  for (std::string_view line : helpLines) writeLine(line);
}

void setReportFlags(std::string_view argument, std::string_view value) {
  std::uint32_t successes = 0;
  std::uint32_t failures = 0;
  if (equalsIgnoringCase(value, "all")) {
    successes = failures = 1;
  } else if (equalsIgnoringCase(value, "error")) {
    failures = 1;
  } else if (equalsIgnoringCase(value, "ok")) {
    successes = 1;
  } else {
    ConsoleGuard guard;
    writeMessage(Message::expectedReportValue, argument);
    return;
  }
  // Both flags change under the lock, so no worker sees half a setting.
  ConsoleGuard guard;
  settings.reportSuccesses.store(successes, std::memory_order_relaxed);
  settings.reportFailures.store(failures, std::memory_order_relaxed);
}

void setIpFamily(std::string_view argument, std::string_view value) {
  std::uint32_t family;
  if (value == "4") {
    family = 4;
  } else if (value == "6") {
    family = 6;
  } else if (equalsIgnoringCase(value, "any")) {
    family = kFamilyAny;
  } else {
    ConsoleGuard guard;
    writeMessage(Message::expectedIpValue, argument);
    return;
  }
  settings.ipFamily.store(family);
  settings.ipNamed.store(1);
}

// Nothing changes when the value is bad: the set takes all its ranges or none.
void addExclusion(std::string_view argument, std::string_view value, WorkerTable& table) {
  std::uint8_t family = 4;
  std::vector<AddressRange> ranges;
  if (parseExclusion(value, family, ranges) && table.exclusions().add(family, std::move(ranges))) {
    return;
  }
  ConsoleGuard guard;
  writeMessage(Message::illegalAddress, argument);
}

}  // namespace

const std::string_view helpLines[kHelpLineCount] = {
    kTitle,
    "usage: fanecho {ctrl-args} {IP-address | hostname}",
    "where ctrl-args may be any combination of the following:",
    "  /report:all     - to show successes & failures",
    "  /report:ok      - show successes only",
    "  /report:error   - show failures only",
    "  /timeout:<secs> - set timeout value (default is 5 seconds)",
    "  /size:<bytes>   - set buffer size of ping message (max 300)",
    "  /verbose        - show detailed info (alt address, round trip time)",
    "  /times:<number> - specify number of messages to be sent",
    "  /include:<file> - name of file with more arguments",
    "IP-address is of the form",
    "  numseq\".\"numseq\".\"numseq\".\"numseq",
    "  numseq = num [\"-\" num] [\",\" numseq]",
    "  num = a decimal number between 0 and 255",
    "",
    "e.g. fanecho /report:ok 193.124.242-245.7,8,9,10 gateway",
    "",
    "Copyright (c) the fanecho developers; free software under the MIT License",
};

std::int32_t readSettingNumber(std::string_view value) {
  std::size_t position = 0;
  while (position < value.size() && isWhiteSpace(value[position])) ++position;
  bool negative = false;
  if (position < value.size() && (value[position] == '+' || value[position] == '-')) {
    negative = value[position] == '-';
    ++position;
  }
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  while (position < value.size() && isDecimalDigit(value[position])) {
    if (magnitude < kLimit) magnitude = magnitude * 10 + (value[position] - '0');
    ++position;
  }
  if (negative) {
    return static_cast<std::int32_t>(-(magnitude < kLimit ? magnitude : kLimit));
  }
  return static_cast<std::int32_t>(magnitude < kLimit ? magnitude : kLimit - 1);
}

std::uint32_t timeoutFromSeconds(std::int32_t seconds) {
  // A negative time-out would reach the platform as a wait of weeks.
  if (seconds <= 0) return 0;
  constexpr std::int32_t kMaxMs = std::numeric_limits<std::int32_t>::max();
  if (seconds > kMaxMs / 1000) return kMaxMs;
  return static_cast<std::uint32_t>(seconds) * 1000;
}

std::uint32_t cappedPayloadSize(std::int32_t bytes) {
  const auto size = static_cast<std::uint32_t>(bytes);
  return size > kMaxPayloadSize ? kMaxPayloadSize : size;
}

std::uint32_t echoCountFrom(std::int32_t number) {
  return number < 0 ? 0 : static_cast<std::uint32_t>(number);
}

std::uint32_t intervalFrom(std::int32_t milliseconds) {
  return milliseconds < 0 ? 0 : static_cast<std::uint32_t>(milliseconds);
}

bool startsWithKeyword(std::string_view body, std::string_view keyword) {
  return body.size() >= keyword.size() &&
         equalsIgnoringCase(body.substr(0, keyword.size()), keyword);
}

void applyControlArgument(std::string_view argument, WorkerTable& table) {
  const std::string_view body = argument.substr(1);
  auto matches = [&body](std::string_view keyword) { return startsWithKeyword(body, keyword); };
  if (matches("report:")) {
    setReportFlags(argument, body.substr(7));
  } else if (matches("timeout:")) {
    settings.timeoutMs.store(timeoutFromSeconds(readSettingNumber(body.substr(8))));
  } else if (matches("size:")) {
    settings.payloadSize.store(cappedPayloadSize(readSettingNumber(body.substr(5))));
  } else if (matches("verbose")) {
    ConsoleGuard guard;
    settings.verbose.store(1, std::memory_order_relaxed);
  } else if (matches("times:")) {
    settings.echoCount.store(echoCountFrom(readSettingNumber(body.substr(6))));
  } else if (matches("include:")) {
    processIncludeFile(body.substr(8), table);
  } else if (matches("?")) {
    writeHelp();
  } else if (matches("interval:")) {
    settings.intervalMs.store(intervalFrom(readSettingNumber(body.substr(9))));
  } else if (matches("ip:")) {
    setIpFamily(argument, body.substr(3));
  } else if (matches("json")) {
    // Changed under the lock: each line is written whole in one form.
    ConsoleGuard guard;
    settings.json.store(1, std::memory_order_relaxed);
  } else if (matches("progress")) {
    startProgress();
  } else if (matches("cidr")) {
    settings.cidr.store(1);
  } else if (matches("queue")) {
    settings.queue.store(1);
  } else if (matches("reason")) {
    // Under the lock, as /verbose: each line says why or does not, whole.
    ConsoleGuard guard;
    settings.reason.store(1, std::memory_order_relaxed);
  } else if (matches("exclude:")) {
    addExclusion(argument, body.substr(8), table);
  } else if (applyRequestOption(argument)) {
  } else {
    ConsoleGuard guard;
    writeMessage(Message::invalidArgument, argument);
  }
}

}  // namespace fanecho
