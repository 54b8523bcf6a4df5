// Address patterns such as 10.1.2-5.7,8: the addresses they name.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace fanecho {

// Splits at dots and white space. True when there are exactly four fields.
bool splitPattern(std::string_view pattern, std::array<std::string, 4>& fields);

// Takes each address of a pattern and its label.
using AddressSink = std::function<void(const IpAddress& address, std::string_view label)>;

// Hands every address of the pattern to `sink`, in ascending order with the
// fourth field fastest, or writes "illegal IP address".
void expandPattern(std::string_view pattern, const AddressSink& sink);

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

// Hands every address of an IPv6 pattern to `sink` in ascending order, each
// once, labelled in RFC 5952 form with its zone as typed; or writes "illegal
// IP address".
void expandIpv6Pattern(std::string_view pattern, const AddressSink& sink);

}  // namespace fanecho
