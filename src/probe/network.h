// Start-up and shutdown of the socket library, and name look-ups.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/run_settings.h"

namespace fanecho {

// Prepares consoleLock and starts the socket library. consoleLock is ready
// even when the library is not, so that workers can always report; host
// names then simply fail to resolve. 1 on success, 0 otherwise.
int startNetwork();
void stopNetwork();

// 1 and the first address of `name` in `family` (4, 6 or kFamilyAny); 0
// (address untouched) when the name is not found.
int resolveHostName(const char* name, std::uint8_t family, IpAddress& address);

// Always 1: `name` (kNameBufferSize bytes) holds the host name of the address,
// cut to 99 characters, or the empty text when none is found.
int reverseLookup(const IpAddress& address, char* name);

}  // namespace fanecho
