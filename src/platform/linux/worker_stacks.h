// Worker threads' records and the stacks they run on.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "platform/platform.h"

namespace fanecho {

// What a thread runs, and on which stack. A thread's handle points at it:
// the routine needs no allocation of its own, and the thread touches no heap.
struct Worker {
  pthread_t thread;
  ThreadRoutine routine;
  void* argument;
  bool lowered;
  std::uint32_t slot;  // a stack slot, or none: glibc's stack and a heap record
};

// A record for a new thread, with a stack slot where one can be had; null
// when there is no memory for it.
Worker* allocateWorker();

// Puts the worker's stack, or the size of the stack glibc is to make for it,
// into the attributes its thread is created with.
void setWorkerStack(pthread_attr_t& attributes, const Worker& worker);

// Gives the record and its stack back: its thread was joined, or never ran.
void releaseWorker(Worker* worker);

}  // namespace fanecho
