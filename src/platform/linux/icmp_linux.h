// ICMP echo through Linux ICMP sockets, and the process's descriptors.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace fanecho {

const char* icmpProblemPosix();
IcmpHandle icmpCreatePosix();
std::uint32_t icmpSendEchoPosix(IcmpHandle handle, std::uint32_t address, const void* request,
                                std::uint16_t requestSize, EchoReply* reply, std::uint8_t* dataArea,
                                std::size_t dataAreaSize, std::uint32_t timeoutMs);
void icmpClosePosix(IcmpHandle handle);
const char* localSendProblemPosix();

// Holds the descriptors one name look-up may open, for its lifetime:
// workers' sockets leave room for them, and a look-up waits while others
// hold it.
class LookupDescriptors {
 public:
  LookupDescriptors();
  ~LookupDescriptors();
  LookupDescriptors(const LookupDescriptors&) = delete;
  LookupDescriptors& operator=(const LookupDescriptors&) = delete;
};

// True after a pause when `error` says descriptors ran short and a socket
// of ours is open that will close: worth trying again.
bool waitForFreeDescriptor(int error);

// An ICMPv6 socket counted among ours before it is opened (waiting while
// the sockets' share is taken, so that look-ups keep their room), and
// uncounted once it is closed or could not be opened.
void countIcmp6Socket();
void uncountIcmp6Socket();

// Closes the sockets kept for later workers.
void closeKeptSockets();

// What the ICMP and ICMPv6 echo code share; each family fills in an
// EchoFamily with what differs.

// Four bytes from the kernel's random source, or from the clock and pid.
std::uint32_t randomWord();

// The kind of socket a family's requests go through, chosen once.
struct SocketChoice {
  int type = -1;  // SOCK_DGRAM, SOCK_RAW, or -1 when neither may be opened
  int datagramError = 0;
  int rawError = 0;
  unsigned identifierBase = 0;  // of raw sockets, plus the descriptor
};

// The identifier and sequence number a packet carries, as sent.
struct EchoId {
  std::uint8_t bytes[4];
  bool sequenceOnly;  // a datagram socket's identifier is the kernel's, which it checks
  bool matches(const std::uint8_t* header) const {
    return sequenceOnly ? std::memcmp(header + 6, bytes + 2, 2) == 0
                        : std::memcmp(header + 4, bytes, 4) == 0;
  }
};

// One request under way.
struct Echo {
  int fd;
  bool raw;
  const sockaddr* target;
  socklen_t targetSize;
  EchoId id;
};

struct EchoFamily {
  int domain;        // AF_INET, AF_INET6
  int protocol;      // IPPROTO_ICMP, IPPROTO_ICMPV6
  const char* name;  // in messages
  int errorLevel;    // of the option that queues ICMP errors, and of their messages
  int errorOption;
  std::uint8_t errorOrigin;
  std::uint8_t requestType;
  bool rawChecksumOurs;  // the kernel fills in ICMPv6 checksums, not ICMP ones
  // Datagram ICMP sockets stay unconnected, as they are kept for later
  // workers; ICMPv6 ones are never kept.
  bool connectDatagram;
  const SocketChoice& (*choice)();
  // The status a queued ICMP error means; kIpSuccess when it does not
  // answer for the target.
  std::uint32_t (*statusOf)(std::uint8_t type, std::uint8_t code);
  // Whether the error's offender is the target; null when not checked.
  bool (*offenderIsTarget)(const sockaddr_storage& offender, const sockaddr* target);
  void (*filterRaw)(int fd);  // lets only echo replies through
  // Reads one packet. True when it is our reply: its data in the caller's
  // area and its size in `dataSize`.
  bool (*receiveReply)(const Echo& echo, std::uint8_t* dataArea, std::size_t dataAreaSize,
                       std::size_t& dataSize);
  std::atomic<std::uint16_t> nextSequence{static_cast<std::uint16_t>(randomWord())};
  // The last reason a request could not leave this machine, for the notice
  // at the end of the run.
  std::atomic<int> lastLocalSendError{0};
};

// Opens each kind once to see which one this process may use.
SocketChoice chooseSocket(const EchoFamily& family);
// Null when the family's requests can be sent; else the message, in `message`.
const char* socketProblem(const EchoFamily& family, char* message, std::size_t messageSize);
// A new socket of the kind chosen, ready for use, or -1 with errno set.
int openEchoSocket(const EchoFamily& family, int type);
// Sends one request and waits for its reply, as the platform's sendEcho.
std::uint32_t runEcho(EchoFamily& family, int fd, const sockaddr* target, socklen_t targetSize,
                      const void* request, std::uint16_t requestSize, EchoReply* reply,
                      std::uint8_t* dataArea, std::size_t dataAreaSize, std::uint32_t timeoutMs);

}  // namespace fanecho
