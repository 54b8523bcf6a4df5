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
  bool released;       // the core is done with its handle
  bool onEndedList;    // in the list of threads that ended, not yet dropped
  Worker* nextEnded;   // in that list, or in the spare records'
};

// A record for a new thread, with a stack slot where one can be had; null
// when there is no memory for it. A record is used again only once the core
// has released its handle (recycleWorker): until then the handle stays
// valid, though its stack may have gone to another thread.
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

// The core has waited for the thread and is done with its handle: the
// record serves a later thread.
void recycleWorker(Worker* worker);

}  // namespace fanecho
