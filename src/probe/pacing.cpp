#include "probe/pacing.h"

#include <atomic>
#include <cstdint>

#include "common/run_settings.h"

namespace fanecho {

namespace {

constexpr std::uint64_t kNsPerMs = 1000000;
constexpr std::uint64_t kNsPerSecond = 1000 * kNsPerMs;

// When the next request may leave, in nanoseconds on the platform's clock.
// Each worker takes the next turn and moves it on by one gap, in one
// compare-and-swap: no lock, and no two workers with the same turn. After
// an idle spell the next turn is now, so no burst is saved up. The clock
// counts whole milliseconds: a turn less than one behind it still stands,
// or each millisecond would lose its fractions of a gap and a high rate
// would fall short; the turns due within one millisecond leave together.
std::atomic<std::uint64_t> nextTurnNs{0};

}  // namespace

void awaitRequestTurn() {
  const std::uint32_t rate = settings.requestRate.load(std::memory_order_relaxed);
  if (rate == 0) return;
  const std::uint64_t gapNs = kNsPerSecond / rate;
  const std::uint64_t nowNs = platform.threads.monotonicMs() * kNsPerMs;
  std::uint64_t next = nextTurnNs.load(std::memory_order_relaxed);
  std::uint64_t turn;
  do {
    turn = next + kNsPerMs < nowNs ? nowNs : next;
  } while (!nextTurnNs.compare_exchange_weak(next, turn + gapNs, std::memory_order_relaxed));
  // Sleeps may end early or late; the clock says when the turn has come.
  const std::uint64_t dueMs = (turn + kNsPerMs - 1) / kNsPerMs;
  for (std::uint64_t now = platform.threads.monotonicMs(); now < dueMs;
       now = platform.threads.monotonicMs()) {
    platform.threads.sleepMs(static_cast<std::uint32_t>(dueMs - now));
  }
}

void resetRequestPacing() { nextTurnNs.store(0); }

}  // namespace fanecho
