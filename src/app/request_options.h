// Control arguments that shape each request on its way out: the address it
// leaves from (/source:), the interface (/interface:), its TTL (/ttl:), how
// long it waits (/wait:), how many follow a target's failed ones (/retry:)
// and how many leave a second (/rate:).
#pragma once

#include <string_view>

namespace fanecho {

// True when `argument` (with its leading "/" or "-") is one of them; it is
// then applied, or its bad value reported in one line that changes nothing.
bool applyRequestOption(std::string_view argument);

}  // namespace fanecho
