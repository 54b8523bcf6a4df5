// Where requests may leave from: the adapters' addresses.
#include <cstdlib>
#include <cstring>

#include "platform/win32/back_end_win32.h"

namespace fanecho::win32 {

// The adapters' unicast addresses: is the source one of them?
const char* sourceProblem(const IpAddress& source) {
  ULONG size = 16 * 1024;
  for (int tries = 0; tries < 3; ++tries) {
    auto* adapters = static_cast<IP_ADAPTER_ADDRESSES*>(std::malloc(size));
    if (adapters == nullptr) return nullptr;
    const ULONG result = GetAdaptersAddresses(
        source.family == 6 ? AF_INET6 : AF_INET,
        GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER, nullptr,
        adapters, &size);
    if (result == ERROR_BUFFER_OVERFLOW) {
      std::free(adapters);
      continue;
    }
    bool found = false;
    for (const IP_ADAPTER_ADDRESSES* adapter = result == NO_ERROR ? adapters : nullptr;
         adapter != nullptr && !found; adapter = adapter->Next) {
      for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
           unicast != nullptr && !found; unicast = unicast->Next) {
        const sockaddr* address = unicast->Address.lpSockaddr;
        if (source.family == 6 && address->sa_family == AF_INET6) {
          found = std::memcmp(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr,
                              source.bytes, 16) == 0;
        } else if (source.family != 6 && address->sa_family == AF_INET) {
          found = std::memcmp(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr,
                              source.bytes, 4) == 0;
        }
      }
    }
    std::free(adapters);
    // Where the adapters could not be listed, the requests will tell.
    return found || result != NO_ERROR ? nullptr : "it is not an address of this machine";
  }
  return nullptr;
}

// The ICMP helper API picks the interface by the route alone.
const char* interfaceProblem(const char*) {
  return "Windows cannot choose the interface echo requests leave through";
}

}  // namespace fanecho::win32
