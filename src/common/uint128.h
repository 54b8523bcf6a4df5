// Unsigned 128-bit numbers: IPv6 addresses as values, and counts of
// addresses up to a whole ::/0. Our own, as the 32-bit Windows compiler has
// no __int128. Arithmetic wraps around, as unsigned arithmetic does.
#pragma once

#include <compare>
#include <cstdint>
#include <string>

namespace fanecho {

struct Uint128 {
  std::uint64_t high = 0;
  std::uint64_t low = 0;

  constexpr Uint128() = default;
  constexpr Uint128(std::uint64_t value) : low(value) {}  // NOLINT: widening, like any integer
  constexpr Uint128(std::uint64_t highPart, std::uint64_t lowPart) : high(highPart), low(lowPart) {}

  static constexpr Uint128 max() { return {~std::uint64_t{0}, ~std::uint64_t{0}}; }
  // The lowest `bits` bits set (0 to 128).
  static constexpr Uint128 lowOnes(int bits) {
    if (bits <= 0) return {};
    if (bits >= 128) return max();
    if (bits >= 64) return {bits == 64 ? 0 : ~std::uint64_t{0} >> (128 - bits), ~std::uint64_t{0}};
    return {0, ~std::uint64_t{0} >> (64 - bits)};
  }

  friend constexpr bool operator==(const Uint128&, const Uint128&) = default;
  friend constexpr std::strong_ordering operator<=>(const Uint128& a, const Uint128& b) {
    if (a.high != b.high) return a.high <=> b.high;
    return a.low <=> b.low;
  }
  friend constexpr Uint128 operator+(const Uint128& a, const Uint128& b) {
    const std::uint64_t sum = a.low + b.low;
    return {a.high + b.high + (sum < a.low ? 1 : 0), sum};
  }
  friend constexpr Uint128 operator-(const Uint128& a, const Uint128& b) {
    return {a.high - b.high - (a.low < b.low ? 1 : 0), a.low - b.low};
  }
  friend constexpr Uint128 operator&(const Uint128& a, const Uint128& b) {
    return {a.high & b.high, a.low & b.low};
  }
  friend constexpr Uint128 operator|(const Uint128& a, const Uint128& b) {
    return {a.high | b.high, a.low | b.low};
  }
  friend constexpr Uint128 operator~(const Uint128& a) { return {~a.high, ~a.low}; }
  // `this` times a small factor, as counts of dotted patterns need.
  constexpr Uint128 times(std::uint32_t factor) const {
    const std::uint64_t lowLow = (low & 0xFFFFFFFFu) * factor;
    const std::uint64_t lowHigh = (low >> 32) * factor + (lowLow >> 32);
    return {high * factor + (lowHigh >> 32), (lowHigh << 32) | (lowLow & 0xFFFFFFFFu)};
  }
};

// The number in decimal digits.
inline std::string decimalText(Uint128 value) {
  if (value == Uint128{}) return "0";
  // Nine digits at a time: 10^9 fits 32 bits, so each step divides four
  // 32-bit limbs with 64-bit arithmetic.
  constexpr std::uint32_t kChunk = 1000000000u;
  std::string text;
  while (value != Uint128{}) {
    std::uint32_t limbs[4] = {
        static_cast<std::uint32_t>(value.high >> 32), static_cast<std::uint32_t>(value.high),
        static_cast<std::uint32_t>(value.low >> 32), static_cast<std::uint32_t>(value.low)};
    std::uint64_t remainder = 0;
    for (std::uint32_t& limb : limbs) {
      const std::uint64_t current = remainder << 32 | limb;
      limb = static_cast<std::uint32_t>(current / kChunk);
      remainder = current % kChunk;
    }
    value = {std::uint64_t{limbs[0]} << 32 | limbs[1], std::uint64_t{limbs[2]} << 32 | limbs[3]};
    for (int digit = 0; digit < 9 && (value != Uint128{} || remainder != 0); ++digit) {
      text.push_back(static_cast<char>('0' + remainder % 10));
      remainder /= 10;
    }
  }
  return std::string(text.rbegin(), text.rend());
}

}  // namespace fanecho
