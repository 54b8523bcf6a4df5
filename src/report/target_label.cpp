#include "report/target_label.h"

#include <cstdio>
#include <string_view>

namespace fanecho {

std::size_t formatAddress(const IpAddress& address, char (&text)[kAddressTextSize]) {
  const std::uint8_t* b = address.bytes;
  if (address.family != 6) {
    const int length = std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return static_cast<std::size_t>(length);
  }
  unsigned groups[8];
  for (int i = 0; i < 8; ++i) groups[i] = static_cast<unsigned>(b[2 * i] << 8 | b[2 * i + 1]);
  // ::ffff:0:0/96 keeps its IPv4 address readable, as RFC 5952 asks.
  const bool mapped = groups[0] == 0 && groups[1] == 0 && groups[2] == 0 && groups[3] == 0 &&
                      groups[4] == 0 && groups[5] == 0xFFFF;
  const int hexGroups = mapped ? 6 : 8;
  int bestStart = -1;
  int bestLength = 1;  // a single zero group is not compressed
  for (int i = 0; i < hexGroups;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    int end = i;
    while (end < hexGroups && groups[end] == 0) ++end;
    if (end - i > bestLength) {
      bestStart = i;
      bestLength = end - i;
    }
    i = end;
  }
  std::size_t length = 0;
  auto put = [&](const char* format, unsigned value) {
    length +=
        static_cast<std::size_t>(std::snprintf(text + length, sizeof text - length, format, value));
  };
  for (int i = 0; i < hexGroups; ++i) {
    if (i == bestStart) {
      text[length++] = ':';
      if (i == 0) text[length++] = ':';
      i += bestLength - 1;
      continue;
    }
    put("%x", groups[i]);
    if (i + 1 < hexGroups || mapped) text[length++] = ':';
  }
  text[length] = '\0';
  if (mapped) {
    length += static_cast<std::size_t>(std::snprintf(text + length, sizeof text - length,
                                                     "%u.%u.%u.%u", b[12], b[13], b[14], b[15]));
  }
  return length;
}

std::string addressLabel(const IpAddress& address, std::string_view zone) {
  char text[kAddressTextSize];
  std::string label(text, formatAddress(address, text));
  if (!zone.empty()) label.append("%").append(zone);
  return label;
}

void writeTargetLabel(ConsoleLine& line, const ProbeJob& job, const char* reverseName) {
  line.outside(job.label);
  if (settings.verbose.load(std::memory_order_relaxed) == 0) return;
  if (job.kind == TargetKind::hostName) {
    char text[kAddressTextSize];
    const std::size_t length = formatAddress(job.address, text);
    line.text(" (").text(std::string_view(text, length)).text(")");
    return;
  }
  if (reverseName == nullptr || reverseName[0] == '\0') {
    line.text(" (?)");
  } else {
    line.text(" (").outside(reverseName).text(")");
  }
}

}  // namespace fanecho
