// The process around the run: what it needs set up first, the files it
// reads and what it gives back at the end. A seam because the limits that
// matter are each system's own (open files and standard descriptors on
// Linux), and so that tests need not change the test process.
#pragma once

#include <cstdio>

namespace fanecho {

struct ProcessOps {
  // Before anything else: standard descriptors that are closed get a
  // harmless stand-in, and the limits a large run needs are raised.
  void (*prepare)();
  // An include file opened for reading, or null when it cannot be opened.
  // Descriptors that workers hold for a moment are no reason to fail.
  std::FILE* (*openFile)(const char* name);
  // After the summary: what the run kept open for later workers is closed.
  void (*finish)();
};

}  // namespace fanecho
