// Options come with every request, and a target's requests share them: the
// first shapes the socket, the later ones find it as asked. A socket that
// was shaped is never kept for another target, so a socket is either fresh
// or already shaped with these options. Only runs that ask for an option
// pay its system calls.
#include "platform/linux/shape_linux.h"

#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace fanecho {

namespace {

std::atomic<bool> shaped{false};

std::uint8_t familyNumber(const EchoFamily& family) { return family.domain == AF_INET6 ? 6 : 4; }

bool boundTo(int fd, const IpAddress& source) {
  sockaddr_storage local{};
  socklen_t size = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) return false;
  if (local.ss_family == AF_INET6) {
    return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(local).sin6_addr, source.bytes, 16) ==
           0;
  }
  return std::memcmp(&reinterpret_cast<const sockaddr_in&>(local).sin_addr, source.bytes, 4) == 0;
}

// A socket bound to its identifier cannot be bound to a source as well: a
// fresh one bound to both takes over the descriptor number.
int replaceSocket(const EchoFamily& family, int fd, int type, const IpAddress* source) {
  const int fresh = openEchoSocket(family, type, source);
  if (fresh < 0) return errno;
  const int error = dup3(fresh, fd, O_CLOEXEC) < 0 ? errno : 0;
  close(fresh);
  return error;
}

// SO_BINDTODEVICE holds for every packet, replies included; where the
// kernel refuses it to an ordinary user (before Linux 5.7), IP_UNICAST_IF
// still picks the interface of what is sent.
int bindInterface(const EchoFamily& family, int fd, const char* name) {
  const auto length = static_cast<socklen_t>(std::strlen(name));
  if (setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, name, length) == 0) return 0;
  if (errno != EPERM && errno != EACCES) return errno;
  const unsigned index = if_nametoindex(name);
  if (index == 0) return errno;
  const int value = static_cast<int>(htonl(index));  // both options take network byte order
  const bool six = family.domain == AF_INET6;
  if (setsockopt(fd, six ? IPPROTO_IPV6 : IPPROTO_IP, six ? IPV6_UNICAST_IF : IP_UNICAST_IF, &value,
                 sizeof value) != 0) {
    return errno;
  }
  return 0;
}

}  // namespace

bool socketsShaped() { return shaped.load(); }

int shapeSocket(const EchoFamily& family, int fd, int type, const EchoOptions& options) {
  shaped.store(true);
  const IpAddress* source =
      options.source.family == familyNumber(family) ? &options.source : nullptr;
  if (source != nullptr && !boundTo(fd, *source)) {
    if (const int error = replaceSocket(family, fd, type, source)) return error;
  }
  if (options.interfaceName != nullptr) {
    char bound[IF_NAMESIZE + 1] = "";
    socklen_t size = IF_NAMESIZE;
    getsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, bound, &size);
    if (std::strcmp(bound, options.interfaceName) != 0) {
      if (const int error = bindInterface(family, fd, options.interfaceName)) return error;
    }
  }
  if (options.ttl != 0) {
    const int ttl = options.ttl;
    const bool six = family.domain == AF_INET6;
    if (setsockopt(fd, six ? IPPROTO_IPV6 : IPPROTO_IP, six ? IPV6_UNICAST_HOPS : IP_TTL, &ttl,
                   sizeof ttl) != 0) {
      return errno;
    }
  }
  return 0;
}

}  // namespace fanecho
