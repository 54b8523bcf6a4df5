#include "common/json.h"

#include <cstdio>

#include "common/run_settings.h"

namespace fanecho {

namespace {

// Length of the well-formed UTF-8 sequence that starts `text`, or 0 when its
// first byte starts none: no overlong forms, no surrogates, nothing above
// U+10FFFF, no sequence cut short.
std::size_t utf8SequenceLength(std::string_view text) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char first = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3;
    if (first == 0xE0) low = 0xA0;
    if (first == 0xED) high = 0x9F;
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4;
    if (first == 0xF0) low = 0x90;
    if (first == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// C1 controls (U+0080 to U+009F) steer some terminals as ESC does, and the
// bidirectional overrides and isolates (U+202A to U+202E, U+2066 to U+2069)
// make a line read otherwise than it is: written escaped, though valid.
bool steersTerminal(std::string_view sequence) {
  const auto byte = [&sequence](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
  if (sequence.size() == 2) return byte(0) == 0xC2 && byte(1) <= 0x9F;
  if (sequence.size() != 3 || byte(0) != 0xE2) return false;
  return (byte(1) == 0x80 && byte(2) >= 0xAA && byte(2) <= 0xAE) ||
         (byte(1) == 0x81 && byte(2) >= 0xA6 && byte(2) <= 0xA9);
}

void writeEscape(ConsoleLine& line, unsigned codePoint) {
  constexpr char kHex[] = "0123456789abcdef";
  const char escaped[6] = {'\\',
                           'u',
                           kHex[codePoint >> 12 & 0xF],
                           kHex[codePoint >> 8 & 0xF],
                           kHex[codePoint >> 4 & 0xF],
                           kHex[codePoint & 0xF]};
  line.text(std::string_view(escaped, sizeof escaped));
}

}  // namespace

void writeJsonString(ConsoleLine& line, std::string_view text) {
  line.text("\"");
  // Runs of bytes that need no escape go out as one piece.
  std::size_t plain = 0;
  std::size_t at = 0;
  auto flush = [&] { line.text(text.substr(plain, at - plain)); };
  while (at < text.size()) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      ++at;
      continue;
    }
    if (c >= 0x80) {
      if (const std::size_t length = utf8SequenceLength(text.substr(at))) {
        const std::string_view sequence = text.substr(at, length);
        if (!steersTerminal(sequence)) {
          at += length;
          continue;
        }
        flush();
        const auto byte = [&sequence](std::size_t i) {
          return static_cast<unsigned>(static_cast<unsigned char>(sequence[i]));
        };
        writeEscape(line, length == 2
                              ? (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F)
                              : (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F));
        plain = at += length;
        continue;
      }
    }
    flush();
    switch (c) {
      case '"':
        line.text("\\\"");
        break;
      case '\\':
        line.text("\\\\");
        break;
      case '\b':
        line.text("\\b");
        break;
      case '\t':
        line.text("\\t");
        break;
      case '\n':
        line.text("\\n");
        break;
      case '\f':
        line.text("\\f");
        break;
      case '\r':
        line.text("\\r");
        break;
      default:
        writeEscape(line, c);
    }
    plain = ++at;
  }
  flush();
  line.text("\"");
}

JsonObject::JsonObject(ConsoleLine& line, std::string_view type) : line_(line) {
  line_.text("{\"type\":");
  writeJsonString(line_, type);
}

void JsonObject::key(std::string_view name) {
  line_.text(",");
  writeJsonString(line_, name);
  line_.text(":");
}

JsonObject& JsonObject::text(std::string_view key, std::string_view value) {
  this->key(key);
  writeJsonString(line_, value);
  return *this;
}

JsonObject& JsonObject::null(std::string_view key) {
  this->key(key);
  line_.text("null");
  return *this;
}

JsonObject& JsonObject::number(std::string_view key, std::uint32_t value) {
  this->key(key);
  line_.number(value);
  return *this;
}

JsonObject& JsonObject::decimal(std::string_view key, std::string_view digits) {
  this->key(key);
  line_.text(digits);
  return *this;
}

JsonObject& JsonObject::milliseconds(std::string_view key, std::uint64_t microseconds) {
  this->key(key);
  char digits[32];
  const int length = std::snprintf(digits, sizeof digits, "%llu.%03u",
                                   static_cast<unsigned long long>(microseconds / 1000),
                                   static_cast<unsigned>(microseconds % 1000));
  line_.text(std::string_view(digits, static_cast<std::size_t>(length)));
  return *this;
}

JsonObject& JsonObject::texts(std::string_view key, const std::string_view* values,
                              std::size_t count) {
  this->key(key);
  line_.text("[");
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) line_.text(",");
    writeJsonString(line_, values[i]);
  }
  line_.text("]");
  return *this;
}

void JsonObject::end() { line_.text("}").end(); }

bool jsonOutput() { return settings.json.load(std::memory_order_relaxed) != 0; }

}  // namespace fanecho
