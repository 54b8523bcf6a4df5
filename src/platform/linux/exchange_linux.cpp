// One echo request of either family, as both share it: the send, the queued
// ICMP errors, the wait for the reply and its deadline. What differs comes
// from the family's EchoFamily.
#include "platform/linux/icmp_linux.h"

#include <time.h>  // before linux/errqueue.h, which needs struct timespec

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/linux/shape_linux.h"

namespace fanecho {

// A full neighbour table or device queue (ENOBUFS; IP_RECVERR makes the
// kernel report a queue's drops), a full socket buffer, a moment without
// memory or descriptors: ours, not the target's, and it may pass.
bool localShortage(int error) {
  return error == ENOBUFS || error == EAGAIN || error == EWOULDBLOCK || error == ENOMEM ||
         error == EMFILE || error == ENFILE;
}

// What the kernel's refusal of a send says. EPERM and EACCES come from a
// firewall rule (nftables, iptables) on the way out.
EchoStatus statusFromSendError(EchoFamily& family, int error) {
  if (error == ENETUNREACH || error == EHOSTUNREACH) return EchoStatus::noRouteHere;
  if (error == EPERM || error == EACCES) return EchoStatus::blockedHere;
  if (localShortage(error)) {
    family.lastLocalSendError.store(error, std::memory_order_relaxed);
    return EchoStatus::shortage;
  }
  return EchoStatus::refusedHere;
}

namespace {

using Clock = std::chrono::steady_clock;

// The steps of one echo request, each out of line, so that the frame of
// the wait stays small for the thousands of workers that sit in it.

// Sends the request: its header in front of the caller's data. 0, or the
// errno of the failure.
[[gnu::noinline]] int sendRequest(const EchoFamily& family, const Echo& echo, const void* request,
                                  std::uint16_t requestSize) {
  std::uint8_t header[kIcmpHeaderSize] = {family.requestType, 0, 0, 0};
  std::memcpy(header + 4, echo.id.bytes, 4);
  if (echo.raw && family.rawChecksumOurs) {
    const std::uint32_t sum = addWords(static_cast<const std::uint8_t*>(request), requestSize,
                                       addWords(header, kIcmpHeaderSize, 0));
    const std::uint16_t folded = htons(foldSum(sum));
    std::memcpy(header + 2, &folded, 2);
  }
  iovec parts[2] = {{header, kIcmpHeaderSize}, {const_cast<void*>(request), requestSize}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = 2;
  // Datagram sockets stay unconnected: they are kept for later workers.
  if (echo.raw) {
    if (connect(echo.fd, echo.target, echo.targetSize) != 0) return errno;
    // Until now a raw socket took in every echo reply of the namespace;
    // with thousands of workers those can fill its buffer before ours
    // arrives, and the kernel would drop ours. None of them is an answer
    // to us yet.
    std::uint8_t discard;
    while (recv(echo.fd, &discard, 1, MSG_DONTWAIT | MSG_TRUNC) >= 0) {
    }
  } else {
    message.msg_name = const_cast<sockaddr*>(echo.target);
    message.msg_namelen = echo.targetSize;
  }
  if (sendmsg(echo.fd, &message, 0) >= 0) return 0;
  // An error left pending by an earlier request (of this worker, or of the
  // one that used the socket before) fails the send and is cleared by it;
  // the route's own errors come again, and a local shortage is tried again
  // by the caller anyway.
  const int error = errno;
  if (localShortage(error)) return error;
  return sendmsg(echo.fd, &message, 0) < 0 ? errno : 0;
}

// The address of a socket address of either family; family 0 when it is
// neither.
void addressOf(const sockaddr* socketAddress, IpAddress& address) {
  address = IpAddress{0};
  if (socketAddress->sa_family == AF_INET) {
    sockaddr_in in;
    std::memcpy(&in, socketAddress, sizeof in);
    address.family = 4;
    std::memcpy(address.bytes, &in.sin_addr, 4);
  } else if (socketAddress->sa_family == AF_INET6) {
    sockaddr_in6 in6;
    std::memcpy(&in6, socketAddress, sizeof in6);
    address.family = 6;
    std::memcpy(address.bytes, &in6.sin6_addr, 16);
    address.scopeId = in6.sin6_scope_id;
  }
}

// Who sent a queued ICMP error: the kernel puts the sender's address after
// the error record.
IpAddress offenderOf(const cmsghdr* message) {
  IpAddress address{0};
  const std::size_t room = message->cmsg_len - CMSG_LEN(sizeof(sock_extended_err));
  if (message->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)) || room < sizeof(sockaddr_in)) {
    return address;
  }
  sockaddr_storage offender{};
  std::memcpy(&offender, CMSG_DATA(message) + sizeof(sock_extended_err),
              std::min(room, sizeof offender));
  addressOf(reinterpret_cast<const sockaddr*>(&offender), address);
  return address;
}

// Reads the queued ICMP errors. True when one answers for our request, with
// the status it means; errors about other requests (another worker's or
// another program's to the same host) are passed over. Only errors that
// answer for the target end the wait.
[[gnu::noinline]] bool answeringError(const EchoFamily& family, const Echo& echo,
                                      EchoStatus& status, IpAddress& from) {
  for (;;) {
    std::uint8_t original[64];
    alignas(cmsghdr) char control[256];
    sockaddr_storage quoted{};  // the destination of the request quoted
    iovec part{original, sizeof original};
    msghdr message{};
    message.msg_name = &quoted;
    message.msg_namelen = sizeof quoted;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t length = recvmsg(echo.fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (length < 0) break;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level != family.errorLevel || c->cmsg_type != family.errorOption) continue;
      sock_extended_err error;
      std::memcpy(&error, CMSG_DATA(c), sizeof error);
      if (error.ee_origin != family.errorOrigin) continue;
      const EchoStatus meaning = family.statusOf(error.ee_type, error.ee_code);
      if (meaning == EchoStatus::noResponse) continue;
      // The kernel quotes the ICMP header of the request the error is about.
      if (static_cast<std::size_t>(length) < kIcmpHeaderSize || original[0] != family.requestType ||
          !echo.id.matches(original) || !family.quotedIsTarget(quoted, echo.target)) {
        continue;
      }
      status = meaning;
      from = offenderOf(c);
      return true;
    }
  }
  // A pending error with nothing queued would keep poll from waiting.
  int pending = 0;
  socklen_t pendingSize = sizeof pending;
  getsockopt(echo.fd, SOL_SOCKET, SO_ERROR, &pending, &pendingSize);
  return false;
}
}  // namespace

std::uint32_t runEcho(EchoFamily& family, int fd, std::uint16_t identifier, const sockaddr* target,
                      socklen_t targetSize, const EchoRequest& request, EchoReply& reply,
                      std::uint8_t* dataArea, std::size_t dataAreaSize) {
  const SocketChoice& choice = family.choice();
  const bool raw = choice.type == SOCK_RAW;
  // A fresh sequence number for every request. A raw socket's identifier
  // came with its handle; the kernel puts a datagram socket's own in place
  // of ours and hands that socket only replies and errors carrying it, so
  // there only the sequence number is left to check.
  const auto sequence = static_cast<std::uint16_t>(randomWord());
  if (!raw) identifier = 0;
  Echo echo{fd, raw, target, targetSize, {}};
  std::memcpy(echo.id.bytes, &identifier, 2);
  std::memcpy(echo.id.bytes + 2, &sequence, 2);
  echo.id.sequenceOnly = !raw;

  if (shapesRequest(request.options)) {
    if (const int error = shapeSocket(family, fd, choice.type, request.options)) {
      reply.status =
          localShortage(error) ? statusFromSendError(family, error) : EchoStatus::refusedHere;
      return 0;
    }
  }
  const Clock::time_point sent = Clock::now();
  const Clock::time_point deadline = sent + std::chrono::milliseconds(request.timeoutMs);
  if (const int error = sendRequest(family, echo, request.data, request.size)) {
    reply.status = statusFromSendError(family, error);
    return 0;
  }
  reply.requestLeft = true;

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
    EchoStatus status;
    if ((wait.revents & POLLERR) && answeringError(family, echo, status, reply.from)) {
      reply.status = status;
      return 0;
    }
    std::size_t dataSize;
    if (!(wait.revents & POLLIN) || !family.receiveReply(echo, dataArea, dataAreaSize, dataSize)) {
      continue;
    }
    const Clock::time_point arrived = Clock::now();
    reply.status = EchoStatus::reply;
    addressOf(target, reply.from);
    reply.roundTripMs = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(arrived - sent).count());
    // Microseconds fit 32 bits up to 71 minutes, far beyond any real wait.
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(arrived - sent).count();
    reply.roundTripUs = static_cast<std::uint32_t>(std::min<long long>(micros, 0xFFFFFFFFLL));
    reply.dataSize = static_cast<std::uint16_t>(dataSize > 0xFFFF ? 0xFFFF : dataSize);
    reply.data = dataArea;
    return 1;
  }
  reply.status = EchoStatus::noResponse;
  return 0;
}

}  // namespace fanecho
