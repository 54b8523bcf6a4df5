// Address patterns such as 10.1.2-5.7,8: one worker per address they name.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "app/worker_table.h"

namespace fanecho {

// Splits at dots and white space. True when there are exactly four fields.
bool splitPattern(std::string_view pattern, std::array<std::string, 4>& fields);

// Starts a worker for every address of the pattern, in ascending order with
// the fourth field fastest, or writes "illegal IP address". Addresses beyond
// the worker limit are reported one line each.
void expandPattern(std::string_view pattern, WorkerTable& table);

}  // namespace fanecho
