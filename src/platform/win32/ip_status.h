// The ICMP helper API's IP_STATUS values, and what each means in the core's
// words. IPv6 reuses IPv4's numbers with other meanings (11004 is a protocol
// unreachable for IPv4, a prohibition for IPv6), so the family decides.
// Nothing here calls the system: the unit tests check the map everywhere.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/echo.h"

namespace fanecho::win32 {

// As ipexport.h numbers them; IPv6's own names where they differ.
inline constexpr std::uint32_t kIpSuccess = 0;
inline constexpr std::uint32_t kIpDestNetUnreachable = 11002;   // IPv6: IP_DEST_NO_ROUTE
inline constexpr std::uint32_t kIpDestHostUnreachable = 11003;  // IPv6: IP_DEST_ADDR_UNREACHABLE
inline constexpr std::uint32_t kIpDestProtUnreachable = 11004;  // IPv6: IP_DEST_PROHIBITED
inline constexpr std::uint32_t kIpDestPortUnreachable = 11005;
inline constexpr std::uint32_t kIpNoResources = 11006;
inline constexpr std::uint32_t kIpPacketTooBig = 11009;
inline constexpr std::uint32_t kIpReqTimedOut = 11010;
inline constexpr std::uint32_t kIpTtlExpiredTransit = 11013;  // IPv6: IP_HOP_LIMIT_EXCEEDED
inline constexpr std::uint32_t kIpTtlExpiredReassembly = 11014;
inline constexpr std::uint32_t kIpParameterProblem = 11015;
inline constexpr std::uint32_t kIpDestUnreachable = 11040;  // IPv6 only, as the rest
inline constexpr std::uint32_t kIpTimeExceeded = 11041;
inline constexpr std::uint32_t kIpBadHeader = 11042;
inline constexpr std::uint32_t kIpUnrecognizedNextHeader = 11043;
inline constexpr std::uint32_t kIpGeneralFailure = 11050;

// A status of a reply record or a failed call, for a request to `family`.
constexpr EchoStatus echoStatusOf(std::uint32_t status, std::uint8_t family) {
  switch (status) {
    case kIpSuccess:
      return EchoStatus::reply;
    case kIpReqTimedOut:
      return EchoStatus::noResponse;
    case kIpNoResources:
      return EchoStatus::shortage;
    case kIpDestNetUnreachable:
      return EchoStatus::netUnreachable;
    case kIpDestHostUnreachable:
      return EchoStatus::hostUnreachable;
    case kIpDestProtUnreachable:
      return family == 6 ? EchoStatus::adminProhibited : EchoStatus::protocolUnreachable;
    case kIpDestPortUnreachable:
      return EchoStatus::portUnreachable;
    case kIpPacketTooBig:
      return EchoStatus::packetTooBig;
    case kIpTtlExpiredTransit:
    case kIpTtlExpiredReassembly:
    case kIpTimeExceeded:
      return EchoStatus::timeExceeded;
    case kIpParameterProblem:
    case kIpBadHeader:
    case kIpUnrecognizedNextHeader:
      return EchoStatus::parameterProblem;
    default:  // kIpDestUnreachable, kIpGeneralFailure and the rest
      return EchoStatus::hostUnreachable;
  }
}

// A reply that carries our identifier and sequence number but comes from
// another host is no answer from the target, as on Linux: wine's ICMP layer
// does not check the source. Asked of both families' replies.
inline bool isForeignReply(const EchoReply& reply, const IpAddress& target) {
  return reply.status == EchoStatus::reply &&
         std::memcmp(reply.from.bytes, target.bytes, target.family == 6 ? 16 : 4) != 0;
}

}  // namespace fanecho::win32
