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

#include <time.h>  // before linux/errqueue.h, which needs struct timespec

#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace fanecho {

namespace {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestUnreachable = 3;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kParameterProblem = 12;
constexpr std::size_t kIcmpHeaderSize = 8;  // ICMPv6's too
constexpr std::size_t kIpHeaderSize = 20;   // without options
constexpr std::size_t kMaxIpOptionsSize = 40;

}  // namespace

// Identifiers and sequence numbers start where chance puts them. Derived
// from the process id and counted from 1, another fanecho's raw socket could
// carry our identifier (its pid * 31 plus its descriptor number, ours the
// same) and number its requests as we do: its replies then passed as ours.
std::uint32_t randomWord() {
  std::uint32_t word;
  if (getrandom(&word, sizeof word, GRND_NONBLOCK) == sizeof word) return word;
  return static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
         static_cast<std::uint32_t>(getpid()) * 2654435761u;
}

// Datagram sockets come first: they need no privilege and see only their
// own replies.
SocketChoice chooseSocket(const EchoFamily& family) {
  SocketChoice choice;
  choice.identifierBase = randomWord();
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
  const SocketChoice& choice = family.choice();
  if (choice.type >= 0) return nullptr;
  if (choice.datagramError == EACCES && (choice.rawError == EPERM || choice.rawError == EACCES)) {
    std::snprintf(message, messageSize,
                  "fanecho: no permission to send %s echo requests: group %u is outside "
                  "net.ipv4.ping_group_range and CAP_NET_RAW is missing; widen the range "
                  "(sysctl -w net.ipv4.ping_group_range=\"0 2147483647\") or run as root",
                  family.name, static_cast<unsigned>(getgid()));
  } else {
    std::snprintf(message, messageSize, "fanecho: cannot open an %s socket: %s", family.name,
                  std::strerror(choice.rawError != 0 ? choice.rawError : choice.datagramError));
  }
  return message;
}

int openEchoSocket(const EchoFamily& family, int type) {
  const int fd = socket(family.domain, type | SOCK_CLOEXEC, family.protocol);
  if (fd < 0) return -1;
  // First, as it narrows what the socket takes in before it is connected.
  if (type == SOCK_RAW) family.filterRaw(fd);
  // ICMP errors (unreachable and the like) end the wait at once.
  const int on = 1;
  setsockopt(fd, family.errorLevel, family.errorOption, &on, sizeof on);
  return fd;
}

namespace {

// The ones' complement sum of 16-bit words, unfolded so that pieces of even
// length can be summed one after another.
std::uint32_t addWords(const std::uint8_t* data, std::size_t length, std::uint32_t sum) {
  for (std::size_t i = 0; i + 1 < length; i += 2)
    sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
  if (length % 2 != 0) sum += static_cast<std::uint32_t>(data[length - 1] << 8);
  return sum;
}

std::uint16_t foldSum(std::uint32_t sum) {
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

// Redirects and source quench are advice to the sender; the request still
// travels on and its reply may come.
std::uint32_t statusFromIcmp(std::uint8_t type, std::uint8_t code) {
  if (type == kDestUnreachable) {
    switch (code) {
      case 0:
        return kIpDestNetUnreachable;
      case 2:
        return kIpDestProtUnreachable;
      case 3:
        return kIpDestPortUnreachable;
      default:
        return kIpDestHostUnreachable;
    }
  }
  if (type == kTimeExceeded) return kIpTtlExpiredTransit;
  if (type == kParameterProblem) return kIpGeneralFailure;
  return kIpSuccess;
}

// A full neighbour table or device queue (ENOBUFS; IP_RECVERR makes the
// kernel report a queue's drops), a full socket buffer, a moment without
// memory or descriptors: ours, not the target's, and it may pass.
bool localShortage(int error) {
  return error == ENOBUFS || error == EAGAIN || error == EWOULDBLOCK || error == ENOMEM ||
         error == EMFILE || error == ENFILE;
}

std::uint32_t statusFromSendError(EchoFamily& family, int error) {
  if (error == ENETUNREACH) return kIpDestNetUnreachable;
  if (error == EHOSTUNREACH) return kIpDestHostUnreachable;
  if (localShortage(error)) {
    family.lastLocalSendError.store(error, std::memory_order_relaxed);
    return kIpNoResources;
  }
  return kIpGeneralFailure;
}

using Clock = std::chrono::steady_clock;

const SocketChoice& socketChoice();
bool receiveReply(const Echo& echo, std::uint8_t* dataArea, std::size_t dataAreaSize,
                  std::size_t& dataSize);

EchoFamily ipv4{.domain = AF_INET,
                .protocol = IPPROTO_ICMP,
                .name = "ICMP",
                .errorLevel = SOL_IP,
                .errorOption = IP_RECVERR,
                .errorOrigin = SO_EE_ORIGIN_ICMP,
                .requestType = kEchoRequest,
                .rawChecksumOurs = true,
                .connectDatagram = false,
                .choice = socketChoice,
                .statusOf = statusFromIcmp,
                .offenderIsTarget = nullptr,
                .filterRaw =
                    [](int fd) {
                      icmp_filter filter{};
                      filter.data = ~(1u << kEchoReply);
                      setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
                    },
                .receiveReply = receiveReply};

const SocketChoice& socketChoice() {
  static const SocketChoice choice = chooseSocket(ipv4);
  return choice;
}

// Descriptors. Workers' sockets may hold all but a reserve: what the name
// look-ups in flight may hold and a margin for the standard streams, the
// include files (nested up to 11 deep) and the permission check. A worker
// that finds the sockets' share taken waits for a socket to close, so a
// look-up or an include file never fails for want of a descriptor that a
// socket took. The counts are ours; descriptors opened by others are not
// counted, so a failed open still waits for one of ours to close.
constexpr unsigned kLookupDescriptors = 4;  // hosts file, resolv.conf, a DNS socket or two
constexpr unsigned kSpareDescriptors = 32;

// Datagram sockets that workers closed, kept open for the workers that
// start after them: making and freeing a socket per target (its file and
// inode go through RCU) costs a large run about a fifth of its CPU time.
// What a kept socket may still hold from its last target is harmless to the
// next: late replies come from another source and carry another sequence
// number, and sendRequest clears a pending error. A raw socket is never
// kept: its connect fixes its source address for good.
constexpr unsigned kMaxKept = 256;  // enough to hand on at the rate threads end

struct Descriptors {
  std::mutex mutex;
  std::condition_variable socketRoom;  // a socket of ours closed
  std::condition_variable lookupRoom;
  unsigned sockets = 0;  // open sockets of ours, the kept ones included
  unsigned lookups = 0;  // descriptors held for look-ups under way
  unsigned lookupWaiters = 0;
  unsigned total = 0;        // 0 until the limit is read
  unsigned socketShare = 0;  // what sockets may hold of total
  unsigned keptCount = 0;
  int kept[kMaxKept];
};
Descriptors descriptors;

// Read at the first socket or look-up, after startSockets raised the limit.
void readLimit(Descriptors& d) {
  if (d.total != 0) return;
  rlimit current{};
  rlim_t limit = getrlimit(RLIMIT_NOFILE, &current) == 0 ? current.rlim_cur : 1024;
  limit = std::min<rlim_t>(limit, 1u << 24);
  const unsigned usable = limit > 2 * kSpareDescriptors
                              ? static_cast<unsigned>(limit) - kSpareDescriptors
                              : static_cast<unsigned>(limit) / 2 + 1;
  d.total = usable;
  d.socketShare = usable - std::min(kMaxLookupsInFlight * kLookupDescriptors, usable / 2);
}

// Closes the kept sockets; true when there were some. Under the mutex.
bool closeKept(Descriptors& d) {
  if (d.keptCount == 0) return false;
  d.sockets -= d.keptCount;
  while (d.keptCount > 0) close(d.kept[--d.keptCount]);
  return true;
}

bool socketRoom(const Descriptors& d) {
  return d.sockets < d.socketShare && d.sockets + d.lookups < d.total;
}

// A kept socket where one is wanted and there, or -1 once room for a new
// one is counted; kept sockets are closed where they stand in the way.
// Waits while the sockets' share is taken (on a condition: a thousand
// workers trying again every few milliseconds took more CPU than the rest
// of the run).
int takeSocket(Descriptors& d, std::unique_lock<std::mutex>& lock, bool keptWanted) {
  readLimit(d);
  for (;;) {
    if (keptWanted && d.keptCount > 0) return d.kept[--d.keptCount];
    if (socketRoom(d)) {
      ++d.sockets;
      return -1;
    }
    if (!closeKept(d)) d.socketRoom.wait(lock);
  }
}

// A socket of ours was closed, or could not be opened after all.
void uncountSocket() {
  std::lock_guard<std::mutex> lock(descriptors.mutex);
  --descriptors.sockets;
  descriptors.socketRoom.notify_one();
  if (descriptors.lookupWaiters > 0) descriptors.lookupRoom.notify_all();
}

}  // namespace

LookupDescriptors::LookupDescriptors() {
  Descriptors& d = descriptors;
  std::unique_lock<std::mutex> lock(d.mutex);
  readLimit(d);
  while (d.sockets + d.lookups + kLookupDescriptors > d.total) {
    if (closeKept(d)) continue;
    ++d.lookupWaiters;
    d.lookupRoom.wait(lock);
    --d.lookupWaiters;
  }
  d.lookups += kLookupDescriptors;
}

LookupDescriptors::~LookupDescriptors() {
  std::lock_guard<std::mutex> lock(descriptors.mutex);
  descriptors.lookups -= kLookupDescriptors;
  for (unsigned i = 0; i < kLookupDescriptors; ++i) descriptors.socketRoom.notify_one();
  if (descriptors.lookupWaiters > 0) descriptors.lookupRoom.notify_one();
}

void closeKeptSockets() {
  std::lock_guard<std::mutex> lock(descriptors.mutex);
  closeKept(descriptors);
}

bool waitForFreeDescriptor(int error) {
  if (error != EMFILE && error != ENFILE && error != ENOBUFS && error != ENOMEM) return false;
  std::unique_lock<std::mutex> lock(descriptors.mutex);
  if (closeKept(descriptors)) return true;  // free now: try again at once
  if (descriptors.sockets == 0) return false;
  // A descriptor freed by someone else (the resolver) wakes nobody: look
  // again after a while all the same.
  descriptors.socketRoom.wait_for(lock, std::chrono::milliseconds(100));
  return true;
}

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

void countIcmp6Socket() {
  std::unique_lock<std::mutex> lock(descriptors.mutex);
  takeSocket(descriptors, lock, false);
}

void uncountIcmp6Socket() { uncountSocket(); }

IcmpHandle icmpCreatePosix() {
  const int type = socketChoice().type;
  if (type < 0) return -1;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(descriptors.mutex);
      if (const int kept = takeSocket(descriptors, lock, true); kept >= 0) return kept;
    }
    const int fd = openEchoSocket(ipv4, type);
    if (fd >= 0) return fd;
    // Descriptors can run out all the same (the system's, or ours held by
    // others): wait for a socket of ours to close rather than count the
    // target as unreachable.
    const int error = errno;
    uncountSocket();
    if (!waitForFreeDescriptor(error)) return -1;
  }
}

void icmpClosePosix(IcmpHandle handle) {
  if (handle < 0) return;
  const int fd = static_cast<int>(handle);
  if (socketChoice().type == SOCK_DGRAM) {
    std::lock_guard<std::mutex> lock(descriptors.mutex);
    // Handed on to a worker that waits for one, or kept for the next;
    // not while a look-up waits for the room it holds.
    if (descriptors.keptCount < kMaxKept && descriptors.lookupWaiters == 0) {
      descriptors.kept[descriptors.keptCount++] = fd;
      descriptors.socketRoom.notify_one();
      return;
    }
  }
  close(fd);
  uncountSocket();
}

namespace {

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
  if (echo.raw || family.connectDatagram) {
    if (connect(echo.fd, echo.target, echo.targetSize) != 0) return errno;
    // Until now a raw socket took in every echo reply of the namespace;
    // with thousands of workers those can fill its buffer before ours
    // arrives, and the kernel would drop ours. None of them is an answer
    // to us yet.
    std::uint8_t discard;
    if (echo.raw) {
      while (recv(echo.fd, &discard, 1, MSG_DONTWAIT | MSG_TRUNC) >= 0) {
      }
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

// Reads the queued ICMP errors. True when one answers for our request, with
// the status it means; errors about other requests (another worker's or
// another program's to the same host) are passed over. Only errors that
// answer for the target end the wait.
[[gnu::noinline]] bool answeringError(const EchoFamily& family, const Echo& echo,
                                      std::uint32_t& status) {
  for (;;) {
    std::uint8_t original[64];
    alignas(cmsghdr) char control[256];
    sockaddr_storage offender{};
    iovec part{original, sizeof original};
    msghdr message{};
    message.msg_name = &offender;
    message.msg_namelen = sizeof offender;
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
      const std::uint32_t meaning = family.statusOf(error.ee_type, error.ee_code);
      if (meaning == kIpSuccess) continue;
      // The kernel quotes the ICMP header of the request the error is about.
      if (static_cast<std::size_t>(length) < kIcmpHeaderSize || original[0] != family.requestType ||
          !echo.id.matches(original) ||
          (family.offenderIsTarget != nullptr && !family.offenderIsTarget(offender, echo.target))) {
        continue;
      }
      status = meaning;
      return true;
    }
  }
  // A pending error with nothing queued would keep poll from waiting.
  int pending = 0;
  socklen_t pendingSize = sizeof pending;
  getsockopt(echo.fd, SOL_SOCKET, SO_ERROR, &pending, &pendingSize);
  return false;
}

// Where a packet read by receiveReply lies: a head, the caller's area
// and a spill.
struct Pieces {
  const std::uint8_t* head;
  std::size_t headSize;
  std::uint8_t* area;
  std::size_t areaSize;
  const std::uint8_t* spill;
  // Byte i of the packet after the place where the ICMP header should be.
  std::uint8_t at(std::size_t i) const {
    i += headSize - kIcmpHeaderSize;
    if (i < headSize) return head[i];
    i -= headSize;
    return i < areaSize ? area[i] : spill[i - areaSize];
  }
};

// IP options moved the ICMP header and the data `shift` bytes further along
// than the pieces expect: the header is copied out and the data moved down
// into the caller's area, forward, as each byte comes from further along.
[[gnu::noinline]] void undoShift(std::uint8_t* head, std::size_t headSize, std::uint8_t* area,
                                 std::size_t areaSize, const std::uint8_t* spill, std::size_t shift,
                                 std::size_t dataCaptured) {
  const Pieces pieces{head, headSize, area, areaSize, spill};
  std::uint8_t header[kIcmpHeaderSize];
  for (std::size_t i = 0; i < kIcmpHeaderSize; ++i) header[i] = pieces.at(shift + i);
  for (std::size_t i = 0; i < std::min(dataCaptured, areaSize); ++i) {
    area[i] = pieces.at(shift + kIcmpHeaderSize + i);
  }
  std::memcpy(head + headSize - kIcmpHeaderSize, header, kIcmpHeaderSize);
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
  const ssize_t received = recvmsg(echo.fd, &message, MSG_DONTWAIT | MSG_TRUNC);
  if (received < 0) return false;  // a pending error, or the packet went away
  const std::size_t length = static_cast<std::size_t>(received);  // before any truncation
  const std::size_t captured = std::min(length, headSize + dataAreaSize + sizeof spill);
  // Raw sockets get the IP header too. Its options, if any, move the ICMP
  // header and the data further along than the pieces expect.
  std::size_t shift = 0;
  if (raw) {
    if (captured < kIpHeaderSize) return false;
    const std::size_t ipHeaderSize = static_cast<std::size_t>(head[0] & 0x0F) * 4;
    if (ipHeaderSize < kIpHeaderSize) return false;
    shift = ipHeaderSize - kIpHeaderSize;
  }
  if (from.sin_addr.s_addr != reinterpret_cast<const sockaddr_in*>(echo.target)->sin_addr.s_addr ||
      captured < headSize + shift)
    return false;
  const std::size_t dataCaptured = captured - headSize - shift;
  // Normally the ICMP header is the end of the first piece.
  std::uint8_t* icmp = head + headSize - kIcmpHeaderSize;
  if (shift != 0) undoShift(head, headSize, dataArea, dataAreaSize, spill, shift, dataCaptured);
  if (icmp[0] != kEchoReply || !echo.id.matches(icmp)) return false;
  dataSize = length - headSize - shift;
  // Datagram sockets get only packets whose checksum the kernel checked;
  // on a raw socket it is checked where the whole packet was taken in
  // (the data area's size is even, so the spill continues its words).
  if (raw && dataCaptured == dataSize) {
    std::uint32_t sum = addWords(icmp, kIcmpHeaderSize, 0);
    sum = addWords(dataArea, std::min(dataSize, dataAreaSize), sum);
    if (dataSize > dataAreaSize) {
      sum = addWords(spill + shift, dataSize - dataAreaSize, sum);
    }
    if (foldSum(sum) != 0) return false;
  }
  return true;
}

}  // namespace

std::uint32_t runEcho(EchoFamily& family, int fd, const sockaddr* target, socklen_t targetSize,
                      const void* request, std::uint16_t requestSize, EchoReply* reply,
                      std::uint8_t* dataArea, std::size_t dataAreaSize, std::uint32_t timeoutMs) {
  const SocketChoice& choice = family.choice();
  const bool raw = choice.type == SOCK_RAW;
  const std::uint16_t sequence = htons(family.nextSequence.fetch_add(1, std::memory_order_relaxed));
  // A raw socket's identifier is ours to pick: the process's base and the
  // descriptor, which no other socket of this process has at the moment.
  // The kernel puts a datagram socket's own identifier in place of ours and
  // hands that socket only replies and errors carrying it, so there only
  // the sequence number is left to check.
  const std::uint16_t identifier =
      raw ? htons(static_cast<std::uint16_t>(choice.identifierBase + static_cast<unsigned>(fd)))
          : 0;
  Echo echo{fd, raw, target, targetSize, {}};
  std::memcpy(echo.id.bytes, &identifier, 2);
  std::memcpy(echo.id.bytes + 2, &sequence, 2);
  echo.id.sequenceOnly = !raw;

  const Clock::time_point sent = Clock::now();
  const Clock::time_point deadline = sent + std::chrono::milliseconds(timeoutMs);
  if (const int error = sendRequest(family, echo, request, requestSize)) {
    reply->Status = statusFromSendError(family, error);
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
    if ((wait.revents & POLLERR) && answeringError(family, echo, status)) {
      reply->Status = status;
      return 0;
    }
    std::size_t dataSize;
    if (!(wait.revents & POLLIN) || !family.receiveReply(echo, dataArea, dataAreaSize, dataSize)) {
      continue;
    }
    const Clock::time_point arrived = Clock::now();
    reply->Status = kIpSuccess;
    reply->RoundTripTime = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(arrived - sent).count());
    // Microseconds fit 32 bits up to 71 minutes, far beyond any real wait.
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

std::uint32_t icmpSendEchoPosix(IcmpHandle handle, std::uint32_t address, const void* request,
                                std::uint16_t requestSize, EchoReply* reply, std::uint8_t* dataArea,
                                std::size_t dataAreaSize, std::uint32_t timeoutMs) {
  if (handle < 0) return 0;  // Status stays as the caller preset it
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = address;
  return runEcho(ipv4, static_cast<int>(handle), reinterpret_cast<const sockaddr*>(&target),
                 sizeof target, request, requestSize, reply, dataArea, dataAreaSize, timeoutMs);
}

}  // namespace fanecho
