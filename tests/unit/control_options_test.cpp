#include "app/control_options.h"

#include <gtest/gtest.h>

#include "common/progress.h"
#include "fake_platform.h"

namespace fanecho {
namespace {

using testing::FakePlatform;
using testing::linesOf;

class Options : public ::testing::Test {
 protected:
  std::string apply(const std::string& argument) {
    fake.output.clear();
    applyControlArgument(argument, *table);
    return fake.output;
  }

  FakePlatform fake;
  std::unique_ptr<WorkerTable> table = std::make_unique<WorkerTable>();
};

TEST(ReadSettingNumber, ReadsLikeAtoiButSaturates) {
  struct Case {
    const char* text;
    std::int32_t value;
  };
  const Case cases[] = {
      {"2.5", 2},
      {"12abc", 12},
      {" 7", 7},
      {"\t\n\v\f\r 7", 7},
      {"", 0},
      {"abc", 0},
      {"-", 0},
      {"+", 0},
      {"-12", -12},
      {"+12", 12},
      {"- 5", 0},
      {"007", 7},
      {"2147483647", 2147483647},
      {"2147483648", 2147483647},
      {"99999999999999999999", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"-99999999999999999999", -2147483647 - 1},
  };
  for (const Case& c : cases) EXPECT_EQ(readSettingNumber(c.text), c.value) << c.text;
}

TEST(StoredForms, NoWrapAroundAndNoNegativeCounts) {
  EXPECT_EQ(timeoutFromSeconds(0), 0u);
  EXPECT_EQ(timeoutFromSeconds(10), 10000u);
  EXPECT_EQ(timeoutFromSeconds(-1), 0u);
  EXPECT_EQ(timeoutFromSeconds(2147483), 2147483000u);
  EXPECT_EQ(timeoutFromSeconds(2147484), 2147483647u);
  EXPECT_EQ(timeoutFromSeconds(2147483647), 2147483647u);

  EXPECT_EQ(cappedPayloadSize(0), 0u);
  EXPECT_EQ(cappedPayloadSize(300), 300u);
  EXPECT_EQ(cappedPayloadSize(301), 300u);
  EXPECT_EQ(cappedPayloadSize(-5), 300u);
  EXPECT_EQ(cappedPayloadSize(2147483647), 300u);

  EXPECT_EQ(echoCountFrom(0), 0u);
  EXPECT_EQ(echoCountFrom(5), 5u);
  EXPECT_EQ(echoCountFrom(-3), 0u);
}

TEST_F(Options, ReportValuesAreWholeWordsInAnyCase) {
  struct Case {
    const char* argument;
    std::uint32_t successes, failures;
  };
  const Case cases[] = {
      {"/report:all", 1, 1},   {"/REPORT:ALL", 1, 1},   {"-Report:Ok", 1, 0},
      {"/report:error", 0, 1}, {"/report:ErRoR", 0, 1},
  };
  for (const Case& c : cases) {
    settings.reportSuccesses = 7;
    settings.reportFailures = 7;
    EXPECT_EQ(apply(c.argument), "") << c.argument;
    EXPECT_EQ(settings.reportSuccesses.load(), c.successes) << c.argument;
    EXPECT_EQ(settings.reportFailures.load(), c.failures) << c.argument;
  }
  settings.reportSuccesses = 1;
  settings.reportFailures = 0;
  for (const char* bad : {"/report:", "/report:al", "/report:alls", "/report: all", "/report:all ",
                          "/report:all /verbose"}) {
    EXPECT_EQ(apply(bad), "expected all, ok or error\n") << bad;
    EXPECT_EQ(settings.reportSuccesses.load(), 1u);
    EXPECT_EQ(settings.reportFailures.load(), 0u);
  }
}

TEST_F(Options, IpFamilyValuesInAnyCase) {
  struct Case {
    const char* argument;
    std::uint32_t family;
  };
  const Case cases[] = {
      {"/ip:6", 6}, {"-IP:any", kFamilyAny}, {"/ip:ANY", kFamilyAny}, {"/Ip:4", 4}};
  for (const Case& c : cases) {
    settings.ipFamily = 9;
    EXPECT_EQ(apply(c.argument), "") << c.argument;
    EXPECT_EQ(settings.ipFamily.load(), c.family) << c.argument;
    EXPECT_EQ(settings.ipNamed.load(), 1u) << c.argument;
  }
  for (const char* bad : {"/ip:", "/ip:5", "/ip:46", "/ip:6 ", "/ip:anyone", "/ip:v6"}) {
    EXPECT_EQ(apply(bad), "expected 4, 6 or any\n") << bad;
    EXPECT_EQ(settings.ipFamily.load(), 4u) << bad;
  }
}

TEST_F(Options, NumbersReachTheirSettings) {
  apply("/timeout:");
  EXPECT_EQ(settings.timeoutMs.load(), 0u);
  apply("/timeout:2.5");
  EXPECT_EQ(settings.timeoutMs.load(), 2000u);
  apply("-TIMEOUT:10");
  EXPECT_EQ(settings.timeoutMs.load(), 10000u);
  apply("/timeout:-1");
  EXPECT_EQ(settings.timeoutMs.load(), 0u);

  apply("/times:5");
  EXPECT_EQ(settings.echoCount.load(), 5u);
  EXPECT_EQ(settings.timeoutMs.load(), 0u);  // times: is not timeout:
  apply("/times:-2");
  EXPECT_EQ(settings.echoCount.load(), 0u);

  apply("/size:0");
  EXPECT_EQ(settings.payloadSize.load(), 0u);
  apply("/size:301");
  EXPECT_EQ(settings.payloadSize.load(), 300u);
  apply("/size:-5");
  EXPECT_EQ(settings.payloadSize.load(), 300u);

  // /wait: and /timeout: set the one time-out: the later of the two wins.
  apply("/wait:250");
  EXPECT_EQ(settings.timeoutMs.load(), 250u);
  apply("/timeout:3");
  EXPECT_EQ(settings.timeoutMs.load(), 3000u);
  apply("/WAIT:1500.9");
  EXPECT_EQ(settings.timeoutMs.load(), 1500u);
  apply("/wait:99999999999");
  EXPECT_EQ(settings.timeoutMs.load(), 2147483647u);
  apply("/retry:3");
  EXPECT_EQ(settings.retryCount.load(), 3u);
  apply("/rate:500");
  EXPECT_EQ(settings.requestRate.load(), 500u);
  apply("/rate:0");
  EXPECT_EQ(settings.requestRate.load(), 0u);
}

// A value out of range writes one line and changes nothing.
TEST_F(Options, ShapingValuesOutOfRange) {
  struct Case {
    const char* argument;
    const char* line;
  };
  const Case cases[] = {
      {"/wait:-1", "expected a wait of 0 to 2147483647 milliseconds\n"},
      {"/retry:-1", "expected 0 to 10 retries\n"},
      {"/retry:11", "expected 0 to 10 retries\n"},
      {"/retry:99999999999", "expected 0 to 10 retries\n"},
      {"/rate:-5", "expected a rate of 0 to 1000000 requests a second\n"},
      {"/rate:1000001", "expected a rate of 0 to 1000000 requests a second\n"},
      {"/wait:0", ""},
      {"/retry:10", ""},
      {"/rate:1000000", ""},
  };
  for (const Case& c : cases) {
    settings.timeoutMs = 700;
    settings.retryCount = 2;
    settings.requestRate = 40;
    const bool good = c.line[0] == '\0';
    EXPECT_EQ(apply(c.argument), c.line) << c.argument;
    EXPECT_EQ(settings.timeoutMs.load() != 700u || settings.retryCount.load() != 2u ||
                  settings.requestRate.load() != 40u,
              good)
        << c.argument;
  }
  settings.json = 1;
  EXPECT_EQ(apply("/retry:x11"), "");  // no digits: 0, as every setting reads it
  EXPECT_EQ(apply("/retry:12"),
            R"({"type":"message","message":"expected_retry","argument":"/retry:12",)"
            R"("text":"expected 0 to 10 retries"})"
            "\n");
}

TEST_F(Options, VerboseAndReasonTakeAnyTail) {
  for (const char* argument : {"/verbose", "/VERBOSE", "/verbosely", "/verbose:no"}) {
    settings.verbose = 0;
    EXPECT_EQ(apply(argument), "");
    EXPECT_EQ(settings.verbose.load(), 1u) << argument;
  }
  for (const char* argument : {"/reason", "-REASON", "/reasons", "/reason:no"}) {
    settings.reason = 0;
    EXPECT_EQ(apply(argument), "");
    EXPECT_EQ(settings.reason.load(), 1u) << argument;
  }
  EXPECT_EQ(settings.verbose.load(), 1u);
}

// Nothing unless standard error is a terminal; there the line is drawn at
// once, cut to the terminal's width, erased and drawn again around every
// line on standard output, and kept current by the ticker.
TEST_F(Options, ProgressOnlyOnATerminal) {
  EXPECT_EQ(apply("/progress"), "");
  EXPECT_EQ(fake.errors, "");
  EXPECT_EQ(fake.tick, nullptr);

  fake.errorColumns = 31;
  fake.outputIsTerminal = true;
  EXPECT_EQ(apply("-PROGRESS"), "");
  const std::string drawn = "\rfanecho: 0 started, 0 finished";
  const std::string erased = "\r" + std::string(30, ' ') + "\r";
  EXPECT_EQ(fake.errors, drawn);
  ASSERT_NE(fake.tick, nullptr);
  EXPECT_EQ(apply("/bogus"), "invalid control argument /bogus; try fanecho /? for more help\n");
  results.startedCount = 3;
  fake.tick();
  EXPECT_EQ(fake.errors, drawn + erased + drawn + "\rfanecho: 3 started, 0 finished");
  endProgress();
  EXPECT_EQ(fake.tick, nullptr);
  EXPECT_TRUE(fake.errors.ends_with(erased));
}

// How requests leave: each value is checked before it takes effect, and a
// bad one writes one line and changes nothing.
TEST_F(Options, RequestOptionsAreCheckedAndReachTheRequests) {
  struct Case {
    const char* argument;
    const char* line;
  };
  const Case cases[] = {
      {"/ttl:0", "expected a TTL of 1 to 255\n"},
      {"/ttl:256", "expected a TTL of 1 to 255\n"},
      {"/TTL:7", ""},
      {"/source:10.0.0.9", "cannot send from 10.0.0.9: it is not an address of this machine\n"},
      {"/source:10.0.0", "illegal IP address\n"},
      {"/source:10.0.0.1-5", "illegal IP address\n"},
      {"/source:fe80::1%nosuch", "illegal IP address\n"},
      {"/source:10.0.0.100", ""},
      {"/source:2001:db8::100", ""},
      {"/interface:eth9", "cannot send through eth9: this machine has no interface of that name\n"},
      {"/interface:", "cannot send through : no interface was named\n"},
      {"/Interface:eth0", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(apply(c.argument), c.line) << c.argument;

  // Each family keeps its own source; later targets see the last of each.
  const auto run = testing::runWith(fake, {"10.0.0.1", "/ip:6", "2001:db8::1", "/ttl:300"});
  ASSERT_EQ(fake.requests.size(), 2u);
  EXPECT_EQ(fake.requests[0].options.source, testing::addressOf(10, 0, 0, 100));
  EXPECT_EQ(fake.requests[1].options.source, testing::ipv6Of("2001:db8::100"));
  EXPECT_EQ(std::string(fake.requests[0].options.interfaceName), "eth0");
  EXPECT_EQ(fake.requests[1].options.ttl, 7);
  EXPECT_EQ(run.exitStatus, 0);

  // An option holds for the targets after it, however late their workers
  // send: each job carries the options as they stood when it was named.
  fake.threadMode = testing::ThreadMode::record;
  testing::runWith(fake, {"/ttl:3", "10.0.0.1", "/ttl:9"});
  ASSERT_FALSE(fake.started.empty());
  EXPECT_EQ(fake.started.back().job.shape.ttl, 3);
}

TEST_F(Options, InvalidArgumentsAreRepeatedCharacterForCharacter) {
  for (const char* argument : {"/verb", "/", "-", "--verbose", "/timeout", "/x y", "-5"}) {
    EXPECT_EQ(apply(argument), std::string("invalid control argument ") + argument +
                                   "; try fanecho /? for more help\n");
  }
  EXPECT_EQ(settings.verbose.load(), 0u);
  EXPECT_EQ(settings.timeoutMs.load(), 5000u);
}

TEST_F(Options, HelpIsNineteenLines) {
  const auto lines = linesOf(apply("/?"));
  ASSERT_EQ(lines.size(), 19u);
  EXPECT_EQ(lines[0].size(), 68u);
  EXPECT_NE(lines[0].find("fanecho"), std::string::npos);
  EXPECT_EQ(lines[0].find("   Version "), 68 - 11 - std::string("1.0.0").size());
  const std::vector<std::string> expected = {
      "usage: fanecho {ctrl-args} {IP-address | hostname}",
      "where ctrl-args may be any combination of the following:",
      "  /report:all     - to show successes & failures",
      "  /report:ok      - show successes only",
      "  /report:error   - show failures only",
      "  /timeout:<secs> - set timeout value (default is 5 seconds)",
      "  /size:<bytes>   - set buffer size of ping message (max 300)",
      "  /verbose        - show detailed info (alt address, round trip time)",
      "  /times:<number> - specify number of messages to be sent",
      "  /include:<file> - name of file with more arguments",
      "IP-address is of the form",
      "  numseq\".\"numseq\".\"numseq\".\"numseq",
      "  numseq = num [\"-\" num] [\",\" numseq]",
      "  num = a decimal number between 0 and 255",
      "",
  };
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i + 1], expected[i]);
  EXPECT_EQ(lines[16].rfind("e.g. fanecho /report:ok 193.124.242-245.7,8,9,10 ", 0), 0u);
  EXPECT_EQ(lines[16].find(' ', 49), std::string::npos);  // one-word host name
  EXPECT_EQ(lines[17], "");
  EXPECT_FALSE(lines[18].empty());
  EXPECT_EQ(apply("/?x"), apply("/?"));
}

}  // namespace
}  // namespace fanecho
