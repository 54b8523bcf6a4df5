// ICMPv6 echo requests over Linux ICMPv6 sockets, chosen as for IPv4: a
// datagram socket (net.ipv4.ping_group_range governs it too), else a raw
// one (CAP_NET_RAW). Neither kind hands on the IPv6 header, and the kernel
// fills in and checks the checksum of both. Sockets of both kinds are
// connected to their target and raw ones filtered to echo replies; every
// reply is still checked for its source, identifier and sequence number, as
// another program's reply, a late one or a duplicate must never count, and
// the caller checks the data. What IPv4 does alike is in icmp_linux.cpp.
#include "platform/linux/icmp6_linux.h"

#include <time.h>  // before linux/errqueue.h, which needs struct timespec

#include <linux/errqueue.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/linux/icmp_linux.h"

namespace fanecho {

namespace {

constexpr std::uint8_t kEcho6Request = 128;
constexpr std::uint8_t kEcho6Reply = 129;
constexpr std::uint8_t kDest6Unreachable = 1;
constexpr std::uint8_t kPacketTooBig = 2;
constexpr std::uint8_t kTime6Exceeded = 3;
constexpr std::uint8_t kParameter6Problem = 4;
constexpr std::size_t kHeaderSize = 8;

// Redirects are advice and never queued as errors; only the four kinds that
// answer for the target end the wait.
std::uint32_t statusFromIcmp6(std::uint8_t type, std::uint8_t code) {
  if (type == kDest6Unreachable) {
    if (code == 0) return kIpDestNetUnreachable;
    if (code == 4) return kIpDestPortUnreachable;
    return kIpDestHostUnreachable;
  }
  if (type == kTime6Exceeded) return kIpTtlExpiredTransit;
  if (type == kPacketTooBig || type == kParameter6Problem) return kIpGeneralFailure;
  return kIpSuccess;
}

bool sameHost(const sockaddr_in6& from, const sockaddr* target) {
  return std::memcmp(&from.sin6_addr, &reinterpret_cast<const sockaddr_in6*>(target)->sin6_addr,
                     16) == 0;
}

// The kernel quotes our request; its destination is the target.
bool offenderIsTarget(const sockaddr_storage& offender, const sockaddr* target) {
  return sameHost(reinterpret_cast<const sockaddr_in6&>(offender), target);
}

[[gnu::noinline]] bool receiveReply(const Echo& echo, std::uint8_t* dataArea,
                                    std::size_t dataAreaSize, std::size_t& dataSize) {
  // A byte past the caller's area: a datagram socket says no more than it
  // copied, and a reply longer than the area must still read as too long.
  std::uint8_t header[kHeaderSize];
  std::uint8_t spill;
  iovec parts[3] = {{header, kHeaderSize}, {dataArea, dataAreaSize}, {&spill, 1}};
  sockaddr_in6 from{};
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof from;
  message.msg_iov = parts;
  message.msg_iovlen = 3;
  const ssize_t received = recvmsg(echo.fd, &message, MSG_DONTWAIT | MSG_TRUNC);
  if (received < static_cast<ssize_t>(kHeaderSize)) return false;
  if (!sameHost(from, echo.target)) return false;
  if (header[0] != kEcho6Reply || !echo.id.matches(header)) return false;
  dataSize = static_cast<std::size_t>(received) - kHeaderSize;
  return true;
}

const SocketChoice& choice();

EchoFamily ipv6{.domain = AF_INET6,
                .protocol = IPPROTO_ICMPV6,
                .name = "ICMPv6",
                .errorLevel = SOL_IPV6,
                .errorOption = IPV6_RECVERR,
                .errorOrigin = SO_EE_ORIGIN_ICMP6,
                .requestType = kEcho6Request,
                .rawChecksumOurs = false,
                .connectDatagram = true,
                .choice = choice,
                .statusOf = statusFromIcmp6,
                .offenderIsTarget = offenderIsTarget,
                .filterRaw =
                    [](int fd) {
                      icmp6_filter filter;
                      ICMP6_FILTER_SETBLOCKALL(&filter);
                      ICMP6_FILTER_SETPASS(kEcho6Reply, &filter);
                      setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
                    },
                .receiveReply = receiveReply};

// Asked when the first IPv6 target needs it, not before.
const SocketChoice& choice() {
  static const SocketChoice chosen = chooseSocket(ipv6);
  return chosen;
}

int fdOf(IcmpHandle handle) { return static_cast<int>(handle - kIcmp6HandleBase); }

}  // namespace

const char* icmp6ProblemPosix(bool& familyMissing) {
  const SocketChoice& c = choice();
  familyMissing = c.type < 0 && c.datagramError == EAFNOSUPPORT && c.rawError == EAFNOSUPPORT;
  if (familyMissing) {
    return "fanecho: IPv6 echo is not available on this system (the kernel has no IPv6); IPv6 "
           "targets are counted as failed";
  }
  static char message[400];
  return socketProblem(ipv6, message, sizeof message);
}

IcmpHandle icmp6CreatePosix() {
  const int type = choice().type;
  if (type < 0) return -1;
  for (;;) {
    countIcmp6Socket();
    const int fd = openEchoSocket(ipv6, type);
    if (fd >= 0) return kIcmp6HandleBase + fd;
    // Descriptors can run out all the same: the count goes back before the
    // wait for a socket of ours to close, so that it never waits on itself.
    const int error = errno;
    uncountIcmp6Socket();
    if (!waitForFreeDescriptor(error)) return -1;
  }
}

void icmp6ClosePosix(IcmpHandle handle) {
  if (handle < kIcmp6HandleBase) return;
  close(fdOf(handle));
  uncountIcmp6Socket();
}

std::uint32_t icmp6SendEchoPosix(IcmpHandle handle, const IpAddress& address, const void* request,
                                 std::uint16_t requestSize, EchoReply* reply,
                                 std::uint8_t* dataArea, std::size_t dataAreaSize,
                                 std::uint32_t timeoutMs) {
  if (handle < kIcmp6HandleBase) return 0;  // Status stays as the caller preset it
  sockaddr_in6 target{};
  target.sin6_family = AF_INET6;
  std::memcpy(&target.sin6_addr, address.bytes, 16);
  target.sin6_scope_id = address.scopeId;
  return runEcho(ipv6, fdOf(handle), reinterpret_cast<const sockaddr*>(&target), sizeof target,
                 request, requestSize, reply, dataArea, dataAreaSize, timeoutMs);
}

const char* localSendProblem6Posix() {
  const int error = ipv6.lastLocalSendError.load(std::memory_order_relaxed);
  if (error == 0) return nullptr;
  static char message[400];
  std::snprintf(message, sizeof message,
                "The kernel said: %s. Likely causes: the IPv6 neighbour table is full, with many "
                "targets on a directly attached network (raise it, e.g. sysctl -w "
                "net.ipv6.neigh.default.gc_thresh3=16384), or a queue on the way out overflowed "
                "(a slow or busy link: probe fewer targets at once).",
                std::strerror(error));
  return message;
}

}  // namespace fanecho
