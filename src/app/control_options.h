// Control arguments: "/" or "-" followed by a keyword.
#pragma once

#include <cstdint>
#include <string_view>

#include "app/worker_table.h"

namespace fanecho {

// Changes the settings, reads an include file, writes the help, or reports
// the argument as invalid. `argument` still has its leading "/" or "-".
void applyControlArgument(std::string_view argument, WorkerTable& table);

// Whether the body of a control argument (without its "/" or "-") begins
// with the keyword, letters matched without regard to case.
bool startsWithKeyword(std::string_view body, std::string_view keyword);

// A signed decimal number after optional white space and sign; whatever
// follows the digits is ignored, no digits give 0. Values beyond the 32-bit
// range saturate instead of wrapping.
std::int32_t readSettingNumber(std::string_view value);

// The settings' stored forms: no wrap-around and no negative counts.
std::uint32_t timeoutFromSeconds(std::int32_t seconds);
std::uint32_t cappedPayloadSize(std::int32_t bytes);
std::uint32_t echoCountFrom(std::int32_t number);
std::uint32_t intervalFrom(std::int32_t milliseconds);

inline constexpr int kHelpLineCount = 19;
extern const std::string_view helpLines[kHelpLineCount];

}  // namespace fanecho
