// Worker threads' records and the stacks they run on.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "platform/platform.h"

namespace fanecho {

// What a thread runs, and on which stack. A thread's handle points at it,
// so a start allocates nothing while records last.
struct Worker {
  pthread_t thread;
  ThreadRoutine routine;
  void* argument;
  bool lowered;
  std::uint32_t slot;  // a stack slot, or none: glibc's stack
  bool joined;         // joined already, while later workers were started
  Worker* nextEnded;   // in the list of threads that ended, not yet joined
};

// A record for a new thread, with a stack slot where one can be had; null
// when there is no memory for it. Records are never used twice: a thread's
// handle stays valid after its stack has gone to another thread.
Worker* allocateWorker();

// The worker's routine has returned: the next start joins its thread and
// hands its stack on.
void noteWorkerEnded(Worker* worker);

// Puts the worker's stack, or the size of the stack glibc is to make for it,
// into the attributes its thread is created with.
void setWorkerStack(pthread_attr_t& attributes, const Worker& worker);

// Joins the worker's thread unless that was done already, and gives its
// stack back. False when the join failed: the thread may still be on it.
bool joinWorker(Worker* worker);

// Gives the record and its stack back: its thread never ran.
void releaseWorker(Worker* worker);

}  // namespace fanecho
