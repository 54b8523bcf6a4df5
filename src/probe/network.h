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

// What the platform says of echo requests to a family (4 or 6), asked once
// per family and run whichever thread needs it first: null when they can be
// sent, else the platform's one-line explanation; `missing` when the system
// lacks that family's echo outright.
struct EchoFamilyAnswer {
  const char* problem;
  bool missing;
};
EchoFamilyAnswer askEchoFamily(std::uint8_t family);

// For a worker whose name resolved to a family nobody had asked about: true
// when its requests can be sent; otherwise the family's line is written,
// once a run, and the target fails unsent like the family's addresses.
bool echoFamilyUsable(std::uint8_t family);

// Forgets the answers and the line written (a new run in the same process).
void resetEchoFamilies();

// Always 1: `name` (kNameBufferSize bytes) holds the host name of the address,
// cut to 99 characters, or the empty text when none is found.
int reverseLookup(const IpAddress& address, char* name);

}  // namespace fanecho
