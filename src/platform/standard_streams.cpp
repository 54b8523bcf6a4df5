#include "platform/standard_streams.h"

#include <cerrno>
#include <cstdio>

namespace fanecho {

int writeStandardOut(const char* text, std::size_t length) {
  errno = 0;
  if (std::fwrite(text, 1, length, stdout) == length) return 0;
  return errno != 0 ? errno : EIO;
}

int flushStandardOut() {
  errno = 0;
  if (std::fflush(stdout) == 0) return 0;
  return errno != 0 ? errno : EIO;
}

void writeStandardError(const char* text, std::size_t length) {
  std::fwrite(text, 1, length, stderr);
  std::fflush(stderr);
}

}  // namespace fanecho
