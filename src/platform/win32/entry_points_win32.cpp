// The entry points looked up at run time (see back_end_win32.h).
#include "platform/win32/back_end_win32.h"

namespace fanecho::win32 {

namespace {

template <typename Function>
Function entry(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

const Ipv6Api& ipv6Api() {
  static const Ipv6Api api = [] {
    Ipv6Api found;
    const HMODULE sockets = LoadLibraryA("ws2_32.dll");
    found.getAddrInfo = entry<Ipv6Api::GetAddrInfo>(sockets, "getaddrinfo");
    found.freeAddrInfo = entry<Ipv6Api::FreeAddrInfo>(sockets, "freeaddrinfo");
    found.getNameInfo = entry<Ipv6Api::GetNameInfo>(sockets, "getnameinfo");
    const HMODULE helper = LoadLibraryA("iphlpapi.dll");
    found.icmp6CreateFile = entry<Ipv6Api::CreateFile6>(helper, "Icmp6CreateFile");
    found.icmp6SendEcho2 = entry<Ipv6Api::SendEcho6>(helper, "Icmp6SendEcho2");
    return found;
  }();
  return api;
}

SendEcho4Ex icmpSendEcho2Ex() {
  static const SendEcho4Ex found =
      entry<SendEcho4Ex>(LoadLibraryA("iphlpapi.dll"), "IcmpSendEcho2Ex");
  return found;
}

}  // namespace fanecho::win32
