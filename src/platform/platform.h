// The operating-system services fanecho needs, in a few seams, each a table
// of function pointers behind a header of its own that says why it is one.
// One back end per system fills them (src/platform/linux, src/platform/win32);
// tests put fakes in their place (tests/support/fake_platform).
#pragma once

#include "platform/address.h"
#include "platform/console_io.h"
#include "platform/echo.h"
#include "platform/names.h"
#include "platform/process.h"
#include "platform/threads.h"

namespace fanecho {

struct Platform {
  EchoOps echo;
  NameOps names;
  ThreadOps threads;
  ConsoleOps console;
  ProcessOps process;
};

extern Platform platform;

}  // namespace fanecho
