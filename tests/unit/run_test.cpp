// The whole run: routing, workers, the wait and the summary.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

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
  EXPECT_NE(json.output.find(R"("result":"not_sent","reason":"not_sent","from":null,"sent":0,)"),
            std::string::npos);
  EXPECT_NE(
      json.output.find(R"("result":"unreachable","reason":"no_response","from":null,"sent":1,)"),
      std::string::npos);
  EXPECT_NE(json.errors.find("echo requests to 1 target could"), std::string::npos);

  // A request this machine refused (an unreachable route) did not leave
  // either, but that is the route's word, not a shortage: no notice.
  FakePlatform refused;
  refused.script(addressOf(10, 1, 1, 1), {{Reply::refused}});
  run = runWith(refused, {"/json", "10.1.1.1"});
  EXPECT_NE(refused.output.find(
                R"("result":"unreachable","reason":"no_route_here","from":null,"sent":0,)"),
            std::string::npos);
  EXPECT_EQ(refused.errors, "");

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

// A start that fails waits for a worker that has ended, which is waited for
// and released, and is tried again then: the order of the arguments holds.
// With no worker running it pauses briefly before each new try.
TEST(Run, AThreadThatCannotStartIsStartedOnceAWorkerHasEnded) {
  FakePlatform fake;
  fake.failingStartsFor["10.0.0.3"] = 1;
  auto run = runWith(fake, {"/report:all", "10.0.0.1-4"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.output,
            "10.0.0.1 is ok\n10.0.0.2 is ok\n10.0.0.3 is ok\n10.0.0.4 is ok\n\n"
            "all 4 machines are ok\n");
  EXPECT_TRUE(fake.sleeps.empty());
  // The two that had ended before the retry, then the two left at the end.
  EXPECT_EQ(fake.waitBatches, (std::vector<std::uint32_t>{2, 2}));
  EXPECT_EQ(fake.releasedThreads, 2);
  EXPECT_EQ(fake.errors, "");

  FakePlatform alone;
  alone.failingStarts = 2;
  run = runWith(alone, {"/report:all", "10.0.0.1-2"});
  EXPECT_EQ(run.output, "10.0.0.1 is ok\n10.0.0.2 is ok\n\nall 2 machines are ok\n");
  EXPECT_EQ(alone.sleeps, (std::vector<std::uint32_t>{1, 2}));
  EXPECT_EQ(alone.errors, "");
}

// Only a start that still fails with no worker left fails its target, after
// the pauses; one notice on standard error names the limits, and under
// /json its object says not_sent with nothing sent. A second target that
// cannot start right after gets no pauses.
TEST(Run, ATargetWhoseThreadNeverStartsIsCountedFailed) {
  FakePlatform fake;
  fake.failingStartsFor["10.0.0.1"] = 1000;
  fake.failingStartsFor["10.0.0.2"] = 1000;
  auto run = runWith(fake, {"/report:all", "10.0.0.1-3"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.output,
            "10.0.0.1 could not be reached\n10.0.0.2 could not be reached\n10.0.0.3 is ok\n\n"
            "#machines sent / replied / timed-out = 3 / 1 / 2\n");
  EXPECT_EQ(fake.sleeps, (std::vector<std::uint32_t>{1, 2, 4, 8, 16, 32, 64, 128, 256}));
  EXPECT_EQ(fake.errors,
            "fanecho: no worker thread could be started for 2 targets, even with no other worker "
            "running; they were counted as failed without being asked. no more threads\n");

  FakePlatform json;
  json.failingStartsFor["10.0.0.1"] = 1000;
  run = runWith(json, {"/json", "10.0.0.1"});
  EXPECT_EQ(run.output,
            R"({"type":"target","target":"10.0.0.1","kind":"address","address":"10.0.0.1",)"
            R"("result":"not_sent","reason":"not_sent","from":null,"sent":0,"good":0,"wrong":0,)"
            R"("rtt_min_ms":null,)"
            R"("rtt_avg_ms":null,"rtt_max_ms":null})"
            "\n"
            R"({"type":"summary","targets":1,"ok":0,"failed":1,"exit_status":2})"
            "\n");
  EXPECT_EQ(linesOf(json.errors).size(), 1u);
}

// Real threads under a limit on how many may be alive, as `ulimit -u` sets
// one: every start that fails waits for a worker to end, and every target
// is probed, in the order given.
TEST(Run, StartsWaitForRunningWorkersUnderAThreadLimit) {
  FakePlatform fake;
  fake.threadMode = ThreadMode::real;
  fake.threadLimit = 3;
  // The first workers hold on until a start has failed for want of room.
  fake.onSend = [&fake](const IpAddress&) {
    while (fake.startsOverLimit.load() == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  fake.script(addressOf(10, 0, 0, 7), {{Reply::none}});
  const auto run = runWith(fake, {"/report:error", "10.0.0.1-30"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(
      run.output,
      "10.0.0.7 could not be reached\n\n#machines sent / replied / timed-out = 30 / 29 / 1\n");
  ASSERT_EQ(fake.started.size(), 30u);
  for (std::size_t i = 0; i < fake.started.size(); ++i) {
    EXPECT_EQ(fake.started[i].job.label, "10.0.0." + std::to_string(i + 1));
  }
  EXPECT_GE(fake.startsOverLimit.load(), 1);
  EXPECT_GE(fake.releasedThreads, 1);
  EXPECT_EQ(fake.threadsAlive, 0);
  EXPECT_EQ(fake.errors, "");
}

// Under /queue every target is probed, past 10000, and the workers that
// ended are waited for and released as the table fills; targets before
// /queue still meet the limit.
TEST(Run, QueueProbesEveryTargetPastTheLimit) {
  FakePlatform fake;
  auto run = runWith(fake, {"/queue", "10.0.0-78.0-255"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.output, "\nall 20224 machines are ok\n");
  EXPECT_EQ(fake.releasedThreads, 20000);
  std::uint32_t waited = 0;
  for (std::uint32_t batch : fake.waitBatches) {
    EXPECT_LE(batch, kMaxWaitHandles);
    waited += batch;
  }
  EXPECT_EQ(waited, 20224u);

  FakePlatform late;
  run = runWith(late, {"10.0.0-39.0-255", "/queue", "10.1.0.1-5", "gateway"});
  const auto lines = linesOf(run.output);
  ASSERT_EQ(lines.size(), 240u + 3u);
  EXPECT_EQ(lines.front(), "too many addresses; ignoring 10.0.39.16");
  EXPECT_EQ(lines[239], "too many addresses; ignoring 10.0.39.255");
  EXPECT_EQ(lines.back(), "#machines sent / replied / timed-out = 10006 / 10005 / 1");
}

// /progress under /queue says how many targets of the argument are still to
// start, excluded addresses left out; the line is otherwise as it was.
TEST(Run, ProgressUnderQueueCountsTheWaitingTargets) {
  FakePlatform fake;
  fake.errorColumns = 200;
  std::vector<std::string> drawn;
  // The line as the ticker draws it while the third address of each
  // argument is probed, up to its seconds.
  fake.onSend = [&fake, &drawn](const IpAddress& address) {
    if (address != addressOf(10, 0, 0, 3) && address != testing::ipv6Of("fd00::1:3")) return;
    fake.errors.clear();
    fake.tick();
    drawn.push_back(fake.errors.substr(1, fake.errors.find(" waiting; ") - 1));
  };
  runWith(fake, {"/progress", "/queue", "/cidr", "/exclude:10.0.0.5", "10.0.0.0/29", "/ip:6",
                 "/exclude:fd00::1:10-ff", "fd00::1:0/120", "fd00::1:1-9", "10.0.0.1-6"});
  EXPECT_EQ(drawn, (std::vector<std::string>{
                       "fanecho: 2 started, 2 finished: 2 ok, 0 failed; 3",
                       "fanecho: 8 started, 8 finished: 8 ok, 0 failed; 13",
                       "fanecho: 23 started, 23 finished: 23 ok, 0 failed; 7",
                       "fanecho: 32 started, 32 finished: 32 ok, 0 failed; 3",
                   }));
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
            R"("result":"unreachable","reason":"no_response","from":null,"sent":1,"good":0,)"
            R"("wrong":0,"rtt_min_ms":null,)"
            R"("rtt_avg_ms":null,"rtt_max_ms":null})"
            "\n"
            R"({"type":"target","target":"10.0.0.3","kind":"address","address":"10.0.0.3",)"
            R"("name":"three","result":"invalid_data","reason":"wrong_data","from":null,)"
            R"("sent":2,"good":1,"wrong":1,)"
            R"("rtt_min_ms":1.234,"rtt_avg_ms":1.618,"rtt_max_ms":2.001})"
            "\n"
            R"({"type":"target","target":"alpha","kind":"host_name","address":"10.0.0.9",)"
            R"("result":"ok","reason":null,"from":null,"sent":2,"good":2,"wrong":0,)"
            R"("rtt_min_ms":0.000,"rtt_avg_ms":0.000,)"
            R"("rtt_max_ms":0.000})"
            "\n"
            R"({"type":"target","target":"nowhere","kind":"host_name","address":null,)"
            R"("result":"not_translated","reason":null,"from":null,"sent":0,"good":0,"wrong":0,)"
            R"("rtt_min_ms":null,)"
            R"("rtt_avg_ms":null,"rtt_max_ms":null})"
            "\n"
            R"({"type":"summary","targets":5,"ok":2,"failed":3,"exit_status":1})"
            "\n");
}

// Names, reverse names, file names and arguments come from outside: in text
// lines their control bytes show as "?"; JSON keeps every byte, escaped, and
// escapes as well what steers a terminal though it is valid UTF-8 (C1
// controls, bidirectional overrides).
TEST(Run, OutsideTextCannotSteerTheTerminal) {
  FakePlatform fake;
  fake.addReverseName(addressOf(10, 0, 0, 3), "gw\x1b[31m\x7f");
  const auto run = runWith(fake, {"/report:all", "/verbose", "bad\x1b]0;x\x07name", "10.0.0.3",
                                  "/include:no\x1b[2Jfile", "/x\x9b\r"});
  EXPECT_EQ(run.output,
            "bad?]0;x?name could not be translated\n"
            "10.0.0.3 (gw?[31m?) is ok; RTT = 0 msec\n"
            "file no?[2Jfile not found\n"
            "invalid control argument /x\x9b?; try fanecho /? for more help\n"
            "\n"
            "#machines sent / replied / timed-out = 2 / 1 / 1\n");

  struct Case {
    const char* name;
    const char* json;
  };
  const Case cases[] = {
      {"a\x1b]0;x\x07", R"("a\u001b]0;x\u0007")"},
      {"\xc2\x85\xc2\x9b\xc2\xa0", "\"\\u0085\\u009b\xc2\xa0\""},  // C1 escaped, NBSP kept
      {"ab\xe2\x80\xae"
       "cba\xe2\x81\xa6\xe2\x81\xa9",
       R"("ab\u202ecba\u2066\u2069")"},
      {"\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xaa", "\"\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xaa\""},
      {"\x85", R"("\u0085")"},  // a stray byte, as before
  };
  for (const Case& c : cases) {
    FakePlatform json;
    runWith(json, {"/json", c.name});
    EXPECT_EQ(linesOf(json.output)[0].substr(0, 27 + std::string(c.json).size()),
              std::string(R"({"type":"target","target":)") + c.json + ",")
        << c.name;
  }
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
            R"("family":6,"result":"ok","reason":null,"from":null,"sent":1,"good":1,"wrong":0,)"
            R"("rtt_min_ms":0.000,)"
            R"("rtt_avg_ms":0.000,"rtt_max_ms":0.000})"
            "\n"
            R"({"type":"target","target":"nowhere","kind":"host_name","address":null,)"
            R"("family":null,"result":"not_translated","reason":null,"from":null,"sent":0,)"
            R"("good":0,"wrong":0,)"
            R"("rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null})"
            "\n"
            R"({"type":"target","target":"v4only","kind":"host_name","address":"10.0.0.5",)"
            R"("family":4,"result":"ok","reason":null,"from":null,"sent":1,"good":1,"wrong":0,)"
            R"("rtt_min_ms":0.000,)"
            R"("rtt_avg_ms":0.000,"rtt_max_ms":0.000})"
            "\n"
            R"({"type":"summary","targets":3,"ok":2,"failed":1,"exit_status":1})"
            "\n");

  // A name that may take either family and resolves to IPv6 is that
  // address: the line once, and nothing sent.
  FakePlatform any;
  any.ipv6Missing = true;
  any.addHost("v6only", testing::ipv6Of("2001:db8::6"));
  run = runWith(any, {"/json", "/ip:any", "v6only", "10.0.0.1", "v6only"});
  EXPECT_EQ(linesOf(any.output)[0], R"({"type":"message","message":"family_missing",)"
                                    R"("text":"IPv6 echo is not available on this system"})");
  EXPECT_EQ(linesOf(any.output).size(), 5u);
  EXPECT_NE(any.output.find(R"("address":"2001:db8::6","family":6,"result":"unreachable",)"
                            R"("reason":"not_sent","from":null,"sent":0,)"),
            std::string::npos);
  EXPECT_EQ(any.requests.size(), 1u);
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
