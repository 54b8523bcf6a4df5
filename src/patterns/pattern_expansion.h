// Address patterns such as 10.1.2-5.7,8 and 2001:db8::1-ff: the addresses
// they name.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/uint128.h"
#include "patterns/address_ranges.h"
#include "platform/address.h"

namespace fanecho {

// Splits at dots and white space. True when there are exactly four fields.
bool splitPattern(std::string_view pattern, std::array<std::string, 4>& fields);

// Takes each address of a pattern and its label; false stops the pattern.
using AddressSink = std::function<bool(const IpAddress& address, std::string_view label)>;

// Hands every address of the pattern that is not excluded to `sink`, in
// ascending order with the fourth field fastest.
void expandDottedPattern(DottedPattern& pattern, const ExclusionSet& excluded,
                         const AddressSink& sink);

// One IPv6 address in any text form of RFC 4291 ("::", an IPv4 tail), with
// nothing before or after it. True and the 16 bytes when it parses.
bool parseIpv6Address(std::string_view text, std::uint8_t bytes[16]);

// An IPv6 pattern: an address whose last group may list hexadecimal numbers
// and ranges (2001:db8::1-ff,200; above ffff counts as ffff), and an optional
// zone after "%". `base` has the last group 0; `lastGroups` holds 65536
// flags, one per value of the last group; `zone` is the zone's text.
struct Ipv6Pattern {
  IpAddress base;
  std::vector<bool> lastGroups;
  std::string_view zone;
};
bool parseIpv6Pattern(std::string_view pattern, Ipv6Pattern& parsed);

// The index of a network interface by name, as the system knows it; 0 when
// there is none. The caller passes the system's, a test its own.
using InterfaceLookup = std::uint32_t (*)(const char* name);

// The interface index of an IPv6 zone: its number, or the interface of that
// name; 0 when there is none.
std::uint32_t zoneIndex(std::string_view zone, InterfaceLookup lookup);

// parseIpv6Pattern, and the zone's interface index into base.scopeId. False
// when the pattern is illegal or names no interface.
bool prepareIpv6Pattern(std::string_view pattern, InterfaceLookup lookup, Ipv6Pattern& parsed);

// How many addresses the pattern names that are not excluded.
Uint128 countIpv6Pattern(const Ipv6Pattern& parsed, const ExclusionSet& excluded);

// Hands every address of an IPv6 pattern that is not excluded to `sink` in
// ascending order, each once, labelled by addressLabel (report/).
void expandIpv6Pattern(const Ipv6Pattern& parsed, const ExclusionSet& excluded,
                       const AddressSink& sink);

}  // namespace fanecho
