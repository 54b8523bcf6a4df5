#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "fake_platform.h"
#include "patterns/pattern_expansion.h"

namespace fanecho {
namespace {

using testing::addressOf;
using testing::FakePlatform;
using testing::linesOf;
using testing::ThreadMode;

TEST(SplitPattern, FourFieldsExactly) {
  struct Case {
    const char* pattern;
    bool four;
    std::array<std::string, 4> fields;
  };
  const Case cases[] = {
      {"1.2.3.4", true, {"1", "2", "3", "4"}},
      {"193.124.242-245.7,8,9,10", true, {"193", "124", "242-245", "7,8,9,10"}},
      {"1..2.3.4", true, {"1", "2", "3", "4"}},
      {".1.2.3.4.", true, {"1", "2", "3", "4"}},
      {"1 2\t3\n4", true, {"1", "2", "3", "4"}},
      {"1.2.3", false, {}},
      {"1.2.3.4.5", false, {}},
      {"1.2.3.4 x", false, {}},
      {"", false, {}},
      {"...", false, {}},
  };
  for (const Case& c : cases) {
    std::array<std::string, 4> fields;
    EXPECT_EQ(splitPattern(c.pattern, fields), c.four) << c.pattern;
    if (c.four) {
      EXPECT_EQ(fields, c.fields) << c.pattern;
    }
  }
}

TEST(SplitPattern, LongPatternsAreSplitWhole) {
  std::string list = "10.1.0.1";
  for (int i = 2; i <= 200; ++i) list += "," + std::to_string(i);
  ASSERT_GT(list.size(), 100u);
  std::array<std::string, 4> fields;
  ASSERT_TRUE(splitPattern(list, fields));
  EXPECT_EQ(fields[3].substr(fields[3].size() - 4), ",200");
}

class Expansion : public ::testing::Test {
 protected:
  Expansion() { fake.threadMode = ThreadMode::record; }

  std::vector<std::string> labels() const {
    std::vector<std::string> result;
    for (const auto& started : fake.started) result.push_back(started.job.label);
    return result;
  }

  FakePlatform fake;
  std::unique_ptr<WorkerTable> table = std::make_unique<WorkerTable>();
};

TEST_F(Expansion, AddressesComeInAscendingOrderWithTheFourthFieldFastest) {
  launchPatternProbes("193.124.242-245.7,8,9,10", *table);
  ASSERT_EQ(table->workerCount(), 16u);
  const auto started = labels();
  EXPECT_EQ(started.front(), "193.124.242.7");
  EXPECT_EQ(started[1], "193.124.242.8");
  EXPECT_EQ(started[4], "193.124.243.7");
  EXPECT_EQ(started.back(), "193.124.245.10");
  for (const auto& s : fake.started) {
    EXPECT_EQ(s.job.kind, TargetKind::address);
    EXPECT_EQ(s.priority, ThreadPriority::normal);
  }
  EXPECT_EQ(fake.output, "");
}

TEST_F(Expansion, AddressValueHoldsTheOctetsInNetworkOrder) {
  launchPatternProbes("1.2.3.4", *table);
  ASSERT_EQ(fake.started.size(), 1u);
  EXPECT_EQ(fake.started[0].job.address.family, 4);
  EXPECT_EQ(fake.started[0].job.address.packed(), 0x04030201u);
  std::uint8_t bytes[4];
  std::memcpy(bytes, fake.started[0].job.address.bytes, 4);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[1], 2);
  EXPECT_EQ(bytes[2], 3);
  EXPECT_EQ(bytes[3], 4);
}

TEST_F(Expansion, LabelsAndCounts) {
  struct Case {
    const char* pattern;
    std::vector<std::string> labels;
  };
  const Case cases[] = {
      {"010.1.2.3", {"10.1.2.3"}},
      {"300.1.1.1", {"255.1.1.1"}},
      {"1.2.3.x", {"1.2.3.0"}},
      {"1.2.3.-5", {"1.2.3.0"}},
      {"1.2-1.3.4,3", {"1.1.3.3", "1.1.3.4", "1.2.3.3", "1.2.3.4"}},
      {"1.2.3.4,4-4", {"1.2.3.4"}},
      {"1..2.3.4", {"1.2.3.4"}},
      {"1.2.3.4.", {"1.2.3.4"}},
  };
  for (const Case& c : cases) {
    FakePlatform local;
    local.threadMode = ThreadMode::record;
    auto fresh = std::make_unique<WorkerTable>();
    launchPatternProbes(c.pattern, *fresh);
    std::vector<std::string> got;
    for (const auto& s : local.started) got.push_back(s.job.label);
    EXPECT_EQ(got, c.labels) << c.pattern;
  }
}

TEST_F(Expansion, IllegalPatternsStartNothing) {
  for (const char* pattern : {"1.2.3", "1.2.3.4.5", "1.2.3.4 x"}) {
    fake.output.clear();
    launchPatternProbes(pattern, *table);
    EXPECT_EQ(fake.output, "illegal IP address\n") << pattern;
  }
  EXPECT_EQ(table->workerCount(), 0u);
}

// Every text form of RFC 4291 in; RFC 5952 out, as labels show it.
TEST_F(Expansion, Ipv6LabelsInOrder) {
  struct Case {
    const char* pattern;
    std::vector<std::string> labels;
  };
  const Case cases[] = {
      {"2001:db8::1-3,200", {"2001:db8::1", "2001:db8::2", "2001:db8::3", "2001:db8::200"}},
      {"2001:db8::5-3,4", {"2001:db8::3", "2001:db8::4", "2001:db8::5"}},
      {"2001:0DB8:0000:0000:0000:0000:0000:0001", {"2001:db8::1"}},
      {"2001:db8::12345", {"2001:db8::ffff"}},
      {"2001:db8::fffe-1ffff", {"2001:db8::fffe", "2001:db8::ffff"}},
      {"::ffff:10.1.2.3", {"::ffff:10.1.2.3"}},
      {"::10.1.2.3", {"::a01:203"}},
      {"::", {"::"}},
      {"::0-1", {"::", "::1"}},
      {"1::", {"1::"}},
      {"1:0:0:2:0:0:3:4", {"1::2:0:0:3:4"}},
      {"1:0:0:2:0:0:0:4", {"1:0:0:2::4"}},
      {"2001:db8:0:1:1:1:1:1", {"2001:db8:0:1:1:1:1:1"}},
      {"1:2:3:4:5:6:7::", {"1:2:3:4:5:6:7:0"}},
      {"fe80::1%eth0", {"fe80::1%eth0"}},
      {"fe80::1-2%7", {"fe80::1%7", "fe80::2%7"}},
  };
  for (const Case& c : cases) {
    FakePlatform local;
    local.threadMode = ThreadMode::record;
    auto fresh = std::make_unique<WorkerTable>();
    launchIpv6Probes(c.pattern, *fresh);
    std::vector<std::string> got;
    for (const auto& s : local.started) {
      got.push_back(s.job.label);
      EXPECT_EQ(s.job.address.family, 6) << c.pattern;
    }
    EXPECT_EQ(got, c.labels) << c.pattern;
    EXPECT_EQ(local.output, "") << c.pattern;
  }
  launchIpv6Probes("fe80::1%eth0", *table);
  launchIpv6Probes("2001:db8::1:0:a", *table);
  ASSERT_EQ(fake.started.size(), 2u);
  EXPECT_EQ(fake.started[0].job.address, testing::ipv6Of("fe80::1", 2));
  EXPECT_EQ(fake.started[1].job.address, testing::ipv6Of("2001:db8:0:0:0:1:0:a"));
}

TEST_F(Expansion, IllegalIpv6AddressesStartNothing) {
  for (const char* pattern : {"2001:db8::1::2",
                              "1:2:3:4:5:6:7:8:9",
                              "1:2:3:4:5:6:7",
                              "12345::1",
                              "2001:db8::g",
                              ":1::2",
                              "1::2:",
                              ":::",
                              "::1-",
                              "::1,",
                              "::-1",
                              "::1 x",
                              "::ffff:1.2.3.256",
                              "::1.2.3",
                              "::1.2.3.4.5",
                              "1:2:3:4:5:6:7:1.2.3.4",
                              "fe80::1%",
                              "fe80::1%nosuch",
                              "x:1",
                              "1:2::3-4:5"}) {
    fake.output.clear();
    launchIpv6Probes(pattern, *table);
    EXPECT_EQ(fake.output, "illegal IP address\n") << pattern;
  }
  EXPECT_EQ(table->workerCount(), 0u);
}

TEST_F(Expansion, TheLimitRefusesEveryFurtherAddressInOrder) {
  launchPatternProbes("10.0.0-39.0-255", *table);
  EXPECT_EQ(table->workerCount(), 10000u);
  EXPECT_EQ(fake.started.back().job.label, "10.0.39.15");
  const auto lines = linesOf(fake.output);
  ASSERT_EQ(lines.size(), 240u);
  EXPECT_EQ(lines.front(), "too many addresses; ignoring 10.0.39.16");
  EXPECT_EQ(lines.back(), "too many addresses; ignoring 10.0.39.255");

  // A host name after a full table is refused the same way.
  fake.output.clear();
  launchNameProbe("gateway", *table);
  EXPECT_EQ(fake.output, "too many addresses; ignoring gateway\n");
  EXPECT_EQ(table->workerCount(), 10000u);
}

TEST_F(Expansion, ThePatternThatCrossesTheLimitIsCutWhereTheTableFills) {
  launchPatternProbes("10.0.0-38.0-255", *table);  // 9984
  launchPatternProbes("10.0.100.0-13", *table);    // 9998
  launchPatternProbes("1.2.3.1-5", *table);
  EXPECT_EQ(table->workerCount(), 10000u);
  EXPECT_EQ(fake.output,
            "too many addresses; ignoring 1.2.3.3\n"
            "too many addresses; ignoring 1.2.3.4\n"
            "too many addresses; ignoring 1.2.3.5\n");

  // IPv6 addresses share the one limit and its line.
  fake.output.clear();
  launchIpv6Probes("2001:db8::9-a", *table);
  EXPECT_EQ(fake.output,
            "too many addresses; ignoring 2001:db8::9\n"
            "too many addresses; ignoring 2001:db8::a\n");
}

}  // namespace
}  // namespace fanecho
