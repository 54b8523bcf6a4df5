#include "fake_platform.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "app/dispatch.h"
#include "patterns/pattern_expansion.h"

namespace fanecho::testing {

namespace {
FakePlatform* active = nullptr;
std::mutex fakeMutex;  // guards the fake's records when threads are real
std::recursive_mutex consoleMutex;
}  // namespace

struct FakeOps {
  static bool startSockets() { return true; }
  static void stopSockets() {}

  static bool resolveName(const char* name, std::uint8_t family, IpAddress& address) {
    std::lock_guard<std::mutex> lock(fakeMutex);
    auto found = active->hosts_.find(name);
    if (found == active->hosts_.end()) return false;
    for (const IpAddress& candidate : found->second) {
      if (family == kFamilyAny || candidate.family == family) {
        address = candidate;
        return true;
      }
    }
    return false;
  }

  static void reverseName(const IpAddress& address, char* name, std::size_t size) {
    std::lock_guard<std::mutex> lock(fakeMutex);
    auto found = active->reverse_.find(address);
    if (found == active->reverse_.end()) {
      name[0] = '\0';
      return;
    }
    std::snprintf(name, size, "%s", found->second.c_str());
  }

  static std::uint32_t interfaceIndex(const char* name) {
    return std::string(name) == "eth0" ? 2 : 0;
  }

  static const char* icmpProblem(std::uint8_t family, bool& familyMissing) {
    active->problemFamilies.push_back(family);
    familyMissing = family == 6 && active->ipv6Missing;
    return familyMissing ? "IPv6 echo is not available on this system" : nullptr;
  }

  static IcmpHandle icmpCreate(std::uint8_t) {
    std::lock_guard<std::mutex> lock(fakeMutex);
    ++active->openHandles;
    return ++active->createdHandles;
  }

  static void icmpClose(IcmpHandle) {
    std::lock_guard<std::mutex> lock(fakeMutex);
    --active->openHandles;
  }

  static std::uint32_t icmpSendEcho(IcmpHandle, const IpAddress& address, const void* request,
                                    std::uint16_t requestSize, EchoReply* reply,
                                    std::uint8_t* dataArea, std::size_t dataAreaSize,
                                    std::uint32_t timeoutMs) {
    ScriptedReply next{active->answerUnscripted ? Reply::good : Reply::none, 0};
    {
      std::lock_guard<std::mutex> lock(fakeMutex);
      active->requests.push_back({address, requestSize, timeoutMs});
      auto found = active->scripts_.find(address);
      if (found != active->scripts_.end()) {
        if (found->second.empty()) {
          next = {Reply::none, 0};
        } else {
          next = found->second.front();
          found->second.pop_front();
        }
      }
    }
    if (next.kind == Reply::none || next.kind == Reply::unsent) {
      reply->Status = next.kind == Reply::none ? kIpReqTimedOut : kIpNoResources;
      return 0;
    }
    std::size_t size = requestSize;
    std::memcpy(dataArea, request, std::min<std::size_t>(size, dataAreaSize));
    if (next.kind == Reply::wrongData && size > 0) dataArea[size - 1] ^= 0x5A;
    if (next.kind == Reply::wrongSize) size = size > 0 ? size - 1 : 1;
    reply->Status = kIpSuccess;
    reply->RoundTripTime = next.rttMs;
    reply->RoundTripTimeUs = next.rttUs != 0 ? next.rttUs : next.rttMs * 1000;
    reply->DataSize = static_cast<std::uint16_t>(size);
    reply->Data = dataArea;
    return next.kind == Reply::zeroCount ? 0 : 1;
  }

  static ThreadHandle startThread(ThreadRoutine routine, void* argument, ThreadPriority priority) {
    {
      std::lock_guard<std::mutex> lock(fakeMutex);
      if (active->failingStarts > 0) {
        --active->failingStarts;
        return nullptr;
      }
      auto failing = active->failingStartsFor.find(static_cast<ProbeJob*>(argument)->label);
      if (failing != active->failingStartsFor.end() && failing->second > 0) {
        --failing->second;
        return nullptr;
      }
      active->started.push_back({*static_cast<ProbeJob*>(argument), priority});
    }
    switch (active->threadMode) {
      case ThreadMode::inlineRun:
        routine(argument);
        return reinterpret_cast<ThreadHandle>(active->started.size());
      case ThreadMode::record:
        return reinterpret_cast<ThreadHandle>(active->started.size());
      case ThreadMode::real:
        return new std::thread(routine, argument);
    }
    return nullptr;
  }

  static bool waitForThreads(const ThreadHandle* handles, std::uint32_t count) {
    active->waitBatches.push_back(count);
    if (active->failWaits) return false;
    if (active->threadMode == ThreadMode::real) {
      for (std::uint32_t i = 0; i < count; ++i) {
        auto* thread = static_cast<std::thread*>(handles[i]);
        thread->join();
        delete thread;
      }
    }
    return true;
  }

  // Time passes only in sleeps.
  static void sleepMs(std::uint32_t milliseconds) {
    std::lock_guard<std::mutex> lock(fakeMutex);
    active->sleeps.push_back(milliseconds);
    active->clockMs += milliseconds + active->oversleepMs;
  }
  static std::uint64_t monotonicMs() {
    std::lock_guard<std::mutex> lock(fakeMutex);
    return active->clockMs;
  }

  static void consoleLockInit() {}
  static void consoleLockEnter() { consoleMutex.lock(); }
  static void consoleLockLeave() { consoleMutex.unlock(); }

  static int writeOut(const char* text, std::size_t length) {
    if (active->outputError != 0) return active->outputError;
    active->output.append(text, length);
    return 0;
  }
  static int flushOut() { return active->outputError; }

  static const char* localSendProblem() { return "a full table"; }
  static void writeErr(const char* text, std::size_t length) {
    active->errors.append(text, length);
  }
  static bool awaitFreeDescriptor(int) { return false; }

  static std::uint32_t errTerminalWidth() { return active->errorColumns; }
  static bool outIsTerminal() { return active->outputIsTerminal; }
  static ThreadHandle startTicker(void (*tick)(), std::uint32_t) {
    active->tick = tick;
    return &active->tick;
  }
  static void stopTicker(ThreadHandle) { active->tick = nullptr; }
};

FakePlatform::FakePlatform() : saved_(platform), previous_(active) {
  active = this;
  resetRunSettings();
  platform = PlatformOps{
      .startSockets = FakeOps::startSockets,
      .stopSockets = FakeOps::stopSockets,
      .resolveName = FakeOps::resolveName,
      .reverseName = FakeOps::reverseName,
      .interfaceIndex = FakeOps::interfaceIndex,
      .icmpProblem = FakeOps::icmpProblem,
      .icmpCreate = FakeOps::icmpCreate,
      .icmpSendEcho = FakeOps::icmpSendEcho,
      .icmpClose = FakeOps::icmpClose,
      .startThread = FakeOps::startThread,
      .waitForThreads = FakeOps::waitForThreads,
      .sleepMs = FakeOps::sleepMs,
      .monotonicMs = FakeOps::monotonicMs,
      .consoleLockInit = FakeOps::consoleLockInit,
      .consoleLockEnter = FakeOps::consoleLockEnter,
      .consoleLockLeave = FakeOps::consoleLockLeave,
      .writeOut = FakeOps::writeOut,
      .flushOut = FakeOps::flushOut,
      .localSendProblem = FakeOps::localSendProblem,
      .writeErr = FakeOps::writeErr,
      .awaitFreeDescriptor = FakeOps::awaitFreeDescriptor,
      .errTerminalWidth = FakeOps::errTerminalWidth,
      .outIsTerminal = FakeOps::outIsTerminal,
      .startTicker = FakeOps::startTicker,
      .stopTicker = FakeOps::stopTicker,
  };
}

FakePlatform::~FakePlatform() {
  platform = saved_;
  active = previous_;
  resetRunSettings();
}

void FakePlatform::addHost(const std::string& name, std::uint8_t a, std::uint8_t b, std::uint8_t c,
                           std::uint8_t d) {
  hosts_[name].push_back(addressOf(a, b, c, d));
}

void FakePlatform::addHost(const std::string& name, const IpAddress& address) {
  hosts_[name].push_back(address);
}

void FakePlatform::addReverseName(const IpAddress& address, const std::string& name) {
  reverse_[address] = name;
}

void FakePlatform::script(const IpAddress& address, std::vector<ScriptedReply> replies) {
  scripts_[address] = std::deque<ScriptedReply>(replies.begin(), replies.end());
}

IpAddress addressOf(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint16_t octets[4] = {a, b, c, d};
  return IpAddress::fromPacked(packAddress(octets));
}

IpAddress ipv6Of(const char* text, std::uint32_t scopeId) {
  IpAddress address;
  address.family = 6;
  address.scopeId = scopeId;
  if (!parseIpv6Address(text, address.bytes)) std::abort();
  return address;
}

RunResult runWith(FakePlatform& fake, const std::vector<std::string>& arguments) {
  std::vector<const char*> argv{"fanecho"};
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  const RunOutcome outcome = runFanecho(static_cast<int>(argv.size()), argv.data());
  return {outcome.exitStatus, fake.output};
}

std::vector<std::string> linesOf(const std::string& output) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    lines.push_back(output.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace fanecho::testing
