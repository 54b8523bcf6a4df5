#include "app/request_options.h"

#include <atomic>
#include <cstdint>
#include <string>

#include "app/control_options.h"
#include "common/console.h"
#include "common/messages.h"
#include "common/run_settings.h"
#include "patterns/address_ranges.h"
#include "patterns/pattern_expansion.h"
#include "report/target_label.h"

namespace fanecho {

namespace {

void setSource(std::string_view argument, std::string_view value) {
  IpAddress source;
  std::string_view zone;
  if (!parseHostAddress(value, source, zone) ||
      (!zone.empty() && (source.scopeId = zoneIndex(zone, platform.names.interfaceIndex)) == 0)) {
    ConsoleGuard guard;
    writeMessage(Message::illegalAddress, argument);
    return;
  }
  if (const char* problem = platform.echo.sourceProblem(source)) {
    ConsoleGuard guard;
    writeMessage(Message::badSource, addressLabel(source, zone), problem);
    return;
  }
  chooseSource(source);
}

void setInterface(std::string_view value) {
  const std::string name(value.substr(0, value.find('\0')));
  if (const char* problem =
          name.empty() ? "no interface was named" : platform.echo.interfaceProblem(name.c_str())) {
    ConsoleGuard guard;
    writeMessage(Message::badInterface, name, problem);
    return;
  }
  chooseInterface(name);
}

// A number from `low` to `high` for `setting`, or the one line of `expected`
// and no change.
void setBounded(std::string_view argument, std::string_view value, std::int64_t low,
                std::int64_t high, Message expected, std::atomic<std::uint32_t>& setting) {
  const std::int32_t number = readSettingNumber(value);
  if (number < low || number > high) {
    ConsoleGuard guard;
    writeMessage(expected, argument);
    return;
  }
  setting.store(static_cast<std::uint32_t>(number));
}

}  // namespace

bool applyRequestOption(std::string_view argument) {
  const std::string_view body = argument.substr(1);
  if (startsWithKeyword(body, "source:")) {
    setSource(argument, body.substr(7));
  } else if (startsWithKeyword(body, "interface:")) {
    setInterface(body.substr(10));
  } else if (startsWithKeyword(body, "ttl:")) {
    setBounded(argument, body.substr(4), 1, 255, Message::expectedTtl, settings.ttl);
  } else if (startsWithKeyword(body, "wait:")) {
    // The same setting as /timeout:'s, so the later of the two wins.
    setBounded(argument, body.substr(5), 0, 0x7FFFFFFF, Message::expectedWait, settings.timeoutMs);
  } else if (startsWithKeyword(body, "retry:")) {
    setBounded(argument, body.substr(6), 0, kMaxRetries, Message::expectedRetry,
               settings.retryCount);
  } else if (startsWithKeyword(body, "rate:")) {
    setBounded(argument, body.substr(5), 0, kMaxRequestRate, Message::expectedRate,
               settings.requestRate);
  } else {
    return false;
  }
  return true;
}

}  // namespace fanecho
