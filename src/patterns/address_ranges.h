// Address blocks (10.1.4.0/22, fd00::/64) and the addresses /exclude:
// leaves out, held as ranges of address values so that a /8 costs a few
// bytes and a check a binary search. Parsers here are pure: they return
// what they read, and the caller writes any message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/uint128.h"
#include "patterns/octet_set.h"
#include "platform/address.h"

namespace fanecho {

// An address as a number, so that ranges order and count: IPv4 10.1.2.3 is
// 0x0A010203; IPv6 its 128 bits, the first byte highest.
Uint128 addressValue(const IpAddress& address);
IpAddress addressOfValue(std::uint8_t family, const Uint128& value, std::uint32_t scopeId = 0);

// first to last, both included; first <= last.
struct AddressRange {
  Uint128 first;
  Uint128 last;
  friend bool operator==(const AddressRange&, const AddressRange&) = default;
};

// How many addresses the range holds; a whole ::/0 (2^128) counts as
// Uint128::max(), one short.
Uint128 rangeSize(const AddressRange& range);

// A block as written. IPv4: a.b.c.d/N, four single numbers 0-255 and N 0-32.
// IPv6: an address in any form parseIpv6Address takes, an optional %ZONE,
// then /N with N 0-128. Host bits are ignored (10.1.4.7/22 is
// 10.1.4.0/22). Nothing may come before or after; the text ends at a NUL.
struct CidrBlock {
  std::uint8_t family = 4;
  std::uint32_t prefix = 0;
  AddressRange whole;     // every address of the block
  std::string_view zone;  // IPv6: the zone's text after "%"; empty when none
};
bool parseIpv4Block(std::string_view text, CidrBlock& block);
bool parseIpv6Block(std::string_view text, CidrBlock& block);

// The addresses a block names as targets: an IPv4 block of /30 or wider
// without its network and broadcast addresses, as fping -g has it; /31 and
// /32 (RFC 3021) and IPv6 blocks every address.
AddressRange blockTargets(const CidrBlock& block);

// Sorted, disjoint ranges per family that later targets skip.
class ExclusionSet {
 public:
  // What one family may hold: a dotted value such as 0-255.0-255.0-255.1,3
  // would otherwise take billions of ranges.
  static constexpr std::size_t kMaxRanges = std::size_t{1} << 20;

  // Adds ranges in any order, overlapping or not. False, and nothing
  // added, when the family would then hold more than kMaxRanges ranges.
  bool add(std::uint8_t family, std::vector<AddressRange> ranges);
  bool empty(std::uint8_t family) const { return of(family).empty(); }
  bool contains(std::uint8_t family, const Uint128& value) const;
  // Whether every address of the range is excluded.
  bool covers(std::uint8_t family, const AddressRange& range) const;
  // How many addresses of the range are excluded.
  Uint128 countIn(std::uint8_t family, const AddressRange& range) const;
  // Sorted, disjoint and never adjacent (adjacent ones are joined).
  const std::vector<AddressRange>& ranges(std::uint8_t family) const { return of(family); }

  // The index of the first range that ends at or after `value`.
  std::size_t firstEndingFrom(std::uint8_t family, const Uint128& value) const;

 private:
  const std::vector<AddressRange>& of(std::uint8_t family) const { return ranges_[family == 6]; }
  std::vector<AddressRange> ranges_[2];
};

// The addresses of the range that are not excluded, ascending, each handed
// to visit(value) until it returns false; excluded runs are stepped over
// whole, so that a /8 left out costs nothing.
template <typename Visit>
void forEachIncluded(std::uint8_t family, const AddressRange& range, const ExclusionSet& excluded,
                     Visit visit) {
  const std::vector<AddressRange>& skip = excluded.ranges(family);
  std::size_t next = excluded.firstEndingFrom(family, range.first);
  Uint128 value = range.first;
  for (;;) {
    while (next < skip.size() && skip[next].last < value) ++next;
    if (next < skip.size() && skip[next].first <= value) {
      if (skip[next].last >= range.last) return;
      value = skip[next].last + 1;
      continue;
    }
    if (!visit(value) || value == range.last) return;
    value = value + 1;
  }
}

// The addresses of the range that are not excluded.
Uint128 countIncluded(std::uint8_t family, const AddressRange& range, const ExclusionSet& excluded);

// The four fields of a dotted pattern, parsed.
struct DottedPattern {
  OctetSet fields[4];
};
// False unless the pattern has exactly four fields (see splitPattern).
bool parseDottedPattern(std::string_view pattern, DottedPattern& parsed);
// How many addresses the pattern names that are not excluded, by counting
// digit by digit over each excluded range rather than address by address.
Uint128 countDottedPattern(const DottedPattern& pattern, const ExclusionSet& excluded);

// One address, the whole text: IPv4 a.b.c.d (four single numbers 0-255), or
// IPv6 in any form parseIpv6Address takes with an optional %ZONE, whose text
// comes back in `zone` (empty when none).
bool parseHostAddress(std::string_view text, IpAddress& address, std::string_view& zone);

// What an /exclude: value names: a dotted pattern, an IPv4 block, or an
// IPv6 address, range of its last group, or block, without a zone. False
// when it is none of these, or when it would take more than
// ExclusionSet::kMaxRanges ranges.
bool parseExclusion(std::string_view value, std::uint8_t& family,
                    std::vector<AddressRange>& ranges);

}  // namespace fanecho
