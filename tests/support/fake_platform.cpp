#include "fake_platform.h"
#include "fake_seams.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "app/dispatch.h"
#include "app/worker_table.h"
#include "patterns/pattern_expansion.h"
#include "probe/network.h"
#include "probe/pacing.h"

namespace fanecho::testing {

FakePlatform* active = nullptr;
std::mutex fakeMutex;

namespace {
std::recursive_mutex consoleMutex;
}  // namespace

// Threads as the test asks (inline, recorded or real), and a clock that
// moves only with the sleeps.
struct FakeThreads {
  static ThreadHandle start(ThreadRoutine routine, void* argument, ThreadPriority priority) {
    const ProbeJob& job = WorkerTable::jobOf(argument);
    {
      std::lock_guard<std::mutex> lock(fakeMutex);
      if (active->failingStarts > 0) {
        --active->failingStarts;
        return nullptr;
      }
      auto failing = active->failingStartsFor.find(job.label);
      if (failing != active->failingStartsFor.end() && failing->second > 0) {
        --failing->second;
        return nullptr;
      }
      if (active->threadLimit != 0 && active->threadsAlive >= active->threadLimit) {
        ++active->startsOverLimit;
        return nullptr;
      }
      active->started.push_back({job, priority});
    }
    switch (active->threadMode) {
      case ThreadMode::inlineRun:
        routine(argument);
        return reinterpret_cast<ThreadHandle>(active->started.size());
      case ThreadMode::record:
        return reinterpret_cast<ThreadHandle>(active->started.size());
      case ThreadMode::real: {
        std::lock_guard<std::mutex> lock(fakeMutex);
        ++active->threadsAlive;
        // Alive until the thread itself is gone, past the routine's end, as
        // a task is until the system lets it go.
        return new std::thread([routine, argument] {
          routine(argument);
          std::lock_guard<std::mutex> alive(fakeMutex);
          --active->threadsAlive;
        });
      }
    }
    return nullptr;
  }

  static bool waitFor(const ThreadHandle* handles, std::uint32_t count) {
    {
      std::lock_guard<std::mutex> lock(fakeMutex);
      active->waitBatches.push_back(count);
    }
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

  static void release(ThreadHandle) {
    std::lock_guard<std::mutex> lock(fakeMutex);
    ++active->releasedThreads;
  }

  static const char* startProblem() { return "no more threads"; }

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

  static ThreadHandle startTicker(void (*tick)(), std::uint32_t) {
    active->tick = tick;
    return &active->tick;
  }
  static void stopTicker(ThreadHandle) { active->tick = nullptr; }
};

// The console in memory: every line kept, writes failed at will.
struct FakeConsole {
  static void lockInit() {}
  static void lockEnter() { consoleMutex.lock(); }
  static void lockLeave() { consoleMutex.unlock(); }

  static int writeOut(const char* text, std::size_t length) {
    if (active->outputError != 0) return active->outputError;
    active->output.append(text, length);
    return 0;
  }
  static int flushOut() { return active->outputError; }
  static void writeErr(const char* text, std::size_t length) {
    active->errors.append(text, length);
  }

  static std::uint32_t errTerminalWidth() { return active->errorColumns; }
  static bool outIsTerminal() { return active->outputIsTerminal; }
};

// The test process is left as it is; include files open as they are.
struct FakeProcess {
  static void prepare() {}
  static std::FILE* openFile(const char* name) { return std::fopen(name, "r"); }
  static void finish() {}
};

FakePlatform::FakePlatform() : saved_(platform), previous_(active) {
  active = this;
  resetRunSettings();
  resetEchoFamilies();
  resetRequestPacing();
  platform.echo = {FakeEcho::problem,
                   FakeEcho::open,
                   FakeEcho::send,
                   FakeEcho::close,
                   FakeEcho::localSendProblem,
                   FakeEcho::sourceProblem,
                   FakeEcho::interfaceProblem};
  platform.names = {FakeNames::start, FakeNames::stop, FakeNames::resolve, FakeNames::reverse,
                    FakeNames::interfaceIndex};
  platform.threads = {FakeThreads::start,        FakeThreads::waitFor,   FakeThreads::release,
                      FakeThreads::startProblem, FakeThreads::sleepMs,   FakeThreads::monotonicMs,
                      FakeThreads::startTicker,  FakeThreads::stopTicker};
  platform.console = {FakeConsole::lockInit,         FakeConsole::lockEnter,
                      FakeConsole::lockLeave,        FakeConsole::writeOut,
                      FakeConsole::flushOut,         FakeConsole::writeErr,
                      FakeConsole::errTerminalWidth, FakeConsole::outIsTerminal};
  platform.process = {FakeProcess::prepare, FakeProcess::openFile, FakeProcess::finish};
}

FakePlatform::~FakePlatform() {
  platform = saved_;
  active = previous_;
  resetRunSettings();
  resetEchoFamilies();
  resetRequestPacing();
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
