// Worker threads, the clock and the ticker of /progress.
#include <chrono>
#include <new>

#include "platform/win32/back_end_win32.h"
#include "platform/win32/stack_win32.h"

namespace fanecho::win32 {

static_assert(MAXIMUM_WAIT_OBJECTS == kMaxWaitHandles);
// kWorkerStackReservation: see stack_win32.h; the default 1 MiB would let
// only about 1900 workers fit in the 2 GiB of a 32-bit process.

namespace {

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

}  // namespace

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

void releaseThread(ThreadHandle handle) { CloseHandle(handle); }

// Each worker reserves its stack in the 2 GiB (4 GiB large-address-aware)
// a 32-bit process has.
const char* threadStartProblem() {
  return "Windows could start no more threads: the address space of this 32-bit program holds "
         "only so many thread stacks, besides the system's own limits.";
}

void sleepMs(std::uint32_t milliseconds) { SleepEx(milliseconds, FALSE); }

std::uint64_t monotonicMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
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

}  // namespace fanecho::win32
