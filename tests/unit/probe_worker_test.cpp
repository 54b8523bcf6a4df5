#include "probe/probe_worker.h"

#include <gtest/gtest.h>

#include "fake_platform.h"

namespace fanecho {
namespace {

using testing::addressOf;
using testing::FakePlatform;
using testing::Reply;
using testing::ScriptedReply;

class Worker : public ::testing::Test {
 protected:
  // Probes 10.1.2.3 with the given replies and returns its result line.
  std::string probe(std::vector<ScriptedReply> replies) {
    fake.script(target, std::move(replies));
    ProbeJob job;
    job.address = target;
    job.label = "10.1.2.3";
    probeTarget(&job);
    return fake.output;
  }

  void reportAll(bool verbose = false) {
    settings.reportSuccesses = 1;
    settings.reportFailures = 1;
    settings.verbose = verbose ? 1 : 0;
  }

  FakePlatform fake;
  const IpAddress target = addressOf(10, 1, 2, 3);
};

TEST_F(Worker, VerdictsAndTheirLines) {
  struct Case {
    std::vector<ScriptedReply> replies;
    std::uint32_t times;
    const char* line;
    bool ok;
  };
  const Case cases[] = {
      {{{Reply::good, 10}}, 1, "10.1.2.3 is ok\n", true},
      {{{Reply::none}}, 1, "10.1.2.3 could not be reached\n", false},
      {{{Reply::wrongSize}}, 1, "10.1.2.3 replied with invalid data\n", false},
      {{{Reply::wrongData}}, 1, "10.1.2.3 replied with invalid data\n", false},
      // A success status with no reply record is a wrong reply, not none.
      {{{Reply::zeroCount}}, 1, "10.1.2.3 replied with invalid data\n", false},
      {{{Reply::good}, {Reply::wrongData}}, 2, "10.1.2.3 replied with invalid data\n", false},
      {{{Reply::good}, {Reply::none}}, 2, "10.1.2.3 is ok\n", true},
      {{{Reply::none}, {Reply::none}, {Reply::good}}, 3, "10.1.2.3 is ok\n", true},
      {{}, 0, "10.1.2.3 could not be reached\n", false},
  };
  for (const Case& c : cases) {
    FakePlatform local;
    local.script(target, c.replies);
    settings.reportSuccesses = settings.reportFailures = 1;
    settings.echoCount = c.times;
    ProbeJob job;
    job.address = target;
    job.label = "10.1.2.3";
    probeTarget(&job);
    EXPECT_EQ(local.output, c.line);
    EXPECT_EQ(results.okCount.load(), c.ok ? 1u : 0u);
    EXPECT_EQ(results.failedCount.load(), c.ok ? 0u : 1u);
    EXPECT_EQ(local.requests.size(), c.times);
    EXPECT_EQ(local.openHandles, 0);  // the handle is closed, also after no attempt
    EXPECT_EQ(local.createdHandles, 1);
  }
}

TEST_F(Worker, ReportFlagsChooseTheLinesButEveryTargetIsCounted) {
  EXPECT_EQ(probe({{Reply::good}}), "");
  EXPECT_EQ(probe({{Reply::none}}), "");
  EXPECT_EQ(results.okCount.load(), 1u);
  EXPECT_EQ(results.failedCount.load(), 1u);

  settings.reportFailures = 1;
  EXPECT_EQ(probe({{Reply::good}}), "");
  EXPECT_EQ(probe({{Reply::wrongData}}), "10.1.2.3 replied with invalid data\n");
}

TEST_F(Worker, RoundTripFormsInVerboseMode) {
  reportAll(true);
  EXPECT_EQ(probe({{Reply::good, 10}}), "10.1.2.3 (?) is ok; RTT = 10 msec\n");

  fake.output.clear();
  settings.echoCount = 3;
  EXPECT_EQ(probe({{Reply::good, 9}, {Reply::good, 10}, {Reply::good, 12}}),
            "10.1.2.3 (?) is ok; min/avg/max RTT = 9/10.3333/12 msec\n");

  // An unanswered attempt has no round trip: it is left out of the figures.
  fake.output.clear();
  EXPECT_EQ(probe({{Reply::good, 9}, {Reply::none}, {Reply::good, 12}}),
            "10.1.2.3 (?) is ok; min/avg/max RTT = 9/10.5/12 msec\n");

  // The form follows the number of attempts, not of replies.
  fake.output.clear();
  settings.echoCount = 2;
  EXPECT_EQ(probe({{Reply::none}, {Reply::good, 7}}),
            "10.1.2.3 (?) is ok; min/avg/max RTT = 7/7/7 msec\n");
}

TEST_F(Worker, VerboseLabels) {
  reportAll(true);
  fake.addReverseName(target, "gateway.example");
  EXPECT_EQ(probe({{Reply::good, 1}}), "10.1.2.3 (gateway.example) is ok; RTT = 1 msec\n");

  // The unreachable line keeps the bare label and makes no look-up.
  fake.output.clear();
  EXPECT_EQ(probe({{Reply::none}}), "10.1.2.3 could not be reached\n");

  fake.output.clear();
  fake.addHost("router", 10, 0, 7, 1);
  ProbeJob named;
  named.label = "router";
  named.kind = TargetKind::hostName;
  fake.script(addressOf(10, 0, 7, 1), {{Reply::wrongData}, {Reply::good}});
  settings.echoCount = 2;
  probeTarget(&named);
  EXPECT_EQ(fake.output, "router (10.0.7.1) replied with invalid data\n");
  EXPECT_EQ(named.address, addressOf(10, 0, 7, 1));

  // A name's job asks for its family: IPv6 alone, or whichever comes first.
  fake.addHost("dual", 10, 0, 7, 9);
  fake.addHost("dual", testing::ipv6Of("2001:db8:0:0:1::5"));
  fake.addHost("v6only", testing::ipv6Of("2001:db8::6"));
  struct Case {
    const char* name;
    std::uint8_t family;
    const char* line;
  };
  const Case cases[] = {
      {"dual", 6, "dual (2001:db8::1:0:0:5) is ok; RTT = 0 msec\n"},
      {"dual", kFamilyAny, "dual (10.0.7.9) is ok; RTT = 0 msec\n"},
      {"v6only", kFamilyAny, "v6only (2001:db8::6) is ok; RTT = 0 msec\n"},
      {"v6only", 4, "v6only could not be translated\n"},
  };
  settings.echoCount = 1;
  for (const Case& c : cases) {
    fake.output.clear();
    ProbeJob job;
    job.label = c.name;
    job.kind = TargetKind::hostName;
    job.address.family = c.family;
    probeTarget(&job);
    EXPECT_EQ(fake.output, c.line) << c.name << " " << int{c.family};
  }
}

TEST_F(Worker, ReverseNamesAreCutTo99Characters) {
  reportAll(true);
  const std::string longName(150, 'n');
  fake.addReverseName(target, longName);
  EXPECT_EQ(probe({{Reply::good, 1}}),
            "10.1.2.3 (" + std::string(99, 'n') + ") is ok; RTT = 1 msec\n");
}

TEST_F(Worker, UnresolvedNamesAreReportedInEveryModeAndSendNothing) {
  ProbeJob job;
  job.label = "nowhere";
  job.kind = TargetKind::hostName;
  probeTarget(&job);
  EXPECT_EQ(fake.output, "nowhere could not be translated\n");
  EXPECT_EQ(results.failedCount.load(), 1u);
  EXPECT_EQ(fake.createdHandles, 0);
  EXPECT_TRUE(fake.requests.empty());
}

// A request that cannot leave the machine (a full neighbour table) is sent
// again after growing pauses, within its own time-out; only when that passes
// without a send is the attempt lost, and the target counted as never asked.
TEST_F(Worker, LocalSendFailuresAreTriedAgainUntilTheTimeOut) {
  reportAll();
  settings.timeoutMs = 1000;
  EXPECT_EQ(probe({{Reply::unsent}, {Reply::unsent}, {Reply::good}}), "10.1.2.3 is ok\n");
  ASSERT_EQ(fake.requests.size(), 3u);
  ASSERT_EQ(fake.sleeps.size(), 2u);
  EXPECT_LE(fake.sleeps[0], fake.sleeps[1]);
  EXPECT_EQ(fake.requests[2].timeoutMs, 1000u - fake.sleeps[0] - fake.sleeps[1]);
  EXPECT_EQ(results.unsentCount.load(), 0u);

  fake.output.clear();
  fake.sleeps.clear();
  EXPECT_EQ(probe(std::vector<ScriptedReply>(200, {Reply::unsent})),
            "10.1.2.3 could not be reached\n");
  std::uint32_t slept = 0;
  for (std::uint32_t pause : fake.sleeps) slept += pause;
  EXPECT_EQ(slept, 1000u);
  EXPECT_GT(fake.requests.back().timeoutMs, 0u);  // no try with nothing left to wait for
  EXPECT_EQ(results.unsentCount.load(), 1u);

  // Sleeps that overshoot (thousands of threads) do not stretch the time-out.
  fake.oversleepMs = 40;
  const std::uint64_t start = fake.clockMs;
  probe(std::vector<ScriptedReply>(200, {Reply::unsent}));
  EXPECT_LE(fake.clockMs - start, 1000u + 40u);
}

TEST_F(Worker, EachRequestCarriesTheCurrentSettings) {
  settings.payloadSize = 0;
  settings.timeoutMs = 1000;
  EXPECT_EQ(probe({{Reply::good}}), "");
  EXPECT_EQ(results.okCount.load(), 1u);  // an empty reply is right for an empty request
  ASSERT_EQ(fake.requests.size(), 1u);
  EXPECT_EQ(fake.requests[0].size, 0);
  EXPECT_EQ(fake.requests[0].timeoutMs, 1000u);
}

}  // namespace
}  // namespace fanecho
