// ICMPv6 echo through Linux ICMPv6 sockets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace fanecho {

// Null when ICMPv6 echo requests can be sent; familyMissing when the kernel
// has no IPv6 at all (EAFNOSUPPORT).
const char* icmp6ProblemPosix(bool& familyMissing);
IcmpHandle icmp6CreatePosix();
std::uint32_t icmp6SendEchoPosix(IcmpHandle handle, const EchoRequest& request, EchoReply& reply,
                                 std::uint8_t* dataArea, std::size_t dataAreaSize);
void icmp6ClosePosix(IcmpHandle handle);
// The notice about IPv6 requests that could not leave; null when none.
const char* localSendProblem6Posix();

}  // namespace fanecho
