// ICMPv6 echo requests over Linux ICMPv6 sockets, chosen as for IPv4: a
// datagram socket (net.ipv4.ping_group_range governs it too), else a raw
// one (CAP_NET_RAW). Neither kind hands on the IPv6 header, and the kernel
// fills in and checks the checksum of both. A raw socket is connected to
// its target and filtered to echo replies; every reply is still checked for
// its source, identifier and sequence number, as another program's reply,
// a late one or a duplicate must never count, and the caller checks the
// data.
#include "platform/linux/icmp6_linux.h"

#include <time.h>  // before linux/errqueue.h, which needs struct timespec

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
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

std::uint32_t randomWord() {
  std::uint32_t word;
  if (getrandom(&word, sizeof word, GRND_NONBLOCK) == sizeof word) return word;
  return static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
         static_cast<std::uint32_t>(getpid()) * 2654435761u;
}

std::atomic<std::uint16_t> nextSequence{static_cast<std::uint16_t>(randomWord())};

struct Choice {
  int type = -1;  // SOCK_DGRAM, SOCK_RAW, or -1
  int datagramError = 0;
  int rawError = 0;
  unsigned identifierBase = 0;
};

// Asked when the first IPv6 target needs it, not before.
const Choice& choice() {
  static const Choice chosen = [] {
    Choice c;
    c.identifierBase = randomWord();
    int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMPV6);
    if (fd >= 0) {
      close(fd);
      c.type = SOCK_DGRAM;
      return c;
    }
    c.datagramError = errno;  // EACCES: outside ping_group_range; EAFNOSUPPORT: no IPv6
    fd = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
    if (fd >= 0) {
      close(fd);
      c.type = SOCK_RAW;
      return c;
    }
    c.rawError = errno;  // EPERM: neither root nor CAP_NET_RAW
    return c;
  }();
  return chosen;
}

std::atomic<int> lastLocalSendError{0};

bool localShortage(int error) {
  return error == ENOBUFS || error == EAGAIN || error == EWOULDBLOCK || error == ENOMEM ||
         error == EMFILE || error == ENFILE;
}

std::uint32_t statusFromSendError(int error) {
  if (error == ENETUNREACH) return kIpDestNetUnreachable;
  if (error == EHOSTUNREACH) return kIpDestHostUnreachable;
  if (localShortage(error)) {
    lastLocalSendError.store(error, std::memory_order_relaxed);
    return kIpNoResources;
  }
  return kIpGeneralFailure;
}

std::uint32_t statusFromIcmp6(std::uint8_t type, std::uint8_t code) {
  if (type == kDest6Unreachable) {
    if (code == 0) return kIpDestNetUnreachable;
    if (code == 4) return kIpDestPortUnreachable;
    return kIpDestHostUnreachable;
  }
  if (type == kTime6Exceeded) return kIpTtlExpiredTransit;
  return kIpGeneralFailure;  // packet too big, parameter problem
}

int fdOf(IcmpHandle handle) { return static_cast<int>(handle - kIcmp6HandleBase); }

sockaddr_in6 socketAddress(const IpAddress& address) {
  sockaddr_in6 target{};
  target.sin6_family = AF_INET6;
  std::memcpy(&target.sin6_addr, address.bytes, 16);
  target.sin6_scope_id = address.scopeId;
  return target;
}

// Whether a quoted or received header carries our identifier (raw sockets;
// a datagram socket's is the kernel's, which it checks) and sequence number.
bool matches(const std::uint8_t* header, const std::uint8_t id[4], bool sequenceOnly) {
  return sequenceOnly ? std::memcmp(header + 6, id + 2, 2) == 0
                      : std::memcmp(header + 4, id, 4) == 0;
}

// Reads the queued ICMPv6 errors. True when one answers for our request.
// Redirects are advice and never queued as errors; only the four kinds that
// answer for the target end the wait.
[[gnu::noinline]] bool answeringError(int fd, const IpAddress& address, const std::uint8_t id[4],
                                      bool sequenceOnly, std::uint32_t& status) {
  for (;;) {
    std::uint8_t original[64];
    alignas(cmsghdr) char control[256];
    sockaddr_in6 offender{};
    iovec part{original, sizeof original};
    msghdr message{};
    message.msg_name = &offender;
    message.msg_namelen = sizeof offender;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t length = recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (length < 0) break;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level != SOL_IPV6 || c->cmsg_type != IPV6_RECVERR) continue;
      sock_extended_err error;
      std::memcpy(&error, CMSG_DATA(c), sizeof error);
      if (error.ee_origin != SO_EE_ORIGIN_ICMP6) continue;
      if (error.ee_type != kDest6Unreachable && error.ee_type != kPacketTooBig &&
          error.ee_type != kTime6Exceeded && error.ee_type != kParameter6Problem) {
        continue;
      }
      // The kernel quotes our request; its destination is the target.
      if (static_cast<std::size_t>(length) < kHeaderSize || original[0] != kEcho6Request ||
          !matches(original, id, sequenceOnly) ||
          std::memcmp(&offender.sin6_addr, address.bytes, 16) != 0) {
        continue;
      }
      status = statusFromIcmp6(error.ee_type, error.ee_code);
      return true;
    }
  }
  int pending = 0;
  socklen_t pendingSize = sizeof pending;
  getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &pendingSize);
  return false;
}

[[gnu::noinline]] int sendRequest(int fd, bool raw, const IpAddress& address,
                                  const std::uint8_t id[4], const void* request,
                                  std::uint16_t requestSize) {
  const sockaddr_in6 target = socketAddress(address);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) return errno;
  if (raw) {
    // Until now the socket took in every echo reply of the namespace; with
    // thousands of workers those can fill its buffer before ours arrives.
    std::uint8_t discard;
    while (recv(fd, &discard, 1, MSG_DONTWAIT | MSG_TRUNC) >= 0) {
    }
  }
  std::uint8_t header[kHeaderSize] = {kEcho6Request, 0, 0, 0};
  std::memcpy(header + 4, id, 4);
  iovec parts[2] = {{header, kHeaderSize}, {const_cast<void*>(request), requestSize}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = 2;
  if (sendmsg(fd, &message, 0) >= 0) return 0;
  const int error = errno;
  if (localShortage(error)) return error;
  return sendmsg(fd, &message, 0) < 0 ? errno : 0;
}

// Reads one packet. True when it is our reply: its data in the caller's
// area and its size in `dataSize`.
[[gnu::noinline]] bool receiveReply(int fd, const IpAddress& address, const std::uint8_t id[4],
                                    bool sequenceOnly, std::uint8_t* dataArea,
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
  const ssize_t received = recvmsg(fd, &message, MSG_DONTWAIT | MSG_TRUNC);
  if (received < static_cast<ssize_t>(kHeaderSize)) return false;
  if (std::memcmp(&from.sin6_addr, address.bytes, 16) != 0) return false;
  if (header[0] != kEcho6Reply || !matches(header, id, sequenceOnly)) return false;
  dataSize = static_cast<std::size_t>(received) - kHeaderSize;
  return true;
}

int openSocket(int type) {
  const int fd = socket(AF_INET6, type | SOCK_CLOEXEC, IPPROTO_ICMPV6);
  if (fd < 0) return -1;
  if (type == SOCK_RAW) {
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    ICMP6_FILTER_SETPASS(kEcho6Reply, &filter);
    setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
  }
  const int on = 1;
  setsockopt(fd, SOL_IPV6, IPV6_RECVERR, &on, sizeof on);
  return fd;
}

}  // namespace

const char* icmp6ProblemPosix(bool& familyMissing) {
  const Choice& c = choice();
  familyMissing = false;
  if (c.type >= 0) return nullptr;
  static char message[400];
  if (c.datagramError == EAFNOSUPPORT && c.rawError == EAFNOSUPPORT) {
    familyMissing = true;
    return "fanecho: IPv6 echo is not available on this system (the kernel has no IPv6); IPv6 "
           "targets are counted as failed";
  }
  if (c.datagramError == EACCES && (c.rawError == EPERM || c.rawError == EACCES)) {
    std::snprintf(message, sizeof message,
                  "fanecho: no permission to send ICMPv6 echo requests: group %u is outside "
                  "net.ipv4.ping_group_range and CAP_NET_RAW is missing; widen the range "
                  "(sysctl -w net.ipv4.ping_group_range=\"0 2147483647\") or run as root",
                  static_cast<unsigned>(getgid()));
  } else {
    std::snprintf(message, sizeof message, "fanecho: cannot open an ICMPv6 socket: %s",
                  std::strerror(c.rawError != 0 ? c.rawError : c.datagramError));
  }
  return message;
}

IcmpHandle icmp6CreatePosix() {
  const int type = choice().type;
  if (type < 0) return -1;
  for (;;) {
    countIcmp6Socket();
    const int fd = openSocket(type);
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
  using Clock = std::chrono::steady_clock;
  if (handle < kIcmp6HandleBase) return 0;  // Status stays as the caller preset it
  const int fd = fdOf(handle);
  const bool raw = choice().type == SOCK_RAW;
  const std::uint16_t sequence = htons(nextSequence.fetch_add(1, std::memory_order_relaxed));
  const std::uint16_t identifier =
      raw ? htons(static_cast<std::uint16_t>(choice().identifierBase + static_cast<unsigned>(fd)))
          : 0;
  std::uint8_t id[4];
  std::memcpy(id, &identifier, 2);
  std::memcpy(id + 2, &sequence, 2);

  const Clock::time_point sent = Clock::now();
  const Clock::time_point deadline = sent + std::chrono::milliseconds(timeoutMs);
  if (const int error = sendRequest(fd, raw, address, id, request, requestSize)) {
    reply->Status = statusFromSendError(error);
    return 0;
  }
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd wait{fd, POLLIN, 0};
    const int ready = poll(&wait, 1, static_cast<int>(left.count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (ready == 0) break;
    std::uint32_t status;
    if ((wait.revents & POLLERR) && answeringError(fd, address, id, !raw, status)) {
      reply->Status = status;
      return 0;
    }
    std::size_t dataSize;
    if (!(wait.revents & POLLIN) ||
        !receiveReply(fd, address, id, !raw, dataArea, dataAreaSize, dataSize)) {
      continue;
    }
    const Clock::time_point arrived = Clock::now();
    reply->Status = kIpSuccess;
    reply->RoundTripTime = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(arrived - sent).count());
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(arrived - sent).count();
    reply->RoundTripTimeUs = static_cast<std::uint32_t>(std::min<long long>(micros, 0xFFFFFFFFLL));
    reply->DataSize = static_cast<std::uint16_t>(dataSize > 0xFFFF ? 0xFFFF : dataSize);
    reply->Data = dataArea;
    return 1;
  }
  reply->Status = kIpReqTimedOut;
  return 0;
}

const char* localSendProblem6Posix() {
  const int error = lastLocalSendError.load(std::memory_order_relaxed);
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
