// Checks of the Win32 back end that the end-to-end cases cannot see: thread
// priorities, the grouped wait and its failure, the console lock, and the
// bounds of the reply copy. Run under wine inside a test namespace (it sends
// echo requests to 127.0.0.1 only); the exit status is the number of
// failed checks.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

using fanecho::platform;

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
      platform.startThread(recordPriority, &normal, fanecho::ThreadPriority::normal),
      platform.startThread(recordPriority, &lowered, fanecho::ThreadPriority::belowNormal),
  };
  SetEvent(goAhead);
  check(threads[0] != nullptr && threads[1] != nullptr && platform.waitForThreads(threads, 2),
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
    handle = platform.startThread(finishLate, nullptr, fanecho::ThreadPriority::normal);
  const bool waited = platform.waitForThreads(group, fanecho::kMaxWaitHandles);
  check(waited && finished.load() == 64, "a wait for 64 threads returns once all 64 have ended");

  // A handle that is no longer open makes the wait fail rather than hang.
  HANDLE closed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  CloseHandle(closed);
  fanecho::ThreadHandle broken[2] = {group[0], closed};
  check(!platform.waitForThreads(broken, 2), "a wait on a closed handle reports failure");
}

std::atomic<int> insideLock{0};

void enterAndMark(void*) {
  platform.consoleLockEnter();
  insideLock.store(1);
  platform.consoleLockLeave();
}

void checkConsoleLock() {
  // Usable before consoleLockInit: nothing may depend on start-up order.
  platform.consoleLockEnter();
  platform.consoleLockLeave();
  platform.consoleLockInit();

  platform.consoleLockEnter();
  fanecho::ThreadHandle other =
      platform.startThread(enterAndMark, nullptr, fanecho::ThreadPriority::normal);
  Sleep(200);
  const int whileHeld = insideLock.load();
  platform.consoleLockLeave();
  platform.waitForThreads(&other, 1);
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
  fanecho::EchoReply reply{255, 0, 0, nullptr, 0xFFFFFFFFu};
  const fanecho::IcmpHandle handle = platform.icmpCreate(4);
  const std::uint32_t count =
      platform.icmpSendEcho(handle, loopback, request, sizeof request, &reply, area, 16, 2000);
  check(count == 1 && reply.Status == fanecho::kIpSuccess && reply.DataSize == 300,
        "127.0.0.1 answers a 300-byte request");
  bool guardKept = true;
  for (std::size_t i = 16; i < sizeof area; ++i) guardKept = guardKept && area[i] == 0xEE;
  check(reply.Data == area && std::memcmp(area, request, 16) == 0 && guardKept,
        "the echoed data is cut to the caller's area");
  check(reply.RoundTripTimeUs == reply.RoundTripTime * 1000,
        "the round trip in microseconds is the helper API's milliseconds times 1000");

  reply = {255, 0, 0, nullptr, 0};
  std::uint8_t large[1500] = {};
  check(platform.icmpSendEcho(handle, loopback, large, sizeof large, &reply, area, 16, 2000) == 0 &&
            reply.Status != fanecho::kIpSuccess,
        "a request larger than one frame is refused");
  platform.icmpClose(handle);
}

void checkNames() {
  check(platform.startSockets(), "WinSock starts at version 1.1");
  fanecho::IpAddress found;
  check(platform.resolveName("localhost", 4, found) && found.family == 4 && found.bytes[0] == 127 &&
            found.bytes[3] == 1,
        "localhost resolves to 127.0.0.1");
  fanecho::IpAddress untouched;
  untouched.bytes[0] = 9;
  check(!platform.resolveName("nosuch-host.invalid", 4, untouched) && untouched.bytes[0] == 9,
        "an unknown name fails and leaves the address alone");
  char name[5] = "xxxx";
  platform.reverseName(fanecho::IpAddress::fromPacked(0x0100007F), name, sizeof name);
  check(std::strcmp(name, "loca") == 0, "a reverse name is cut to the buffer");
  platform.stopSockets();
}

}  // namespace

int main() {
  checkPriorities();
  checkWait();
  checkConsoleLock();
  checkEcho();
  checkNames();
  return failures;
}
