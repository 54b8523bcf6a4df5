// Names through the C library's resolver. Each look-up holds the
// descriptors it may open (LookupDescriptors), so that workers' sockets
// never leave it without one.
#include "platform/linux/names_linux.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/linux/icmp_linux.h"

namespace fanecho {

namespace {

// gethostbyname_r rather than getaddrinfo for IPv4: getaddrinfo sorts the
// addresses of a name by its own rules, and the first address listed is the
// one wanted.
bool resolveName4(const char* name, std::uint8_t octets[4]) {
  const LookupDescriptors held;
  char stackBuffer[2048];
  std::vector<char> heapBuffer;
  char* buffer = stackBuffer;
  std::size_t size = sizeof stackBuffer;
  for (;;) {
    struct hostent entry;
    struct hostent* found = nullptr;
    int error = 0;
    const int failed = gethostbyname_r(name, &entry, buffer, size, &found, &error);
    if (failed == ERANGE && size < 1024 * 1024) {
      heapBuffer.resize(size * 2);
      buffer = heapBuffer.data();
      size = heapBuffer.size();
      continue;
    }
    if (found == nullptr || found->h_addrtype != AF_INET || found->h_length != 4 ||
        found->h_addr_list[0] == nullptr) {
      return false;
    }
    std::memcpy(octets, found->h_addr_list[0], 4);
    return true;
  }
}

}  // namespace

// IPv6 and either family: getaddrinfo, whose order (RFC 6724) is the one
// wanted here, IPv6 first where this host can reach it.
bool resolveNamePosix(const char* name, std::uint8_t family, IpAddress& address) {
  if (family == 4) {
    address = IpAddress{};
    return resolveName4(name, address.bytes);
  }
  const LookupDescriptors held;
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = family == 6 ? AF_INET6 : AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &list) != 0) return false;
  bool found = false;
  for (const addrinfo* entry = list; entry != nullptr && !found; entry = entry->ai_next) {
    IpAddress candidate;
    if (entry->ai_family == AF_INET) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
      std::memcpy(candidate.bytes, &in->sin_addr, 4);
      found = true;
    } else if (entry->ai_family == AF_INET6) {
      const auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry->ai_addr);
      candidate.family = 6;
      std::memcpy(candidate.bytes, &in6->sin6_addr, 16);
      candidate.scopeId = in6->sin6_scope_id;
      found = true;
    }
    if (found) address = candidate;
  }
  freeaddrinfo(list);
  return found;
}

void reverseNamePosix(const IpAddress& address, char* name, std::size_t size) {
  sockaddr_storage target;
  std::memset(&target, 0, sizeof target);
  socklen_t length;
  if (address.family == 6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&target);
    in6->sin6_family = AF_INET6;
    std::memcpy(&in6->sin6_addr, address.bytes, 16);
    in6->sin6_scope_id = address.scopeId;
    length = sizeof *in6;
  } else {
    auto* in = reinterpret_cast<sockaddr_in*>(&target);
    in->sin_family = AF_INET;
    std::memcpy(&in->sin_addr.s_addr, address.bytes, 4);
    length = sizeof *in;
  }
  char host[NI_MAXHOST];
  const LookupDescriptors held;
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&target), length, host, sizeof host, nullptr, 0,
                  NI_NAMEREQD) != 0) {
    name[0] = '\0';
    return;
  }
  std::snprintf(name, size, "%s", host);
}

std::uint32_t interfaceIndexPosix(const char* name) { return if_nametoindex(name); }

// Binding a socket to the address asks the kernel whether one of this
// machine's interfaces holds it.
const char* sourceProblemPosix(const IpAddress& source) {
  sockaddr_storage local{};
  socklen_t length;
  if (source.family == 6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&local);
    in6->sin6_family = AF_INET6;
    std::memcpy(&in6->sin6_addr, source.bytes, 16);
    in6->sin6_scope_id = source.scopeId;
    length = sizeof *in6;
  } else {
    auto* in = reinterpret_cast<sockaddr_in*>(&local);
    in->sin_family = AF_INET;
    std::memcpy(&in->sin_addr, source.bytes, 4);
    length = sizeof *in;
  }
  const int fd = socket(local.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;  // nothing to ask with: the requests will tell
  const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&local), length) == 0;
  const int error = errno;
  close(fd);
  if (bound || error != EADDRNOTAVAIL) return nullptr;
  return "it is not an address of this machine";
}

const char* interfaceProblemPosix(const char* name) {
  return if_nametoindex(name) != 0 ? nullptr : "this machine has no interface of that name";
}

}  // namespace fanecho
