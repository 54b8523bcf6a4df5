// Win32 back end: WinSock 1.1 for IPv4 names, getaddrinfo and getnameinfo
// (ws2_32) for IPv6 ones, the ICMP helper API for echoes, Win32 threads and
// a critical section for the console lock.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "platform/standard_streams.h"

namespace fanecho {

namespace {

static_assert(MAXIMUM_WAIT_OBJECTS == kMaxWaitHandles);
#ifndef _WIN64
// The layout every 32-bit Windows and its ICMP.dll agree on.
static_assert(sizeof(ICMP_ECHO_REPLY) == 28);
#endif
static_assert(IP_SUCCESS == kIpSuccess && IP_REQ_TIMED_OUT == kIpReqTimedOut &&
              IP_DEST_HOST_UNREACHABLE == kIpDestHostUnreachable &&
              IP_GENERAL_FAILURE == kIpGeneralFailure && IP_NO_RESOURCES == kIpNoResources);

// A worker needs little stack: a reply buffer and what the resolver uses.
// Reserving the default 1 MiB would let only about 1900 workers fit in the
// 2 GiB of a 32-bit process; 128 KiB lets all 10000 of them exist at once.
constexpr SIZE_T kWorkerStackReservation = 128 * 1024;

// The reply buffer must hold a reply record, the request's data and 8 more
// bytes, room for an ICMP error message.
constexpr std::size_t kIcmpErrorRoom = 8;

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

// The IPv6 entry points, looked up at run time: the program still starts
// where a system lacks them, and its IPv6 targets then fail.
struct Ipv6Api {
  using GetAddrInfo = int(WSAAPI*)(const char*, const char*, const addrinfo*, addrinfo**);
  using FreeAddrInfo = void(WSAAPI*)(addrinfo*);
  using GetNameInfo = int(WSAAPI*)(const sockaddr*, socklen_t, char*, DWORD, char*, DWORD, int);
  using CreateFile6 = HANDLE(WINAPI*)();
  using SendEcho6 = DWORD(WINAPI*)(HANDLE, HANDLE, FARPROC, PVOID, sockaddr_in6*, sockaddr_in6*,
                                   LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID, DWORD, DWORD);
  GetAddrInfo getAddrInfo = nullptr;
  FreeAddrInfo freeAddrInfo = nullptr;
  GetNameInfo getNameInfo = nullptr;
  CreateFile6 icmp6CreateFile = nullptr;
  SendEcho6 icmp6SendEcho2 = nullptr;
};

template <typename Function>
Function entry(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

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

// IPv6 echo needs Icmp6CreateFile, which wine 8 does not implement
// (ERROR_CALL_NOT_IMPLEMENTED), and Icmp6SendEcho2. Tried once.
const char* icmpProblem(std::uint8_t family, bool& familyMissing) {
  familyMissing = false;
  if (family != 6) return nullptr;
  const Ipv6Api& api = ipv6Api();
  bool works = false;
  if (api.icmp6CreateFile != nullptr && api.icmp6SendEcho2 != nullptr) {
    const HANDLE handle = api.icmp6CreateFile();
    works = handle != INVALID_HANDLE_VALUE && handle != nullptr;
    if (works) IcmpCloseHandle(handle);
  }
  if (works) return nullptr;
  familyMissing = true;
  return "fanecho: IPv6 echo is not available on this system; IPv6 targets are counted as failed";
}

// The last reason a request could not leave this machine.
std::atomic<DWORD> lastLocalSendError{0};

// Failures of the ICMP helper API that are ours, not the target's, and
// may pass: the system was short of memory or buffers for the moment.
bool isLocalShortage(DWORD error) {
  return error == IP_NO_RESOURCES || error == ERROR_NOT_ENOUGH_MEMORY ||
         error == ERROR_OUTOFMEMORY || error == ERROR_NO_SYSTEM_RESOURCES ||
         error == ERROR_NOT_ENOUGH_QUOTA || error == WSAENOBUFS;
}

const char* localSendProblem() {
  const DWORD error = lastLocalSendError.load(std::memory_order_relaxed);
  if (error == 0) return nullptr;
  static char message[200];
  std::snprintf(message, sizeof message,
                "The ICMP helper API said: error %lu, out of memory or buffers. Likely causes: a "
                "full neighbour (ARP) cache or send queue; probe fewer targets at once.",
                static_cast<unsigned long>(error));
  return message;
}

IcmpHandle icmpCreate(std::uint8_t family) {
  if (family == 6) {
    const Ipv6Api& api = ipv6Api();
    if (api.icmp6CreateFile == nullptr) return reinterpret_cast<IcmpHandle>(INVALID_HANDLE_VALUE);
    return reinterpret_cast<IcmpHandle>(api.icmp6CreateFile());
  }
  return reinterpret_cast<IcmpHandle>(IcmpCreateFile());
}

// The helper API knows whole milliseconds only.
std::uint32_t microsecondsOf(std::uint32_t milliseconds) {
  return milliseconds > 0xFFFFFFFFu / 1000 ? 0xFFFFFFFFu : milliseconds * 1000;
}

// ICMPV6_ECHO_REPLY as Windows lays it out (packed, 34 bytes); the echoed
// data follows it. mingw-w64's headers leave out the packing.
#pragma pack(push, 1)
struct Echo6Reply {
  std::uint16_t port;
  std::uint32_t flowInfo;
  std::uint16_t address[8];
  std::uint32_t scopeId;
  std::uint32_t status;
  std::uint32_t roundTripTime;
};
#pragma pack(pop)
static_assert(sizeof(Echo6Reply) == 34);

std::uint32_t icmpSendEcho6(IcmpHandle handle, const IpAddress& target, const void* request,
                            std::uint16_t requestSize, EchoReply* reply, std::uint8_t* dataArea,
                            std::size_t dataAreaSize, std::uint32_t timeoutMs) {
  const Ipv6Api& api = ipv6Api();
  const auto icmp = reinterpret_cast<HANDLE>(handle);
  if (api.icmp6SendEcho2 == nullptr || icmp == INVALID_HANDLE_VALUE || icmp == nullptr) {
    reply->Status = kIpGeneralFailure;
    return 0;
  }
  sockaddr_in6 source;
  std::memset(&source, 0, sizeof source);
  source.sin6_family = AF_INET6;
  sockaddr_in6 destination = socketAddress6(target);
  // Room for the record, the data, an ICMP error and the status block the
  // API puts at the end.
  union {
    Echo6Reply record;
    unsigned char bytes[sizeof(Echo6Reply) + kLargestRequest + kIcmpErrorRoom + 64];
  } area;
  std::memset(&area, 0, sizeof area);
  const DWORD count = api.icmp6SendEcho2(icmp, nullptr, nullptr, nullptr, &source, &destination,
                                         const_cast<void*>(request), requestSize, nullptr, &area,
                                         sizeof area, timeoutMs);
  if (count == 0) {
    const DWORD error = area.record.status == IP_NO_RESOURCES ? IP_NO_RESOURCES : GetLastError();
    if (isLocalShortage(error)) {
      lastLocalSendError.store(error, std::memory_order_relaxed);
      reply->Status = kIpNoResources;
      return 0;
    }
    reply->Status = area.record.status != 0 ? area.record.status : kIpReqTimedOut;
    return 0;
  }
  // A reply from another host is no answer from the target.
  if (area.record.status == IP_SUCCESS && std::memcmp(area.record.address, target.bytes, 16) != 0) {
    reply->Status = kIpGeneralFailure;
    return 0;
  }
  reply->Status = area.record.status;
  reply->RoundTripTime = area.record.roundTripTime;
  reply->RoundTripTimeUs = microsecondsOf(area.record.roundTripTime);
  // The record carries no data size: the API hands on a reply only where it
  // is as long as the request.
  reply->DataSize = requestSize;
  std::memcpy(dataArea, area.bytes + sizeof(Echo6Reply),
              std::min<std::size_t>(requestSize, dataAreaSize));
  reply->Data = dataArea;
  return count;
}

void icmpClose(IcmpHandle handle) { IcmpCloseHandle(reinterpret_cast<HANDLE>(handle)); }

std::uint32_t icmpSendEcho(IcmpHandle handle, const IpAddress& target, const void* request,
                           std::uint16_t requestSize, EchoReply* reply, std::uint8_t* dataArea,
                           std::size_t dataAreaSize, std::uint32_t timeoutMs) {
  if (target.family == 6) {
    return icmpSendEcho6(handle, target, request, requestSize, reply, dataArea, dataAreaSize,
                         timeoutMs);
  }
  const std::uint32_t address = target.packed();
  union {
    ICMP_ECHO_REPLY record;
    unsigned char bytes[sizeof(ICMP_ECHO_REPLY) + kLargestRequest + kIcmpErrorRoom];
  } area;
  std::memset(&area, 0, sizeof area);
  // The caller judges the record as the call leaves it, its preset Status
  // included when the call writes nothing.
  area.record.Status = reply->Status;
  // The whole area, whatever was sent: a reply longer than the request must
  // still fit, to be judged as wrong data rather than lost as too big.
  const DWORD replySize = sizeof area;
  const DWORD count =
      IcmpSendEcho(reinterpret_cast<HANDLE>(handle), static_cast<IPAddr>(address),
                   const_cast<void*>(request), requestSize, nullptr, &area, replySize, timeoutMs);
  if (count == 0) {
    const DWORD error = area.record.Status == IP_NO_RESOURCES ? IP_NO_RESOURCES : GetLastError();
    if (isLocalShortage(error)) {
      lastLocalSendError.store(error, std::memory_order_relaxed);
      reply->Status = kIpNoResources;
      return 0;
    }
  }

  // A reply that carries our identifier and sequence number but comes from
  // another host is no answer from the target, as on Linux. wine's ICMP
  // layer does not check the source.
  if (count != 0 && area.record.Status == IP_SUCCESS && area.record.Address != address) {
    reply->Status = kIpGeneralFailure;
    return 0;
  }
  reply->Status = area.record.Status;
  reply->RoundTripTime = area.record.RoundTripTime;
  reply->RoundTripTimeUs = microsecondsOf(area.record.RoundTripTime);
  reply->DataSize = area.record.DataSize;
  reply->Data = nullptr;
  // Data points into our buffer; never read past what the call was given.
  const auto* data = static_cast<const unsigned char*>(area.record.Data);
  const unsigned char* end = area.bytes + replySize;
  if (data != nullptr && data >= area.bytes && data <= end) {
    const std::size_t available = static_cast<std::size_t>(end - data);
    std::memcpy(
        dataArea, data,
        std::min({static_cast<std::size_t>(area.record.DataSize), available, dataAreaSize}));
    reply->Data = dataArea;
  }
  return count;
}

// What a new thread runs; made by startThread, released by the thread.
struct ThreadStart {
  ThreadRoutine routine;
  void* argument;
};

// Win32 calls a thread routine with its own calling convention and result.
DWORD WINAPI runRoutine(LPVOID start) {
  const ThreadStart what = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  what.routine(what.argument);
  return 0;
}

ThreadHandle startThread(ThreadRoutine routine, void* argument, ThreadPriority priority) {
  auto* start = new (std::nothrow) ThreadStart{routine, argument};
  if (start == nullptr) return nullptr;
  HANDLE thread = CreateThread(nullptr, kWorkerStackReservation, runRoutine, start,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) {
    delete start;
    return nullptr;
  }
  if (priority == ThreadPriority::belowNormal)
    SetThreadPriority(thread, THREAD_PRIORITY_BELOW_NORMAL);
  return thread;
}

bool waitForThreads(const ThreadHandle* handles, std::uint32_t count) {
  const DWORD result = WaitForMultipleObjects(count, handles, TRUE, INFINITE);
  return result - WAIT_OBJECT_0 < count;
}

void sleepMs(std::uint32_t milliseconds) { SleepEx(milliseconds, FALSE); }

std::uint64_t monotonicMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// Initialised on first use, so the lock works even before consoleLockInit.
CRITICAL_SECTION& consoleSection() {
  static CRITICAL_SECTION* const section = [] {
    static CRITICAL_SECTION storage;
    InitializeCriticalSection(&storage);
    return &storage;
  }();
  return *section;
}

void consoleLockInit() { consoleSection(); }
void consoleLockEnter() { EnterCriticalSection(&consoleSection()); }
void consoleLockLeave() { LeaveCriticalSection(&consoleSection()); }

// Windows has no small limit on handles to wait out.
bool awaitFreeDescriptor(int) { return false; }

}  // namespace

// The console and the ticker of /progress.
namespace {

// A console answers GetConsoleMode; a file or pipe does not.
bool isConsole(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode) != 0;
}

std::uint32_t errTerminalWidth() {
  if (!isConsole(STD_ERROR_HANDLE)) return 0;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) == 0) return 80;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? static_cast<std::uint32_t>(columns) : 80;
}

bool outIsTerminal() { return isConsole(STD_OUTPUT_HANDLE); }

struct Ticker {
  HANDLE stop;
  HANDLE thread;
  void (*tick)();
  DWORD periodMs;
};

DWORD WINAPI runTicker(LPVOID record) {
  const Ticker& ticker = *static_cast<const Ticker*>(record);
  while (WaitForSingleObject(ticker.stop, ticker.periodMs) == WAIT_TIMEOUT) ticker.tick();
  return 0;
}

ThreadHandle startTicker(void (*tick)(), std::uint32_t periodMs) {
  auto* ticker = new (std::nothrow) Ticker{nullptr, nullptr, tick, periodMs};
  if (ticker == nullptr) return nullptr;
  ticker->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (ticker->stop != nullptr) {
    ticker->thread = CreateThread(nullptr, kWorkerStackReservation, runTicker, ticker,
                                  STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  }
  if (ticker->thread == nullptr) {
    if (ticker->stop != nullptr) CloseHandle(ticker->stop);
    delete ticker;
    return nullptr;
  }
  return ticker;
}

void stopTicker(ThreadHandle handle) {
  auto* ticker = static_cast<Ticker*>(handle);
  SetEvent(ticker->stop);
  WaitForSingleObject(ticker->thread, INFINITE);
  CloseHandle(ticker->thread);
  CloseHandle(ticker->stop);
  delete ticker;
}

}  // namespace

PlatformOps platform = {
    .startSockets = startSockets,
    .stopSockets = stopSockets,
    .resolveName = resolveName,
    .reverseName = reverseName,
    .interfaceIndex = interfaceIndex,
    .icmpProblem = icmpProblem,
    .icmpCreate = icmpCreate,
    .icmpSendEcho = icmpSendEcho,
    .icmpClose = icmpClose,
    .startThread = startThread,
    .waitForThreads = waitForThreads,
    .sleepMs = sleepMs,
    .monotonicMs = monotonicMs,
    .consoleLockInit = consoleLockInit,
    .consoleLockEnter = consoleLockEnter,
    .consoleLockLeave = consoleLockLeave,
    .writeOut = writeStandardOut,
    .flushOut = flushStandardOut,
    .localSendProblem = localSendProblem,
    .writeErr = writeStandardError,
    .awaitFreeDescriptor = awaitFreeDescriptor,
    .errTerminalWidth = errTerminalWidth,
    .outIsTerminal = outIsTerminal,
    .startTicker = startTicker,
    .stopTicker = stopTicker,
};

}  // namespace fanecho
