#include "common/progress.h"

#include <atomic>
#include <chrono>
#include <cstdio>
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
// thread alone.
struct ProgressLine {
  bool active = false;
  bool outToo = false;  // standard output shares the terminal
  bool shown = false;
  std::uint32_t width = 0;
  std::size_t drawnColumns = 0;  // what the next erase must blank
  std::string text;              // as last put together
  Clock::time_point start;
  Clock::time_point composed;
  ThreadHandle ticker = nullptr;
};

ProgressLine line;

void writeStatus(const std::string& bytes) { platform.writeErr(bytes.data(), bytes.size()); }

// Counts as they stand; cut to the terminal's width less one column, so the
// line never wraps and "\r" always reaches its start.
void compose() {
  line.composed = Clock::now();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(line.composed - line.start);
  const std::uint32_t ok = results.okCount.load(std::memory_order_relaxed);
  const std::uint32_t failed = results.failedCount.load(std::memory_order_relaxed);
  char text[160];
  const int length = std::snprintf(
      text, sizeof text, "fanecho: %lu started, %lu finished: %lu ok, %lu failed; %lld s",
      static_cast<unsigned long>(results.startedCount.load(std::memory_order_relaxed)),
      static_cast<unsigned long>(ok + failed), static_cast<unsigned long>(ok),
      static_cast<unsigned long>(failed), static_cast<long long>(seconds.count()));
  line.text.assign(text, length < 0 ? 0 : static_cast<std::size_t>(length));
  if (line.width == 0) return;
  if (line.text.size() > line.width - 1) line.text.resize(line.width - 1);
}

// Over whatever was drawn before: blanks cover the rest of a longer line.
void draw() {
  std::string bytes = "\r" + line.text;
  if (line.shown && line.drawnColumns > line.text.size()) {
    bytes.append(line.drawnColumns - line.text.size(), ' ');
  }
  writeStatus(bytes);
  if (!line.shown || line.text.size() > line.drawnColumns) line.drawnColumns = line.text.size();
  line.shown = true;
}

void erase() {
  writeStatus("\r" + std::string(line.drawnColumns, ' ') + "\r");
  line.shown = false;
  line.drawnColumns = 0;
}

void tick() {
  ConsoleGuard guard;
  if (!line.active) return;
  // The terminal may have been made narrower meanwhile.
  line.width = platform.errTerminalWidth();
  compose();
  draw();
}

}  // namespace

void startProgress() {
  {
    ConsoleGuard guard;
    if (line.active) return;
    line.width = platform.errTerminalWidth();
    if (line.width == 0) return;
    line.active = true;
    line.outToo = platform.outIsTerminal();
    line.start = Clock::now();
    compose();
    draw();
  }
  // Without a ticker the line is still brought up to date as lines are
  // written, only not while nothing happens.
  line.ticker = platform.startTicker(tick, kTickMs);
}

void endProgress() {
  {
    ConsoleGuard guard;
    if (!line.active) return;
    if (line.shown) erase();
    line.active = false;
  }
  if (line.ticker != nullptr) platform.stopTicker(line.ticker);
  line.ticker = nullptr;
}

void hideProgress(ConsoleStream stream) {
  if (!line.shown || (stream == ConsoleStream::out && !line.outToo)) return;
  erase();
}

void showProgress() {
  if (!line.active || line.shown) return;
  // Its figures change no faster than the ticker's pace, however fast
  // lines come.
  if (Clock::now() - line.composed >= std::chrono::milliseconds(kTickMs)) compose();
  draw();
}

}  // namespace fanecho
