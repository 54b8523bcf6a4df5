// A stand-in iphlpapi.dll for the wine suite: Icmp6CreateFile and
// Icmp6SendEcho2 as Microsoft documents them, which wine 8 lacks, so that
// fanecho.exe's IPv6 echo can be tried. It sends nothing on any network; it
// answers by the destination's second group:
//
//   fd00:1::/64  echoes the request after 1 ms (RoundTripTime 1)
//   fd00:2::/64  silent: waits out the time-out
//   fd00:3::N    echoes after N milliseconds (the last group, hexadecimal)
//   fd00:4::/64  echoes only the first half of the data
//   fd00:5::/64  echoes the data with its last byte changed
//   fd00:6::/64  is answered by fd00:6::ffff instead
//   fd00:8::S    fd00:8::ffff answers with IP_STATUS 110SS, the last group's
//                digits read as decimal ones (fd00:8::13: 11013)
//   anything else: no reply at once
//
// With FANECHO_STAND_IN_LOG naming a file (Z:/tmp/... under wine), every
// IPv6 request adds a line "to D from S hop limit H" there, H "default"
// where no options came, so that the suite sees what /source: and /ttl:
// handed over. The IPv4 calls (IcmpSendEcho, IcmpSendEcho2; not
// IcmpSendEcho2Ex, so fanecho.exe's fallback is what runs) answer 10.99.0.S
// from 10.99.0.254 with IP_STATUS 11000 + S, and nothing else. The adapters
// hold 10.1.0.1 and fd00:1::99, the sources the suite asks for.
//
// A time-out of 0 is refused with ERROR_INVALID_PARAMETER, as Windows does.
// The reply is written byte by byte where the documentation puts it: the
// 26-byte IPV6_ADDRESS_EX, Status at offset 28, RoundTripTime at 32, the
// echoed data from 36. Loaded in place of wine's own iphlpapi.dll, it must
// also export what fanecho.exe and wine's wsock32.dll import from it: the
// tables are not supported.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iptypes.h>
#include <ipexport.h>
// clang-format on

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD kIpSuccess = 0;
constexpr DWORD kIpReqTimedOut = 11010;
constexpr std::size_t kRecordSize = 36;
constexpr std::size_t kStatusOffset = 28;
constexpr std::size_t kRoundTripOffset = 32;
constexpr std::size_t kAddressOffset = 6;  // after sin6_port and sin6_flowinfo
// An ICMP error's 8 bytes and the IO_STATUS_BLOCK the caller must leave room for.
constexpr std::size_t kRoomAfterData = 8 + 2 * sizeof(void*);

// sockaddr_in6 taken as bytes: family, port, flow, address.
constexpr std::size_t kSocketAddressOffset = 8;

void put32(unsigned char* at, DWORD value) { std::memcpy(at, &value, sizeof value); }

HANDLE newHandle() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

// 0x13 -> 13: a group's hexadecimal digits read as decimal ones.
unsigned decimalDigits(unsigned group) {
  unsigned value = 0;
  for (int shift = 12; shift >= 0; shift -= 4) value = value * 10 + (group >> shift & 15);
  return value;
}

void appendAddress(char*& at, const unsigned char* address) {
  for (int group = 0; group < 8; ++group) {
    at += std::sprintf(at, group == 0 ? "%x" : ":%x",
                       address[2 * group] << 8 | address[2 * group + 1]);
  }
}

// One line a request, in one write: the workers call at once.
void logRequest(const unsigned char* destination, const void* source, const void* options) {
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("FANECHO_STAND_IN_LOG", path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  char line[200];
  char* at = line + std::sprintf(line, "to ");
  appendAddress(at, destination);
  at += std::sprintf(at, " from ");
  if (source != nullptr) {
    appendAddress(at, static_cast<const unsigned char*>(source) + kSocketAddressOffset);
  } else {
    at += std::sprintf(at, "nowhere");
  }
  if (options != nullptr) {
    at += std::sprintf(at, " hop limit %u\n",
                       static_cast<const IP_OPTION_INFORMATION*>(options)->Ttl);
  } else {
    at += std::sprintf(at, " hop limit default\n");
  }
  const HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(file, line, static_cast<DWORD>(at - line), &written, nullptr);
  CloseHandle(file);
}

// The IPv4 calls: 10.99.0.S has 10.99.0.254 answer with IP_STATUS 11000 + S.
DWORD echo4(IPAddr destination, LPVOID replyBuffer, DWORD replySize) {
  const auto* octets = reinterpret_cast<const unsigned char*>(&destination);
  if (octets[0] == 10 && octets[1] == 99 && octets[2] == 0 && replyBuffer != nullptr &&
      replySize >= sizeof(ICMP_ECHO_REPLY)) {
    auto* record = static_cast<ICMP_ECHO_REPLY*>(replyBuffer);
    std::memset(record, 0, sizeof *record);
    const unsigned char router[4] = {10, 99, 0, 254};
    std::memcpy(&record->Address, router, 4);
    record->Status = 11000 + octets[3];
    return 1;
  }
  if (replyBuffer != nullptr && replySize >= 8)
    put32(static_cast<unsigned char*>(replyBuffer) + 4, kIpReqTimedOut);
  SetLastError(kIpReqTimedOut);
  return 0;
}

}  // namespace

extern "C" {

__declspec(dllexport) HANDLE WINAPI Icmp6CreateFile() { return newHandle(); }

__declspec(dllexport) DWORD WINAPI
    Icmp6SendEcho2(HANDLE handle, HANDLE event, FARPROC apcRoutine, PVOID apcContext, void* source,
                   void* destination, LPVOID requestData, WORD requestSize, void* options,
                   LPVOID replyBuffer, DWORD replySize, DWORD timeout) {
  (void)apcContext;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || event != nullptr ||
      apcRoutine != nullptr || destination == nullptr || replyBuffer == nullptr || timeout == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (replySize < kRecordSize + requestSize + kRoomAfterData) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  unsigned char target[16];
  std::memcpy(target, static_cast<const unsigned char*>(destination) + kSocketAddressOffset, 16);
  const bool inFd00 = target[0] == 0xfd && target[1] == 0x00 && target[2] == 0x00 &&
                      std::memcmp(target + 4, "\0\0\0\0", 4) == 0;
  const unsigned kind = inFd00 ? target[3] : 0;
  auto* reply = static_cast<unsigned char*>(replyBuffer);
  logRequest(target, source, options);

  if (kind == 8) {
    std::memset(reply, 0, kRecordSize);
    std::memcpy(reply + kAddressOffset, target, 16);
    reply[kAddressOffset + 14] = reply[kAddressOffset + 15] = 0xff;
    put32(reply + kStatusOffset, 11000 + decimalDigits(target[14] << 8 | target[15]));
    return 1;
  }

  if (kind == 2) {
    Sleep(timeout);
  }
  if (kind < 1 || kind > 6 || kind == 2) {
    std::memset(reply, 0, kRecordSize);
    put32(reply + kStatusOffset, kIpReqTimedOut);
    SetLastError(kIpReqTimedOut);
    return 0;
  }
  const DWORD roundTrip = kind == 3 ? static_cast<DWORD>(target[14] << 8 | target[15]) : 1;
  Sleep(roundTrip);

  std::memset(reply, 0, kRecordSize);
  std::memcpy(reply + kAddressOffset, target, 16);
  if (kind == 6) reply[kAddressOffset + 14] = reply[kAddressOffset + 15] = 0xff;
  put32(reply + kStatusOffset, kIpSuccess);
  put32(reply + kRoundTripOffset, roundTrip);
  const std::size_t echoed = kind == 4 ? requestSize / 2u : requestSize;
  std::memcpy(reply + kRecordSize, requestData, echoed);
  if (kind == 5 && requestSize > 0) reply[kRecordSize + requestSize - 1] ^= 0x5a;
  return 1;
}

__declspec(dllexport) HANDLE WINAPI IcmpCreateFile() { return newHandle(); }

__declspec(dllexport) BOOL WINAPI IcmpCloseHandle(HANDLE handle) { return CloseHandle(handle); }

__declspec(dllexport) DWORD WINAPI IcmpSendEcho(HANDLE, IPAddr destination, LPVOID, WORD, void*,
                                                LPVOID replyBuffer, DWORD replySize, DWORD) {
  return echo4(destination, replyBuffer, replySize);
}

__declspec(dllexport) DWORD WINAPI
    IcmpSendEcho2(HANDLE, HANDLE, FARPROC, PVOID, IPAddr destination, LPVOID, WORD, void*,
                  LPVOID replyBuffer, DWORD replySize, DWORD) {
  return echo4(destination, replyBuffer, replySize);
}

// One adapter with one address of each family.
__declspec(dllexport) ULONG WINAPI
    GetAdaptersAddresses(ULONG family, ULONG, PVOID, IP_ADAPTER_ADDRESSES* adapters, PULONG size) {
  struct Block {
    IP_ADAPTER_ADDRESSES adapter;
    IP_ADAPTER_UNICAST_ADDRESS unicast[2];
    sockaddr_in address4;
    sockaddr_in6 address6;
  };
  if (size == nullptr) return ERROR_INVALID_PARAMETER;
  if (adapters == nullptr || *size < sizeof(Block)) {
    *size = sizeof(Block);
    return ERROR_BUFFER_OVERFLOW;
  }
  auto* block = reinterpret_cast<Block*>(adapters);
  std::memset(block, 0, sizeof *block);
  block->address4.sin_family = AF_INET;
  const unsigned char address4[4] = {10, 1, 0, 1};
  std::memcpy(&block->address4.sin_addr, address4, 4);
  block->address6.sin6_family = AF_INET6;
  const unsigned char address6[16] = {0xfd, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x99};
  std::memcpy(&block->address6.sin6_addr, address6, 16);
  IP_ADAPTER_UNICAST_ADDRESS* last = nullptr;
  const auto add = [&](int which, sockaddr* address, int length) {
    IP_ADAPTER_UNICAST_ADDRESS& unicast = block->unicast[which];
    unicast.Length = sizeof unicast;
    unicast.Address.lpSockaddr = address;
    unicast.Address.iSockaddrLength = length;
    if (last == nullptr) {
      block->adapter.FirstUnicastAddress = &unicast;
    } else {
      last->Next = &unicast;
    }
    last = &unicast;
  };
  if (family != AF_INET6)
    add(0, reinterpret_cast<sockaddr*>(&block->address4), sizeof block->address4);
  if (family != AF_INET)
    add(1, reinterpret_cast<sockaddr*>(&block->address6), sizeof block->address6);
  block->adapter.Length = sizeof block->adapter;
  return NO_ERROR;
}

// What wine's wsock32.dll imports; none of it is called on fanecho's paths.
__declspec(dllexport) DWORD WINAPI GetIfEntry(void*) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetIfTable(void*, PULONG, BOOL) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetIpAddrTable(void*, PULONG, BOOL) {
  return ERROR_NOT_SUPPORTED;
}
__declspec(dllexport) DWORD WINAPI GetIpForwardTable(void*, PULONG, BOOL) {
  return ERROR_NOT_SUPPORTED;
}
__declspec(dllexport) DWORD WINAPI GetIpNetTable(void*, PULONG, BOOL) {
  return ERROR_NOT_SUPPORTED;
}
__declspec(dllexport) DWORD WINAPI GetIpStatistics(void*) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetNumberOfInterfaces(PDWORD count) {
  if (count != nullptr) *count = 0;
  return NO_ERROR;
}
__declspec(dllexport) DWORD WINAPI GetTcpStatistics(void*) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetTcpTable(void*, PDWORD, BOOL) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetUdpStatistics(void*) { return ERROR_NOT_SUPPORTED; }

}  // extern "C"
