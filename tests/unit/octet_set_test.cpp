#include "patterns/octet_set.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fanecho {
namespace {

std::vector<int> iterate(OctetSet& set) {
  std::vector<int> members;
  for (int v = set.first(); !set.atEnd(); v = set.next()) members.push_back(v);
  return members;
}

std::vector<int> range(int low, int high) {
  std::vector<int> values;
  for (int v = low; v <= high; ++v) values.push_back(v);
  return values;
}

struct FieldCase {
  const char* text;
  std::vector<int> yields;
};

TEST(OctetSet, FieldTextsYieldTheirMembersInAscendingOrder) {
  const FieldCase cases[] = {
      {"7", {7}},
      {"242-245", {242, 243, 244, 245}},
      {"7,8,9,10", {7, 8, 9, 10}},
      {"10-5", range(5, 10)},
      {"300", {255}},
      {"256-300", {255}},
      {"007", {7}},
      {"000000255", {255}},
      {"5-", {5}},
      {"5-,6", {5, 6}},
      {"1-3-5", {1, 2, 3}},
      {"1,,2", {1}},
      {"4abc", {4}},
      {"1-3x,5", {1, 2, 3}},
      {"4,4-4", {4}},
      {"0-255", range(0, 255)},
      {"200,3", {3, 200}},
      // A field that names no number yields the octet 0 once.
      {"x", {0}},
      {"-5", {0}},
      {",5", {0}},
      {"", {0}},
  };
  for (const FieldCase& c : cases) {
    OctetSet set;
    set.parse(c.text);
    EXPECT_EQ(iterate(set), c.yields) << "field \"" << c.text << "\"";
  }
}

TEST(OctetSet, DigitRunsOfAnyLengthSaturateWithoutOverrun) {
  const std::string longRun(5000, '9');
  const FieldCase cases[] = {
      {"0000000000000000000000007", {7}},           // leading zeros beyond ten digits
      {"99999999999999999999", {255}},              // beyond 64 bits
      {"4294967296", {255}},                        // 2^32 must not wrap to 0
      {"1-99999999999999999999,3", range(1, 255)},  // the position ends after the run
  };
  for (const FieldCase& c : cases) {
    OctetSet set;
    set.parse(c.text);
    EXPECT_EQ(iterate(set), c.yields) << "field \"" << c.text << "\"";
  }
  OctetSet set;
  set.parse((longRun + ",3").c_str());
  EXPECT_EQ(iterate(set), (std::vector<int>{3, 255}));

  const char* text = "123456789012345x";
  const char* position = text;
  EXPECT_GT(OctetSet::readNumber(position), 255);
  EXPECT_EQ(position, text + 15);
}

TEST(OctetSet, IterationProtocol) {
  OctetSet sparse;
  sparse.parse("3,200");
  EXPECT_EQ(sparse.first(), 3);
  EXPECT_EQ(sparse.next(), 200);
  EXPECT_FALSE(sparse.atEnd());
  EXPECT_EQ(sparse.next(), OctetSet::kNoMember);
  EXPECT_TRUE(sparse.atEnd());
  EXPECT_EQ(sparse.next(), OctetSet::kNoMember);  // stays ended
  // first() restarts the same members in the same order.
  EXPECT_EQ(iterate(sparse), (std::vector<int>{3, 200}));
  EXPECT_EQ(iterate(sparse), (std::vector<int>{3, 200}));

  // The last member 255 ends the iteration without a flag beyond the table.
  OctetSet top;
  top.parse("255");
  EXPECT_EQ(top.first(), 255);
  EXPECT_FALSE(top.atEnd());
  EXPECT_EQ(top.next(), OctetSet::kNoMember);
  EXPECT_TRUE(top.atEnd());

  OctetSet empty;
  empty.parse("x");
  EXPECT_EQ(empty.first(), 0);
  EXPECT_FALSE(empty.atEnd());
  EXPECT_EQ(empty.next(), OctetSet::kNoMember);
  EXPECT_TRUE(empty.atEnd());
}

TEST(OctetSet, ClampOctet) {
  EXPECT_EQ(clampOctet(0), 0u);
  EXPECT_EQ(clampOctet(255), 255u);
  EXPECT_EQ(clampOctet(256), 255u);
  EXPECT_EQ(clampOctet(0xFFFFFFFFu), 255u);
}

}  // namespace
}  // namespace fanecho
