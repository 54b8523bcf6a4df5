#include "probe/probe_worker.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fake_platform.h"
#include "platform/win32/echo6_reply.h"
#include "platform/win32/ip_status.h"

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

// Why a target failed: the last request without a good reply speaks, or,
// for a target with a wrong reply, what that reply got wrong. /reason adds
// it to the failed line; every /json object carries it.
TEST_F(Worker, TheReasonOfTheLastFailedRequest) {
  const IpAddress router = addressOf(10, 8, 0, 2);
  const auto error = [](EchoStatus status, IpAddress from = IpAddress{0}) {
    return ScriptedReply{Reply::status, 0, 0, status, from};
  };
  struct Case {
    std::vector<ScriptedReply> replies;
    std::uint32_t times;
    const char* line;  // after /reason
    const char* fields;
  };
  const Case cases[] = {
      {{{Reply::none}},
       1,
       "10.1.2.3 could not be reached; no response",
       R"("result":"unreachable","reason":"no_response","from":null,"sent":1,)"},
      {{error(EchoStatus::hostUnreachable, router)},
       1,
       "10.1.2.3 could not be reached; host unreachable from 10.8.0.2",
       R"("result":"unreachable","reason":"host_unreachable","from":"10.8.0.2","sent":1,)"},
      {{error(EchoStatus::netUnreachable, router)},
       1,
       "10.1.2.3 could not be reached; net unreachable from 10.8.0.2",
       R"("reason":"net_unreachable","from":"10.8.0.2",)"},
      {{error(EchoStatus::protocolUnreachable, router)},
       1,
       "10.1.2.3 could not be reached; protocol unreachable from 10.8.0.2",
       R"("reason":"protocol_unreachable",)"},
      {{error(EchoStatus::portUnreachable, router)},
       1,
       "10.1.2.3 could not be reached; port unreachable from 10.8.0.2",
       R"("reason":"port_unreachable",)"},
      {{error(EchoStatus::adminProhibited, testing::ipv6Of("fd00:5::2"))},
       1,
       "10.1.2.3 could not be reached; admin prohibited from fd00:5::2",
       R"("reason":"admin_prohibited","from":"fd00:5::2",)"},
      {{error(EchoStatus::timeExceeded, router)},
       1,
       "10.1.2.3 could not be reached; time exceeded from 10.8.0.2",
       R"("reason":"time_exceeded",)"},
      {{error(EchoStatus::parameterProblem, router)},
       1,
       "10.1.2.3 could not be reached; parameter problem from 10.8.0.2",
       R"("reason":"parameter_problem",)"},
      {{error(EchoStatus::packetTooBig, router)},
       1,
       "10.1.2.3 could not be reached; packet too big from 10.8.0.2",
       R"("reason":"packet_too_big",)"},
      // Never left: nobody sent an error, whatever the system put in from.
      {{error(EchoStatus::noRouteHere, router)},
       1,
       "10.1.2.3 could not be reached; no route here",
       R"("result":"unreachable","reason":"no_route_here","from":null,"sent":0,)"},
      {{error(EchoStatus::refusedHere)},
       1,
       "10.1.2.3 could not be reached; no route here",
       R"("reason":"no_route_here","from":null,"sent":0,)"},
      {{error(EchoStatus::blockedHere)},
       1,
       "10.1.2.3 could not be reached; blocked here",
       R"("reason":"blocked_here","from":null,"sent":0,)"},
      {{{Reply::unsent}},
       1,
       "10.1.2.3 could not be reached; not sent",
       R"("result":"not_sent","reason":"not_sent","from":null,"sent":0,)"},
      {{{Reply::wrongSize}},
       1,
       "10.1.2.3 replied with invalid data; wrong size",
       R"("result":"invalid_data","reason":"wrong_size","from":null,)"},
      {{{Reply::zeroCount}},
       1,
       "10.1.2.3 replied with invalid data; wrong size",
       R"("reason":"wrong_size",)"},
      {{{Reply::wrongData}},
       1,
       "10.1.2.3 replied with invalid data; wrong data",
       R"("reason":"wrong_data","from":null,)"},
      // The last request without a good reply, good ones between or not.
      {{error(EchoStatus::hostUnreachable, router), {Reply::none}},
       2,
       "10.1.2.3 could not be reached; no response",
       R"("reason":"no_response","from":null,)"},
      {{{Reply::none}, error(EchoStatus::timeExceeded, router)},
       2,
       "10.1.2.3 could not be reached; time exceeded from 10.8.0.2",
       R"("reason":"time_exceeded","from":"10.8.0.2",)"},
      {{{Reply::wrongData}, {Reply::none}, {Reply::good}},
       3,
       "10.1.2.3 replied with invalid data; wrong data",
       R"("reason":"wrong_data","from":null,)"},
      {{{Reply::wrongSize}, {Reply::wrongData}},
       2,
       "10.1.2.3 replied with invalid data; wrong data",
       R"("reason":"wrong_data",)"},
      {{{Reply::none}, {Reply::good}},
       2,
       "10.1.2.3 is ok",
       R"("result":"ok","reason":null,"from":null,"sent":2,)"},
      // No request, nothing to say.
      {{}, 0, "10.1.2.3 could not be reached", R"("reason":null,"from":null,"sent":0,)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    for (const bool json : {false, true}) {
      FakePlatform local;
      local.script(target, c.replies);
      settings.reportSuccesses = settings.reportFailures = 1;
      settings.echoCount = c.times;
      settings.timeoutMs = 0;  // a shortage is given up at once
      settings.reason = 1;
      settings.json = json ? 1 : 0;
      ProbeJob job;
      job.address = target;
      job.label = "10.1.2.3";
      probeTarget(&job);
      if (json) {
        EXPECT_NE(local.output.find(c.fields), std::string::npos) << local.output;
      } else {
        EXPECT_EQ(local.output, std::string(c.line) + "\n");
      }
    }
  }

  // Without /reason the lines stay as they were; /verbose keeps its label.
  EXPECT_EQ(probe({error(EchoStatus::hostUnreachable, router)}), "");
  reportAll(true);
  settings.reason = 1;
  fake.output.clear();
  EXPECT_EQ(probe({{Reply::wrongSize}}), "10.1.2.3 (?) replied with invalid data; wrong size\n");
  settings.reason = 0;
  fake.output.clear();
  EXPECT_EQ(probe({error(EchoStatus::hostUnreachable, router)}), "10.1.2.3 could not be reached\n");
}

// /retry: more requests after those of /times: while none got a good reply,
// each waiting half as long again as the one before; they count as sent.
TEST_F(Worker, RetriesBackOffUntilAGoodReply) {
  struct Case {
    const char* what;
    std::vector<ScriptedReply> replies;
    std::uint32_t times, retries, timeoutMs;
    std::vector<std::uint32_t> waits;  // the time-out of each request, in order
    std::uint32_t sent;
    const char* line;
  };
  const Case cases[] = {
      {"silent", {}, 1, 3, 1000, {1000, 1500, 2250, 3375}, 4, "10.1.2.3 could not be reached"},
      {"a retry answers",
       {{Reply::none}, {Reply::good}},
       1,
       3,
       1000,
       {1000, 1500},
       2,
       "10.1.2.3 is ok"},
      {"the first answers", {{Reply::good}}, 1, 3, 1000, {1000}, 1, "10.1.2.3 is ok"},
      {"after every /times: request",
       {},
       2,
       1,
       1000,
       {1000, 1000, 1500},
       3,
       "10.1.2.3 could not be reached"},
      {"one good of /times: is enough",
       {{Reply::none}, {Reply::good}, {Reply::none}},
       3,
       2,
       1000,
       {1000, 1000, 1000},
       3,
       "10.1.2.3 is ok"},
      {"a wrong reply is retried",
       {{Reply::wrongData}, {Reply::good}},
       1,
       2,
       1000,
       {1000, 1500},
       2,
       "10.1.2.3 replied with invalid data"},
      {"refused here",
       std::vector<ScriptedReply>(5, {Reply::refused}),
       1,
       2,
       1000,
       {1000, 1500, 2250},
       0,
       "10.1.2.3 could not be reached"},
      {"no request asked for", {}, 0, 3, 1000, {}, 0, "10.1.2.3 could not be reached"},
      {"no retry", {}, 1, 0, 1000, {1000}, 1, "10.1.2.3 could not be reached"},
      {"odd milliseconds", {}, 1, 2, 333, {333, 499, 748}, 3, "10.1.2.3 could not be reached"},
      {"the longest wait",
       {},
       1,
       2,
       2000000000,
       {2000000000, 2147483647, 2147483647},
       3,
       "10.1.2.3 could not be reached"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform local;
    local.script(target, c.replies);
    settings.reportSuccesses = settings.reportFailures = 1;
    settings.echoCount = c.times;
    settings.retryCount = c.retries;
    settings.timeoutMs = c.timeoutMs;
    settings.json = 1;
    ProbeJob job;
    job.address = target;
    job.label = "10.1.2.3";
    probeTarget(&job);
    std::vector<std::uint32_t> waits;
    for (const auto& request : local.requests) waits.push_back(request.timeoutMs);
    EXPECT_EQ(waits, c.waits);
    const std::string sent = R"("sent":)" + std::to_string(c.sent) + ",";
    EXPECT_NE(local.output.find(sent), std::string::npos) << local.output;
    settings.json = 0;
    local.output.clear();
    ProbeJob again;
    again.address = target;
    again.label = "10.1.2.3";
    local.script(target, c.replies);
    probeTarget(&again);
    EXPECT_EQ(local.output, std::string(c.line) + "\n");
  }
}

// /rate: every request of every worker takes a turn on one schedule; a
// request waits for its turn, and its time-out starts only then.
TEST(Rate, RequestsLeaveOnTheirTurns) {
  struct Case {
    const char* rate;
    std::vector<std::uint64_t> sentAt;  // the fake clock at each request
  };
  const Case cases[] = {
      {"/rate:0", {0, 0, 0, 0, 0}},
      {"/rate:10", {0, 100, 200, 300, 400}},
      // No drift from rounding: a third of a second, to the millisecond.
      {"/rate:3", {0, 334, 667, 1000, 1334}},
      {"/rate:1000", {0, 1, 2, 3, 4}},
      // Several turns a millisecond: the clock counts whole ones.
      {"/rate:2500", {0, 1, 1, 2, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    FakePlatform fake;
    fake.script(addressOf(10, 0, 0, 1), {{Reply::none}, {Reply::none}, {Reply::none}});
    // First requests, /times: and a retry, of two workers.
    const auto run = testing::runWith(
        fake, {c.rate, "/timeout:1", "/times:2", "/retry:1", "10.0.0.1", "10.0.0.2"});
    std::vector<std::uint64_t> sentAt;
    for (const auto& request : fake.requests) {
      sentAt.push_back(request.sentAtMs);
      EXPECT_EQ(request.timeoutMs, sentAt.size() == 3 ? 1500u : 1000u);
    }
    EXPECT_EQ(sentAt, c.sentAt);
    EXPECT_EQ(run.exitStatus, 1);
  }

  // An idle spell saves up no burst: the turn after it is due at once, the
  // next a whole gap later.
  FakePlatform fake;
  testing::runWith(fake, {"/rate:10", "10.0.0.1"});
  fake.clockMs += 5000;
  testing::runWith(fake, {"/rate:10", "10.0.0.2-3"});
  ASSERT_EQ(fake.requests.size(), 3u);
  EXPECT_EQ(fake.requests[1].sentAtMs, 5000u);
  EXPECT_EQ(fake.requests[2].sentAtMs, 5100u);
}

// Icmp6SendEcho2's reply as Microsoft documents it, put down byte by byte:
// the 26-byte IPV6_ADDRESS_EX (address at 6), Status at 28, RoundTripTime at
// 32, the echoed data from 36. Every row goes through the Win32 reader, its
// check of who answered and the worker's judgement; a record packed to 34
// bytes fails the first two.
TEST(Echo6Reply, TheDocumentedLayoutIsReadAndJudged) {
  enum class Echo { whole, firstHalf, lastByteChanged, otherSource };
  struct Case {
    const char* what;
    Echo echo;
    std::uint16_t size;
    std::uint32_t roundTripMs;
    AttemptResult result;
  };
  const Case cases[] = {
      {"a whole echo", Echo::whole, 300, 1, AttemptResult::goodReply},
      {"an empty request", Echo::whole, 0, 1, AttemptResult::goodReply},
      {"a slow one", Echo::whole, 300, 4242, AttemptResult::goodReply},
      {"the greeting alone", Echo::whole, 10, 0, AttemptResult::goodReply},
      {"a reply shorter than its request", Echo::firstHalf, 300, 1, AttemptResult::badReply},
      {"other data", Echo::lastByteChanged, 300, 1, AttemptResult::badReply},
      {"another host's reply", Echo::otherSource, 300, 1, AttemptResult::noReply},
  };
  const IpAddress target = [] {
    IpAddress address;
    address.family = 6;
    const std::uint8_t bytes[16] = {0xfd, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7};
    std::memcpy(address.bytes, bytes, 16);
    return address;
  }();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::uint8_t area[36 + kLargestRequest + 8];
    std::memset(area, win32::kEcho6Fill, sizeof area);
    std::memset(area, 0, 36);
    std::memcpy(area + 6, target.bytes, 16);
    if (c.echo == Echo::otherSource) area[6 + 15] = 8;
    const std::uint32_t status = win32::kIpSuccess;
    std::memcpy(area + 28, &status, 4);
    std::memcpy(area + 32, &c.roundTripMs, 4);
    std::memcpy(area + 36, echoPayload, c.echo == Echo::firstHalf ? c.size / 2u : c.size);
    if (c.echo == Echo::lastByteChanged) area[36 + c.size - 1] ^= 0x5a;

    EchoReply reply;
    reply.requestLeft = true;
    std::uint8_t data[kMaxPayloadSize];
    win32::readEcho6Reply(area, sizeof area, c.size, reply, data, sizeof data);
    if (win32::isForeignReply(reply, target)) reply.status = EchoStatus::noResponse;
    EXPECT_EQ(classifyAttempt(reply, 1, c.size), c.result);
    if (c.result == AttemptResult::goodReply) {
      EXPECT_EQ(reply.roundTripMs, c.roundTripMs);
      EXPECT_EQ(reply.roundTripUs, c.roundTripMs * 1000);
    }
  }
}

// The helper API's statuses in the core's words: IPv6 reuses IPv4's
// numbers with other meanings, and IP_REQ_TIMED_OUT is no answer at all.
TEST(IpStatus, EachFamilyReadsItsOwnMeaning) {
  struct Case {
    std::uint32_t status;
    EchoStatus v4, v6;
  };
  const Case cases[] = {
      {0, EchoStatus::reply, EchoStatus::reply},
      {11010, EchoStatus::noResponse, EchoStatus::noResponse},
      {11006, EchoStatus::shortage, EchoStatus::shortage},
      {11002, EchoStatus::netUnreachable, EchoStatus::netUnreachable},  // IPv6: no route
      {11003, EchoStatus::hostUnreachable, EchoStatus::hostUnreachable},
      {11004, EchoStatus::protocolUnreachable, EchoStatus::adminProhibited},
      {11005, EchoStatus::portUnreachable, EchoStatus::portUnreachable},
      {11013, EchoStatus::timeExceeded, EchoStatus::timeExceeded},
      {11015, EchoStatus::parameterProblem, EchoStatus::parameterProblem},
      {11009, EchoStatus::packetTooBig, EchoStatus::packetTooBig},
      {11050, EchoStatus::hostUnreachable, EchoStatus::hostUnreachable},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(win32::echoStatusOf(c.status, 4), c.v4) << c.status;
    EXPECT_EQ(win32::echoStatusOf(c.status, 6), c.v6) << c.status;
  }
}

}  // namespace
}  // namespace fanecho
