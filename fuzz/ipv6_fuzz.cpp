// IPv6 address text against the C library's inet_pton, and IPv6 patterns
// (a last group of hexadecimal numbers and ranges, a zone) against a plain
// model of their grammar.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "fuzz_support.h"
#include "patterns/pattern_expansion.h"

using namespace fanecho::fuzz;

namespace {

bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

unsigned hexValue(char c) {
  if (isDigit(c)) return static_cast<unsigned>(c - '0');
  return static_cast<unsigned>((c | 0x20) - 'a' + 10);
}

// A dotted IPv4 tail with a field written with a leading zero ("::1.02.3.4"):
// inet_pton refuses it, fanecho reads it as decimal.
bool tailHasLeadingZero(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || text.find('.', colon) == std::string::npos) return false;
  bool fieldStart = true;
  for (std::size_t i = colon + 1; i < text.size(); ++i) {
    if (fieldStart && text[i] == '0' && i + 1 < text.size() && isDigit(text[i + 1])) return true;
    fieldStart = text[i] == '.';
  }
  return false;
}

// The last group's list: "n", "n-m" items of hex digits joined by single
// commas, the whole text; values above ffff count as ffff.
bool modelLastGroup(const std::string& last, std::vector<bool>& flags) {
  flags.assign(0x10000, false);
  std::size_t at = 0;
  auto number = [&](unsigned& value) {
    const std::size_t start = at;
    value = 0;
    while (at < last.size() && isHex(last[at])) {
      if (value <= 0xFFFF) value = value * 16 + hexValue(last[at]);
      ++at;
    }
    if (value > 0xFFFF) value = 0xFFFF;
    return at != start;
  };
  for (;;) {
    unsigned low, high;
    if (!number(low)) return false;
    high = low;
    if (at < last.size() && last[at] == '-') {
      ++at;
      if (!number(high)) return false;
    }
    if (high < low) std::swap(low, high);
    for (unsigned v = low; v <= high; ++v) flags[v] = true;
    if (at == last.size()) return true;
    if (last[at] != ',') return false;
    ++at;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 200) return 0;
  // Nothing here touches the system; the fake stands in all the same.
  fanecho::testing::FakePlatform fake;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const bool hasNul = text.find('\0') != std::string::npos;

  // One address: exactly what inet_pton takes, byte for byte.
  std::uint8_t ours[16];
  const bool parsed = fanecho::parseIpv6Address(text, ours);
  if (!hasNul && !tailHasLeadingZero(text)) {
    std::uint8_t theirs[16];
    const bool accepted = inet_pton(AF_INET6, text.c_str(), theirs) == 1;
    FUZZ_CHECK(parsed == accepted);
    if (parsed) FUZZ_CHECK(std::memcmp(ours, theirs, 16) == 0);
  }

  // A pattern: the address with its last group cleared, and the last
  // group's list; a zone after "%", never empty.
  fanecho::Ipv6Pattern pattern;
  const bool legal = fanecho::parseIpv6Pattern(text, pattern);
  const std::string cut = text.substr(0, text.find('\0'));
  const std::size_t percent = cut.find('%');
  const std::string address = cut.substr(0, percent);
  if (percent != std::string::npos && percent + 1 == cut.size()) FUZZ_CHECK(!legal);
  const std::size_t colon = address.rfind(':');
  if (colon == std::string::npos) {
    FUZZ_CHECK(!legal);
    return 0;
  }
  const std::string last = address.substr(colon + 1);
  if (last.empty() || last.find('.') != std::string::npos) {
    // One address, whose last group the flags hold.
    std::uint8_t bytes[16];
    const bool one = fanecho::parseIpv6Address(address, bytes);
    if (percent == std::string::npos || percent + 1 < cut.size()) FUZZ_CHECK(legal == one);
    if (legal) {
      FUZZ_CHECK(pattern.lastGroups[bytes[14] << 8 | bytes[15]]);
      FUZZ_CHECK(std::memcmp(pattern.base.bytes, bytes, 14) == 0);
    }
    return 0;
  }
  std::vector<bool> flags;
  std::uint8_t head[16];
  const bool modelLegal = modelLastGroup(last, flags) &&
                          fanecho::parseIpv6Address(address.substr(0, colon + 1) + "0", head) &&
                          (percent == std::string::npos || percent + 1 < cut.size());
  FUZZ_CHECK(legal == modelLegal);
  if (legal) {
    FUZZ_CHECK(pattern.lastGroups == flags);
    FUZZ_CHECK(std::memcmp(pattern.base.bytes, head, 16) == 0);
    FUZZ_CHECK(pattern.zone == (percent == std::string::npos ? "" : cut.substr(percent + 1)));
  }
  return 0;
}
