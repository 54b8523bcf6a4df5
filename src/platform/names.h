// Name services: host names to addresses and back. A seam because each
// system has its own resolver (the C library's, WinSock), and so that tests
// can give names of their own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/address.h"

namespace fanecho {

// Name look-ups, forward and reverse, under way at one time: thousands of
// queries in one burst overflow a name server (a local dnsmasq lost queries
// at 512 in flight, none at 256).
inline constexpr std::uint32_t kMaxLookupsInFlight = 64;

struct NameOps {
  // Starts the socket library names need (WinSock 1.1 on Windows). False
  // when it cannot start: host names then do not resolve.
  bool (*start)();
  void (*stop)();
  // The first address of a name in `family` (4, 6 or kFamilyAny).
  bool (*resolve)(const char* name, std::uint8_t family, IpAddress& address);
  // The host name of an address; empty when none. Longer names are cut to
  // size - 1 characters.
  void (*reverse)(const IpAddress& address, char* name, std::size_t size);
  // The index of a network interface by name (an IPv6 zone); 0 when none.
  std::uint32_t (*interfaceIndex)(const char* name);
};

}  // namespace fanecho
