#include "common/run_settings.h"

#include "common/console.h"

#include <memory>
#include <vector>

namespace fanecho {

RunSettings settings;
RunResults results;

namespace {

// What the settings' pointers point at: kept until the settings are reset,
// so that a worker that read a pointer can still use it.
struct ChosenValues {
  std::vector<std::unique_ptr<IpAddress>> sources;
  std::vector<std::unique_ptr<std::string>> interfaces;
};
ChosenValues chosen;

}  // namespace

void chooseSource(const IpAddress& source) {
  chosen.sources.push_back(std::make_unique<IpAddress>(source));
  (source.family == 6 ? settings.source6 : settings.source4).store(chosen.sources.back().get());
}

void chooseInterface(const std::string& name) {
  chosen.interfaces.push_back(std::make_unique<std::string>(name));
  settings.interfaceName.store(chosen.interfaces.back()->c_str());
}

RequestShape currentShape() {
  return {settings.source4.load(), settings.source6.load(), settings.interfaceName.load(),
          static_cast<std::uint8_t>(settings.ttl.load())};
}

EchoOptions requestOptions(const RequestShape& shape, const IpAddress& target) {
  EchoOptions options;
  if (const IpAddress* source = target.family == 6 ? shape.source6 : shape.source4) {
    options.source = *source;
  }
  options.interfaceName = shape.interfaceName;
  options.ttl = shape.ttl;
  return options;
}

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
  settings.cidr = 0;
  settings.queue = 0;
  settings.source4 = nullptr;
  settings.source6 = nullptr;
  settings.interfaceName = nullptr;
  settings.ttl = 0;
  settings.reason = 0;
  settings.retryCount = 0;
  settings.requestRate = 0;
  chosen = {};
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
