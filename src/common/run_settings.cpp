#include "common/run_settings.h"

#include "common/console.h"

namespace fanecho {

RunSettings settings;
RunResults results;

void resetRunSettings() {
  settings.timeoutMs = 5000;
  settings.reportSuccesses = 0;
  settings.reportFailures = 0;
  settings.verbose = 0;
  settings.payloadSize = kMaxPayloadSize;
  settings.echoCount = 1;
  settings.includeDepth = 0;
  settings.intervalMs = 0;
  settings.json = 0;
  settings.ipFamily = 4;
  settings.ipNamed = 0;
  results.startedCount = 0;
  results.okCount = 0;
  results.failedCount = 0;
  results.unsentCount = 0;
  results.exitStatus = 255;
  resetConsoleOutputError();
}

// The greeting is the data this tool's requests have always carried, kept
// byte for byte: packet captures and filters that look for it still match,
// and hosts see the same requests as before. It is readable text so that a
// capture shows at a glance whose requests these are. Bytes after it are
// zero; a reply counts only when it echoes exactly the bytes sent.
const std::uint8_t echoPayload[kMaxPayloadSize] = "Hello from Quil.....garbage\n";

}  // namespace fanecho
