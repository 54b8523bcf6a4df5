// Echo requests, sent and answered. A seam because every system does this
// its own way (ICMP sockets on Linux, the ICMP helper API on Windows), and
// so that the core can be run against scripted replies (tests/support).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/address.h"

namespace fanecho {

using IcmpHandle = std::intptr_t;

// The most data one echo request carries: an Ethernet frame's worth.
inline constexpr std::size_t kLargestRequest = 1472;

// How a request is to leave; each zero value leaves the choice to the system.
struct EchoOptions {
  IpAddress source{0};                  // family 0: none chosen
  const char* interfaceName = nullptr;  // null: any interface
  std::uint8_t ttl = 0;                 // TTL or hop limit; 0: the system's default
};

struct EchoRequest {
  IpAddress target;
  const void* data;  // at most kLargestRequest bytes
  std::uint16_t size;
  std::uint32_t timeoutMs;
  EchoOptions options;
};

// What became of one request, in the words the core reads. Each back end
// maps what its system says (ICMP types and codes, errno values, the helper
// API's IP_STATUS, which means other things for IPv6 than for IPv4).
enum class EchoStatus : std::uint8_t {
  reply,       // an echo reply from the target; the caller judges its data
  noResponse,  // nothing that answers for it before the time-out
  // An ICMP error about it, from `from`:
  netUnreachable,
  hostUnreachable,  // and every unreachable code not named here
  protocolUnreachable,
  portUnreachable,
  adminProhibited,
  timeExceeded,
  parameterProblem,
  packetTooBig,
  // It never left this machine:
  noRouteHere,  // this machine's routing refused it
  blockedHere,  // this machine's firewall refused it
  refusedHere,  // refused here otherwise: a bad address, a call the system refused
  shortage,     // a local, passing shortage (a full table or queue); worth trying again
  notSent,      // what the caller presets: no handle, nothing tried
};

// Whether a status means the request never left.
constexpr bool heldHere(EchoStatus status) { return status >= EchoStatus::noRouteHere; }

struct EchoReply {
  EchoStatus status = EchoStatus::notSent;
  // The system took the request. Mostly !heldHere(status), but a firewall
  // may drop what a system said it sent.
  bool requestLeft = false;
  IpAddress from{0};  // who answered: the target, or who sent the error; family 0: unknown
  std::uint32_t roundTripMs = 0;
  // Where the system measures it; else the milliseconds times 1000.
  std::uint32_t roundTripUs = 0;
  std::uint16_t dataSize = 0;          // echoed bytes; may exceed the caller's area
  const std::uint8_t* data = nullptr;  // echoed bytes, copied into the caller's area
};

struct EchoOps {
  // Null when echo requests to `family` (4 or 6) can be sent; otherwise a
  // one-line explanation of why not and how to fix it, and `missing` says
  // whether the system lacks that family's echo outright. Asked once per
  // family, before its first request.
  const char* (*problem)(std::uint8_t family, bool& missing);
  // A handle for requests to `family`, or one that sends nothing (status
  // notSent) when none could be opened.
  IcmpHandle (*open)(std::uint8_t family);
  // Sends one request and waits up to its time-out for the reply. Returns
  // the number of reply records (0 or 1); the echoed data is copied into
  // `area` (at most areaSize bytes), and reply.data points there. A local
  // shortage returns at once with status shortage.
  std::uint32_t (*send)(IcmpHandle handle, const EchoRequest& request, EchoReply& reply,
                        std::uint8_t* area, std::size_t areaSize);
  void (*close)(IcmpHandle handle, std::uint8_t family);
  // Why requests could not leave this machine and what would help, for the
  // one notice at the end of a run; null when none failed that way.
  const char* (*localSendProblem)();
  // Null when requests can leave from `source`; otherwise why not (it is no
  // address of this machine), in a few words.
  const char* (*sourceProblem)(const IpAddress& source);
  // Null when requests can leave through the interface named; otherwise why
  // not (there is no such interface, or this system has no such choice).
  const char* (*interfaceProblem)(const char* name);
};

}  // namespace fanecho
