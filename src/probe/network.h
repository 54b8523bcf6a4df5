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

// 1 and the four octets of the first IPv4 address of `name`; 0 (octets
// untouched) when the name is not found.
int resolveHostName(const char* name, std::uint16_t octets[4]);

// Always 1: `name` (kNameBufferSize bytes) holds the host name of the address,
// cut to 99 characters, or the empty text when none is found.
int reverseLookup(std::uint32_t address, char* name);

}  // namespace fanecho
