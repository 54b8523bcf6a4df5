// Every console line fanecho writes is built here and written whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace fanecho {

// Holds consoleLock for its lifetime.
class ConsoleGuard {
 public:
  ConsoleGuard();
  ~ConsoleGuard();
  ConsoleGuard(const ConsoleGuard&) = delete;
  ConsoleGuard& operator=(const ConsoleGuard&) = delete;
};

// Collects the pieces of one line and writes them with its end, then flushes.
// The caller holds consoleLock whenever workers may be running, so a line
// longer than the buffer still reaches the console in one piece.
class ConsoleLine {
 public:
  ConsoleLine() = default;
  // A held line is put together before consoleLock is taken and writes
  // nothing until write(), which the caller calls under the lock. A line
  // that does not fit the buffer is not complete() and must be built again
  // under the lock.
  enum Held { held };
  explicit ConsoleLine(Held) : holding_(true) {}
  ConsoleLine(const ConsoleLine&) = delete;
  ConsoleLine& operator=(const ConsoleLine&) = delete;

  ConsoleLine& text(std::string_view piece);
  // Text that came from outside (a label, a reverse name, a file name, an
  // argument): each control byte (0x00-0x1F, 0x7F) is written as "?", so
  // that no such text can steer the terminal. A host name never holds one.
  ConsoleLine& outside(std::string_view piece);
  ConsoleLine& number(std::uint32_t value);
  // General notation with six significant digits, as an output stream writes.
  ConsoleLine& real(double value);
  void end();
  bool complete() const { return ended_ && !overflowed_; }
  void write();

 private:
  void spill();

  char buffer_[256];
  std::size_t used_ = 0;
  bool holding_ = false;
  bool ended_ = false;
  bool overflowed_ = false;
};

// Writes one whole line under the caller's lock.
void writeLine(std::string_view line);

// `text` with its control bytes as "?", as ConsoleLine::outside writes it.
std::string shownOnConsole(std::string_view text);

// 0, or the error of the first write to standard output that failed; that
// first failure has been reported on standard error.
int consoleOutputError();
void resetConsoleOutputError();

}  // namespace fanecho
