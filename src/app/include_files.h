// Include files: further arguments, one to a line.
#pragma once

#include <string_view>

#include "app/worker_table.h"

namespace fanecho {

// Longest piece of a line handed on as one argument.
inline constexpr std::size_t kIncludeLineLength = 99;
// Files open at once, counting the outermost.
inline constexpr std::uint32_t kMaxIncludeDepth = 11;

// Dispatches every line of the file that is neither blank nor a comment,
// in order, while the file is read. Files nest up to kMaxIncludeDepth deep.
void processIncludeFile(std::string_view name, WorkerTable& table);

}  // namespace fanecho
