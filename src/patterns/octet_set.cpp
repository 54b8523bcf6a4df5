#include "patterns/octet_set.h"
#include "common/text.h"

namespace fanecho {

std::uint32_t clampOctet(std::uint32_t number) { return number > 255 ? 255 : number; }

std::int32_t OctetSet::readNumber(const char*& position) {
  // Saturate well above 255 so that a run of any length stays in range.
  constexpr std::int32_t kSaturated = 100000;
  std::int32_t value = 0;
  while (isDecimalDigit(*position)) {
    if (value < kSaturated) value = value * 10 + (*position - '0');
    ++position;
  }
  return value;
}

void OctetSet::parse(const char* text) {
  const char* position = text;
  while (isDecimalDigit(*position)) {
    std::uint32_t low = clampOctet(static_cast<std::uint32_t>(readNumber(position)));
    std::uint32_t high = low;
    if (*position == '-') {
      ++position;
      if (isDecimalDigit(*position)) {
        high = clampOctet(static_cast<std::uint32_t>(readNumber(position)));
        if (high < low) {
          const std::uint32_t swap = low;
          low = high;
          high = swap;
        }
      }
    }
    for (std::uint32_t v = low; v <= high; ++v) present[v] = 1;
    if (*position != ',') break;
    ++position;
  }
  bool any = false;
  for (int v = 0; v < 256; ++v) any = any || present[v] != 0;
  if (!any) present[0] = 1;  // no number stands for 0
  for (int v = 0; v < 256; ++v) {
    if (present[v]) {
      firstMember = v;
      break;
    }
  }
  for (int v = 255; v >= 0; --v) {
    if (present[v]) {
      lastMember = v;
      break;
    }
  }
}

std::int32_t OctetSet::first() {
  cursor = firstMember;
  return cursor;
}

bool OctetSet::contains(std::int32_t octet) const {
  return octet >= 0 && octet < 256 && present[octet] != 0;
}

bool OctetSet::atEnd() const { return lastMember < cursor; }

std::int32_t OctetSet::next() {
  if (atEnd()) return kNoMember;
  for (;;) {
    ++cursor;
    // Tested before the flag, so present[256] is never read.
    if (lastMember < cursor) return kNoMember;
    if (present[cursor]) return cursor;
  }
}

}  // namespace fanecho
