// What the files of the Win32 back end give each other and the table in
// platform_win32.cpp: one file per seam of src/platform, and the entry
// points looked up at run time.
#pragma once

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

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

namespace fanecho::win32 {

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

const Ipv6Api& ipv6Api();

// IcmpSendEcho2Ex, the one IPv4 call that takes a source address: Windows
// has it since Vista. wine 8 has it too, but sends from the address the
// route picks, whatever the source. Null where the system lacks it.
using SendEcho4Ex = DWORD(WINAPI*)(HANDLE, HANDLE, FARPROC, PVOID, IPAddr, IPAddr, LPVOID, WORD,
                                   PIP_OPTION_INFORMATION, LPVOID, DWORD, DWORD);
SendEcho4Ex icmpSendEcho2Ex();

// names_win32.cpp
bool startSockets();
void stopSockets();
bool resolveName(const char* name, std::uint8_t family, IpAddress& address);
void reverseName(const IpAddress& address, char* name, std::size_t size);
std::uint32_t interfaceIndex(const char*);
sockaddr_in6 socketAddress6(const IpAddress& address);

// source_win32.cpp
const char* sourceProblem(const IpAddress& source);
const char* interfaceProblem(const char*);

// echo_win32.cpp
const char* icmpProblem(std::uint8_t family, bool& familyMissing);
IcmpHandle icmpCreate(std::uint8_t family);
std::uint32_t icmpSendEcho(IcmpHandle handle, const EchoRequest& request, EchoReply& reply,
                           std::uint8_t* dataArea, std::size_t dataAreaSize);
void icmpClose(IcmpHandle handle, std::uint8_t);

// status_win32.cpp
// What the call wrote where nothing was written: no IP_STATUS has this value.
constexpr DWORD kNotWritten = 0xFFFFFFFFu;
void failedCall(DWORD written, std::uint8_t family, EchoReply& reply);
const char* localSendProblem();

// threads_win32.cpp
ThreadHandle startThread(ThreadRoutine routine, void* argument, ThreadPriority priority);
bool waitForThreads(const ThreadHandle* handles, std::uint32_t count);
void releaseThread(ThreadHandle handle);
const char* threadStartProblem();
void sleepMs(std::uint32_t milliseconds);
std::uint64_t monotonicMs();
ThreadHandle startTicker(void (*tick)(), std::uint32_t periodMs);
void stopTicker(ThreadHandle handle);

// console_win32.cpp
void consoleLockInit();
void consoleLockEnter();
void consoleLockLeave();
std::uint32_t errTerminalWidth();
bool outIsTerminal();

}  // namespace fanecho::win32
