// A scripted stand-in for the platform layer: echo replies per address,
// names, thread starts and the console, all in memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/run_settings.h"
#include "platform/platform.h"

namespace fanecho::testing {

// unsent: a local shortage kept the request here (status shortage);
// refused: this machine's routing refused it (noRouteHere, not sent);
// status: the status given, from `from` (held here: not sent).
enum class Reply { good, wrongData, wrongSize, none, zeroCount, unsent, refused, status };

struct ScriptedReply {
  Reply kind = Reply::good;
  std::uint32_t rttMs = 0;
  std::uint32_t rttUs = 0;  // 0: rttMs * 1000
  EchoStatus status = EchoStatus::noResponse;
  IpAddress from{0};
};

// A start that fails with workers running waits for one of them to end:
// tests that fail starts run inline or real, as record-mode threads never end.
enum class ThreadMode {
  inlineRun,  // the routine runs inside startThread, before it returns
  record,     // the routine never runs; the job is only recorded
  real,       // a real thread of the platform
};

// A copy of the job as it was when its thread started: record-mode jobs
// are gone once the run that made them has ended.
struct StartedThread {
  ProbeJob job;
  ThreadPriority priority;
};

struct SentRequest {
  IpAddress address;
  std::uint16_t size;
  std::uint32_t timeoutMs;
  EchoOptions options;
  std::uint64_t sentAtMs;  // the fake clock as it was sent
};

// Installs itself over `platform` for its lifetime and puts the settings
// back to their starting values on both ends.
class FakePlatform {
 public:
  FakePlatform();
  ~FakePlatform();
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  void addHost(const std::string& name, std::uint8_t a, std::uint8_t b, std::uint8_t c,
               std::uint8_t d);
  // A name's addresses, in the resolver's order.
  void addHost(const std::string& name, const IpAddress& address);
  void addReverseName(const IpAddress& address, const std::string& name);
  // Replies for the attempts to `address`, in order; later attempts time out.
  void script(const IpAddress& address, std::vector<ScriptedReply> replies);
  // Every address answers at once unless scripted otherwise.
  bool answerUnscripted = true;

  ThreadMode threadMode = ThreadMode::inlineRun;
  int failingStarts = 0;                        // this many thread starts fail, then they succeed
  std::map<std::string, int> failingStartsFor;  // by label: how many starts fail
  // Real threads: starts fail while this many are alive (0: no limit), as
  // under a limit on processes; startsOverLimit counts those that failed.
  int threadLimit = 0;
  int threadsAlive = 0;
  std::atomic<int> startsOverLimit{0};
  int releasedThreads = 0;  // handles released after their thread was waited for
  bool failWaits = false;
  bool ipv6Missing = false;                   // the system has no IPv6 echo
  std::vector<std::uint8_t> problemFamilies;  // families icmpProblem was asked about

  std::string output;
  std::string errors;              // standard error
  std::uint32_t errorColumns = 0;  // standard error is a terminal this wide; 0: it is not one
  bool outputIsTerminal = false;
  void (*tick)() = nullptr;  // the running ticker's routine; the test calls it
  int outputError = 0;       // writes to standard output fail with this errno
  std::vector<StartedThread> started;
  std::vector<std::uint32_t> waitBatches;
  std::vector<std::uint32_t> sleeps;
  std::uint64_t clockMs = 0;      // the sum of the sleeps
  std::uint32_t oversleepMs = 0;  // each sleep lasts this much longer than asked
  std::vector<SentRequest> requests;
  std::function<void(const IpAddress&)> onSend;  // called as each request is sent
  int openHandles = 0;
  int createdHandles = 0;

 private:
  friend struct FakeEcho;
  friend struct FakeNames;
  friend struct FakeThreads;
  friend struct FakeConsole;
  Platform saved_;
  FakePlatform* previous_;
  std::map<std::string, std::vector<IpAddress>> hosts_;
  std::map<IpAddress, std::string> reverse_;
  std::map<IpAddress, std::deque<ScriptedReply>> scripts_;
};

// The IPv4 address a.b.c.d.
IpAddress addressOf(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);
// An IPv6 address from its text (which must parse); `scopeId` as its zone.
IpAddress ipv6Of(const char* text, std::uint32_t scopeId = 0);

// Runs fanecho's whole sequence over the arguments (program name added).
struct RunResult {
  int exitStatus;
  std::string output;
};
RunResult runWith(FakePlatform& fake, const std::vector<std::string>& arguments);

// The output split into lines, without their line ends.
std::vector<std::string> linesOf(const std::string& output);

}  // namespace fanecho::testing
