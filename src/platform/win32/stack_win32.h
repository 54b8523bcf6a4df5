// How much stack a worker thread reserves on Windows. Nothing here calls the
// system; the Win32 checks compare a worker's measured use with it.
#pragma once

#include <cstddef>

namespace fanecho::win32 {

// A worker needs little stack: under wine its deepest path (a name resolved,
// a reverse look-up, an IPv4 or IPv6 echo, a JSON line) took 6.6 KiB in a
// 64-bit build, less in the 32-bit one. 64 KiB, the allocation granularity
// and so the least a reservation takes, leaves the rest to the guard pages
// and to Windows' own resolver and ICMP code. 10000 of them are 625 MiB of
// a 32-bit address space; under WOW64 each thread also has a 64-bit stack
// (usually 512 KiB), so there about 7000 fit in the 4 GiB at once.
inline constexpr std::size_t kWorkerStackReservation = 64 * 1024;

}  // namespace fanecho::win32
