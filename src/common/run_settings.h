// The process-wide records every subsystem shares.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace fanecho {

inline constexpr std::uint32_t kMaxPayloadSize = 300;
inline constexpr std::uint32_t kMaxWorkers = kMaxThreads;
// A reverse name as labels carry it: 99 characters and the NUL.
inline constexpr std::size_t kNameBufferSize = 100;
// /retry: at most this many: from a 5-second time-out the tenth already
// waits almost five minutes.
inline constexpr std::uint32_t kMaxRetries = 10;
// /rate: at most this many a second: one request a microsecond.
inline constexpr std::uint32_t kMaxRequestRate = 1000000;

// Settings are written by the main thread while workers read them, so each
// is a whole atomic value. The report flags and verbose are changed and read
// under consoleLock.
struct RunSettings {
  std::atomic<std::uint32_t> timeoutMs{5000};
  std::atomic<std::uint32_t> reportSuccesses{0};
  std::atomic<std::uint32_t> reportFailures{0};
  std::atomic<std::uint32_t> verbose{0};
  std::atomic<std::uint32_t> payloadSize{kMaxPayloadSize};
  std::atomic<std::uint32_t> echoCount{1};
  std::uint32_t includeDepth = 0;  // main thread only
  // Least time between two worker starts; only the main thread reads it.
  std::atomic<std::uint32_t> intervalMs{0};
  // Non-zero: every line from now on is a JSON object. Changed and read
  // under consoleLock, so each line takes one form, decided as it is written.
  std::atomic<std::uint32_t> json{0};
  // What names resolve to and whether a target with a colon is an IPv6
  // address: 4 (the default), 6 or kFamilyAny. ipNamed is non-zero once /ip:
  // has been given; target objects then carry their family.
  std::atomic<std::uint32_t> ipFamily{4};
  std::atomic<std::uint32_t> ipNamed{0};
  // Non-zero once /cidr has been given: a.b.c.d/N names a block. Only the
  // main thread reads it.
  std::atomic<std::uint32_t> cidr{0};
  // Non-zero once /queue has been given: a target that finds every worker
  // busy waits for one to end instead of being refused. /progress then
  // shows how many wait.
  std::atomic<std::uint32_t> queue{0};
  // How requests leave, from /source:, /interface: and /ttl:. A value too big
  // for one atomic word is published as a pointer to a copy that stays put
  // for the rest of the run (see chooseSource): null, as 0, leaves the choice
  // to the system.
  std::atomic<const IpAddress*> source4{nullptr};
  std::atomic<const IpAddress*> source6{nullptr};
  std::atomic<const char*> interfaceName{nullptr};
  std::atomic<std::uint32_t> ttl{0};
  // Non-zero once /reason has been given: a failed target's line says why.
  // Changed and read under consoleLock, as verbose is.
  std::atomic<std::uint32_t> reason{0};
  // /retry: more requests for a target with no good reply yet, each waiting
  // half as long again as the one before.
  std::atomic<std::uint32_t> retryCount{0};
  // /rate: at most this many requests a second leave, over every worker;
  // 0: no cap.
  std::atomic<std::uint32_t> requestRate{0};
};

// What the run came to: the counters change only under consoleLock, by the
// workers; exitStatus only by the summary.
struct RunResults {
  // Targets handed to a worker, counted by the main thread outside the lock;
  // /progress shows them.
  std::atomic<std::uint32_t> startedCount{0};
  std::atomic<std::uint32_t> okCount{0};
  std::atomic<std::uint32_t> failedCount{0};
  // Targets with a request that never left this machine (a local shortage).
  std::atomic<std::uint32_t> unsentCount{0};
  std::atomic<std::int32_t> exitStatus{255};
};

extern RunSettings settings;
extern RunResults results;

// Puts every field of both records back to its starting value (a new run in
// the same process).
void resetRunSettings();

// The source address of later requests to its family, and the interface of
// every later request. Main thread only.
void chooseSource(const IpAddress& source);
void chooseInterface(const std::string& name);

// How a target's requests leave: /source:, /interface: and /ttl: as they
// stood when the target was named, so that each applies from there on even
// where a worker sends after the main thread has read further.
struct RequestShape {
  const IpAddress* source4 = nullptr;
  const IpAddress* source6 = nullptr;
  const char* interfaceName = nullptr;
  std::uint8_t ttl = 0;
};
RequestShape currentShape();

// The options of a request to `target` of that shape.
EchoOptions requestOptions(const RequestShape& shape, const IpAddress& target);

enum class TargetKind : std::int32_t { address = 0, hostName = 1 };

// One target, handed to its worker thread. Filled before the thread starts;
// afterwards only the worker touches it, and only to store `address`.
struct ProbeJob {
  // A name's job holds the family it may resolve to until it is resolved.
  IpAddress address;
  std::string label;  // host name as typed, or the address's text
  TargetKind kind = TargetKind::address;
  // No echo request can be sent to this family here: the target fails unsent.
  bool familyMissing = false;
  RequestShape shape;
};

// The data of every echo request: a greeting, then zeros.
extern const std::uint8_t echoPayload[kMaxPayloadSize];

// Four octets (first dotted field first) to the address value whose bytes in
// memory, lowest first, are the address in network byte order.
constexpr std::uint32_t packAddress(const std::uint16_t octets[4]) {
  return static_cast<std::uint32_t>(octets[0]) | static_cast<std::uint32_t>(octets[1]) << 8 |
         static_cast<std::uint32_t>(octets[2]) << 16 | static_cast<std::uint32_t>(octets[3]) << 24;
}

}  // namespace fanecho
