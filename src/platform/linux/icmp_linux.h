// ICMP echo through Linux ICMP sockets, and the process's descriptors.
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

// Holds the descriptors one name look-up may open, for its lifetime:
// workers' sockets leave room for them, and a look-up waits while others
// hold it.
class LookupDescriptors {
 public:
  LookupDescriptors();
  ~LookupDescriptors();
  LookupDescriptors(const LookupDescriptors&) = delete;
  LookupDescriptors& operator=(const LookupDescriptors&) = delete;
};

// True after a pause when `error` says descriptors ran short and a socket
// of ours is open that will close: worth trying again.
bool waitForFreeDescriptor(int error);

// An ICMPv6 socket counted among ours before it is opened (waiting while
// the sockets' share is taken, so that look-ups keep their room), and
// uncounted once it is closed or could not be opened.
void countIcmp6Socket();
void uncountIcmp6Socket();

// Closes the sockets kept for later workers.
void closeKeptSockets();

}  // namespace fanecho
