// Names through the C library's resolver, forward and reverse.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace fanecho {

bool resolveNamePosix(const char* name, std::uint8_t family, IpAddress& address);
void reverseNamePosix(const IpAddress& address, char* name, std::size_t size);
std::uint32_t interfaceIndexPosix(const char* name);
// Whether requests can leave from this address or through this interface.
const char* sourceProblemPosix(const IpAddress& source);
const char* interfaceProblemPosix(const char* name);

}  // namespace fanecho
