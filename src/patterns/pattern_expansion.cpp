#include "patterns/pattern_expansion.h"

#include <cstdio>

#include "common/console.h"
#include "common/messages.h"
#include "common/run_settings.h"
#include "common/text.h"
#include "patterns/octet_set.h"

namespace fanecho {

bool splitPattern(std::string_view pattern, std::array<std::string, 4>& fields) {
  std::size_t words = 0;
  std::size_t position = 0;
  // The text ends at its first NUL, as a C string would.
  pattern = pattern.substr(0, pattern.find('\0'));
  while (words < 5) {
    while (position < pattern.size() &&
           (pattern[position] == '.' || isWhiteSpace(pattern[position]))) {
      ++position;
    }
    if (position == pattern.size()) break;
    const std::size_t start = position;
    while (position < pattern.size() && pattern[position] != '.' &&
           !isWhiteSpace(pattern[position])) {
      ++position;
    }
    if (words < 4) fields[words].assign(pattern.substr(start, position - start));
    ++words;
  }
  return words == 4;
}

void expandPattern(std::string_view pattern, const AddressSink& sink) {
  std::array<std::string, 4> fields;
  if (!splitPattern(pattern, fields)) {
    ConsoleGuard guard;
    writeMessage(Message::illegalAddress, pattern);
    return;
  }
  OctetSet sets[4];
  for (int i = 0; i < 4; ++i) sets[i].parse(fields[i].c_str());

  std::uint16_t octets[4];
  for (int a = sets[0].first(); !sets[0].atEnd(); a = sets[0].next()) {
    octets[0] = static_cast<std::uint16_t>(a);
    for (int b = sets[1].first(); !sets[1].atEnd(); b = sets[1].next()) {
      octets[1] = static_cast<std::uint16_t>(b);
      for (int c = sets[2].first(); !sets[2].atEnd(); c = sets[2].next()) {
        octets[2] = static_cast<std::uint16_t>(c);
        for (int d = sets[3].first(); !sets[3].atEnd(); d = sets[3].next()) {
          octets[3] = static_cast<std::uint16_t>(d);
          char label[16];
          std::snprintf(label, sizeof label, "%d.%d.%d.%d", a, b, c, d);
          sink(packAddress(octets), label);
        }
      }
    }
  }
}

}  // namespace fanecho
