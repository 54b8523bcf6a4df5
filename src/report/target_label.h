// How a result line names its target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/console.h"
#include "common/run_settings.h"

namespace fanecho {

// The longest address text with its NUL: an IPv6 address with an IPv4 tail.
inline constexpr std::size_t kAddressTextSize = 46;

// Writes an address as text: dotted decimal for IPv4, RFC 5952 for IPv6
// (lower-case hex, no leading zeros, the longest run of two or more zero
// groups as "::", the first of equal runs, and an IPv4-mapped address with a
// dotted tail). Returns the length, without the NUL.
std::size_t formatAddress(const IpAddress& address, char (&text)[kAddressTextSize]);

// An address target's label: dotted IPv4, or IPv6 in RFC 5952 form with its
// zone as typed.
std::string addressLabel(const IpAddress& address, std::string_view zone = {});

// Writes the label, and in verbose mode its address part: the resolved
// address of a host name, or the reverse name of a pattern address, which
// the caller has looked up ("?" when none was found).
void writeTargetLabel(ConsoleLine& line, const ProbeJob& job, const char* reverseName);

}  // namespace fanecho
