// Worker threads' records and the stacks they run on.
#pragma once

#include <pthread.h>

#include <atomic>
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
  std::uint32_t slot;  // a stack slot, or none: glibc's stack
  bool joined;         // joined already, while later workers were started
};

// Counted by each worker as its routine returns, so that starts look for
// ended threads to join only when there are some.
extern std::atomic<std::uint32_t> workerEnds;

// A record for a new thread, with a stack slot where one can be had; null
// when there is no memory for it. Records are never used twice: a thread's
// handle stays valid after its stack has gone to another thread.
Worker* allocateWorker();

// The thread was created: it is to be joined, early if it ends early.
void noteWorkerStarted(Worker* worker);

// Puts the worker's stack, or the size of the stack glibc is to make for it,
// into the attributes its thread is created with.
void setWorkerStack(pthread_attr_t& attributes, const Worker& worker);

// Joins the worker's thread unless that was done already, and gives its
// stack back. False when the join failed: the thread may still be on it.
bool joinWorker(Worker* worker);

// Gives the record and its stack back: its thread never ran.
void releaseWorker(Worker* worker);

}  // namespace fanecho
