// Echo requests through the ICMP helper API, both families. Checked against
// Microsoft's documentation of IcmpSendEcho2Ex, IcmpSendEcho2,
// Icmp6SendEcho2, IP_OPTION_INFORMATION and ICMPV6_ECHO_REPLY: the order
// handle, event, APC routine and context, source, destination, data, its
// size, header options, reply buffer, its size, time-out; IPv4 addresses
// as IPAddr in network byte order, IPv6 ones as sockaddr_in6; a reply
// buffer with room for 8 bytes of an ICMP error and an IO_STATUS_BLOCK.
#include <algorithm>
#include <cstring>

#include "platform/win32/back_end_win32.h"
#include "platform/win32/echo6_reply.h"
#include "platform/win32/ip_status.h"

namespace fanecho::win32 {

#ifndef _WIN64
// The layout every 32-bit Windows and its ICMP.dll agree on.
static_assert(sizeof(ICMP_ECHO_REPLY) == 28);
#endif

namespace {

// Room after the echoed data: an ICMP error's 8 bytes and the status block
// (two pointer-sized words) the API puts at the end.
constexpr std::size_t kIcmpErrorRoom = 8;
constexpr std::size_t kStatusBlockRoom = 2 * sizeof(ULONG_PTR);

// The IP header options of a request: null, the system's defaults, unless
// /ttl: chose a TTL (the hop limit for IPv6). Tos and Flags 0: no Don't
// Fragment, as the Linux back end sends. The API takes IP_OPTION_INFORMATION
// in either build; the 32-bit layout the documentation names for 64-bit
// platforms (IP_OPTION_INFORMATION32) differs only in OptionsData, null here.
IP_OPTION_INFORMATION* headerOptions(const EchoOptions& options, IP_OPTION_INFORMATION& storage) {
  if (options.ttl == 0) return nullptr;
  std::memset(&storage, 0, sizeof storage);
  storage.Ttl = options.ttl;
  return &storage;
}

union Area4 {
  ICMP_ECHO_REPLY record;
  unsigned char
      bytes[sizeof(ICMP_ECHO_REPLY) + kLargestRequest + kIcmpErrorRoom + kStatusBlockRoom];
};

union Area6 {
  Echo6Record record;
  std::uint8_t bytes[sizeof(Echo6Record) + kLargestRequest + kIcmpErrorRoom + kStatusBlockRoom];
};

// IcmpSendEcho2Ex from the source asked for, or from INADDR_ANY. Where the
// system lacks it, IcmpSendEcho2, but only with no source asked for: a
// request never leaves from another address than the one chosen.
DWORD send4(HANDLE icmp, const EchoRequest& request, Area4& area) {
  std::memset(&area, 0, sizeof area);
  area.record.Status = kNotWritten;
  IP_OPTION_INFORMATION storage;
  IP_OPTION_INFORMATION* options = headerOptions(request.options, storage);
  const IPAddr destination = request.target.packed();
  const bool sourceChosen = request.options.source.family == 4;
  void* data = const_cast<void*>(request.data);
  // The whole area, whatever was sent: a reply longer than the request must
  // still fit, to be judged as wrong data rather than lost as too big.
  if (const SendEcho4Ex sendEx = icmpSendEcho2Ex()) {
    return sendEx(icmp, nullptr, nullptr, nullptr,
                  sourceChosen ? request.options.source.packed() : INADDR_ANY, destination, data,
                  request.size, options, &area, sizeof area, request.timeoutMs);
  }
  if (sourceChosen) {
    SetLastError(ERROR_NOT_SUPPORTED);  // refused here
    return 0;
  }
  return IcmpSendEcho2(icmp, nullptr, nullptr, nullptr, destination, data, request.size, options,
                       &area, sizeof area, request.timeoutMs);
}

void read4(const Area4& area, EchoReply& reply, std::uint8_t* dataArea, std::size_t dataAreaSize) {
  // The replying address: the target, or the router whose error this is.
  reply.from = IpAddress::fromPacked(area.record.Address);
  reply.status = echoStatusOf(area.record.Status, 4);
  reply.roundTripMs = area.record.RoundTripTime;
  reply.roundTripUs = microsecondsOf(area.record.RoundTripTime);
  reply.dataSize = area.record.DataSize;
  reply.data = nullptr;
  // Data points into our buffer; never read past what the call was given.
  const auto* data = static_cast<const unsigned char*>(area.record.Data);
  const unsigned char* end = area.bytes + sizeof area;
  if (data != nullptr && data >= area.bytes && data <= end) {
    const std::size_t available = static_cast<std::size_t>(end - data);
    std::memcpy(
        dataArea, data,
        std::min({static_cast<std::size_t>(area.record.DataSize), available, dataAreaSize}));
    reply.data = dataArea;
  }
}

// Icmp6SendEcho2 from the source asked for, or from in6addr_any (zeros).
DWORD send6(HANDLE icmp, const EchoRequest& request, Area6& area) {
  const Ipv6Api& api = ipv6Api();
  std::memset(area.bytes, kEcho6Fill, sizeof area.bytes);
  std::memset(&area.record, 0, sizeof area.record);
  area.record.status = kNotWritten;
  if (api.icmp6SendEcho2 == nullptr) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);  // refused here
    return 0;
  }
  sockaddr_in6 source;
  if (request.options.source.family == 6) {
    source = socketAddress6(request.options.source);
  } else {
    std::memset(&source, 0, sizeof source);
    source.sin6_family = AF_INET6;
  }
  sockaddr_in6 destination = socketAddress6(request.target);
  IP_OPTION_INFORMATION storage;
  return api.icmp6SendEcho2(
      icmp, nullptr, nullptr, nullptr, &source, &destination, const_cast<void*>(request.data),
      request.size, headerOptions(request.options, storage), &area, sizeof area, request.timeoutMs);
}

}  // namespace

// IPv6 echo needs Icmp6CreateFile, which wine 8 does not implement
// (ERROR_CALL_NOT_IMPLEMENTED), and Icmp6SendEcho2. Tried once.
const char* icmpProblem(std::uint8_t family, bool& familyMissing) {
  familyMissing = false;
  if (family != 6) return nullptr;
  const Ipv6Api& api = ipv6Api();
  bool works = false;
  if (api.icmp6CreateFile != nullptr && api.icmp6SendEcho2 != nullptr) {
    const HANDLE handle = api.icmp6CreateFile();
    works = handle != INVALID_HANDLE_VALUE && handle != nullptr;
    if (works) IcmpCloseHandle(handle);
  }
  if (works) return nullptr;
  familyMissing = true;
  return "fanecho: IPv6 echo is not available on this system; IPv6 targets are counted as failed";
}

IcmpHandle icmpCreate(std::uint8_t family) {
  if (family == 6) {
    const Ipv6Api& api = ipv6Api();
    if (api.icmp6CreateFile == nullptr) return reinterpret_cast<IcmpHandle>(INVALID_HANDLE_VALUE);
    return reinterpret_cast<IcmpHandle>(api.icmp6CreateFile());
  }
  return reinterpret_cast<IcmpHandle>(IcmpCreateFile());
}

// wine's IcmpCloseHandle reads through the handle: one that was never
// opened is not closed.
void icmpClose(IcmpHandle handle, std::uint8_t) {
  const auto icmp = reinterpret_cast<HANDLE>(handle);
  if (icmp != INVALID_HANDLE_VALUE && icmp != nullptr) IcmpCloseHandle(icmp);
}

// Each family sends and reads its own record; what a failed call means
// (failedCall) and whose reply is an answer (isForeignReply) are asked of
// both here.
std::uint32_t icmpSendEcho(IcmpHandle handle, const EchoRequest& request, EchoReply& reply,
                           std::uint8_t* dataArea, std::size_t dataAreaSize) {
  const auto icmp = reinterpret_cast<HANDLE>(handle);
  if (icmp == INVALID_HANDLE_VALUE || icmp == nullptr) return 0;  // nothing was sent
  const std::uint8_t family = request.target.family == 6 ? 6 : 4;
  DWORD count;
  if (family == 6) {
    Area6 area;
    count = send6(icmp, request, area);
    if (count == 0) {
      failedCall(area.record.status, family, reply);
      return 0;
    }
    readEcho6Reply(area.bytes, sizeof area.bytes, request.size, reply, dataArea, dataAreaSize);
  } else {
    Area4 area;
    count = send4(icmp, request, area);
    if (count == 0) {
      failedCall(area.record.Status, family, reply);
      return 0;
    }
    read4(area, reply, dataArea, dataAreaSize);
  }
  reply.requestLeft = true;
  if (isForeignReply(reply, request.target)) {
    reply.status = EchoStatus::noResponse;
    reply.data = nullptr;
    return 0;
  }
  return count;
}

}  // namespace fanecho::win32
