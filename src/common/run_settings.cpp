#include "common/run_settings.h"

#include "common/console.h"
#include "platform/platform.h"

namespace fanecho {

RunSettings settings;

void resetRunSettings() {
  settings.timeoutMs = 5000;
  settings.reportSuccesses = 0;
  settings.reportFailures = 0;
  settings.verbose = 0;
  settings.exitStatus = 255;
  settings.okCount = 0;
  settings.failedCount = 0;
  settings.payloadSize = kMaxPayloadSize;
  settings.echoCount = 1;
  settings.includeDepth = 0;
  settings.intervalMs = 0;
  settings.json = 0;
  settings.unsentCount = 0;
  resetConsoleOutputError();
}

// Bytes after the greeting are zero.
const std::uint8_t echoPayload[kMaxPayloadSize] = "Hello from Quil.....garbage\n";

ConsoleGuard::ConsoleGuard() { platform.consoleLockEnter(); }
ConsoleGuard::~ConsoleGuard() { platform.consoleLockLeave(); }

}  // namespace fanecho
