#include "common/progress.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/console.h"
#include "common/run_settings.h"
#include "platform/platform.h"

namespace fanecho {

namespace {

// A few redraws a second: enough to look alive, too few to cost anything.
constexpr std::uint32_t kTickMs = 250;

using Clock = std::chrono::steady_clock;

// Changed and read under consoleLock; the ticker's handle by the main
// thread alone. Plain arrays: nothing to destroy while a worker that was
// not waited for may still look at it.
struct ProgressLine {
  bool active = false;
  bool outToo = false;  // standard output shares the terminal
  bool shown = false;
  bool ticking = false;  // the ticker brings the figures up to date
  std::uint32_t width = 0;
  std::size_t drawnColumns = 0;  // what the next erase must blank
  char text[192] = {};           // as last put together
  std::size_t length = 0;
  Clock::time_point start;
  Clock::time_point composed;
  ThreadHandle ticker = nullptr;
};

ProgressLine line;

// The argument's targets (under consoleLock) and how many of them the main
// thread has done with since (by itself, read by the ticker).
Uint128 waitingTargets;
std::atomic<std::uint64_t> targetsTaken{0};

// Counts as they stand; cut to the terminal's width less one column, so the
// line never wraps and "\r" always reaches its start.
void compose() {
  line.composed = Clock::now();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(line.composed - line.start);
  const std::uint32_t ok = results.okCount.load(std::memory_order_relaxed);
  const std::uint32_t failed = results.failedCount.load(std::memory_order_relaxed);
  // The waiting count only once /queue has been given, so that the line
  // stays as it was otherwise.
  std::string waiting;
  if (settings.queue.load(std::memory_order_relaxed) != 0) {
    const Uint128 taken = targetsTaken.load(std::memory_order_relaxed);
    waiting = "; " + decimalText(waitingTargets > taken ? waitingTargets - taken : 0) + " waiting";
  }
  const int length = std::snprintf(
      line.text, sizeof line.text,
      "fanecho: %lu started, %lu finished: %lu ok, %lu failed%s; %lld s",
      static_cast<unsigned long>(results.startedCount.load(std::memory_order_relaxed)),
      static_cast<unsigned long>(ok + failed), static_cast<unsigned long>(ok),
      static_cast<unsigned long>(failed), waiting.c_str(), static_cast<long long>(seconds.count()));
  line.length = std::min(length < 0 ? 0 : static_cast<std::size_t>(length), sizeof line.text - 1);
  if (line.width != 0) line.length = std::min<std::size_t>(line.length, line.width - 1);
}

// "\r", the text, `blanks` blanks, and "\r" again when `back`.
void writeStatus(std::size_t textLength, std::size_t blanks, bool back) {
  char bytes[2 * sizeof line.text + 2];
  std::size_t used = 0;
  bytes[used++] = '\r';
  std::memcpy(bytes + used, line.text, textLength);
  used += textLength;
  std::memset(bytes + used, ' ', blanks);
  used += blanks;
  if (back) bytes[used++] = '\r';
  platform.console.writeErr(bytes, used);
}

// Over whatever was drawn before: blanks cover the rest of a longer line.
void draw() {
  const std::size_t covered = line.shown ? line.drawnColumns : 0;
  writeStatus(line.length, covered > line.length ? covered - line.length : 0, false);
  line.drawnColumns = std::max(covered, line.length);
  line.shown = true;
}

void erase() {
  writeStatus(0, line.drawnColumns, true);
  line.shown = false;
  line.drawnColumns = 0;
}

void tick() {
  ConsoleGuard guard;
  if (!line.active) return;
  // The terminal may have been made narrower meanwhile.
  line.width = platform.console.errTerminalWidth();
  compose();
  draw();
}

}  // namespace

void startProgress() {
  {
    ConsoleGuard guard;
    if (line.active) return;
    line.width = platform.console.errTerminalWidth();
    if (line.width == 0) return;
    line.active = true;
    line.outToo = platform.console.outIsTerminal();
    line.start = Clock::now();
    compose();
    draw();
  }
  // Without a ticker the line is still brought up to date as lines are
  // written, only not while nothing happens.
  line.ticker = platform.threads.startTicker(tick, kTickMs);
  ConsoleGuard guard;
  line.ticking = line.ticker != nullptr;
}

void endProgress() {
  {
    ConsoleGuard guard;
    if (!line.active) return;
    if (line.shown) erase();
    line.active = false;
    line.ticking = false;
  }
  if (line.ticker != nullptr) platform.threads.stopTicker(line.ticker);
  line.ticker = nullptr;
}

void setWaitingTargets(const Uint128& count) {
  ConsoleGuard guard;
  waitingTargets = count;
  targetsTaken.store(0, std::memory_order_relaxed);
}

void noteTargetTaken() { targetsTaken.fetch_add(1, std::memory_order_relaxed); }

void hideProgress(ConsoleStream stream) {
  if (!line.shown || (stream == ConsoleStream::out && !line.outToo)) return;
  erase();
}

void showProgress() {
  if (!line.active || line.shown) return;
  // Its figures change at the ticker's pace alone, however fast lines come.
  if (!line.ticking && Clock::now() - line.composed >= std::chrono::milliseconds(kTickMs)) {
    compose();
  }
  draw();
}

}  // namespace fanecho
