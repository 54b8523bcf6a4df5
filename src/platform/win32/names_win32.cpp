// Names: WinSock 1.1 for IPv4 ones, getaddrinfo and getnameinfo (ws2_32)
// for IPv6 ones.
#include <algorithm>
#include <cstring>

#include "platform/win32/back_end_win32.h"

namespace fanecho::win32 {

bool startSockets() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return false;
  if (data.wVersion != MAKEWORD(1, 1)) {
    WSACleanup();
    return false;
  }
  return true;
}

void stopSockets() { WSACleanup(); }

namespace {

// IPv6 and either family: getaddrinfo, in the resolver's order.
bool resolveAnyName(const char* name, std::uint8_t family, IpAddress& address) {
  const Ipv6Api& api = ipv6Api();
  if (api.getAddrInfo == nullptr || api.freeAddrInfo == nullptr) return false;
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = family == 6 ? AF_INET6 : AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* list = nullptr;
  if (api.getAddrInfo(name, nullptr, &hints, &list) != 0) return false;
  bool found = false;
  for (const addrinfo* item = list; item != nullptr && !found; item = item->ai_next) {
    IpAddress candidate;
    if (item->ai_family == AF_INET) {
      std::memcpy(candidate.bytes, &reinterpret_cast<const sockaddr_in*>(item->ai_addr)->sin_addr,
                  4);
      found = true;
    } else if (item->ai_family == AF_INET6) {
      const auto* in6 = reinterpret_cast<const sockaddr_in6*>(item->ai_addr);
      candidate.family = 6;
      std::memcpy(candidate.bytes, &in6->sin6_addr, 16);
      candidate.scopeId = in6->sin6_scope_id;
      found = true;
    }
    if (found) address = candidate;
  }
  api.freeAddrInfo(list);
  return found;
}
}  // namespace

sockaddr_in6 socketAddress6(const IpAddress& address) {
  sockaddr_in6 socket;
  std::memset(&socket, 0, sizeof socket);
  socket.sin6_family = AF_INET6;
  std::memcpy(&socket.sin6_addr, address.bytes, 16);
  socket.sin6_scope_id = address.scopeId;
  return socket;
}

bool resolveName(const char* name, std::uint8_t family, IpAddress& address) {
  if (family != 4) return resolveAnyName(name, family, address);
  // The record belongs to WinSock (one per thread): copy out of it at once.
  const hostent* host = gethostbyname(name);
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 ||
      host->h_addr_list[0] == nullptr) {
    return false;
  }
  address = IpAddress{};
  std::memcpy(address.bytes, host->h_addr_list[0], 4);
  return true;
}

void reverseName(const IpAddress& address, char* name, std::size_t size) {
  if (size == 0) return;
  if (address.family == 6) {
    name[0] = '\0';
    const Ipv6Api& api = ipv6Api();
    const sockaddr_in6 target = socketAddress6(address);
    char host[NI_MAXHOST];
    if (api.getNameInfo == nullptr ||
        api.getNameInfo(reinterpret_cast<const sockaddr*>(&target), sizeof target, host,
                        sizeof host, nullptr, 0, NI_NAMEREQD) != 0) {
      return;
    }
    std::snprintf(name, size, "%s", host);
    return;
  }
  const hostent* host = gethostbyaddr(reinterpret_cast<const char*>(address.bytes), 4, AF_INET);
  if (host == nullptr || host->h_name == nullptr) {
    name[0] = '\0';
    return;
  }
  const std::size_t length = std::min(std::strlen(host->h_name), size - 1);
  std::memcpy(name, host->h_name, length);
  name[length] = '\0';
}

std::uint32_t interfaceIndex(const char*) { return 0; }

}  // namespace fanecho::win32
