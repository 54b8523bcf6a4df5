// The console: its lock and what it is.
#include "platform/win32/back_end_win32.h"

namespace fanecho::win32 {

namespace {

// Initialised on first use, so the lock works even before consoleLockInit.
CRITICAL_SECTION& consoleSection() {
  static CRITICAL_SECTION* const section = [] {
    static CRITICAL_SECTION storage;
    InitializeCriticalSection(&storage);
    return &storage;
  }();
  return *section;
}

// A console answers GetConsoleMode; a file or pipe does not.
bool isConsole(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

void consoleLockInit() { consoleSection(); }
void consoleLockEnter() { EnterCriticalSection(&consoleSection()); }
void consoleLockLeave() { LeaveCriticalSection(&consoleSection()); }

std::uint32_t errTerminalWidth() {
  if (!isConsole(STD_ERROR_HANDLE)) return 0;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) == 0) return 80;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? static_cast<std::uint32_t>(columns) : 80;
}

bool outIsTerminal() { return isConsole(STD_OUTPUT_HANDLE); }

}  // namespace fanecho::win32
