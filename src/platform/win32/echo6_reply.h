// The reply record that Icmp6SendEcho2 writes (ICMPV6_ECHO_REPLY), and how
// the Win32 back end reads it. Nothing here calls the system: the unit tests
// check the layout on every platform, against bytes put where Microsoft's
// documentation puts them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/echo.h"
#include "platform/win32/ip_status.h"

namespace fanecho::win32 {

// IPV6_ADDRESS_EX: the SDK packs this part alone (26 bytes).
#pragma pack(push, 1)
struct Ipv6AddressEx {
  std::uint16_t port;
  std::uint32_t flowInfo;
  std::uint8_t address[16];
  std::uint32_t scopeId;
};
#pragma pack(pop)

// ICMPV6_ECHO_REPLY_LH: the record is not packed, so Status is aligned to
// offset 28; the echoed data follows the 36-byte record. mingw-w64's headers
// leave the packing out altogether.
struct Echo6Record {
  Ipv6AddressEx address;
  std::uint32_t status;
  std::uint32_t roundTripTime;  // milliseconds
};
static_assert(sizeof(Ipv6AddressEx) == 26);
static_assert(offsetof(Ipv6AddressEx, address) == 6 && offsetof(Ipv6AddressEx, scopeId) == 22);
static_assert(offsetof(Echo6Record, status) == 28 && offsetof(Echo6Record, roundTripTime) == 32);
static_assert(sizeof(Echo6Record) == 36);

// The helper API knows whole milliseconds only.
inline std::uint32_t microsecondsOf(std::uint32_t milliseconds) {
  return milliseconds > 0xFFFFFFFFu / 1000 ? 0xFFFFFFFFu : milliseconds * 1000;
}

// The record carries no data size: what the call did not write keeps this
// fill, which no request carries (the payload is a greeting, then zeros),
// so a reply shorter than its request reads as wrong data.
inline constexpr std::uint8_t kEcho6Fill = 0xA5;

// Reads the record of a call that returned one reply into `reply`, and the
// echoed data, as long as the request, into dataArea. Whether the reply is
// the target's is isForeignReply's to say.
inline void readEcho6Reply(const std::uint8_t* area, std::size_t areaSize,
                           std::uint16_t requestSize, EchoReply& reply, std::uint8_t* dataArea,
                           std::size_t dataAreaSize) {
  Echo6Record record;
  std::memcpy(&record, area, sizeof record);
  reply.from.family = 6;
  std::memcpy(reply.from.bytes, record.address.address, 16);
  reply.status = echoStatusOf(record.status, 6);
  reply.roundTripMs = record.roundTripTime;
  reply.roundTripUs = microsecondsOf(record.roundTripTime);
  reply.dataSize = requestSize;
  const std::size_t available = areaSize > sizeof record ? areaSize - sizeof record : 0;
  std::memcpy(dataArea, area + sizeof record,
              std::min({static_cast<std::size_t>(requestSize), available, dataAreaSize}));
  reply.data = dataArea;
}

}  // namespace fanecho::win32
