// ICMP echo through Linux ICMP sockets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace fanecho {

const char* icmpProblemPosix();
IcmpHandle icmpCreatePosix();
std::uint32_t icmpSendEchoPosix(IcmpHandle handle, std::uint32_t address, const void* request,
                                std::uint16_t requestSize, EchoReply* reply, std::uint8_t* dataArea,
                                std::size_t dataAreaSize, std::uint32_t timeoutMs);
void icmpClosePosix(IcmpHandle handle);
const char* localSendProblemPosix();

// True after a short pause when a call failed for want of descriptors and
// sockets of ours are open that will be closed soon: worth trying again.
bool waitForFreeDescriptor(int error);

// How often a socket, a file or a look-up of ours has found no descriptor
// free: a change while a look-up ran says it may have failed for want of one.
unsigned descriptorShortageCount();
void noteDescriptorShortage();

// Closes the sockets kept for later workers; true when there were some.
bool releaseIdleSockets();

// True when our sockets hold nearly every descriptor the process may open,
// so that a look-up may have failed for want of one.
bool descriptorsTight();

}  // namespace fanecho
