#include "patterns/pattern_expansion.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "common/text.h"
#include "patterns/octet_set.h"
#include "report/target_label.h"

namespace fanecho {

bool splitPattern(std::string_view pattern, std::array<std::string, 4>& fields) {
  std::size_t words = 0;
  std::size_t position = 0;
  // The text ends at its first NUL, as a C string would.
  pattern = pattern.substr(0, pattern.find('\0'));
  while (words < 5) {
    while (position < pattern.size() &&
           (pattern[position] == '.' || isWhiteSpace(pattern[position]))) {
      ++position;
    }
    if (position == pattern.size()) break;
    const std::size_t start = position;
    while (position < pattern.size() && pattern[position] != '.' &&
           !isWhiteSpace(pattern[position])) {
      ++position;
    }
    if (words < 4) fields[words].assign(pattern.substr(start, position - start));
    ++words;
  }
  return words == 4;
}

void expandDottedPattern(DottedPattern& pattern, const ExclusionSet& excluded,
                         const AddressSink& sink) {
  OctetSet* sets = pattern.fields;
  const bool skipping = !excluded.empty(4);
  // Whether the addresses under the first `fixed` octets are all left out:
  // an excluded /8 is then stepped over, not tried address by address.
  auto allExcluded = [&excluded](std::uint32_t prefix, int fixed) {
    const std::uint32_t rest = 0xFFFFFFFFu >> (8 * fixed);
    return excluded.covers(4, {prefix, prefix | rest});
  };
  std::uint16_t octets[4];
  for (int a = sets[0].first(); !sets[0].atEnd(); a = sets[0].next()) {
    octets[0] = static_cast<std::uint16_t>(a);
    const std::uint32_t valueA = static_cast<std::uint32_t>(a) << 24;
    if (skipping && allExcluded(valueA, 1)) continue;
    for (int b = sets[1].first(); !sets[1].atEnd(); b = sets[1].next()) {
      octets[1] = static_cast<std::uint16_t>(b);
      const std::uint32_t valueB = valueA | static_cast<std::uint32_t>(b) << 16;
      if (skipping && allExcluded(valueB, 2)) continue;
      for (int c = sets[2].first(); !sets[2].atEnd(); c = sets[2].next()) {
        octets[2] = static_cast<std::uint16_t>(c);
        const std::uint32_t valueC = valueB | static_cast<std::uint32_t>(c) << 8;
        if (skipping && allExcluded(valueC, 3)) continue;
        for (int d = sets[3].first(); !sets[3].atEnd(); d = sets[3].next()) {
          octets[3] = static_cast<std::uint16_t>(d);
          if (skipping && excluded.contains(4, valueC | static_cast<std::uint32_t>(d))) continue;
          const IpAddress address = IpAddress::fromPacked(packAddress(octets));
          if (!sink(address, addressLabel(address))) return;
        }
      }
    }
  }
}

namespace {

int hexValue(char c) {
  if (isDecimalDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four decimal fields of 0 to 255, the whole text: an IPv6 address's tail.
bool parseDottedTail(std::string_view text, std::uint8_t octets[4]) {
  std::size_t position = 0;
  for (int field = 0; field < 4; ++field) {
    if (field != 0) {
      if (position >= text.size() || text[position] != '.') return false;
      ++position;
    }
    const std::size_t start = position;
    unsigned value = 0;
    while (position < text.size() && isDecimalDigit(text[position]) && position - start < 3) {
      value = value * 10 + static_cast<unsigned>(text[position] - '0');
      ++position;
    }
    if (position == start || value > 255) return false;
    octets[field] = static_cast<std::uint8_t>(value);
  }
  return position == text.size();
}

// Hexadecimal digits from `position`: false when there are none.
bool readHex(std::string_view text, std::size_t& position, std::uint32_t& value) {
  const std::size_t start = position;
  value = 0;
  while (position < text.size() && hexValue(text[position]) >= 0) {
    if (value <= 0xFFFF) value = value * 16 + static_cast<std::uint32_t>(hexValue(text[position]));
    ++position;
  }
  if (value > 0xFFFF) value = 0xFFFF;
  return position != start;
}

}  // namespace

bool parseIpv6Address(std::string_view text, std::uint8_t bytes[16]) {
  std::uint16_t groups[8] = {};
  int count = 0;
  int gap = -1;  // where "::" stands, in groups
  std::size_t position = 0;
  if (text.substr(0, 2) == "::") {
    gap = 0;
    position = 2;
  }
  while (position < text.size()) {
    const std::size_t start = position;
    while (position < text.size() && hexValue(text[position]) >= 0) ++position;
    if (position < text.size() && text[position] == '.') {
      std::uint8_t octets[4];
      if (count > 6 || !parseDottedTail(text.substr(start), octets)) return false;
      groups[count++] = static_cast<std::uint16_t>(octets[0] << 8 | octets[1]);
      groups[count++] = static_cast<std::uint16_t>(octets[2] << 8 | octets[3]);
      position = text.size();
      break;
    }
    if (position == start || position - start > 4 || count == 8) return false;
    std::uint32_t value = 0;
    for (std::size_t i = start; i < position; ++i) value = value * 16 + hexValue(text[i]);
    groups[count++] = static_cast<std::uint16_t>(value);
    if (position == text.size()) break;
    if (text[position] != ':') return false;
    ++position;
    if (position < text.size() && text[position] == ':') {
      if (gap >= 0) return false;
      gap = count;
      ++position;
    } else if (position == text.size()) {
      return false;  // one colon at the end
    }
  }
  if (gap < 0 ? count != 8 : count > 7) return false;
  std::uint16_t full[8] = {};
  const int tail = gap < 0 ? 0 : count - gap;
  for (int i = 0; i < count - tail; ++i) full[i] = groups[i];
  for (int i = 0; i < tail; ++i) full[8 - tail + i] = groups[count - tail + i];
  for (int i = 0; i < 8; ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(full[i] >> 8);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(full[i]);
  }
  return true;
}

bool parseIpv6Pattern(std::string_view pattern, Ipv6Pattern& parsed) {
  pattern = pattern.substr(0, pattern.find('\0'));
  std::string_view text = pattern;
  parsed.zone = {};
  if (const std::size_t percent = pattern.find('%'); percent != std::string_view::npos) {
    text = pattern.substr(0, percent);
    parsed.zone = pattern.substr(percent + 1);
    if (parsed.zone.empty()) return false;
  }
  parsed.base = IpAddress{};
  parsed.base.family = 6;
  parsed.lastGroups.assign(0x10000, false);
  const std::size_t lastColon = text.rfind(':');
  if (lastColon == std::string_view::npos) return false;
  const std::string_view last = text.substr(lastColon + 1);
  if (last.empty() || last.find('.') != std::string_view::npos) {
    // Ends in "::" or in an IPv4 tail: one address.
    if (!parseIpv6Address(text, parsed.base.bytes)) return false;
    parsed.lastGroups[parsed.base.bytes[14] << 8 | parsed.base.bytes[15]] = true;
    parsed.base.bytes[14] = parsed.base.bytes[15] = 0;
    return true;
  }
  std::string head(text.substr(0, lastColon + 1));
  head.push_back('0');
  if (!parseIpv6Address(head, parsed.base.bytes)) return false;
  std::size_t position = 0;
  for (;;) {
    std::uint32_t low;
    if (!readHex(last, position, low)) return false;
    std::uint32_t high = low;
    if (position < last.size() && last[position] == '-') {
      ++position;
      if (!readHex(last, position, high)) return false;
      if (high < low) std::swap(low, high);
    }
    for (std::uint32_t v = low; v <= high; ++v) parsed.lastGroups[v] = true;
    if (position == last.size()) return true;
    if (last[position] != ',') return false;
    ++position;
  }
}

std::uint32_t zoneIndex(std::string_view zone, InterfaceLookup lookup) {
  std::uint32_t index = 0;
  for (char c : zone) {
    if (!isDecimalDigit(c)) return lookup(std::string(zone).c_str());
    if (index < 0x10000000u) index = index * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return index;
}

bool prepareIpv6Pattern(std::string_view pattern, InterfaceLookup lookup, Ipv6Pattern& parsed) {
  if (!parseIpv6Pattern(pattern, parsed)) return false;
  if (parsed.zone.empty()) return true;
  parsed.base.scopeId = zoneIndex(parsed.zone, lookup);
  return parsed.base.scopeId != 0;
}

Uint128 countIpv6Pattern(const Ipv6Pattern& parsed, const ExclusionSet& excluded) {
  std::uint32_t count = 0;
  const Uint128 base = addressValue(parsed.base);
  for (std::uint32_t v = 0; v <= 0xFFFF; ++v) {
    if (parsed.lastGroups[v]) ++count;
  }
  // Each flag lies in one excluded range at most.
  const std::vector<AddressRange>& ranges = excluded.ranges(6);
  for (std::size_t at = excluded.firstEndingFrom(6, base);
       at < ranges.size() && ranges[at].first <= base + 0xFFFF; ++at) {
    const Uint128 low = std::max(ranges[at].first, base) - base;
    const Uint128 high = std::min(ranges[at].last, base + 0xFFFF) - base;
    for (std::uint64_t v = low.low; v <= high.low; ++v) {
      if (parsed.lastGroups[static_cast<std::size_t>(v)]) --count;
    }
  }
  return count;
}

void expandIpv6Pattern(const Ipv6Pattern& parsed, const ExclusionSet& excluded,
                       const AddressSink& sink) {
  const bool skipping = !excluded.empty(6);
  const Uint128 base = addressValue(parsed.base);
  IpAddress address = parsed.base;
  for (std::uint32_t v = 0; v <= 0xFFFF; ++v) {
    if (!parsed.lastGroups[v]) continue;
    if (skipping && excluded.contains(6, base + v)) continue;
    address.bytes[14] = static_cast<std::uint8_t>(v >> 8);
    address.bytes[15] = static_cast<std::uint8_t>(v);
    if (!sink(address, addressLabel(address, parsed.zone))) return;
  }
}

}  // namespace fanecho
