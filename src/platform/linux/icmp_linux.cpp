// Echo requests over Linux ICMP sockets.
//
// Two kinds of socket can send them. An ICMP datagram socket ("ping
// socket") needs no privilege where net.ipv4.ping_group_range includes the
// user's group; the kernel picks its identifier, fills in the checksum and
// hands it only replies that carry that identifier. A raw ICMP socket needs
// root or CAP_NET_RAW, and every raw socket sees every ICMP packet that
// arrives, replies for other processes included. So each raw socket is
// connected to its target (the kernel then hands it only that host's
// packets) and filtered to echo replies, and every reply is checked for its
// source, identifier, sequence number and checksum: a late reply to an
// earlier request, a duplicate or another program's reply is never counted,
// and the deadline of the request holds across such packets.
#include "platform/linux/icmp_linux.h"
#include "platform/linux/reply4_linux.h"

#include <time.h>  // before linux/errqueue.h, which needs struct timespec

#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace fanecho {

namespace {

// Redirects and source quench are advice to the sender; the request still
// travels on and its reply may come (noResponse: no answer yet).
EchoStatus statusFromIcmp(std::uint8_t type, std::uint8_t code) {
  if (type == kDestUnreachable) {
    switch (code) {
      case 0:
        return EchoStatus::netUnreachable;
      case 2:
        return EchoStatus::protocolUnreachable;
      case 3:
        return EchoStatus::portUnreachable;
      case 9:   // network administratively prohibited
      case 10:  // host administratively prohibited
      case 13:  // communication administratively prohibited
        return EchoStatus::adminProhibited;
      default:
        return EchoStatus::hostUnreachable;
    }
  }
  if (type == kTimeExceeded) return EchoStatus::timeExceeded;
  if (type == kParameterProblem) return EchoStatus::parameterProblem;
  return EchoStatus::noResponse;
}

const SocketChoice& socketChoice();
bool receiveReply(const Echo& echo, std::uint8_t* dataArea, std::size_t dataAreaSize,
                  std::size_t& dataSize);

// The error's name is the destination of the request it quotes. A datagram
// socket is not connected, and the kernel hands it every error that quotes
// its identifier, whatever host the quoted request went to: one about
// another host (forged, or late for the last target of a kept socket)
// ended the wait, and the target's reply, still on its way, was lost. Raw
// sockets get only their target's errors.
bool quotedIsTarget(const sockaddr_storage& quoted, const sockaddr* target) {
  return reinterpret_cast<const sockaddr_in&>(quoted).sin_addr.s_addr ==
         reinterpret_cast<const sockaddr_in*>(target)->sin_addr.s_addr;
}

}  // namespace

EchoFamily ipv4{.domain = AF_INET,
                .protocol = IPPROTO_ICMP,
                .name = "ICMP",
                .errorLevel = SOL_IP,
                .errorOption = IP_RECVERR,
                .errorOrigin = SO_EE_ORIGIN_ICMP,
                .requestType = kEchoRequest,
                .rawChecksumOurs = true,
                .choice = socketChoice,
                .statusOf = statusFromIcmp,
                .quotedIsTarget = quotedIsTarget,
                .filterRaw =
                    [](int fd) {
                      icmp_filter filter{};
                      filter.data = ~(1u << kEchoReply);
                      setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
                    },
                .receiveReply = receiveReply};

namespace {

const SocketChoice& socketChoice() {
  static const SocketChoice choice = chooseSocket(ipv4);
  return choice;
}

// Reads a raw packet of `length` bytes whole, on the heap: one longer than
// the pieces of receiveReply hold is rare (no good reply is), and its
// checksum must hold as every other's. True as for receiveReply.
[[gnu::noinline]] bool receiveWhole(const Echo& echo, std::size_t length, std::uint8_t* dataArea,
                                    std::size_t dataAreaSize, std::size_t& dataSize) {
  const std::unique_ptr<std::uint8_t[]> packet(new (std::nothrow) std::uint8_t[length]);
  iovec part{packet.get(), packet ? length : 0};
  sockaddr_in from{};
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof from;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  // Taken whatever happens, so that it is not read again and again.
  const ssize_t received = recvmsg(echo.fd, &message, MSG_DONTWAIT | MSG_TRUNC);
  if (!packet || received != static_cast<ssize_t>(length) ||
      from.sin_addr.s_addr != reinterpret_cast<const sockaddr_in*>(echo.target)->sin_addr.s_addr) {
    return false;
  }
  return parseWhole4(packet.get(), length, echo.id, dataArea, dataAreaSize, dataSize);
}

// Reads one packet. True when it is our reply: its data is in the caller's
// area and `dataSize` says how much it carried.
[[gnu::noinline]] bool receiveReply(const Echo& echo, std::uint8_t* dataArea,
                                    std::size_t dataAreaSize, std::size_t& dataSize) {
  const bool raw = echo.raw;
  // The packet lands in pieces: its headers, its data straight in the
  // caller's area, and a spill for what IP options push past that area.
  std::uint8_t head[kIpHeaderSize + kIcmpHeaderSize];
  std::uint8_t spill[kMaxIpOptionsSize];
  const std::size_t headSize = raw ? sizeof head : kIcmpHeaderSize;
  iovec parts[3] = {{head, headSize}, {dataArea, dataAreaSize}, {spill, sizeof spill}};
  sockaddr_in from{};
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof from;
  message.msg_iov = parts;
  message.msg_iovlen = 3;
  // A raw packet is looked at first and taken after, as one longer than
  // the pieces must be read again whole for its checksum; a datagram
  // socket's packets the kernel checked.
  const ssize_t received =
      recvmsg(echo.fd, &message, MSG_DONTWAIT | MSG_TRUNC | (raw ? MSG_PEEK : 0));
  if (received < 0) return false;  // a pending error, or the packet went away
  const std::size_t length = static_cast<std::size_t>(received);  // before any truncation
  const std::size_t capacity = headSize + dataAreaSize + sizeof spill;
  if (raw) {
    if (length > capacity) return receiveWhole(echo, length, dataArea, dataAreaSize, dataSize);
    recv(echo.fd, head, 0, MSG_DONTWAIT);  // takes the packet looked at
  }
  if (from.sin_addr.s_addr != reinterpret_cast<const sockaddr_in*>(echo.target)->sin_addr.s_addr) {
    return false;
  }
  return parseReply4({head, headSize, dataArea, dataAreaSize, spill}, length, raw, echo.id,
                     dataSize);
}
}  // namespace

const char* localSendProblemPosix() {
  const int error = ipv4.lastLocalSendError.load(std::memory_order_relaxed);
  if (error == 0) return nullptr;
  // The table is one for the whole machine; only the first network
  // namespace shows its size.
  char threshold[32] = "";
  if (std::FILE* file = std::fopen("/proc/sys/net/ipv4/neigh/default/gc_thresh3", "r")) {
    if (std::fgets(threshold, sizeof threshold, file) == nullptr) threshold[0] = '\0';
    threshold[std::strcspn(threshold, "\n")] = '\0';
    std::fclose(file);
  }
  static char message[600];
  std::snprintf(message, sizeof message,
                "The kernel said: %s. Likely causes: the neighbour (ARP) table is full, with "
                "many targets on a directly attached network (net.ipv4.neigh.default.gc_thresh3 "
                "%s%s; raise it, e.g. sysctl -w net.ipv4.neigh.default.gc_thresh3=16384), or a "
                "queue on the way out overflowed (a slow or busy link: probe fewer targets at "
                "once).",
                std::strerror(error), threshold[0] != '\0' ? "is " : "of the first namespace",
                threshold);
  return message;
}

const char* icmpProblemPosix() {
  static char message[400];
  return socketProblem(ipv4, message, sizeof message);
}

IcmpHandle icmpCreatePosix() { return openCountedSocket(ipv4); }

void icmpClosePosix(IcmpHandle handle) { closeCountedSocket(ipv4, handle); }

std::uint32_t icmpSendEchoPosix(IcmpHandle handle, const EchoRequest& request, EchoReply& reply,
                                std::uint8_t* dataArea, std::size_t dataAreaSize) {
  if (handle < 0) return 0;  // the status stays as the caller preset it
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = request.target.packed();
  return runEcho(ipv4, handleDescriptor(handle), handleIdentifier(handle),
                 reinterpret_cast<const sockaddr*>(&target), sizeof target, request, reply,
                 dataArea, dataAreaSize);
}

}  // namespace fanecho
