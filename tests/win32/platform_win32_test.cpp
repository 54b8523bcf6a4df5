// Checks of the Win32 back end that the end-to-end cases cannot see: thread
// priorities, the grouped wait and its failure, the console lock, the
// bounds of the reply copy, and how much of its stack a worker's deepest
// path takes. Run under wine inside a test namespace (it sends echo requests
// to 127.0.0.1 only, and to ::1 and fd00:1::1 through whatever iphlpapi.dll
// it finds); the exit status is the number of failed checks. With the
// argument "stack" it checks the stack alone: the wine suite runs it so
// beside the stand-in iphlpapi.dll, whose IPv6 replies take the longest path.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "common/run_settings.h"
#include "platform/platform.h"
#include "platform/win32/stack_win32.h"
#include "probe/probe_worker.h"

using fanecho::platform;
using fanecho::settings;

namespace {

int failures = 0;

void check(bool condition, const char* what) {
  std::printf("%s  %s\n", condition ? "ok  " : "FAIL", what);
  if (!condition) ++failures;
}

// Threads are started and lowered before they run on: each waits for this.
HANDLE goAhead = nullptr;

struct PriorityProbe {
  int seen = -1;
};

void recordPriority(void* argument) {
  WaitForSingleObject(goAhead, INFINITE);
  static_cast<PriorityProbe*>(argument)->seen = GetThreadPriority(GetCurrentThread());
}

void checkPriorities() {
  goAhead = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  PriorityProbe normal, lowered;
  fanecho::ThreadHandle threads[2] = {
      platform.threads.start(recordPriority, &normal, fanecho::ThreadPriority::normal),
      platform.threads.start(recordPriority, &lowered, fanecho::ThreadPriority::belowNormal),
  };
  SetEvent(goAhead);
  check(threads[0] != nullptr && threads[1] != nullptr && platform.threads.waitFor(threads, 2),
        "two threads start and are waited for");
  check(normal.seen == THREAD_PRIORITY_NORMAL, "a pattern worker keeps normal priority");
  check(lowered.seen == THREAD_PRIORITY_BELOW_NORMAL, "a name worker runs one step below normal");
  CloseHandle(goAhead);
}

std::atomic<int> finished{0};

void finishLate(void*) {
  Sleep(50);
  finished.fetch_add(1);
}

void checkWait() {
  fanecho::ThreadHandle group[fanecho::kMaxWaitHandles];
  for (auto& handle : group)
    handle = platform.threads.start(finishLate, nullptr, fanecho::ThreadPriority::normal);
  const bool waited = platform.threads.waitFor(group, fanecho::kMaxWaitHandles);
  check(waited && finished.load() == 64, "a wait for 64 threads returns once all 64 have ended");

  // A handle that is no longer open makes the wait fail rather than hang.
  HANDLE closed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  CloseHandle(closed);
  fanecho::ThreadHandle broken[2] = {group[0], closed};
  check(!platform.threads.waitFor(broken, 2), "a wait on a closed handle reports failure");
}

std::atomic<int> insideLock{0};

void enterAndMark(void*) {
  platform.console.lockEnter();
  insideLock.store(1);
  platform.console.lockLeave();
}

void checkConsoleLock() {
  // Usable before consoleLockInit: nothing may depend on start-up order.
  platform.console.lockEnter();
  platform.console.lockLeave();
  platform.console.lockInit();

  platform.console.lockEnter();
  fanecho::ThreadHandle other =
      platform.threads.start(enterAndMark, nullptr, fanecho::ThreadPriority::normal);
  Sleep(200);
  const int whileHeld = insideLock.load();
  platform.console.lockLeave();
  platform.threads.waitFor(&other, 1);
  check(whileHeld == 0 && insideLock.load() == 1, "the console lock keeps a second thread out");
}

void checkEcho() {
  std::uint8_t request[300];
  for (std::size_t i = 0; i < sizeof request; ++i)
    request[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const fanecho::IpAddress loopback = fanecho::IpAddress::fromPacked(0x0100007F);  // 127.0.0.1

  // The caller's area is smaller than the echo: only its own bytes are written.
  std::uint8_t area[16 + 8];
  std::memset(area, 0xEE, sizeof area);
  fanecho::EchoReply reply;
  reply.roundTripUs = 0xFFFFFFFFu;
  const fanecho::IcmpHandle handle = platform.echo.open(4);
  const std::uint32_t count =
      platform.echo.send(handle, {loopback, request, sizeof request, 2000, {}}, reply, area, 16);
  check(count == 1 && reply.status == fanecho::EchoStatus::reply && reply.dataSize == 300 &&
            reply.requestLeft && reply.from == loopback,
        "127.0.0.1 answers a 300-byte request");
  bool guardKept = true;
  for (std::size_t i = 16; i < sizeof area; ++i) guardKept = guardKept && area[i] == 0xEE;
  check(reply.data == area && std::memcmp(area, request, 16) == 0 && guardKept,
        "the echoed data is cut to the caller's area");
  check(reply.roundTripUs == reply.roundTripMs * 1000,
        "the round trip in microseconds is the helper API's milliseconds times 1000");

  reply = {};
  std::uint8_t large[1500] = {};
  check(
      platform.echo.send(handle, {loopback, large, sizeof large, 2000, {}}, reply, area, 16) == 0 &&
          reply.status != fanecho::EchoStatus::reply,
      "a request larger than one frame is refused");
  platform.echo.close(handle, 4);
}

void checkNames() {
  check(platform.names.start(), "WinSock starts at version 1.1");
  fanecho::IpAddress found;
  check(platform.names.resolve("localhost", 4, found) && found.family == 4 &&
            found.bytes[0] == 127 && found.bytes[3] == 1,
        "localhost resolves to 127.0.0.1");
  fanecho::IpAddress untouched;
  untouched.bytes[0] = 9;
  check(!platform.names.resolve("nosuch-host.invalid", 4, untouched) && untouched.bytes[0] == 9,
        "an unknown name fails and leaves the address alone");
  char name[5] = "xxxx";
  platform.names.reverse(fanecho::IpAddress::fromPacked(0x0100007F), name, sizeof name);
  check(std::strcmp(name, "loca") == 0, "a reverse name is cut to the buffer");
  platform.names.stop();
}

// What a worker's stack held at its deepest: the stack is painted below the
// running frame, the worker's routine runs, and the lowest byte that is no
// longer paint (or the lowest page the system committed since) marks it.
struct StackUse {
  std::size_t reserved = 0;  // from the stack's base to the end of its reservation
  std::size_t deepest = 0;   // from the base to the lowest byte written
};

constexpr unsigned char kPaint = 0xC3;

void* stackPointer() {
  void* pointer;
#ifdef _WIN64
  asm volatile("mov %%rsp, %0" : "=r"(pointer));
#else
  asm volatile("mov %%esp, %0" : "=r"(pointer));
#endif
  return pointer;
}

// Every way a worker runs: a name and an address, text and JSON lines, the
// reverse look-up of /verbose, IPv4 and IPv6 echoes.
void runEveryPath() {
  settings.verbose = 1;
  settings.reportSuccesses = 1;
  settings.reportFailures = 1;
  settings.timeoutMs = 2000;
  settings.ipNamed = 1;
  // As the run does: no worker sends to a family the system cannot echo.
  bool missing[2] = {};
  platform.echo.problem(4, missing[0]);
  platform.echo.problem(6, missing[1]);
  for (std::uint32_t json = 0; json < 2; ++json) {
    settings.json = json;
    const struct {
      const char* label;
      fanecho::TargetKind kind;
      std::uint8_t family;
      std::uint8_t bytes[16];
    } targets[] = {
        {"localhost", fanecho::TargetKind::hostName, 4, {}},
        {"127.0.0.1", fanecho::TargetKind::address, 4, {127, 0, 0, 1}},
        {"localhost", fanecho::TargetKind::hostName, 6, {}},
        {"::1", fanecho::TargetKind::address, 6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"fd00:1::1",
         fanecho::TargetKind::address,
         6,
         {0xfd, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
    };
    for (const auto& target : targets) {
      fanecho::ProbeJob job;
      job.label = target.label;
      job.kind = target.kind;
      job.address.family = target.family;
      std::memcpy(job.address.bytes, target.bytes, 16);
      job.familyMissing = missing[target.family == 6 ? 1 : 0];
      fanecho::probeTarget(&job);
    }
  }
  fanecho::resetRunSettings();
}

// The lowest byte between bottom and top of a committed, writable page (no
// guard page), or top.
unsigned char* lowestCommitted(unsigned char* bottom, unsigned char* top) {
  MEMORY_BASIC_INFORMATION region;
  for (unsigned char* page = bottom; page < top;) {
    if (VirtualQuery(page, &region, sizeof region) == 0) return top;
    if (region.State == MEM_COMMIT && (region.Protect & PAGE_GUARD) == 0 &&
        (region.Protect & (PAGE_READWRITE | PAGE_EXECUTE_READWRITE)) != 0) {
      return page;
    }
    page = static_cast<unsigned char*>(region.BaseAddress) + region.RegionSize;
  }
  return top;
}

[[gnu::noinline]] void measureStack(void* argument) {
  auto& use = *static_cast<StackUse*>(argument);
  auto* const top = static_cast<unsigned char*>(stackPointer()) - 512;
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(top, &region, sizeof region) == 0) return;
  // The committed part the running frame is in reaches up to the base.
  auto* const base = static_cast<unsigned char*>(region.BaseAddress) + region.RegionSize;
  auto* const bottom = static_cast<unsigned char*>(region.AllocationBase);
  use.reserved = static_cast<std::size_t>(base - bottom);
  // Paint what is committed below the frame; pages the system commits
  // later, as the stack grows, count as written.
  unsigned char* const painted = lowestCommitted(bottom, top);
  for (volatile unsigned char* byte = painted; byte < top; ++byte) *byte = kPaint;
  runEveryPath();
  const unsigned char* lowest = lowestCommitted(bottom, painted);
  if (lowest == painted) {
    while (lowest < top && *lowest == kPaint) ++lowest;
  }
  use.deepest = static_cast<std::size_t>(base - lowest);
}

// A worker's deepest path must leave three quarters of the reservation
// untouched: the rest is for what wine cannot show, Windows' own resolver
// and ICMP code running on the worker's stack, and the guard pages at the
// end. (wine reserves at least 1 MiB whatever is asked, so the reservation
// is checked against what the back end asks for.)
void checkWorkerStack() {
  check(platform.names.start(), "WinSock starts for the stack check");
  platform.console.lockInit();
  StackUse use;
  fanecho::ThreadHandle worker =
      platform.threads.start(measureStack, &use, fanecho::ThreadPriority::normal);
  check(worker != nullptr && platform.threads.waitFor(&worker, 1), "the stack check's worker ran");
  const std::size_t reservation = fanecho::win32::kWorkerStackReservation;
  std::printf("      a worker's deepest path took %zu bytes of stack; it reserves %zu\n",
              use.deepest, reservation);
  check(use.reserved >= reservation && use.deepest > 0 && use.deepest <= reservation / 4,
        "a worker's deepest path takes at most a quarter of its reserved stack");
  platform.names.stop();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "stack") == 0) {
    checkWorkerStack();
    return failures;
  }
  checkPriorities();
  checkWait();
  checkConsoleLock();
  checkEcho();
  checkNames();
  checkWorkerStack();
  return failures;
}
