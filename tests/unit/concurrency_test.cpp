// Thousands of real worker threads over the shared settings and console,
// with control arguments applied while the workers run. Built into its own
// executable so that it also runs under ThreadSanitizer on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "app/control_options.h"
#include "fake_platform.h"

namespace fanecho {
namespace {

using testing::addressOf;
using testing::FakePlatform;
using testing::linesOf;
using testing::Reply;
using testing::runWith;
using testing::ThreadMode;

// The workers of the first pattern are held inside their first echo request
// until the main thread starts waiting, that is until every argument after
// them has been applied; and the main thread goes on past that pattern only
// once all of them are held. So they are certain to be running while the
// settings change, and their first and second requests see different settings.
class FirstPatternGate {
 public:
  static constexpr int kHeldWorkers = 1024;

  // Wraps the fake's entries; made after the FakePlatform.
  FirstPatternGate()
      : fakeStart_(platform.threads.start),
        fakeSend_(platform.echo.send),
        fakeWait_(platform.threads.waitFor) {
    instance_ = this;
    platform.threads.start = startThenHold;
    platform.echo.send = heldSend;
    platform.threads.waitFor = openingWait;
  }
  ~FirstPatternGate() { instance_ = nullptr; }
  FirstPatternGate(const FirstPatternGate&) = delete;
  FirstPatternGate& operator=(const FirstPatternGate&) = delete;

  bool inTime() const { return inTime_; }

 private:
  static bool isHeld(const IpAddress& address) {
    // 10.0.0-3.x
    return address.bytes[0] == 10 && address.bytes[1] == 0 && address.bytes[2] < 4;
  }

  static std::uint32_t heldSend(IcmpHandle handle, const EchoRequest& request, EchoReply& reply,
                                std::uint8_t* dataArea, std::size_t dataAreaSize) {
    FirstPatternGate& gate = *instance_;
    if (isHeld(request.target)) {
      std::unique_lock<std::mutex> lock(gate.mutex_);
      ++gate.arrived_;
      gate.changed_.notify_all();
      // Bounded, so that a run that never waits fails instead of hanging.
      if (!gate.changed_.wait_for(lock, std::chrono::seconds(60), [&] { return gate.open_; })) {
        gate.inTime_ = false;
      }
    }
    return gate.fakeSend_(handle, request, reply, dataArea, dataAreaSize);
  }

  static ThreadHandle startThenHold(ThreadRoutine routine, void* argument,
                                    ThreadPriority priority) {
    FirstPatternGate& gate = *instance_;
    ThreadHandle handle = gate.fakeStart_(routine, argument, priority);
    if (++gate.starts_ == kHeldWorkers) {
      std::unique_lock<std::mutex> lock(gate.mutex_);
      if (!gate.changed_.wait_for(lock, std::chrono::seconds(60),
                                  [&] { return gate.arrived_ == kHeldWorkers; })) {
        gate.inTime_ = false;
      }
    }
    return handle;
  }

  static bool openingWait(const ThreadHandle* handles, std::uint32_t count) {
    FirstPatternGate& gate = *instance_;
    {
      std::lock_guard<std::mutex> lock(gate.mutex_);
      gate.open_ = true;
    }
    gate.changed_.notify_all();
    return gate.fakeWait_(handles, count);
  }

  static inline FirstPatternGate* instance_ = nullptr;
  decltype(ThreadOps::start) fakeStart_;
  decltype(EchoOps::send) fakeSend_;
  decltype(ThreadOps::waitFor) fakeWait_;
  int starts_ = 0;  // main thread only
  std::mutex mutex_;
  std::condition_variable changed_;
  int arrived_ = 0;
  bool open_ = false;
  bool inTime_ = true;
};

enum class Kind { answers, answersOnce, silent, garbled };

// Every fifth address is silent, every seventh garbles its replies and every
// eleventh answers only the first request; the rest always answer.
Kind kindOf(int third, int fourth) {
  const int n = third * 256 + fourth;
  if (n % 5 == 0) return Kind::silent;
  if (n % 7 == 0) return Kind::garbled;
  if (n % 11 == 0) return Kind::answersOnce;
  return Kind::answers;
}

TEST(Concurrency, SettingsChangeWhileThousandsOfWorkersRun) {
  FakePlatform fake;
  fake.threadMode = ThreadMode::real;
  fake.answerUnscripted = true;
  int expectedOk = 0;
  int expectedFailed = 0;
  std::map<std::string, Kind> kinds;
  for (int third = 0; third < 8; ++third) {
    for (int fourth = 0; fourth < 256; ++fourth) {
      const IpAddress address =
          addressOf(10, 0, static_cast<std::uint8_t>(third), static_cast<std::uint8_t>(fourth));
      const Kind kind = kindOf(third, fourth);
      kinds["10.0." + std::to_string(third) + "." + std::to_string(fourth)] = kind;
      switch (kind) {
        case Kind::answers:
          ++expectedOk;
          break;
        case Kind::answersOnce:
          fake.script(address, {{Reply::good, 3}});
          ++expectedOk;
          break;
        case Kind::silent:
          fake.script(address, {});
          ++expectedFailed;
          break;
        case Kind::garbled:
          fake.script(address, {{Reply::wrongData, 1}, {Reply::wrongSize, 1}});
          ++expectedFailed;
          break;
      }
      if (fourth % 16 == 1) {
        fake.addReverseName(address, "host-" + std::to_string(third * 256 + fourth));
      }
    }
  }
  fake.addHost("alpha", 10, 0, 9, 2);
  fake.addHost("beta", 10, 0, 9, 0);
  fake.script(addressOf(10, 0, 9, 0), {});
  expectedOk += 1;
  expectedFailed += 2;  // beta, and ghost, which has no address
  const int targets = 2048 + 3;

  FirstPatternGate gate;
  const auto run =
      runWith(fake, {"10.0.0-3.0-255", "/report:all", "/timeout:2", "/bogus", "10.0.4-7.0-255",
                     "alpha", "beta", "ghost", "/size:100", "/times:2", "/?", "/verbose"});
  ASSERT_TRUE(gate.inTime());

  EXPECT_EQ(fake.started.size(), static_cast<std::size_t>(targets));
  EXPECT_EQ(results.okCount + results.failedCount, static_cast<std::uint32_t>(targets));
  EXPECT_EQ(results.okCount, static_cast<std::uint32_t>(expectedOk));
  EXPECT_EQ(results.failedCount, static_cast<std::uint32_t>(expectedFailed));
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(fake.openHandles, 0);

  const std::vector<std::string> lines = linesOf(run.output);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back(), "#machines sent / replied / timed-out = " + std::to_string(targets) +
                              " / " + std::to_string(expectedOk) + " / " +
                              std::to_string(expectedFailed));
  EXPECT_EQ(lines[lines.size() - 2], "");
  ASSERT_EQ(run.output.back(), '\n');

  // Every line is one whole message: a result line names one target and
  // says one thing about it, and no line shows up inside another.
  const std::regex result(
      R"(^(10\.0\.[0-9]+\.[0-9]+|alpha|beta)( \(([0-9.]+|\?|host-[0-9]+)\))?)"
      R"( (is ok(; RTT = [0-9.]+ msec|; min/avg/max RTT = [0-9]+/[0-9.]+/[0-9]+ msec)?)"
      R"(|could not be reached|replied with invalid data)$)");
  std::map<std::string, int> linesPerTarget;
  std::size_t helpAt = lines.size();
  for (std::size_t i = 0; i + 2 < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line == helpLines[0]) {
      helpAt = i;
      continue;
    }
    if (helpAt < lines.size() && i < helpAt + kHelpLineCount) continue;
    if (line == "invalid control argument /bogus; try fanecho /? for more help" ||
        line == "ghost could not be translated") {
      ++linesPerTarget[line];
      continue;
    }
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(line, parts, result)) << "line " << i << ": " << line;
    const std::string target = parts[1];
    ++linesPerTarget[target];
    auto kind = kinds.find(target);
    if (kind == kinds.end()) continue;
    const std::string verdict = parts[4];
    switch (kind->second) {
      case Kind::answers:
      case Kind::answersOnce:
        EXPECT_EQ(verdict.substr(0, 5), "is ok") << line;
        break;
      case Kind::silent:
        EXPECT_EQ(verdict, "could not be reached") << line;
        break;
      case Kind::garbled:
        EXPECT_EQ(verdict, "replied with invalid data") << line;
        break;
    }
    if (target.compare(0, 6, "10.0.0") == 0 || target.compare(0, 6, "10.0.1") == 0 ||
        target.compare(0, 6, "10.0.2") == 0 || target.compare(0, 6, "10.0.3") == 0) {
      // Held until /verbose was applied: the verbose form (unreachable
      // lines have none), and two attempts.
      EXPECT_EQ(parts[2].matched, verdict != "could not be reached") << line;
      if (verdict.compare(0, 5, "is ok") == 0) {
        EXPECT_NE(verdict.find("min/avg/max"), std::string::npos) << line;
      }
    }
  }

  // The help is one block, in order, with nothing inside it.
  ASSERT_LT(helpAt, lines.size());
  for (int k = 0; k < kHelpLineCount; ++k) {
    ASSERT_LT(helpAt + k, lines.size());
    EXPECT_EQ(lines[helpAt + k], helpLines[k]) << "help line " << k;
  }

  // /report:all came before any target after the first pattern was
  // dispatched, and the first pattern's workers report after it too: every
  // target has exactly one line.
  EXPECT_EQ(linesPerTarget.size(), kinds.size() + 4);
  for (const auto& [target, count] : linesPerTarget) EXPECT_EQ(count, 1) << target;
  EXPECT_EQ(linesPerTarget.count("alpha"), 1u);
  EXPECT_EQ(linesPerTarget.count("beta"), 1u);

  // The held workers sent their first request with the settings they were
  // started under and the second with the settings applied meanwhile; the
  // reply to each was checked against what that request sent.
  std::map<IpAddress, std::vector<testing::SentRequest>> sent;
  for (const auto& request : fake.requests) sent[request.address].push_back(request);
  for (int third = 0; third < 4; ++third) {
    for (int fourth = 0; fourth < 256; ++fourth) {
      const auto& requests = sent[addressOf(10, 0, static_cast<std::uint8_t>(third),
                                            static_cast<std::uint8_t>(fourth))];
      ASSERT_EQ(requests.size(), 2u) << third << "." << fourth;
      EXPECT_EQ(requests[0].size, 300);
      EXPECT_EQ(requests[0].timeoutMs, 5000u);
      EXPECT_EQ(requests[1].size, 100);
      EXPECT_EQ(requests[1].timeoutMs, 2000u);
    }
  }
  // The others were started after /timeout:2 and see 1 or 2 requests of
  // either size, depending on how far the main thread got meanwhile.
  for (int third = 4; third < 8; ++third) {
    for (int fourth = 0; fourth < 256; ++fourth) {
      const auto& requests = sent[addressOf(10, 0, static_cast<std::uint8_t>(third),
                                            static_cast<std::uint8_t>(fourth))];
      ASSERT_GE(requests.size(), 1u);
      ASSERT_LE(requests.size(), 2u);
      for (const auto& request : requests) {
        EXPECT_EQ(request.timeoutMs, 2000u);
        EXPECT_TRUE(request.size == 300 || request.size == 100) << request.size;
      }
    }
  }
}

// /rate: over real workers: each request takes a turn of its own on the
// shared schedule, so however the workers interleave, the k-th request to
// leave does so no earlier than k gaps after the first turn. The fake's
// clock is the sum of every worker's sleeps, so it runs ahead, never behind.
TEST(Concurrency, RateTurnsAreSharedByEveryWorker) {
  FakePlatform fake;
  fake.threadMode = ThreadMode::real;
  const int targets = 512;
  const auto run =
      runWith(fake, {"/rate:1000", "/times:2", "/retry:1", "/timeout:0", "10.0.0-1.0-255"});
  EXPECT_EQ(run.exitStatus, 0);
  std::vector<std::uint64_t> sentAt;
  for (const auto& request : fake.requests) sentAt.push_back(request.sentAtMs);
  ASSERT_EQ(sentAt.size(), static_cast<std::size_t>(2 * targets));
  std::sort(sentAt.begin(), sentAt.end());
  for (std::size_t k = 0; k < sentAt.size(); ++k) {
    ASSERT_GE(sentAt[k], k) << "request " << k;
  }
}

}  // namespace
}  // namespace fanecho
