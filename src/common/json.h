// JSON Lines: under /json every line on standard output is one JSON object.
// Built here, on a ConsoleLine, so that it is written whole like any line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/console.h"

namespace fanecho {

// Writes `text` as a JSON string, quotes included: the one place where text
// is escaped. Well-formed UTF-8 passes unchanged; quotes and back-slashes
// get a back-slash, control characters and DEL their \b \t \n \f \r or
// \u00XX form, and every byte that is not part of a well-formed UTF-8
// sequence becomes \u00XX with its own value (a stray 0xE9 reads as U+00E9).
void writeJsonString(ConsoleLine& line, std::string_view text);

// One object on one line; its fields in the order they are added, "type"
// first. end() closes it and ends the line.
class JsonObject {
 public:
  JsonObject(ConsoleLine& line, std::string_view type);
  JsonObject& text(std::string_view key, std::string_view value);
  JsonObject& null(std::string_view key);
  JsonObject& number(std::string_view key, std::uint32_t value);
  // A number given as its decimal digits, however large.
  JsonObject& decimal(std::string_view key, std::string_view digits);
  // Microseconds, written as milliseconds with three decimals.
  JsonObject& milliseconds(std::string_view key, std::uint64_t microseconds);
  JsonObject& texts(std::string_view key, const std::string_view* values, std::size_t count);
  void end();

 private:
  void key(std::string_view name);

  ConsoleLine& line_;
};

// True when lines are written as JSON objects now. Read under consoleLock;
// before it only a true counts, as /json is never turned off again.
bool jsonOutput();

}  // namespace fanecho
