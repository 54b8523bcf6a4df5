// Address patterns such as 10.1.2-5.7,8: the addresses they name.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace fanecho {

// Splits at dots and white space. True when there are exactly four fields.
bool splitPattern(std::string_view pattern, std::array<std::string, 4>& fields);

// Takes each address of a pattern: its value as packAddress makes it, and
// its dotted label.
using AddressSink = std::function<void(std::uint32_t address, std::string_view label)>;

// Hands every address of the pattern to `sink`, in ascending order with the
// fourth field fastest, or writes "illegal IP address".
void expandPattern(std::string_view pattern, const AddressSink& sink);

}  // namespace fanecho
