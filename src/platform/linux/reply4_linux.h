// Reading an IPv4 echo reply out of the pieces it was received into: no
// system calls, so that a test can hand it any packet.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/linux/icmp_linux.h"

namespace fanecho {

// Where a received packet lies: a head (the IP header's first 20 bytes
// and the ICMP header on a raw socket, the ICMP header alone on a datagram
// one), then the caller's area, then a spill for what IP options push past
// that area (kMaxIpOptionsSize bytes).
struct ReplyPieces {
  std::uint8_t* head;
  std::size_t headSize;
  std::uint8_t* area;
  std::size_t areaSize;
  std::uint8_t* spill;
};

// True when the packet of `length` bytes in the pieces (what did not fit is
// lost) is an echo reply that carries `id` and, from a raw socket, whose
// checksum holds: its data then lies at the start of the area, and
// `dataSize` says how much it carried.
bool parseReply4(const ReplyPieces& pieces, std::size_t length, bool raw, const EchoId& id,
                 std::size_t& dataSize);

// The same for a raw packet read whole, IP header first: its data is
// copied into the area.
bool parseWhole4(const std::uint8_t* packet, std::size_t length, const EchoId& id,
                 std::uint8_t* area, std::size_t areaSize, std::size_t& dataSize);

}  // namespace fanecho
