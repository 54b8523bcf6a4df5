// The terminal and the ticker of /progress.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace fanecho {

std::uint32_t errTerminalWidthPosix();
bool outIsTerminalPosix();
ThreadHandle startTickerPosix(void (*tick)(), std::uint32_t periodMs);
void stopTickerPosix(ThreadHandle ticker);

}  // namespace fanecho
