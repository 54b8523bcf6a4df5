// What the fuzz targets share: a check that stops the run, and plain models
// of the address grammar written apart from the code they check.
#pragma once

#include <bitset>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
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

// A dotted address as text, the way labels show it.
inline std::string dottedText(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xFF) + "." +
         std::to_string(address >> 8 & 0xFF) + "." + std::to_string(address & 0xFF);
}

// An IPv4 block as /cidr reads it: exactly a.b.c.d/N, each number one to
// three digits, the octets at most 255 and N at most 32, up to a NUL. The
// whole block, host bits ignored.
inline bool blockModel(std::string_view text, std::uint32_t& first, std::uint32_t& last,
                       int& prefix) {
  text = text.substr(0, text.find('\0'));
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return false;
  const std::string_view head = text.substr(0, slash);
  std::vector<std::string_view> numbers;
  for (std::size_t start = 0, at = 0; at <= head.size(); ++at) {
    if (at < head.size() && head[at] != '.') continue;
    numbers.push_back(head.substr(start, at - start));
    start = at + 1;
  }
  numbers.push_back(text.substr(slash + 1));
  if (numbers.size() != 5) return false;
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 5; ++i) {
    const std::string_view digits = numbers[i];
    if (digits.empty() || digits.size() > 3) return false;
    int n = 0;
    for (char c : digits) {
      if (!isDigit(c)) return false;
      n = n * 10 + (c - '0');
    }
    if (n > (i < 4 ? 255 : 32)) return false;
    if (i < 4) value = value << 8 | static_cast<std::uint32_t>(n);
    if (i == 4) prefix = n;
  }
  const std::uint32_t host = prefix == 0 ? 0xFFFFFFFFu : (std::uint32_t{1} << (32 - prefix)) - 1;
  first = value & ~host;
  last = first | host;
  return true;
}

// What an IPv4 /exclude: value leaves out: a block, or the addresses of a
// dotted pattern; and how many ranges fanecho makes of it before joining
// them (runs of the last field that is not 0-255 under every combination of
// the fields before it), which it refuses beyond 2^20.
struct ExclusionModel {
  bool isBlock = false;
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  std::bitset<256> fields[4];
  std::uint64_t ranges = 0;

  bool excludes(std::uint32_t address) const {
    if (isBlock) return address >= first && address <= last;
    for (int i = 0; i < 4; ++i) {
      if (!fields[i].test(address >> (24 - 8 * i) & 0xFF)) return false;
    }
    return true;
  }
};

// False when the value is not an IPv4 exclusion fanecho takes.
inline bool exclusionModel(std::string_view value, ExclusionModel& model) {
  value = value.substr(0, value.find('\0'));
  if (value.find('/') != std::string_view::npos) {
    int prefix = 0;
    model.isBlock = true;
    model.ranges = 1;
    return blockModel(value, model.first, model.last, prefix);
  }
  const std::vector<std::string> words = patternWords(value);
  if (words.size() != 4) return false;
  for (int i = 0; i < 4; ++i) {
    for (int octet : fieldOctets(words[static_cast<std::size_t>(i)])) {
      model.fields[i].set(static_cast<std::size_t>(octet));
    }
  }
  int partial = 3;
  while (partial >= 0 && model.fields[partial].all()) --partial;
  model.ranges = 1;
  if (partial >= 0) {
    std::uint64_t runs = 0;
    for (std::size_t v = 0; v < 256; ++v) {
      if (model.fields[partial].test(v) && (v == 0 || !model.fields[partial].test(v - 1))) ++runs;
    }
    model.ranges = runs;
    for (int i = 0; i < partial; ++i) model.ranges *= model.fields[i].count();
  }
  return model.ranges <= (std::uint64_t{1} << 20);
}

// One value of the JSON objects fanecho writes: a string, a number, null
// or an array of strings.
struct JsonValue {
  enum class Kind { string, number, null, array } kind = Kind::null;
  std::string text;                // a string decoded, or a number as written
  std::vector<std::string> items;  // an array's strings, decoded
};

// Text from outside as a text line shows it: control bytes as "?".
inline std::string shown(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return result;
}

// What a reader of fanecho's JSON gets back for `raw`: the same bytes, but
// a C1 control written well-formed (0xC2 0x80 to 0xC2 0x9F) comes back as
// the single byte of its value, as fanecho escapes both alike.
inline std::string jsonDecodedForm(std::string_view raw) {
  std::string decoded;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const auto c = static_cast<unsigned char>(raw[i]);
    const auto next = i + 1 < raw.size() ? static_cast<unsigned char>(raw[i + 1]) : 0;
    if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
      decoded += static_cast<char>(next);
      ++i;
    } else {
      decoded += static_cast<char>(c);
    }
  }
  return decoded;
}

// The bytes a JSON string stands for, under fanecho's rule that \u0000 to
// \u00ff are single bytes (escaped control characters and stray bytes that
// are not UTF-8); other escapes become UTF-8. Strict about the rest: raw
// bytes must be well-formed UTF-8 and no control character may stand raw.
inline bool parseJsonString(std::string_view text, std::size_t& at, std::string& out) {
  if (at >= text.size() || text[at] != '"') return false;
  ++at;
  auto hex4 = [&text, &at](std::uint32_t& value) {
    if (at + 4 > text.size()) return false;
    value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text[at++];
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) return false;
      value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
  };
  auto appendUtf8 = [&out](std::uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | cp >> 12);
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | cp >> 18);
      out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  };
  while (at < text.size()) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c == '"') {
      ++at;
      return true;
    }
    if (c < 0x20) return false;
    if (c == '\\') {
      if (++at >= text.size()) return false;
      const char e = text[at++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::uint32_t cp;
          if (!hex4(cp)) return false;
          if (cp < 0x100) {
            out += static_cast<char>(cp);
          } else if (cp >= 0xD800 && cp <= 0xDBFF) {
            std::uint32_t low;
            if (at + 2 > text.size() || text[at] != '\\' || text[at + 1] != 'u') return false;
            at += 2;
            if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            appendUtf8(0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00));
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return false;
          } else {
            appendUtf8(cp);
          }
          break;
        }
        default:
          return false;
      }
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++at;
      continue;
    }
    // Well-formed UTF-8: the shortest form, no surrogates, at most U+10FFFF.
    std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
    if (length == 0 || at + length > text.size()) return false;
    std::uint32_t cp = c & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(text[at + i]);
      if ((next & 0xC0) != 0x80) return false;
      cp = cp << 6 | (next & 0x3F);
    }
    const std::uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    out.append(text.substr(at, length));
    at += length;
  }
  return false;
}

// A whole line that is one JSON object with string keys; false when it is
// not, or when a key repeats.
inline bool parseJsonObject(std::string_view text, std::map<std::string, JsonValue>& fields) {
  std::size_t at = 0;
  if (text.empty() || text[at++] != '{') return false;
  for (bool first = true;; first = false) {
    if (at < text.size() && text[at] == '}' && first) {
      ++at;
      break;
    }
    std::string key;
    if (!parseJsonString(text, at, key) || at >= text.size() || text[at++] != ':') return false;
    JsonValue value;
    if (at < text.size() && text[at] == '"') {
      value.kind = JsonValue::Kind::string;
      if (!parseJsonString(text, at, value.text)) return false;
    } else if (text.substr(at, 4) == "null") {
      at += 4;
    } else if (at < text.size() && text[at] == '[') {
      value.kind = JsonValue::Kind::array;
      ++at;
      while (at < text.size() && text[at] != ']') {
        if (!value.items.empty() && text[at++] != ',') return false;
        std::string item;
        if (!parseJsonString(text, at, item)) return false;
        value.items.push_back(std::move(item));
      }
      if (at++ >= text.size()) return false;
    } else {
      // -?(0|[1-9][0-9]*)(.[0-9]+)?, the numbers fanecho writes.
      value.kind = JsonValue::Kind::number;
      const std::size_t start = at;
      if (at < text.size() && text[at] == '-') ++at;
      if (at < text.size() && text[at] == '0') {
        ++at;
      } else {
        if (at >= text.size() || !isDigit(text[at]) || text[at] == '0') return false;
        while (at < text.size() && isDigit(text[at])) ++at;
      }
      if (at < text.size() && text[at] == '.') {
        ++at;
        if (at >= text.size() || !isDigit(text[at])) return false;
        while (at < text.size() && isDigit(text[at])) ++at;
      }
      value.text.assign(text.substr(start, at - start));
    }
    if (!fields.emplace(std::move(key), std::move(value)).second) return false;
    if (at >= text.size()) return false;
    const char next = text[at++];
    if (next == '}') break;
    if (next != ',') return false;
  }
  return at == text.size();
}

}  // namespace fanecho::fuzz
