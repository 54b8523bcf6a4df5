// The whole run: routing, workers, the wait and the summary.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "report/summary.h"

namespace fanecho {
namespace {

using testing::addressOf;
using testing::FakePlatform;
using testing::linesOf;
using testing::Reply;
using testing::runWith;
using testing::ThreadMode;

TEST(Summary, FormsAndExitStatuses) {
  struct Case {
    std::uint32_t n, ok, failed;
    const char* line;
    int status;
  };
  const Case cases[] = {
      {1, 1, 0, "machine is ok", 0},
      {1, 0, 1, "machine is not ok", 2},
      {2, 2, 0, "all 2 machines are ok", 0},
      {2, 0, 2, "none of the 2 machines are ok", 2},
      {3, 1, 2, "#machines sent / replied / timed-out = 3 / 1 / 2", 1},
      {1, 0, 0, "#machines sent / replied / timed-out = 1 / 0 / 0", 1},
      {10000, 10000, 0, "all 10000 machines are ok", 0},
  };
  for (const Case& c : cases) {
    FakePlatform fake;
    results.okCount = c.ok;
    results.failedCount = c.failed;
    printSummary(c.n);
    EXPECT_EQ(fake.output, std::string("\n") + c.line + "\n");
    EXPECT_EQ(results.exitStatus.load(), c.status);
  }
  FakePlatform fake;
  printSummary(0);
  EXPECT_EQ(fake.output, "");
  EXPECT_EQ(results.exitStatus.load(), 255);
}

TEST(Run, NothingToProbeWritesNothingAndEnds255) {
  FakePlatform fake;
  EXPECT_EQ(runWith(fake, {}).exitStatus, 255);
  EXPECT_EQ(fake.output, "");

  FakePlatform controls;
  const auto run = runWith(controls, {"/report:all", "/timeout:1", "1.2.3"});
  EXPECT_EQ(run.exitStatus, 255);
  EXPECT_EQ(run.output, "illegal IP address\n");
  EXPECT_TRUE(controls.waitBatches.empty());
}

TEST(Run, ArgumentsAreRoutedByTheirFirstCharacter) {
  FakePlatform fake;
  fake.threadMode = ThreadMode::record;
  fake.addHost("x5", 10, 0, 0, 5);
  runWith(fake, {"-5", "/5", "5x", "x5", "3com", "", " 1.2.3.4", ".1.2.3.4"});
  EXPECT_EQ(linesOf(fake.output)[0], "invalid control argument -5; try fanecho /? for more help");
  EXPECT_EQ(linesOf(fake.output)[1], "invalid control argument /5; try fanecho /? for more help");
  // 5x and 3com are patterns (each one illegal); the rest are host names.
  ASSERT_EQ(fake.started.size(), 4u);
  EXPECT_EQ(fake.started[0].job.label, "x5");
  EXPECT_EQ(fake.started[1].job.label, "");
  EXPECT_EQ(fake.started[2].job.label, " 1.2.3.4");
  EXPECT_EQ(fake.started[3].job.label, ".1.2.3.4");
  for (const auto& s : fake.started) {
    EXPECT_EQ(s.job.kind, TargetKind::hostName);
    EXPECT_EQ(s.priority, ThreadPriority::belowNormal);
  }
}

TEST(Run, MixedTargetsEndWithTheMixedSummary) {
  FakePlatform fake;
  fake.addHost("alpha", 10, 0, 0, 1);
  fake.script(addressOf(10, 1, 1, 2), {{Reply::none}});
  const auto run = runWith(fake, {"/report:all", "10.1.1.1-2", "alpha", "beta"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.output,
            "10.1.1.1 is ok\n"
            "10.1.1.2 could not be reached\n"
            "alpha is ok\n"
            "beta could not be translated\n"
            "\n"
            "#machines sent / replied / timed-out = 4 / 2 / 2\n");
}

// Lost requests and lost lines are said once on standard error, and a run
// whose output could not be written never ends as if it had been.
TEST(Run, LocalFailuresAreToldOnStandardError) {
  FakePlatform fake;
  fake.script(addressOf(10, 1, 1, 1), std::vector<testing::ScriptedReply>(40, {Reply::unsent}));
  fake.script(addressOf(10, 1, 1, 2), std::vector<testing::ScriptedReply>(40, {Reply::unsent}));
  auto run = runWith(fake, {"/timeout:0", "10.1.1.1-3"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(fake.errors,
            "fanecho: echo requests to 2 targets could not leave this machine before their "
            "time-out; those targets were counted as failed without being asked. a full table "
            "/interval:<ms> starts the targets that far apart (/interval:1: 10000 targets over "
            "about 10 s), so fewer requests are on their way at once.\n");

  // Under /json a target none of whose requests left says so, and counts
  // only requests that left; one of them leaving makes it a silent target.
  FakePlatform json;
  json.script(addressOf(10, 1, 1, 1), std::vector<testing::ScriptedReply>(40, {Reply::unsent}));
  json.script(addressOf(10, 1, 1, 2), {{Reply::unsent}, {Reply::none}});
  run = runWith(json, {"/json", "/timeout:0", "/times:2", "10.1.1.1-2"});
  EXPECT_NE(json.output.find(R"("target":"10.1.1.1",)"), std::string::npos);
  EXPECT_NE(json.output.find(R"("result":"not_sent","sent":0,)"), std::string::npos);
  EXPECT_NE(json.output.find(R"("result":"unreachable","sent":1,)"), std::string::npos);
  EXPECT_NE(json.errors.find("echo requests to 1 target could"), std::string::npos);

  FakePlatform full;
  full.outputError = 28;  // ENOSPC
  run = runWith(full, {"/report:all", "10.1.1.1-3"});
  EXPECT_EQ(run.exitStatus, kExitOutputError);
  EXPECT_EQ(linesOf(full.errors).size(), 1u);
  EXPECT_EQ(full.errors.rfind("fanecho: cannot write standard output: ", 0), 0u);
}

TEST(Run, SettingsReachTheTargetsAfterThem) {
  FakePlatform fake;
  const auto run = runWith(fake, {"1.1.1.1", "/times:3", "/size:20", "/timeout:2", "1.1.1.2"});
  EXPECT_EQ(run.exitStatus, 0);
  ASSERT_EQ(fake.requests.size(), 4u);
  EXPECT_EQ(fake.requests[0].size, 300);
  EXPECT_EQ(fake.requests[0].timeoutMs, 5000u);
  EXPECT_EQ(fake.requests[3].size, 20);
  EXPECT_EQ(fake.requests[3].timeoutMs, 2000u);
}

TEST(Run, WorkersAreWaitedForInGroupsOf64) {
  struct Case {
    const char* pattern;
    std::vector<std::uint32_t> batches;
  };
  std::vector<std::uint32_t> full(156, 64);
  full.push_back(16);
  const Case cases[] = {
      {"10.0.0.0-63", {64}},
      {"10.0.0.0-64", {64, 1}},
      {"10.0.0-39.0-255", full},
  };
  for (const Case& c : cases) {
    FakePlatform fake;
    fake.threadMode = ThreadMode::record;
    runWith(fake, {c.pattern});
    EXPECT_EQ(fake.waitBatches, c.batches) << c.pattern;
  }
}

TEST(Run, AThreadThatCannotStartIsStartedAgainAfterTheOthers) {
  FakePlatform fake;
  fake.failingStarts = 1;
  const auto run = runWith(fake, {"/report:all", "10.0.0.1-3"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.output,
            "10.0.0.2 is ok\n10.0.0.3 is ok\n10.0.0.1 is ok\n\nall 3 machines are ok\n");
  EXPECT_TRUE(fake.sleeps.empty());
  // The two running workers were waited for as one group, the late one alone.
  EXPECT_EQ(fake.waitBatches, (std::vector<std::uint32_t>{2, 1}));
}

TEST(Run, ATargetWhoseThreadNeverStartsIsCountedFailed) {
  FakePlatform fake;
  fake.failingStartsFor["10.0.0.1"] = 2;  // its first start and its second chance
  const auto run = runWith(fake, {"/report:all", "10.0.0.1-2"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.output,
            "10.0.0.2 is ok\n10.0.0.1 could not be reached\n\n"
            "#machines sent / replied / timed-out = 2 / 1 / 1\n");
}

TEST(Run, AFailedWaitSleepsOnceAndStopsWaiting) {
  FakePlatform fake;
  fake.threadMode = ThreadMode::record;
  fake.failWaits = true;
  const auto run = runWith(fake, {"/timeout:3", "10.0.0.0-99"});
  EXPECT_EQ(fake.waitBatches.size(), 1u);
  EXPECT_EQ(fake.sleeps, (std::vector<std::uint32_t>{3000}));
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(linesOf(run.output).back(), "#machines sent / replied / timed-out = 100 / 0 / 0");
}

// Refused targets start nothing, so they wait for nothing.
TEST(Run, IntervalPacesStartsButNotRefusals) {
  FakePlatform fake;
  fake.threadMode = ThreadMode::record;
  runWith(fake, {"/interval:50", "10.0.0.1-3", "/interval:0", "10.1.0-39.0-255", "/interval:600000",
                 "10.2.0.1", "somewhere"});
  EXPECT_EQ(fake.started.size(), kMaxWorkers);
  ASSERT_EQ(fake.sleeps.size(), 2u);
  for (std::uint32_t pause : fake.sleeps) {
    EXPECT_GT(pause, 0u);
    EXPECT_LE(pause, 50u);
  }
}

// Each line takes its form as it is written: before /json text, after it
// objects, for every target whatever /report: says.
TEST(Run, JsonFromTheMomentItIsRead) {
  FakePlatform fake;
  fake.addHost("alpha", 10, 0, 0, 9);
  fake.addReverseName(addressOf(10, 0, 0, 3), "three");
  fake.script(addressOf(10, 0, 0, 2), {{Reply::none}});
  fake.script(addressOf(10, 0, 0, 3), {{Reply::good, 1, 1234}, {Reply::wrongData, 2, 2001}});
  const auto run = runWith(fake, {"/report:ok", "10.0.0.1", "10.0.0.1.1", "/json", "/verbose",
                                  "10.0.0.2", "/times:2", "10.0.0.3", "alpha", "nowhere"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.output,
            "10.0.0.1 is ok\n"
            "illegal IP address\n"
            R"({"type":"target","target":"10.0.0.2","kind":"address","address":"10.0.0.2",)"
            R"("result":"unreachable","sent":1,"good":0,"wrong":0,"rtt_min_ms":null,)"
            R"("rtt_avg_ms":null,"rtt_max_ms":null})"
            "\n"
            R"({"type":"target","target":"10.0.0.3","kind":"address","address":"10.0.0.3",)"
            R"("name":"three","result":"invalid_data","sent":2,"good":1,"wrong":1,)"
            R"("rtt_min_ms":1.234,"rtt_avg_ms":1.618,"rtt_max_ms":2.001})"
            "\n"
            R"({"type":"target","target":"alpha","kind":"host_name","address":"10.0.0.9",)"
            R"("result":"ok","sent":2,"good":2,"wrong":0,"rtt_min_ms":0.000,"rtt_avg_ms":0.000,)"
            R"("rtt_max_ms":0.000})"
            "\n"
            R"({"type":"target","target":"nowhere","kind":"host_name","address":null,)"
            R"("result":"not_translated","sent":0,"good":0,"wrong":0,"rtt_min_ms":null,)"
            R"("rtt_avg_ms":null,"rtt_max_ms":null})"
            "\n"
            R"({"type":"summary","targets":5,"ok":2,"failed":3,"exit_status":1})"
            "\n");
}

// Without /ip: a colon changes nothing; after /ip:6 or /ip:any a target
// with one is an IPv6 address whatever its first character, and dotted
// patterns stay IPv4.
TEST(Run, IpFamilyRoutesAndResolves) {
  FakePlatform fake;
  fake.addHost("dual", 10, 0, 0, 4);
  fake.addHost("dual", testing::ipv6Of("2001:db8::4"));
  fake.addHost("v4only", 10, 0, 0, 5);
  fake.script(testing::ipv6Of("2001:db8::2"), {{Reply::none}});
  fake.addReverseName(testing::ipv6Of("2001:db8::1"), "one.example");
  const auto run = runWith(fake, {"/report:all", "::1", "2001:db8::1", "dual", "/ip:6", "::1",
                                  "2001:db8::1-2", "10.0.0.1", "dual", "v4only", "/verbose",
                                  "/ip:any", "2001:db8::1", "dual", "v4only", "/ip:bad"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.output,
            "::1 could not be translated\n"
            "illegal IP address\n"
            "dual is ok\n"
            "::1 is ok\n"
            "2001:db8::1 is ok\n"
            "2001:db8::2 could not be reached\n"
            "10.0.0.1 is ok\n"
            "dual is ok\n"
            "v4only could not be translated\n"
            "2001:db8::1 (one.example) is ok; RTT = 0 msec\n"
            "dual (10.0.0.4) is ok; RTT = 0 msec\n"
            "v4only (10.0.0.5) is ok; RTT = 0 msec\n"
            "expected 4, 6 or any\n"
            "\n"
            "#machines sent / replied / timed-out = 11 / 8 / 3\n");
  // The permission is asked once for each family, when it is first needed.
  EXPECT_EQ(fake.problemFamilies, (std::vector<std::uint8_t>{4, 6}));
}

// Where the system has no IPv6 echo, one line says so; its targets fail
// unsent and the IPv4 ones go on. /json objects carry the family once /ip:
// has been given.
TEST(Run, MissingIpv6FailsItsTargetsOnly) {
  FakePlatform fake;
  fake.ipv6Missing = true;
  auto run = runWith(fake, {"/report:all", "/ip:6", "::1-2", "10.0.0.1", "::3"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.output,
            "IPv6 echo is not available on this system\n"
            "::1 could not be reached\n"
            "::2 could not be reached\n"
            "10.0.0.1 is ok\n"
            "::3 could not be reached\n"
            "\n"
            "#machines sent / replied / timed-out = 4 / 1 / 3\n");
  EXPECT_EQ(fake.requests.size(), 1u);

  FakePlatform json;
  json.addHost("v4only", 10, 0, 0, 5);
  run = runWith(json, {"/json", "/ip:any", "2001:db8::1", "nowhere", "/ip:4", "v4only"});
  EXPECT_EQ(run.output,
            R"({"type":"target","target":"2001:db8::1","kind":"address","address":"2001:db8::1",)"
            R"("family":6,"result":"ok","sent":1,"good":1,"wrong":0,"rtt_min_ms":0.000,)"
            R"("rtt_avg_ms":0.000,"rtt_max_ms":0.000})"
            "\n"
            R"({"type":"target","target":"nowhere","kind":"host_name","address":null,)"
            R"("family":null,"result":"not_translated","sent":0,"good":0,"wrong":0,)"
            R"("rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null})"
            "\n"
            R"({"type":"target","target":"v4only","kind":"host_name","address":"10.0.0.5",)"
            R"("family":4,"result":"ok","sent":1,"good":1,"wrong":0,"rtt_min_ms":0.000,)"
            R"("rtt_avg_ms":0.000,"rtt_max_ms":0.000})"
            "\n"
            R"({"type":"summary","targets":3,"ok":2,"failed":1,"exit_status":1})"
            "\n");
}

// Standard output as without /progress; the line is gone for good, its
// ticker stopped, before the summary.
TEST(Run, ProgressEndsBeforeTheSummary) {
  FakePlatform fake;
  fake.errorColumns = 80;
  const auto run = runWith(fake, {"/progress", "/report:all", "10.0.0.1"});
  EXPECT_EQ(run.output, "10.0.0.1 is ok\n\nmachine is ok\n");
  EXPECT_EQ(fake.tick, nullptr);
  const std::string drawn = fake.errors.substr(0, fake.errors.find('\r', 1));
  EXPECT_TRUE(drawn.starts_with("\rfanecho: 0 started, 0 finished: 0 ok, 0 failed; ")) << drawn;
  EXPECT_EQ(fake.errors, drawn + "\r" + std::string(drawn.size() - 1, ' ') + "\r");
}

TEST(Run, RealThreadsCountEveryTarget) {
  FakePlatform fake;
  fake.threadMode = ThreadMode::real;
  fake.script(addressOf(10, 0, 1, 7), {{Reply::wrongData}});
  const auto run = runWith(fake, {"10.0.0-1.0-99", "somewhere"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(linesOf(run.output),
            (std::vector<std::string>{"somewhere could not be translated", "",
                                      "#machines sent / replied / timed-out = 201 / 199 / 2"}));
}

}  // namespace
}  // namespace fanecho
