// What the fuzz targets share: a check that stops the run, and plain models
// of the address grammar written apart from the code they check.
#pragma once

#include <bitset>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Unlike assert, also active in release builds; libFuzzer saves the input.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

namespace fanecho::fuzz {

inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

inline bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The value of a run of digits, any length, limited to 255.
inline int octetValue(std::string_view digits) {
  while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
  if (digits.size() > 3) return 255;
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value > 255 ? 255 : value;
}

// Members of one dotted field: items "n", "n-" or "n-m" joined by single
// commas; the first character that fits none of this ends the field.
inline std::bitset<256> fieldMembers(std::string_view field) {
  field = field.substr(0, field.find('\0'));
  std::bitset<256> members;
  std::size_t at = 0;
  auto digitRun = [&field, &at] {
    const std::size_t start = at;
    while (at < field.size() && isDigit(field[at])) ++at;
    return octetValue(field.substr(start, at - start));
  };
  while (at < field.size() && isDigit(field[at])) {
    int low = digitRun();
    int high = low;
    if (at < field.size() && field[at] == '-') {
      ++at;
      if (at < field.size() && isDigit(field[at])) high = digitRun();
    }
    if (high < low) std::swap(low, high);
    for (int v = low; v <= high; ++v) members.set(static_cast<std::size_t>(v));
    if (at >= field.size() || field[at] != ',') break;
    ++at;
  }
  return members;
}

// What iterating a field yields: its members ascending, or 0 once for none.
inline std::vector<int> fieldOctets(std::string_view field) {
  const std::bitset<256> members = fieldMembers(field);
  std::vector<int> octets;
  for (int v = 0; v < 256; ++v) {
    if (members.test(static_cast<std::size_t>(v))) octets.push_back(v);
  }
  if (octets.empty()) octets.push_back(0);
  return octets;
}

// The words of a pattern between dots and blanks, up to its first NUL.
inline std::vector<std::string> patternWords(std::string_view pattern) {
  pattern = pattern.substr(0, pattern.find('\0'));
  std::vector<std::string> words;
  std::string word;
  for (char c : pattern) {
    if (c == '.' || isBlank(c)) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

// How many addresses a pattern names; 0 when it is not four fields.
inline std::uint64_t patternSize(std::string_view pattern) {
  const std::vector<std::string> words = patternWords(pattern);
  if (words.size() != 4) return 0;
  std::uint64_t size = 1;
  for (const std::string& word : words) size *= fieldOctets(word).size();
  return size;
}

}  // namespace fanecho::fuzz
