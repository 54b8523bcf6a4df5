// Standard output and error through the C library, the same on every
// platform; each back end puts these in its table.
#pragma once

#include <cstddef>

namespace fanecho {

// 0, or the error (an errno value) that kept the text from being written.
int writeStandardOut(const char* text, std::size_t length);
int flushStandardOut();
void writeStandardError(const char* text, std::size_t length);

}  // namespace fanecho
