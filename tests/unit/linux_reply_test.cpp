// The IPv4 reply parser, fed packets no test responder sends: IP options,
// cut headers, other identifiers, bad checksums.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/linux/reply4_linux.h"

namespace fanecho {
namespace {

constexpr std::size_t kArea = 32;  // even, as the real area is

// An IP header of `ipHeaderSize` bytes, then an echo reply carrying `id`
// and `data`, its checksum right unless `badSum`.
std::vector<std::uint8_t> packet(std::size_t ipHeaderSize, const EchoId& id,
                                 const std::vector<std::uint8_t>& data, bool badSum = false) {
  std::vector<std::uint8_t> p(ipHeaderSize, 0x01);  // options: no-operation bytes
  p[0] = static_cast<std::uint8_t>(0x40 | ipHeaderSize / 4);
  const std::size_t icmp = p.size();
  p.insert(p.end(), {kEchoReply, 0, 0, 0});
  p.insert(p.end(), id.bytes, id.bytes + 4);
  p.insert(p.end(), data.begin(), data.end());
  const std::uint16_t sum =
      foldSum(addWords(p.data() + icmp, p.size() - icmp, 0)) ^ (badSum ? 1 : 0);
  p[icmp + 2] = static_cast<std::uint8_t>(sum >> 8);
  p[icmp + 3] = static_cast<std::uint8_t>(sum);
  return p;
}

struct Received {
  std::uint8_t head[kIpHeaderSize + kIcmpHeaderSize];
  std::uint8_t area[kArea];
  std::uint8_t spill[kMaxIpOptionsSize];
  bool ok;
  std::size_t dataSize = 0;
};

// As recvmsg scatters a raw packet over the three pieces.
void receive(Received& r, const std::vector<std::uint8_t>& p, const EchoId& id) {
  std::size_t at = 0;
  for (auto [piece, size] : {std::pair{r.head, sizeof r.head}, std::pair{r.area, sizeof r.area},
                             std::pair{r.spill, sizeof r.spill}}) {
    const std::size_t n = std::min(size, p.size() - std::min(at, p.size()));
    std::memcpy(piece, p.data() + at, n);
    at += n;
  }
  r.ok = parseReply4({r.head, sizeof r.head, r.area, sizeof r.area, r.spill}, p.size(), true, id,
                     r.dataSize);
}

const EchoId ours{{0x12, 0x34, 0x56, 0x78}, false};

TEST(LinuxReply, IpOptionsDoNotMoveTheDataOrTheChecks) {
  std::vector<std::uint8_t> data(kArea);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
  for (std::size_t ipHeaderSize : {20u, 24u, 40u, 60u}) {
    Received r;
    receive(r, packet(ipHeaderSize, ours, data), ours);
    ASSERT_TRUE(r.ok) << ipHeaderSize;
    EXPECT_EQ(r.dataSize, data.size());
    EXPECT_EQ(std::vector<std::uint8_t>(r.area, r.area + kArea), data) << ipHeaderSize;
  }
}

TEST(LinuxReply, ForeignOrDamagedPacketsAreNoReply) {
  const std::vector<std::uint8_t> data(10, 0xAB);
  const EchoId otherId{{0x12, 0x35, 0x56, 0x78}, false};
  const EchoId otherSequence{{0x12, 0x34, 0x56, 0x79}, false};
  struct Case {
    const char* what;
    std::vector<std::uint8_t> packet;
  } cases[] = {
      {"another identifier", packet(20, otherId, data)},
      {"another sequence number", packet(24, otherSequence, data)},
      {"a bad checksum", packet(20, ours, data, true)},
      {"a bad checksum behind options", packet(60, ours, data, true)},
      {"cut inside the IP header", std::vector<std::uint8_t>(12, 0x45)},
      {"cut inside the ICMP header",
       [] {
         auto p = packet(28, ours, {});
         p.resize(31);
         return p;
       }()},
      {"a header length below 20",
       [&] {
         auto p = packet(20, ours, data);
         p[0] = 0x44;
         return p;
       }()},
  };
  for (const Case& c : cases) {
    Received r;
    receive(r, c.packet, ours);
    EXPECT_FALSE(r.ok) << c.what;
  }
}

TEST(LinuxReply, DataLongerThanTheAreaIsCountedAndChecked) {
  std::vector<std::uint8_t> data(kArea + 6, 0x5A);
  Received r;
  receive(r, packet(20, ours, data), ours);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.dataSize, data.size());
  receive(r, packet(20, ours, data, true), ours);
  EXPECT_FALSE(r.ok);

  // Read whole, as a packet longer than the pieces is.
  const auto whole = packet(44, ours, std::vector<std::uint8_t>(200, 0x33));
  std::uint8_t area[kArea];
  std::size_t dataSize = 0;
  ASSERT_TRUE(parseWhole4(whole.data(), whole.size(), ours, area, sizeof area, dataSize));
  EXPECT_EQ(dataSize, 200u);
  EXPECT_EQ(area[kArea - 1], 0x33);
  const auto bad = packet(44, ours, std::vector<std::uint8_t>(200, 0x33), true);
  EXPECT_FALSE(parseWhole4(bad.data(), bad.size(), ours, area, sizeof area, dataSize));
}

TEST(LinuxReply, DatagramSocketsCheckOnlyTheSequence) {
  // The kernel puts its own identifier in a datagram socket's replies.
  const EchoId sequenceOnly{{0, 0, 0x56, 0x78}, true};
  const EchoId kernels{{0x99, 0x98, 0x56, 0x78}, false};
  auto p = packet(20, kernels, {1, 2, 3});
  std::vector<std::uint8_t> icmp(p.begin() + 20, p.end());
  std::uint8_t head[kIcmpHeaderSize];
  std::uint8_t area[kArea];
  std::uint8_t spill[kMaxIpOptionsSize];
  std::memcpy(head, icmp.data(), kIcmpHeaderSize);
  std::memcpy(area, icmp.data() + kIcmpHeaderSize, 3);
  std::size_t dataSize = 0;
  EXPECT_TRUE(parseReply4({head, sizeof head, area, sizeof area, spill}, icmp.size(), false,
                          sequenceOnly, dataSize));
  EXPECT_EQ(dataSize, 3u);
  head[7] ^= 1;
  EXPECT_FALSE(parseReply4({head, sizeof head, area, sizeof area, spill}, icmp.size(), false,
                           sequenceOnly, dataSize));
}

}  // namespace
}  // namespace fanecho
