// Dotted patterns as address ranges: counted against exclusions digit by
// digit, and turned into the ranges an /exclude: value names.
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "patterns/address_ranges.h"
#include "patterns/pattern_expansion.h"

namespace fanecho {

bool parseDottedPattern(std::string_view pattern, DottedPattern& parsed) {
  std::array<std::string, 4> fields;
  if (!splitPattern(pattern, fields)) return false;
  for (int i = 0; i < 4; ++i) parsed.fields[i].parse(fields[i].c_str());
  return true;
}

namespace {

// Members of each field below each octet, and the sizes of the fields.
struct FieldCounts {
  std::uint32_t below[4][257];
  std::uint64_t size[4];

  explicit FieldCounts(const DottedPattern& pattern) {
    for (int i = 0; i < 4; ++i) {
      below[i][0] = 0;
      for (int v = 0; v < 256; ++v) {
        below[i][v + 1] = below[i][v] + (pattern.fields[i].contains(v) ? 1 : 0);
      }
      size[i] = below[i][256];
    }
  }

  // Addresses of the pattern at or below `x`, digit by digit: those that
  // share the first i octets with x and are smaller in the next, then x.
  std::uint64_t atMost(const DottedPattern& pattern, std::uint32_t x) const {
    std::uint64_t total = 0;
    for (int i = 0; i < 4; ++i) {
      const int octet = static_cast<int>(x >> (24 - 8 * i) & 0xFF);
      std::uint64_t after = 1;
      for (int j = i + 1; j < 4; ++j) after *= size[j];
      total += below[i][octet] * after;
      if (!pattern.fields[i].contains(octet)) return total;
    }
    return total + 1;
  }
};

}  // namespace

Uint128 countDottedPattern(const DottedPattern& pattern, const ExclusionSet& excluded) {
  const FieldCounts counts(pattern);
  std::uint64_t total = counts.size[0] * counts.size[1] * counts.size[2] * counts.size[3];
  // Only the ranges between the pattern's lowest and highest address.
  std::uint32_t lowest = 0;
  std::uint32_t highest = 0;
  for (int i = 0; i < 4; ++i) {
    int first = 0;
    while (!pattern.fields[i].contains(first)) ++first;
    int last = 255;
    while (!pattern.fields[i].contains(last)) --last;
    lowest = lowest << 8 | static_cast<std::uint32_t>(first);
    highest = highest << 8 | static_cast<std::uint32_t>(last);
  }
  const std::vector<AddressRange>& ranges = excluded.ranges(4);
  for (std::size_t at = excluded.firstEndingFrom(4, lowest);
       at < ranges.size() && ranges[at].first <= highest; ++at) {
    const auto low = static_cast<std::uint32_t>(ranges[at].first.low);
    const auto high = static_cast<std::uint32_t>(ranges[at].last.low);
    total -= counts.atMost(pattern, high) - (low == 0 ? 0 : counts.atMost(pattern, low - 1));
  }
  return total;
}

namespace {

// The runs of consecutive members of a field.
std::vector<std::pair<int, int>> runsOf(const OctetSet& field) {
  std::vector<std::pair<int, int>> runs;
  for (int v = 0; v < 256; ++v) {
    if (!field.contains(v)) continue;
    if (!runs.empty() && runs.back().second == v - 1) {
      runs.back().second = v;
    } else {
      runs.push_back({v, v});
    }
  }
  return runs;
}

// A dotted pattern as ranges: the fields after the last one that is not
// whole (0-255) only widen each range, so the ranges are that field's runs
// under every combination of the fields before it.
bool dottedRanges(const DottedPattern& pattern, std::vector<AddressRange>& ranges) {
  int partial = 3;
  while (partial >= 0 &&
         runsOf(pattern.fields[partial]) == std::vector<std::pair<int, int>>{{0, 255}}) {
    --partial;
  }
  if (partial < 0) {
    ranges.push_back({0, 0xFFFFFFFFu});
    return true;
  }
  const std::vector<std::pair<int, int>> runs = runsOf(pattern.fields[partial]);
  std::uint64_t count = runs.size();
  for (int i = 0; i < partial; ++i) {
    std::uint64_t members = 0;
    for (int v = 0; v < 256; ++v) members += pattern.fields[i].contains(v) ? 1 : 0;
    count *= members;
  }
  if (count > ExclusionSet::kMaxRanges) return false;
  const int shift = 8 * (3 - partial);
  const std::uint32_t rest = shift == 0 ? 0 : (1u << shift) - 1;
  // An odometer over the fields before the partial one.
  int octets[4] = {};
  for (int i = 0; i < partial; ++i) {
    while (!pattern.fields[i].contains(octets[i])) ++octets[i];
  }
  for (;;) {
    std::uint32_t prefix = 0;
    for (int i = 0; i < partial; ++i) {
      prefix |= static_cast<std::uint32_t>(octets[i]) << (24 - 8 * i);
    }
    for (const auto& [low, high] : runs) {
      ranges.push_back({prefix | static_cast<std::uint32_t>(low) << shift,
                        prefix | static_cast<std::uint32_t>(high) << shift | rest});
    }
    int i = partial - 1;
    for (; i >= 0; --i) {
      int v = octets[i] + 1;
      while (v < 256 && !pattern.fields[i].contains(v)) ++v;
      if (v < 256) {
        octets[i] = v;
        break;
      }
      octets[i] = 0;
      while (!pattern.fields[i].contains(octets[i])) ++octets[i];
    }
    if (i < 0) return true;
  }
}

}  // namespace

bool parseExclusion(std::string_view value, std::uint8_t& family,
                    std::vector<AddressRange>& ranges) {
  value = value.substr(0, value.find('\0'));
  ranges.clear();
  const bool hasSlash = value.find('/') != std::string_view::npos;
  if (value.find(':') != std::string_view::npos) {
    family = 6;
    if (value.find('%') != std::string_view::npos) return false;
    CidrBlock block;
    if (hasSlash) {
      if (!parseIpv6Block(value, block)) return false;
      ranges.push_back(block.whole);
      return true;
    }
    Ipv6Pattern pattern;
    if (!parseIpv6Pattern(value, pattern)) return false;
    const Uint128 baseValue = addressValue(pattern.base);
    for (std::uint32_t v = 0; v <= 0xFFFF; ++v) {
      if (!pattern.lastGroups[v]) continue;
      std::uint32_t end = v;
      while (end < 0xFFFF && pattern.lastGroups[end + 1]) ++end;
      ranges.push_back({baseValue + v, baseValue + end});
      v = end;
    }
    return true;
  }
  family = 4;
  if (hasSlash) {
    CidrBlock block;
    if (!parseIpv4Block(value, block)) return false;
    ranges.push_back(block.whole);
    return true;
  }
  DottedPattern pattern;
  return parseDottedPattern(value, pattern) && dottedRanges(pattern, ranges);
}

}  // namespace fanecho
