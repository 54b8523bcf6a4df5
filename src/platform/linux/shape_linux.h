// A request's options (source, interface, TTL) applied to its socket.
#pragma once

#include "platform/linux/icmp_linux.h"

namespace fanecho {

// Whether any option asks for more than the system's default.
inline bool shapesRequest(const EchoOptions& options) {
  return options.source.family != 0 || options.interfaceName != nullptr || options.ttl != 0;
}

// Makes the socket `fd` send as `options` ask, before the request leaves: 0,
// or the errno of what failed. Where the socket is not bound to the source
// yet, a fresh one bound to it takes its descriptor number, so the caller's
// handle stays valid.
int shapeSocket(const EchoFamily& family, int fd, int type, const EchoOptions& options);

// True once a socket was shaped in this run. Such a socket is never kept
// for a later worker, which may ask for other options or none.
bool socketsShaped();

}  // namespace fanecho
