// Threads and the clock. A seam because threads start, end and are waited
// for in each system's own way (POSIX threads on their own stacks, Win32
// threads), and so that tests can run workers inline, record them, refuse
// them, and let time pass only when they say.
#pragma once

#include <cstdint>

namespace fanecho {

using ThreadHandle = void*;  // null: no thread was started
using ThreadRoutine = void (*)(void* argument);

enum class ThreadPriority { normal, belowNormal };

// Worker threads alive at one time, at most.
inline constexpr std::uint32_t kMaxThreads = 10000;
// Threads one wait takes at most, as Windows' WaitForMultipleObjects does.
inline constexpr std::uint32_t kMaxWaitHandles = 64;

struct ThreadOps {
  ThreadHandle (*start)(ThreadRoutine routine, void* argument, ThreadPriority priority);
  // Waits until every one of `count` (at most kMaxWaitHandles) threads has
  // ended. False when the wait itself failed.
  bool (*waitFor)(const ThreadHandle* handles, std::uint32_t count);
  // Gives back what a thread's handle holds, once the thread has been
  // waited for; the handle means nothing afterwards, and a later start may
  // return the same value.
  void (*release)(ThreadHandle handle);
  // What keeps threads from being started here, for the one notice at the
  // end of a run whose targets got none even with no other worker running.
  const char* (*startProblem)();
  void (*sleepMs)(std::uint32_t milliseconds);
  // Milliseconds on a clock that only moves forward, from a fixed start.
  std::uint64_t (*monotonicMs)();
  // Calls `tick` every periodMs on a thread of its own until stopTicker,
  // which wakes it at once and waits for it to end (/progress). Null when
  // no thread could be started.
  ThreadHandle (*startTicker)(void (*tick)(), std::uint32_t periodMs);
  void (*stopTicker)(ThreadHandle ticker);
};

}  // namespace fanecho
