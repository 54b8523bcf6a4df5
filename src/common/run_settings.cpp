#include "common/run_settings.h"

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
  results.okCount = 0;
  results.failedCount = 0;
  results.exitStatus = 255;
}

// Bytes after the greeting are zero.
const std::uint8_t echoPayload[kMaxPayloadSize] = "Hello from Quil.....garbage\n";

}  // namespace fanecho
