// Win32 back end: WinSock 1.1 for names, the ICMP helper API for echoes,
// Win32 threads and a critical section for the console lock.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <winsock.h>
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

bool resolveName(const char* name, std::uint8_t octets[4]) {
  // The record belongs to WinSock (one per thread): copy out of it at once.
  const hostent* host = gethostbyname(name);
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 ||
      host->h_addr_list[0] == nullptr) {
    return false;
  }
  std::memcpy(octets, host->h_addr_list[0], 4);
  return true;
}

void reverseName(std::uint32_t address, char* name, std::size_t size) {
  if (size == 0) return;
  const hostent* host = gethostbyaddr(reinterpret_cast<const char*>(&address), 4, AF_INET);
  if (host == nullptr || host->h_name == nullptr) {
    name[0] = '\0';
    return;
  }
  const std::size_t length = std::min(std::strlen(host->h_name), size - 1);
  std::memcpy(name, host->h_name, length);
  name[length] = '\0';
}

const char* icmpProblem() { return nullptr; }

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

IcmpHandle icmpCreate() { return reinterpret_cast<IcmpHandle>(IcmpCreateFile()); }

void icmpClose(IcmpHandle handle) { IcmpCloseHandle(reinterpret_cast<HANDLE>(handle)); }

std::uint32_t icmpSendEcho(IcmpHandle handle, std::uint32_t address, const void* request,
                           std::uint16_t requestSize, EchoReply* reply, std::uint8_t* dataArea,
                           std::size_t dataAreaSize, std::uint32_t timeoutMs) {
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
  // The helper API knows whole milliseconds only.
  reply->RoundTripTimeUs = area.record.RoundTripTime > 0xFFFFFFFFu / 1000
                               ? 0xFFFFFFFFu
                               : area.record.RoundTripTime * 1000;
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
