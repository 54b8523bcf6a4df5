// The console: standard output and error, the terminal they may be, and
// the lock that keeps lines whole. A seam because each system writes and
// locks its own way (a mutex, a critical section; a terminal, a console),
// and so that tests can read every line and fail writes at will.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fanecho {

struct ConsoleOps {
  // The console lock: a critical section on Windows, a mutex elsewhere.
  void (*lockInit)();
  void (*lockEnter)();
  void (*lockLeave)();
  // Standard output, written whole lines at a time. Both return 0, or the
  // error (an errno value) that kept the text from being written.
  int (*writeOut)(const char* text, std::size_t length);
  int (*flushOut)();
  // Standard error, for the few notices that are not results.
  void (*writeErr)(const char* text, std::size_t length);
  // For /progress. Columns of the terminal (the console on Windows) that
  // standard error writes to; 0 when standard error is not one.
  std::uint32_t (*errTerminalWidth)();
  // Whether standard output goes to a terminal (a console) too.
  bool (*outIsTerminal)();
};

}  // namespace fanecho
