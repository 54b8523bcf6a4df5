#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/control_options.h"
#include "app/dispatch.h"
#include "fake_platform.h"
#include "patterns/address_ranges.h"
#include "patterns/pattern_expansion.h"
#include "report/target_label.h"

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

// The first and last target of a block and how many it names: IPv4 blocks
// of /30 and wider without their network and broadcast addresses.
TEST(Blocks, TargetsOfEachPrefix) {
  struct Case {
    const char* text;
    const char* first;
    const char* last;
    const char* count;
    const char* zone;
  };
  const Case cases[] = {
      {"10.1.4.0/22", "10.1.4.1", "10.1.7.254", "1022", ""},
      {"10.1.4.77/22", "10.1.4.1", "10.1.7.254", "1022", ""},
      {"0.0.0.0/0", "0.0.0.1", "255.255.255.254", "4294967294", ""},
      {"10.0.0.0/8", "10.0.0.1", "10.255.255.254", "16777214", ""},
      {"010.001.000.016/030", "10.1.0.17", "10.1.0.18", "2", ""},
      {"10.1.0.16/31", "10.1.0.16", "10.1.0.17", "2", ""},
      {"10.1.0.17/32", "10.1.0.17", "10.1.0.17", "1", ""},
      {"255.255.255.255/32", "255.255.255.255", "255.255.255.255", "1", ""},
      {"2001:db8::/64", "2001:db8::", "2001:db8::ffff:ffff:ffff:ffff", "18446744073709551616", ""},
      {"2001:db8::1:0/120", "2001:db8::1:0", "2001:db8::1:ff", "256", ""},
      {"2001:db8::1:77/120", "2001:db8::1:0", "2001:db8::1:ff", "256", ""},
      {"2001:db8::5/128", "2001:db8::5", "2001:db8::5", "1", ""},
      {"::ffff:10.1.2.3/127", "::ffff:10.1.2.2", "::ffff:10.1.2.3", "2", ""},
      // 2^128 does not fit; one short.
      {"::/0", "::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff",
       "340282366920938463463374607431768211455", ""},
      {"fe80::1%eth0/64", "fe80::", "fe80::ffff:ffff:ffff:ffff", "18446744073709551616", "eth0"},
  };
  for (const Case& c : cases) {
    CidrBlock block;
    const bool six = std::string_view(c.text).find(':') != std::string_view::npos;
    ASSERT_TRUE(six ? parseIpv6Block(c.text, block) : parseIpv4Block(c.text, block)) << c.text;
    EXPECT_EQ(block.family, six ? 6 : 4) << c.text;
    const AddressRange targets = blockTargets(block);
    EXPECT_EQ(addressLabel(addressOfValue(block.family, targets.first)), c.first) << c.text;
    EXPECT_EQ(addressLabel(addressOfValue(block.family, targets.last)), c.last) << c.text;
    EXPECT_EQ(decimalText(rangeSize(targets)), c.count) << c.text;
    EXPECT_EQ(block.zone, c.zone) << c.text;
  }
  for (const char* text :
       {"10.1.4.0/33", "10.1.4/22", "10.1.4.0-3/24", "10.1.4.0,1/24", "10.1.4.256/24", "10.1.4.0/",
        "10.1.4.0/x", "10.1.4.0/22/1", " 10.1.4.0/22", "10.1.4.0/22 ", "10.1.4.0/2a", "10.1.4.0/-1",
        "1.2.3.4.5/8", "0010.1.1.1/8", "10.1.4.0/0032", "/24", "10..1.4.0/24", "a.b.c.d/8"}) {
    CidrBlock block;
    EXPECT_FALSE(parseIpv4Block(text, block)) << text;
  }
  for (const char* text :
       {"2001:db8::/129", "2001:db8::1-2/64", "fe80::%/64", "2001:db8::/", "2001:db8::/64x",
        "::1/64/1", "2001:db8:::/64", "/64", "2001:db8::/ 64"}) {
    CidrBlock block;
    EXPECT_FALSE(parseIpv6Block(text, block)) << text;
  }
}

// Ranges join where they overlap or touch, and a check or a count reads
// them with a binary search.
TEST(Exclusions, OverlappingRangesAreJoined) {
  ExclusionSet set;
  EXPECT_TRUE(set.empty(4));
  ASSERT_TRUE(set.add(4, {{20, 30}, {5, 9}, {25, 40}}));
  ASSERT_TRUE(set.add(4, {{10, 12}, {50, 50}, {41, 41}, {0xFFFFFFF0u, 0xFFFFFFFFu}}));
  ASSERT_TRUE(set.add(4, {{28, 29}}));
  EXPECT_EQ(set.ranges(4),
            (std::vector<AddressRange>{{5, 12}, {20, 41}, {50, 50}, {0xFFFFFFF0u, 0xFFFFFFFFu}}));
  EXPECT_TRUE(set.empty(6));
  for (std::uint32_t v : {5u, 12u, 20u, 41u, 50u, 0xFFFFFFFFu})
    EXPECT_TRUE(set.contains(4, v)) << v;
  for (std::uint32_t v : {0u, 4u, 13u, 19u, 42u, 49u, 51u}) EXPECT_FALSE(set.contains(4, v)) << v;
  EXPECT_FALSE(set.contains(6, 5));
  EXPECT_TRUE(set.covers(4, {20, 41}));
  EXPECT_FALSE(set.covers(4, {12, 20}));
  EXPECT_EQ(set.countIn(4, {0, 100}), Uint128{8 + 22 + 1});
  EXPECT_EQ(set.countIn(4, {11, 21}), Uint128{4});
  EXPECT_EQ(countIncluded(4, {0, 100}, set), Uint128{101 - 31});

  // The whole IPv6 space, and a range that ends at its top.
  ExclusionSet wide;
  ASSERT_TRUE(wide.add(6, {{Uint128::max() - 5, Uint128::max()}, {0, 7}, {8, 9}}));
  ASSERT_TRUE(wide.add(6, {{10, Uint128::max() - 6}}));
  EXPECT_EQ(wide.ranges(6), (std::vector<AddressRange>{{0, Uint128::max()}}));
  EXPECT_EQ(wide.countIn(6, {0, Uint128::max()}), Uint128::max());

  // Visiting skips excluded runs whole.
  std::vector<std::uint64_t> visited;
  forEachIncluded(4, {0, 55}, set, [&visited](const Uint128& value) {
    visited.push_back(value.low);
    return true;
  });
  EXPECT_EQ(visited.size(), 56u - 31u);
  EXPECT_EQ(visited[5], 13u);
  EXPECT_EQ(visited.back(), 55u);
}

TEST(Exclusions, ValuesAsRanges) {
  struct Case {
    const char* value;
    std::uint8_t family;
    std::vector<AddressRange> ranges;
  };
  const Uint128 fd00 = addressValue(testing::ipv6Of("fd00::"));
  const Case cases[] = {
      {"10.1.0.1-10,20", 4, {{0x0A010001u, 0x0A01000Au}, {0x0A010014u, 0x0A010014u}}},
      {"10.1.0.16/30", 4, {{0x0A010010u, 0x0A010013u}}},
      {"10.1.0.17/30", 4, {{0x0A010010u, 0x0A010013u}}},
      {"10.1-2.0-255.0-255", 4, {{0x0A010000u, 0x0A02FFFFu}}},
      {"10.1,3.7.0-255", 4, {{0x0A010700u, 0x0A0107FFu}, {0x0A030700u, 0x0A0307FFu}}},
      {"0-255.0-255.0-255.0-255", 4, {{0, 0xFFFFFFFFu}}},
      {"1.2.3.x", 4, {{0x01020300u, 0x01020300u}}},
      {"fd00::1-ff,200", 6, {{fd00 + 1, fd00 + 0xFF}, {fd00 + 0x200, fd00 + 0x200}}},
      {"fd00::/112", 6, {{fd00, fd00 + 0xFFFF}}},
      {"fd00::5", 6, {{fd00 + 5, fd00 + 5}}},
  };
  for (const Case& c : cases) {
    std::uint8_t family = 0;
    std::vector<AddressRange> ranges;
    ASSERT_TRUE(parseExclusion(c.value, family, ranges)) << c.value;
    EXPECT_EQ(family, c.family) << c.value;
    EXPECT_EQ(ranges, c.ranges) << c.value;
  }
  std::string everyOther = "0-255.0-255.0-255.0";
  for (int v = 2; v < 256; v += 2) everyOther += "," + std::to_string(v);
  for (const std::string& value :
       {std::string("10.1.0"), std::string("10.1.0.0/33"), std::string("x"), std::string(""),
        std::string("10.1.0.0-3/24"), std::string("fe80::1%eth0"), std::string("fd00::/129"),
        std::string("fd00::1::2"), everyOther}) {
    std::uint8_t family = 0;
    std::vector<AddressRange> ranges;
    EXPECT_FALSE(parseExclusion(value, family, ranges)) << value;
  }
}

// Counted digit by digit, the count of a dotted pattern less what is
// excluded matches the addresses it hands out.
TEST(Exclusions, DottedPatternsAreCountedExactly) {
  const char* patterns[] = {"10.1-3.0,7,200-255.0-255", "0-255.0-255.0-255.0-255", "1.2.3.4",
                            "9-11.0-2,250-255.1,255.0-9"};
  const char* exclusions[] = {"10.2.0-100.0-255", "10.1.200.17",         "11.0.0.0/8",
                              "0.0.0.0/30",       "255.255.255.200-255", "10.3.255.255"};
  ExclusionSet excluded;
  for (const char* value : exclusions) {
    std::uint8_t family;
    std::vector<AddressRange> ranges;
    ASSERT_TRUE(parseExclusion(value, family, ranges));
    ASSERT_TRUE(excluded.add(family, ranges));
  }
  for (const char* text : patterns) {
    DottedPattern pattern;
    ASSERT_TRUE(parseDottedPattern(text, pattern));
    std::uint64_t handed = 0;
    const bool small = std::string_view(text) != "0-255.0-255.0-255.0-255";
    if (small) {
      DottedPattern copy = pattern;
      expandDottedPattern(copy, excluded, [&handed](const IpAddress&, std::string_view) {
        ++handed;
        return true;
      });
    } else {
      handed = (std::uint64_t{1} << 32) - 4 - 56 - (std::uint64_t{1} << 24) - 101 * 256 - 1 - 1;
    }
    EXPECT_EQ(countDottedPattern(pattern, excluded), Uint128{handed}) << text;
  }
}

// After /cidr a block names its addresses; before it the octet rules read
// "0/22" as 0. Anything else with a "/" is illegal then, host names too.
TEST_F(Expansion, BlocksAfterCidr) {
  launchPatternProbes("10.1.4.0/22", *table);
  EXPECT_EQ(labels(), (std::vector<std::string>{"10.1.4.0"}));
  launchNameProbe("router/24", *table);
  EXPECT_EQ(labels().back(), "router/24");

  settings.cidr = 1;
  struct Case {
    const char* pattern;
    std::vector<std::string> labels;
  };
  const Case cases[] = {
      {"10.1.0.16/30", {"10.1.0.17", "10.1.0.18"}},
      {"10.1.0.16/31", {"10.1.0.16", "10.1.0.17"}},
      {"10.1.0.16/32", {"10.1.0.16"}},
      {"10.1.0.0/29", {"10.1.0.1", "10.1.0.2", "10.1.0.3", "10.1.0.4", "10.1.0.5", "10.1.0.6"}},
      {"10.1.0.1-2", {"10.1.0.1", "10.1.0.2"}},
  };
  for (const Case& c : cases) {
    FakePlatform local;
    local.threadMode = ThreadMode::record;
    settings.cidr = 1;
    auto fresh = std::make_unique<WorkerTable>();
    launchPatternProbes(c.pattern, *fresh);
    std::vector<std::string> got;
    for (const auto& s : local.started) got.push_back(s.job.label);
    EXPECT_EQ(got, c.labels) << c.pattern;
    EXPECT_EQ(local.output, "") << c.pattern;
  }
  settings.ipFamily = 6;
  const Case ipv6Cases[] = {
      {"fd00::1:0/126", {"fd00::1:0", "fd00::1:1", "fd00::1:2", "fd00::1:3"}},
      {"fe80::%eth0/127", {"fe80::%eth0", "fe80::1%eth0"}},
      {"::ffff:10.1.2.3/128", {"::ffff:10.1.2.3"}},
  };
  for (const Case& c : ipv6Cases) {
    FakePlatform local;
    local.threadMode = ThreadMode::record;
    settings.cidr = 1;
    auto fresh = std::make_unique<WorkerTable>();
    launchIpv6Probes(c.pattern, *fresh);
    std::vector<std::string> got;
    for (const auto& s : local.started) {
      got.push_back(s.job.label);
      EXPECT_EQ(s.job.address.scopeId, c.labels[0].find('%') != std::string::npos ? 2u : 0u);
    }
    EXPECT_EQ(got, c.labels) << c.pattern;
  }
  settings.cidr = 1;
  settings.ipFamily = 6;
  const std::size_t before = fake.started.size();
  for (const char* pattern : {"10.1.0-3.0/24", "10.1.0.0/33", "10.1.0.0/24x", "10.1.0.1,2/32"}) {
    fake.output.clear();
    launchPatternProbes(pattern, *table);
    EXPECT_EQ(fake.output, "illegal IP address\n") << pattern;
  }
  for (const char* pattern : {"fe80::%nosuch/64", "fd00::1-2/64", "fd00::/129"}) {
    fake.output.clear();
    launchIpv6Probes(pattern, *table);
    EXPECT_EQ(fake.output, "illegal IP address\n") << pattern;
  }
  fake.output.clear();
  launchNameProbe("router/24", *table);
  EXPECT_EQ(fake.output, "illegal IP address\n");
  EXPECT_EQ(fake.started.size(), before);
}

// A block that the limit cuts off writes one line: the first address
// refused and how many follow, excluded ones left out; one address alone
// keeps the old line. Under /json the object carries the count.
TEST_F(Expansion, ABlockCutByTheLimitIsRefusedInOneLine) {
  settings.cidr = 1;
  launchPatternProbes("10.0.0.0/8", *table);
  EXPECT_EQ(table->workerCount(), 10000u);
  EXPECT_EQ(fake.started.back().job.label, "10.0.39.16");
  EXPECT_EQ(fake.output, "too many addresses; ignoring 10.0.39.17 and 16767213 more\n");

  // 10.2.0.0/25 out of every count, 0.0.0.0/0's too.
  applyControlArgument("/exclude:10.2.0.0/25", *table);
  settings.ipFamily = 6;
  const char* refused[][2] = {
      {"0.0.0.0/0", "too many addresses; ignoring 0.0.0.1 and 4294967165 more"},
      {"10.1.0.16/32", "too many addresses; ignoring 10.1.0.16"},
      {"10.1.0.16/30", "too many addresses; ignoring 10.1.0.17 and 1 more"},
      {"10.2.0.0/24", "too many addresses; ignoring 10.2.0.128 and 126 more"},
      {"::/0", "too many addresses; ignoring :: and 340282366920938463463374607431768211455 more"},
      {"2001:db8::/64", "too many addresses; ignoring 2001:db8:: and 18446744073709551615 more"},
  };
  for (const auto& [block, line] : refused) {
    fake.output.clear();
    if (std::string_view(block).find(':') != std::string_view::npos) {
      launchIpv6Probes(block, *table);
    } else {
      launchPatternProbes(block, *table);
    }
    EXPECT_EQ(fake.output, std::string(line) + "\n") << block;
  }
  // Dotted patterns keep a line for each address.
  fake.output.clear();
  launchPatternProbes("10.3.0.1-2", *table);
  EXPECT_EQ(fake.output,
            "too many addresses; ignoring 10.3.0.1\ntoo many addresses; ignoring 10.3.0.2\n");

  fake.output.clear();
  settings.json = 1;
  launchPatternProbes("10.2.0.0/24", *table);
  EXPECT_EQ(fake.output,
            R"({"type":"message","message":"too_many_addresses","target":"10.2.0.128","more":126,)"
            R"("text":"too many addresses; ignoring 10.2.0.128 and 126 more"})"
            "\n");
  EXPECT_EQ(table->workerCount(), 10000u);
}

// Excluded addresses are skipped by every later pattern, block and IPv6
// range, and count toward nothing, the limit included; names are asked for
// by name. A bad value says so and changes nothing.
TEST_F(Expansion, ExcludedAddressesAreLeftOut) {
  settings.cidr = 1;
  settings.ipFamily = kFamilyAny;
  launchPatternProbes("10.0.0.1-3", *table);
  for (const char* argument :
       {"/exclude:10.0.0.2", "/exclude:10.0.1.0/24", "/exclude:fd00::1-3,8",
        "/exclude:10.0.3.1-254", "/exclude:fd00::1:0/112", "/EXCLUDE:10.9.9.9"}) {
    applyControlArgument(argument, *table);
  }
  EXPECT_EQ(fake.output, "");
  for (const char* argument : {"/exclude:10.0.0", "/exclude:", "/exclude:fd00::/129"}) {
    fake.output.clear();
    applyControlArgument(argument, *table);
    EXPECT_EQ(fake.output, "illegal IP address\n") << argument;
  }
  fake.addHost("gateway", 10, 0, 0, 2);
  launchPatternProbes("10.0.0-3.1-3", *table);
  launchPatternProbes("10.0.3.0/24", *table);  // every target of it left out
  launchIpv6Probes("fd00::0-9", *table);
  launchIpv6Probes("fd00::1:fffe/127", *table);
  launchNameProbe("gateway", *table);
  EXPECT_EQ(labels(),
            (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.1", "10.0.0.3",
                                      "10.0.2.1", "10.0.2.2", "10.0.2.3", "fd00::", "fd00::4",
                                      "fd00::5", "fd00::6", "fd00::7", "fd00::9", "gateway"}));
  EXPECT_EQ(table->workerCount(), 15u);

  // 10.0.0.0/24 left out of 10.0.0-40.0-255: the limit falls 256 later.
  FakePlatform local;
  local.threadMode = ThreadMode::record;
  auto fresh = std::make_unique<WorkerTable>();
  applyControlArgument("/exclude:10.0.0.0/24", *fresh);
  launchPatternProbes("10.0.0-40.0-255", *fresh);
  EXPECT_EQ(fresh->workerCount(), 10000u);
  EXPECT_EQ(local.started.front().job.label, "10.0.1.0");
  EXPECT_EQ(local.started.back().job.label, "10.0.40.15");
  EXPECT_EQ(linesOf(local.output).size(), 240u);
}

}  // namespace
}  // namespace fanecho
