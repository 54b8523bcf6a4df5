#include "patterns/address_ranges.h"

#include <algorithm>
#include <array>
#include <string>

#include "common/text.h"
#include "patterns/pattern_expansion.h"

namespace fanecho {

Uint128 addressValue(const IpAddress& address) {
  if (address.family != 6) {
    return (std::uint32_t{address.bytes[0]} << 24) | (std::uint32_t{address.bytes[1]} << 16) |
           (std::uint32_t{address.bytes[2]} << 8) | address.bytes[3];
  }
  Uint128 value;
  for (int i = 0; i < 8; ++i) value.high = value.high << 8 | address.bytes[i];
  for (int i = 8; i < 16; ++i) value.low = value.low << 8 | address.bytes[i];
  return value;
}

IpAddress addressOfValue(std::uint8_t family, const Uint128& value, std::uint32_t scopeId) {
  IpAddress address;
  address.family = family;
  if (family != 6) {
    for (int i = 0; i < 4; ++i)
      address.bytes[i] = static_cast<std::uint8_t>(value.low >> (24 - 8 * i));
    return address;
  }
  for (int i = 0; i < 8; ++i)
    address.bytes[i] = static_cast<std::uint8_t>(value.high >> (56 - 8 * i));
  for (int i = 0; i < 8; ++i) {
    address.bytes[8 + i] = static_cast<std::uint8_t>(value.low >> (56 - 8 * i));
  }
  address.scopeId = scopeId;
  return address;
}

Uint128 rangeSize(const AddressRange& range) {
  const Uint128 span = range.last - range.first;
  return span == Uint128::max() ? span : span + 1;
}

namespace {

// One to three decimal digits from `position`, at most `limit`.
bool readSmallNumber(std::string_view text, std::size_t& position, std::uint32_t limit,
                     std::uint32_t& value) {
  const std::size_t start = position;
  value = 0;
  while (position < text.size() && isDecimalDigit(text[position]) && position - start < 3) {
    value = value * 10 + static_cast<std::uint32_t>(text[position] - '0');
    ++position;
  }
  return position != start && value <= limit &&
         (position == text.size() || !isDecimalDigit(text[position]));
}

// The block of `value` with `prefix` of `width` bits fixed.
AddressRange blockAround(const Uint128& value, std::uint32_t prefix, int width) {
  const Uint128 host = Uint128::lowOnes(width - static_cast<int>(prefix));
  const Uint128 first = value & ~host;
  return {first, first | host};
}

}  // namespace

bool parseIpv4Block(std::string_view text, CidrBlock& block) {
  text = text.substr(0, text.find('\0'));
  std::size_t position = 0;
  std::uint32_t value = 0;
  for (int field = 0; field < 4; ++field) {
    if (field != 0) {
      if (position >= text.size() || text[position] != '.') return false;
      ++position;
    }
    std::uint32_t octet;
    if (!readSmallNumber(text, position, 255, octet)) return false;
    value = value << 8 | octet;
  }
  if (position >= text.size() || text[position] != '/') return false;
  ++position;
  std::uint32_t prefix;
  if (!readSmallNumber(text, position, 32, prefix) || position != text.size()) return false;
  block.family = 4;
  block.prefix = prefix;
  block.whole = blockAround(value, prefix, 32);
  block.zone = {};
  return true;
}

bool parseHostAddress(std::string_view text, IpAddress& address, std::string_view& zone) {
  text = text.substr(0, text.find('\0'));
  zone = {};
  if (text.find(':') == std::string_view::npos) {
    CidrBlock block;
    const std::string withPrefix = std::string(text) + "/32";
    if (text.find('/') != std::string_view::npos || !parseIpv4Block(withPrefix, block)) {
      return false;
    }
    address = addressOfValue(4, block.whole.first);
    return true;
  }
  if (const std::size_t percent = text.find('%'); percent != std::string_view::npos) {
    zone = text.substr(percent + 1);
    text = text.substr(0, percent);
    if (zone.empty()) return false;
  }
  address = IpAddress{};
  address.family = 6;
  return parseIpv6Address(text, address.bytes);
}

bool parseIpv6Block(std::string_view text, CidrBlock& block) {
  text = text.substr(0, text.find('\0'));
  const std::size_t slash = text.rfind('/');
  if (slash == std::string_view::npos) return false;
  std::size_t position = slash + 1;
  std::uint32_t prefix;
  if (!readSmallNumber(text, position, 128, prefix) || position != text.size()) return false;
  std::string_view address = text.substr(0, slash);
  std::string_view zone;
  if (const std::size_t percent = address.find('%'); percent != std::string_view::npos) {
    zone = address.substr(percent + 1);
    address = address.substr(0, percent);
    if (zone.empty()) return false;
  }
  IpAddress parsed;
  parsed.family = 6;
  if (!parseIpv6Address(address, parsed.bytes)) return false;
  block.family = 6;
  block.prefix = prefix;
  block.whole = blockAround(addressValue(parsed), prefix, 128);
  block.zone = zone;
  return true;
}

AddressRange blockTargets(const CidrBlock& block) {
  if (block.family == 6 || block.prefix > 30) return block.whole;
  return {block.whole.first + 1, block.whole.last - 1};
}

bool ExclusionSet::add(std::uint8_t family, std::vector<AddressRange> ranges) {
  std::vector<AddressRange>& held = ranges_[family == 6];
  ranges.insert(ranges.end(), held.begin(), held.end());
  std::sort(ranges.begin(), ranges.end(),
            [](const AddressRange& a, const AddressRange& b) { return a.first < b.first; });
  std::vector<AddressRange> merged;
  for (const AddressRange& range : ranges) {
    if (!merged.empty() &&
        (merged.back().last == Uint128::max() || range.first <= merged.back().last + 1)) {
      merged.back().last = std::max(merged.back().last, range.last);
    } else {
      merged.push_back(range);
    }
  }
  if (merged.size() > kMaxRanges) return false;
  held.swap(merged);
  return true;
}

std::size_t ExclusionSet::firstEndingFrom(std::uint8_t family, const Uint128& value) const {
  const std::vector<AddressRange>& held = of(family);
  return static_cast<std::size_t>(
      std::lower_bound(held.begin(), held.end(), value,
                       [](const AddressRange& range, const Uint128& v) { return range.last < v; }) -
      held.begin());
}

bool ExclusionSet::covers(std::uint8_t family, const AddressRange& range) const {
  const std::vector<AddressRange>& held = of(family);
  const std::size_t at = firstEndingFrom(family, range.first);
  // Ranges are never adjacent, so one alone covers a range or none does.
  return at < held.size() && held[at].first <= range.first && held[at].last >= range.last;
}

bool ExclusionSet::contains(std::uint8_t family, const Uint128& value) const {
  return covers(family, {value, value});
}

Uint128 ExclusionSet::countIn(std::uint8_t family, const AddressRange& range) const {
  const std::vector<AddressRange>& held = of(family);
  Uint128 count;
  for (std::size_t at = firstEndingFrom(family, range.first);
       at < held.size() && held[at].first <= range.last; ++at) {
    count = count +
            rangeSize({std::max(held[at].first, range.first), std::min(held[at].last, range.last)});
  }
  return count;
}

Uint128 countIncluded(std::uint8_t family, const AddressRange& range,
                      const ExclusionSet& excluded) {
  return rangeSize(range) - excluded.countIn(family, range);
}

}  // namespace fanecho
