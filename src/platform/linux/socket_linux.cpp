// Opening ICMP sockets: which kind this process may use, and a socket of
// that kind with the identifier, errors and fragmentation it needs.
#include "platform/linux/icmp_linux.h"

#include <netinet/in.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace fanecho {

// Identifiers and sequence numbers are drawn by chance, every one of them.
// Counted, or made of a base and the descriptor number, they could be read
// off one request: a host that saw one forged replies "from" a silent
// target, and errors about a live one, that passed as answers; and another
// fanecho's raw socket could carry our numbers, so its replies passed as
// ours. They are taken from the kernel 64 at a time: a getrandom call
// costs about 2 us here, and a large run draws one or two for each of
// thousands of targets.
std::uint32_t randomWord() {
  static std::mutex mutex;
  static std::uint32_t pool[64];
  static std::size_t left = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (left == 0 && getrandom(pool, sizeof pool, GRND_NONBLOCK) == sizeof pool) {
      left = sizeof pool / sizeof pool[0];
    }
    if (left > 0) return pool[--left];
  }
  return static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
         static_cast<std::uint32_t>(getpid()) * 2654435761u;
}

// Datagram sockets come first: they need no privilege and see only their
// own replies.
SocketChoice chooseSocket(const EchoFamily& family) {
  SocketChoice choice;
  int fd = socket(family.domain, SOCK_DGRAM | SOCK_CLOEXEC, family.protocol);
  if (fd >= 0) {
    close(fd);
    choice.type = SOCK_DGRAM;
    return choice;
  }
  // EACCES: the group is outside net.ipv4.ping_group_range (which governs
  // ICMPv6 too); EAFNOSUPPORT: the kernel has no IPv6.
  choice.datagramError = errno;
  fd = socket(family.domain, SOCK_RAW | SOCK_CLOEXEC, family.protocol);
  if (fd >= 0) {
    close(fd);
    choice.type = SOCK_RAW;
    return choice;
  }
  // EPERM: neither root nor CAP_NET_RAW.
  choice.rawError = errno;
  return choice;
}

const char* socketProblem(const EchoFamily& family, char* message, std::size_t messageSize) {
  return describeSocketProblem(family.name, family.choice(), static_cast<unsigned>(getgid()),
                               message, messageSize);
}

// As iputils' ping reads the same errors: a datagram socket refused with
// EACCES means the group is outside ping_group_range, a raw one refused
// with EPERM or EACCES that CAP_NET_RAW is missing; anything else the
// kernel's own words say best.
const char* describeSocketProblem(const char* familyName, const SocketChoice& choice,
                                  unsigned group, char* message, std::size_t messageSize) {
  if (choice.type >= 0) return nullptr;
  if (choice.datagramError == EACCES && (choice.rawError == EPERM || choice.rawError == EACCES)) {
    std::snprintf(message, messageSize,
                  "fanecho: no permission to send %s echo requests: group %u is outside "
                  "net.ipv4.ping_group_range and CAP_NET_RAW is missing; widen the range "
                  "(sysctl -w net.ipv4.ping_group_range=\"0 2147483647\") or run as root",
                  familyName, group);
  } else {
    std::snprintf(message, messageSize, "fanecho: cannot open an %s socket: %s", familyName,
                  std::strerror(choice.rawError != 0 ? choice.rawError : choice.datagramError));
  }
  return message;
}

namespace {

// The local end of a socket: `source` (any address when null) and `port`,
// which is a datagram socket's identifier. Returns its size.
socklen_t localAddress(const EchoFamily& family, const IpAddress* source, std::uint16_t port,
                       sockaddr_storage& local) {
  if (family.domain == AF_INET6) {
    auto& address = reinterpret_cast<sockaddr_in6&>(local);
    address.sin6_family = AF_INET6;
    address.sin6_port = port;
    if (source != nullptr) {
      std::memcpy(&address.sin6_addr, source->bytes, 16);
      address.sin6_scope_id = source->scopeId;
    }
    return sizeof address;
  }
  auto& address = reinterpret_cast<sockaddr_in&>(local);
  address.sin_family = AF_INET;
  address.sin_port = port;
  if (source != nullptr) std::memcpy(&address.sin_addr, source->bytes, 4);
  return sizeof address;
}

// A datagram socket's identifier is the port it is bound to. Left to the
// kernel, it is the next of a counter, which one request gives away; a
// random one instead, another where a socket has that one already. The
// kernel makes these sockets with SO_REUSEADDR on and then lets two of
// them bind one identifier, whose replies all go to one of them: the other
// waited for its time-out (2000 targets over a slow link lost a few each
// run). Off, the bind fails where any such socket has the identifier.
int bindRandomIdentifier(const EchoFamily& family, int fd, const IpAddress* source) {
  const int off = 0;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &off, sizeof off) != 0 && source == nullptr)
    return 0;
  for (int tries = 0; tries < 64; ++tries) {
    const auto identifier = static_cast<std::uint16_t>(randomWord());
    if (identifier == 0) continue;  // would ask the kernel to choose
    sockaddr_storage local{};
    const socklen_t localSize = localAddress(family, source, identifier, local);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), localSize) == 0) return 0;
    // Without a source the kernel picks an identifier at the first send.
    if (errno != EADDRINUSE) return source != nullptr ? errno : 0;
  }
  return source != nullptr ? EADDRINUSE : 0;
}

}  // namespace

IcmpHandle newEchoHandle(int fd, int type) {
  if (type != SOCK_RAW) return fd;
  return fd | static_cast<IcmpHandle>(static_cast<std::uint16_t>(randomWord())) << 32;
}

int openEchoSocket(const EchoFamily& family, int type, const IpAddress* source) {
  const int fd = socket(family.domain, type | SOCK_CLOEXEC, family.protocol);
  if (fd < 0) return -1;
  // First, as it narrows what the socket takes in before it is connected.
  if (type == SOCK_RAW) family.filterRaw(fd);
  int error = 0;
  if (type == SOCK_DGRAM) {
    error = bindRandomIdentifier(family, fd, source);
  } else if (source != nullptr) {
    sockaddr_storage local{};
    const socklen_t localSize = localAddress(family, source, 0, local);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), localSize) != 0) error = errno;
  }
  if (error != 0) {
    close(fd);
    errno = error;
    return -1;
  }
  // IPv4 requests leave without Don't Fragment, as the ICMP helper API
  // sends them, and a router before a narrower link fragments them. With
  // it, a full request over such a path drew "fragmentation needed" the
  // first time and went through once the kernel had learnt the path's MTU:
  // the verdict hung on what the machine had seen before. IPv6 requests are
  // far below the 1280 bytes every IPv6 link carries.
  if (family.domain == AF_INET) {
    const int dont = IP_PMTUDISC_DONT;
    setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &dont, sizeof dont);
  }
  // ICMP errors (unreachable and the like) end the wait at once.
  const int on = 1;
  setsockopt(fd, family.errorLevel, family.errorOption, &on, sizeof on);
  return fd;
}

}  // namespace fanecho
