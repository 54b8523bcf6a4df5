#include "common/console.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/progress.h"
#include "platform/platform.h"

namespace fanecho {

ConsoleGuard::ConsoleGuard() { platform.console.lockEnter(); }
ConsoleGuard::~ConsoleGuard() { platform.console.lockLeave(); }

ConsoleLine& ConsoleLine::text(std::string_view piece) {
  if (holding_ && piece.size() > sizeof buffer_ - used_) {
    overflowed_ = true;
    return *this;
  }
  while (!piece.empty()) {
    if (used_ == sizeof buffer_) spill();
    std::size_t take = std::min(piece.size(), sizeof buffer_ - used_);
    std::memcpy(buffer_ + used_, piece.data(), take);
    used_ += take;
    piece.remove_prefix(take);
  }
  return *this;
}

namespace {

bool isControlByte(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

}  // namespace

ConsoleLine& ConsoleLine::outside(std::string_view piece) {
  while (!piece.empty()) {
    std::size_t plain = 0;
    while (plain < piece.size() && !isControlByte(piece[plain])) ++plain;
    text(piece.substr(0, plain));
    if (plain == piece.size()) break;
    text("?");
    piece.remove_prefix(plain + 1);
  }
  return *this;
}

std::string shownOnConsole(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    if (isControlByte(c)) c = '?';
  }
  return shown;
}

ConsoleLine& ConsoleLine::number(std::uint32_t value) {
  char digits[16];
  int length = std::snprintf(digits, sizeof digits, "%lu", static_cast<unsigned long>(value));
  return text(std::string_view(digits, static_cast<std::size_t>(length)));
}

ConsoleLine& ConsoleLine::real(double value) {
  char digits[32];
  int length = std::snprintf(digits, sizeof digits, "%g", value);
  return text(std::string_view(digits, static_cast<std::size_t>(length)));
}

namespace {

std::atomic<int> outputError{0};

// The first failed write is said once on standard error; lines after it
// are still tried, as the device may recover, but the run has lost data.
void noteOutputError(int error) {
  int none = 0;
  if (error == 0 || !outputError.compare_exchange_strong(none, error)) return;
  const std::string message =
      std::string("fanecho: cannot write standard output: ") + std::strerror(error) + "\n";
  hideProgress(ConsoleStream::err);
  platform.console.writeErr(message.data(), message.size());
}

}  // namespace

void ConsoleLine::end() {
  text("\n");
  ended_ = true;
  if (holding_) return;
  spill();
  noteOutputError(platform.console.flushOut());
  showProgress();
}

void ConsoleLine::write() {
  holding_ = false;
  spill();
  noteOutputError(platform.console.flushOut());
  showProgress();
}

void ConsoleLine::spill() {
  if (used_ == 0) return;
  hideProgress(ConsoleStream::out);
  noteOutputError(platform.console.writeOut(buffer_, used_));
  used_ = 0;
}

int consoleOutputError() { return outputError.load(); }

void resetConsoleOutputError() { outputError = 0; }

void writeLine(std::string_view line) { ConsoleLine().text(line).end(); }

}  // namespace fanecho
