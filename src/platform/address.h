// An IPv4 or IPv6 address, as every layer passes it around.
#pragma once

#include <compare>
#include <cstdint>

namespace fanecho {

// IPv4 fills the first four bytes; its packed value (see packAddress) is
// those bytes read as one word in memory order.
struct IpAddress {
  std::uint8_t family = 4;      // 4 or 6; 0 in a name's job: either, not resolved yet
  std::uint8_t bytes[16] = {};  // network byte order
  std::uint32_t scopeId = 0;    // IPv6 zone as an interface index; 0: none

  static IpAddress fromPacked(std::uint32_t packed) {
    IpAddress address;
    for (int i = 0; i < 4; ++i) address.bytes[i] = static_cast<std::uint8_t>(packed >> (8 * i));
    return address;
  }
  std::uint32_t packed() const {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  }
  friend auto operator<=>(const IpAddress&, const IpAddress&) = default;
};

// Which addresses a name may resolve to: the first IPv4 one, the first IPv6
// one, or the first of either in the resolver's own order.
inline constexpr std::uint8_t kFamilyAny = 0;

}  // namespace fanecho
