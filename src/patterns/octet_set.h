// The set of octets that one dotted field of an address pattern names.
#pragma once

#include <cstdint>

namespace fanecho {

// Limits `number` to 255.
std::uint32_t clampOctet(std::uint32_t number);

// A fixed-size value: parse a field such as "1-3,7" once, then iterate its
// members in ascending order as often as needed:
//   for (int v = set.first(); !set.atEnd(); v = set.next()) ...
// A field that names no number yields the octet 0 once.
class OctetSet {
 public:
  static constexpr std::int32_t kNoMember = 256;

  void parse(const char* text);
  std::int32_t first();
  std::int32_t next();
  bool atEnd() const;
  // Whether the field names the octet; a field that names no number names 0.
  bool contains(std::int32_t octet) const;

  // Reads one run of digits of any length and moves `position` past it.
  // Values above 255 may come back saturated; clampOctet makes them 255.
  static std::int32_t readNumber(const char*& position);

 private:
  std::int32_t present[256] = {};
  std::int32_t cursor = 0;
  std::int32_t firstMember = 0;
  std::int32_t lastMember = 0;
};

}  // namespace fanecho
