// The operating-system services fanecho needs, behind one table of function
// pointers so that tests can swap in fakes. One back end per platform fills
// the table: src/platform/linux and src/platform/win32.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>

namespace fanecho {

using ThreadHandle = void*;  // null: no thread was started
using ThreadRoutine = void (*)(void* argument);
using IcmpHandle = std::intptr_t;

enum class ThreadPriority { normal, belowNormal };

// An IPv4 or IPv6 address. IPv4 fills the first four bytes; its packed
// value (see packAddress) is those bytes read as one word in memory order.
struct IpAddress {
  std::uint8_t family = 4;      // 4 or 6; 0 in a name's job: either, not resolved yet
  std::uint8_t bytes[16] = {};  // network byte order
  std::uint32_t scopeId = 0;    // IPv6 zone as an interface index; 0: none

  static IpAddress fromPacked(std::uint32_t packed) {
    IpAddress address;
    for (int i = 0; i < 4; ++i) address.bytes[i] = static_cast<std::uint8_t>(packed >> (8 * i));
    return address;
  }
  std::uint32_t packed() const {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  }
  friend auto operator<=>(const IpAddress&, const IpAddress&) = default;
};

// Which addresses a name may resolve to: the first IPv4 one, the first IPv6
// one, or the first of either in the resolver's own order.
inline constexpr std::uint8_t kFamilyAny = 0;

// The first reply record of one echo request, shaped like the ICMP helper
// API's ICMP_ECHO_REPLY. Status 0 means an echo reply arrived.
struct EchoReply {
  std::uint32_t Status;
  std::uint32_t RoundTripTime;  // milliseconds
  std::uint16_t DataSize;       // echoed bytes; may exceed the caller's data area
  const std::uint8_t* Data;     // echoed bytes, copied into the caller's data area
  // The round trip in microseconds where the platform measures it; the
  // milliseconds times 1000 where it knows no more (the ICMP helper API).
  std::uint32_t RoundTripTimeUs;
};

// Values of EchoReply::Status, as the ICMP helper API numbers them.
inline constexpr std::uint32_t kIpSuccess = 0;
inline constexpr std::uint32_t kIpDestNetUnreachable = 11002;
inline constexpr std::uint32_t kIpDestHostUnreachable = 11003;
inline constexpr std::uint32_t kIpDestProtUnreachable = 11004;
inline constexpr std::uint32_t kIpDestPortUnreachable = 11005;
// The request never left this machine: a local shortage (a full neighbour
// table or queue, no memory) that may pass. Not an answer from the target.
inline constexpr std::uint32_t kIpNoResources = 11006;
inline constexpr std::uint32_t kIpReqTimedOut = 11010;
inline constexpr std::uint32_t kIpTtlExpiredTransit = 11013;
inline constexpr std::uint32_t kIpGeneralFailure = 11050;

// Worker threads one run starts at most.
inline constexpr std::uint32_t kMaxThreads = 10000;
// Name look-ups, forward and reverse, under way at one time: thousands of
// queries in one burst overflow a name server (a local dnsmasq lost queries
// at 512 in flight, none at 256).
inline constexpr std::uint32_t kMaxLookupsInFlight = 64;

// The most data one echo request carries: an Ethernet frame's worth.
inline constexpr std::size_t kLargestRequest = 1472;

struct PlatformOps {
  // Socket library for name services: WinSock 1.1 on Windows. Also raises
  // process limits a large run needs. False when it cannot start.
  bool (*startSockets)();
  void (*stopSockets)();

  // First address of a name in `family` (4, 6 or kFamilyAny).
  bool (*resolveName)(const char* name, std::uint8_t family, IpAddress& address);
  // Host name of an address; empty when none. Longer names are cut to
  // size - 1 characters.
  void (*reverseName)(const IpAddress& address, char* name, std::size_t size);
  // The index of a network interface named in an IPv6 zone; 0 when none.
  std::uint32_t (*interfaceIndex)(const char* name);

  // Null when echo requests to addresses of `family` (4 or 6) can be sent;
  // otherwise a one-line explanation of why not and how to fix it, and
  // familyMissing says whether the system lacks that family's echo outright
  // (no IPv6 in the kernel, no ICMPv6 helper). Asked once per family, before
  // the first worker of that family starts.
  const char* (*icmpProblem)(std::uint8_t family, bool& familyMissing);
  // A handle for requests to addresses of `family`.
  IcmpHandle (*icmpCreate)(std::uint8_t family);
  // Sends one echo request with `request` (at most kLargestRequest bytes) as
  // data and waits up to timeoutMs for its reply. Returns the number of reply
  // records (0 or 1) and fills `reply`; the echoed data is copied into
  // dataArea (at most dataAreaSize bytes) and reply.Data points there. A
  // request that could not be sent for a local, passing reason returns at
  // once with Status kIpNoResources.
  std::uint32_t (*icmpSendEcho)(IcmpHandle handle, const IpAddress& address, const void* request,
                                std::uint16_t requestSize, EchoReply* reply, std::uint8_t* dataArea,
                                std::size_t dataAreaSize, std::uint32_t timeoutMs);
  void (*icmpClose)(IcmpHandle handle);

  ThreadHandle (*startThread)(ThreadRoutine routine, void* argument, ThreadPriority priority);
  // Waits until every one of `count` (at most kMaxWaitHandles) threads has
  // ended. False when the wait itself failed.
  bool (*waitForThreads)(const ThreadHandle* handles, std::uint32_t count);
  void (*sleepMs)(std::uint32_t milliseconds);
  // Milliseconds on a clock that only moves forward, from a fixed start.
  std::uint64_t (*monotonicMs)();

  // The console lock: a critical section on Windows, a mutex elsewhere.
  void (*consoleLockInit)();
  void (*consoleLockEnter)();
  void (*consoleLockLeave)();

  // Standard output, written whole lines at a time. Both return 0, or the
  // error (an errno value) that kept the text from being written.
  int (*writeOut)(const char* text, std::size_t length);
  int (*flushOut)();

  // Why echo requests could not leave this machine and what would help, for
  // the one notice at the end of a run; null when none failed that way.
  const char* (*localSendProblem)();
  // Standard error, for the few notices that are not results.
  void (*writeErr)(const char* text, std::size_t length);
  // True after a pause when `error` (an errno value) says descriptors ran
  // short while sockets of ours are open that will close: worth trying again.
  bool (*awaitFreeDescriptor)(int error);

  // For /progress. Columns of the terminal (the console on Windows) that
  // standard error writes to; 0 when standard error is not one.
  std::uint32_t (*errTerminalWidth)();
  // Whether standard output goes to a terminal (a console) too.
  bool (*outIsTerminal)();
  // Calls `tick` every periodMs on a thread of its own until stopTicker,
  // which wakes it at once and waits for it to end. Null when no thread
  // could be started.
  ThreadHandle (*startTicker)(void (*tick)(), std::uint32_t periodMs);
  void (*stopTicker)(ThreadHandle ticker);
};

inline constexpr std::uint32_t kMaxWaitHandles = 64;

// Filled by the platform's back end; tests replace single entries.
extern PlatformOps platform;

}  // namespace fanecho
