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
IcmpHandle icmpCreatePosix();  // the family's kind of socket, counted among ours
std::uint32_t icmpSendEchoPosix(IcmpHandle handle, const EchoRequest& request, EchoReply& reply,
                                std::uint8_t* dataArea, std::size_t dataAreaSize);
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

// Closes the sockets kept for later workers.
void closeKeptSockets();

// What the run's own descriptors may number (total) and what of that the
// workers' sockets may hold, under an open-file limit of `limit` with
// `inUseAtStart` taken when the run started; the rest is the look-ups'.
struct DescriptorShare {
  unsigned total;
  unsigned sockets;
};
DescriptorShare shareOf(std::uint64_t limit, unsigned inUseAtStart);

// Counts the descriptors open below the open-file limit, once the limit is
// raised and before any worker starts: the sockets' and look-ups' budget
// is what they leave free.
void noteDescriptorsInUse();

// ICMP's numbers, and the sizes of what carries them.
inline constexpr std::uint8_t kEchoReply = 0;
inline constexpr std::uint8_t kDestUnreachable = 3;
inline constexpr std::uint8_t kEchoRequest = 8;
inline constexpr std::uint8_t kTimeExceeded = 11;
inline constexpr std::uint8_t kParameterProblem = 12;
inline constexpr std::size_t kIcmpHeaderSize = 8;  // ICMPv6's too
inline constexpr std::size_t kIpHeaderSize = 20;   // without options
inline constexpr std::size_t kMaxIpOptionsSize = 40;

// The ones' complement sum of 16-bit words, unfolded so that pieces of even
// length can be summed one after another.
inline std::uint32_t addWords(const std::uint8_t* data, std::size_t length, std::uint32_t sum) {
  for (std::size_t i = 0; i + 1 < length; i += 2)
    sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
  if (length % 2 != 0) sum += static_cast<std::uint32_t>(data[length - 1] << 8);
  return sum;
}

inline std::uint16_t foldSum(std::uint32_t sum) {
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

// What the ICMP and ICMPv6 echo code share; each family fills in an
// EchoFamily with what differs.

// Four bytes from the kernel's random source, or from the clock and pid.
std::uint32_t randomWord();

// A handle is its socket's descriptor (bits 0 to 30) and, for a raw
// socket, the identifier of its requests in bits 32 to 47: drawn when the
// socket is opened, it stays with the socket and needs no table of its own.
static_assert(sizeof(IcmpHandle) >= 8, "a raw socket's identifier rides in its handle");
inline int handleDescriptor(IcmpHandle handle) { return static_cast<int>(handle & 0x7FFFFFFF); }
inline std::uint16_t handleIdentifier(IcmpHandle handle) {
  return static_cast<std::uint16_t>(handle >> 32);
}
// The handle of a socket just opened.
IcmpHandle newEchoHandle(int fd, int type);

// The kind of socket a family's requests go through, chosen once.
struct SocketChoice {
  int type = -1;  // SOCK_DGRAM, SOCK_RAW, or -1 when neither may be opened
  int datagramError = 0;
  int rawError = 0;
};

// The identifier and sequence number a packet carries, as sent.
struct EchoId {
  std::uint8_t bytes[4];
  bool sequenceOnly;  // a datagram socket's identifier is the kernel's to check
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
  const SocketChoice& (*choice)();
  // The status a queued ICMP error means; noResponse when it does not
  // answer for the target.
  EchoStatus (*statusOf)(std::uint8_t type, std::uint8_t code);
  // Whether the request an error quotes went to the target.
  bool (*quotedIsTarget)(const sockaddr_storage& quoted, const sockaddr* target);
  void (*filterRaw)(int fd);  // lets only echo replies through
  // Reads one packet. True when it is our reply: its data in the caller's
  // area and its size in `dataSize`.
  bool (*receiveReply)(const Echo& echo, std::uint8_t* dataArea, std::size_t dataAreaSize,
                       std::size_t& dataSize);
  // The last reason a request could not leave this machine, for the notice
  // at the end of the run.
  std::atomic<int> lastLocalSendError{0};
};

// IPv4's table (icmp_linux.cpp).
extern EchoFamily ipv4;

// Whether a failed call says this machine ran short for a moment.
bool localShortage(int error);
// What the kernel's refusal of a send means for the request.
EchoStatus statusFromSendError(EchoFamily& family, int error);

// A socket of the family's kind, counted among ours (waiting while the
// sockets' share is taken, so that look-ups keep their room) or taken from
// those kept; -1 when none could be opened. Closing one may keep it for a
// later worker of the family.
IcmpHandle openCountedSocket(const EchoFamily& family);
void closeCountedSocket(const EchoFamily& family, IcmpHandle handle);

// Opens each kind once to see which one this process may use.
SocketChoice chooseSocket(const EchoFamily& family);
// Null when the family's requests can be sent; else the message, in `message`.
const char* socketProblem(const EchoFamily& family, char* message, std::size_t messageSize);
// The same from what opening each kind said, for a process of `group`.
const char* describeSocketProblem(const char* familyName, const SocketChoice& choice,
                                  unsigned group, char* message, std::size_t messageSize);
// A new socket of the kind chosen, ready for use and bound to `source`
// where one is given, or -1 with errno set.
int openEchoSocket(const EchoFamily& family, int type, const IpAddress* source);
// Sends one request and waits for its reply, as the platform's sendEcho;
// `identifier` is a raw socket's.
std::uint32_t runEcho(EchoFamily& family, int fd, std::uint16_t identifier, const sockaddr* target,
                      socklen_t targetSize, const EchoRequest& request, EchoReply& reply,
                      std::uint8_t* dataArea, std::size_t dataAreaSize);

}  // namespace fanecho
