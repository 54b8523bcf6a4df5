// ICMPv6 echo requests over Linux ICMPv6 sockets, chosen as for IPv4: a
// datagram socket (net.ipv4.ping_group_range governs it too), else a raw
// one (CAP_NET_RAW). Neither kind hands on the IPv6 header, and the kernel
// fills in and checks the checksum of both. Datagram sockets stay
// unconnected and are kept for later workers, as IPv4's are; raw ones are
// connected to their target and filtered to echo replies. Every reply is
// checked for its source, identifier and sequence number, as
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
EchoStatus statusFromIcmp6(std::uint8_t type, std::uint8_t code) {
  if (type == kDest6Unreachable) {
    switch (code) {
      case 0:  // no route to destination
        return EchoStatus::netUnreachable;
      case 1:  // communication administratively prohibited
      case 5:  // source address failed ingress/egress policy
      case 6:  // reject route to destination
        return EchoStatus::adminProhibited;
      case 4:
        return EchoStatus::portUnreachable;
      default:  // 3, address unreachable, and the rest
        return EchoStatus::hostUnreachable;
    }
  }
  if (type == kTime6Exceeded) return EchoStatus::timeExceeded;
  if (type == kPacketTooBig) return EchoStatus::packetTooBig;
  if (type == kParameter6Problem) return EchoStatus::parameterProblem;
  return EchoStatus::noResponse;
}

bool sameHost(const sockaddr_in6& from, const sockaddr* target) {
  return std::memcmp(&from.sin6_addr, &reinterpret_cast<const sockaddr_in6*>(target)->sin6_addr,
                     16) == 0;
}

// The kernel quotes our request; its destination is the target.
bool quotedIsTarget(const sockaddr_storage& quoted, const sockaddr* target) {
  return sameHost(reinterpret_cast<const sockaddr_in6&>(quoted), target);
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
                .choice = choice,
                .statusOf = statusFromIcmp6,
                .quotedIsTarget = quotedIsTarget,
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

IcmpHandle icmp6CreatePosix() { return openCountedSocket(ipv6); }

void icmp6ClosePosix(IcmpHandle handle) { closeCountedSocket(ipv6, handle); }

std::uint32_t icmp6SendEchoPosix(IcmpHandle handle, const EchoRequest& request, EchoReply& reply,
                                 std::uint8_t* dataArea, std::size_t dataAreaSize) {
  const IpAddress& address = request.target;
  if (handle < 0) return 0;  // the status stays as the caller preset it
  sockaddr_in6 target{};
  target.sin6_family = AF_INET6;
  std::memcpy(&target.sin6_addr, address.bytes, 16);
  target.sin6_scope_id = address.scopeId;
  return runEcho(ipv6, handleDescriptor(handle), handleIdentifier(handle),
                 reinterpret_cast<const sockaddr*>(&target), sizeof target, request, reply,
                 dataArea, dataAreaSize);
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
