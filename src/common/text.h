// Character classes as fanecho reads its input: ASCII only, whatever the
// locale, so that no byte above 127 is ever a digit or white space.
#pragma once

namespace fanecho {

constexpr bool isDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// Space, tab, line feed, vertical tab, form feed and carriage return.
constexpr bool isWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace fanecho
