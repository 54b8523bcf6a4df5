// Sockets: the descriptor budget (what the workers' sockets may hold of
// the descriptors free at the start) and what a refused socket says.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <cerrno>

#include "platform/linux/icmp_linux.h"

namespace fanecho {
namespace {

TEST(LinuxSockets, SocketsLeaveRoomForLookupsAtEveryLimit) {
  struct Case {
    std::uint64_t limit;
    unsigned inUse;
    unsigned total;
    unsigned sockets;
  } cases[] = {
      {64, 3, 31, 16},  // few free: half of them, the look-ups' room out of that
      {64, 56, 5, 1},   // what a parent left open counts: one socket, one look-up
      {64, 64, 5, 1},   // none free at all: still one of each, to fail honestly
      {1024, 3, 989, 733},
      {1u << 20, 3, 1048541, 1048285},
      {1ull << 40, 3, (1u << 24) - 35, (1u << 24) - 35 - 256},  // capped
  };
  for (const Case& c : cases) {
    const DescriptorShare share = shareOf(c.limit, c.inUse);
    EXPECT_EQ(share.total, c.total) << c.limit << " " << c.inUse;
    EXPECT_EQ(share.sockets, c.sockets) << c.limit << " " << c.inUse;
    EXPECT_GE(share.total - share.sockets, 4u) << "room for one look-up";
  }
}

TEST(LinuxSockets, EachRefusalOfASocketSaysWhatWouldHelp) {
  struct Case {
    SocketChoice choice;
    const char* message;  // null: requests can be sent
  } cases[] = {
      {{SOCK_DGRAM, 0, 0}, nullptr},
      {{SOCK_RAW, EACCES, 0}, nullptr},
      {{-1, EACCES, EPERM},
       "fanecho: no permission to send ICMP echo requests: group 1000 is outside "
       "net.ipv4.ping_group_range and CAP_NET_RAW is missing; widen the range (sysctl -w "
       "net.ipv4.ping_group_range=\"0 2147483647\") or run as root"},
      {{-1, EACCES, EACCES},
       "fanecho: no permission to send ICMP echo requests: group 1000 is outside "
       "net.ipv4.ping_group_range and CAP_NET_RAW is missing; widen the range (sysctl -w "
       "net.ipv4.ping_group_range=\"0 2147483647\") or run as root"},
      {{-1, EMFILE, EMFILE}, "fanecho: cannot open an ICMP socket: Too many open files"},
      {{-1, EPROTONOSUPPORT, EPERM},
       "fanecho: cannot open an ICMP socket: Operation not permitted"},
      {{-1, EAFNOSUPPORT, 0},
       "fanecho: cannot open an ICMP socket: Address family not supported by protocol"},
  };
  for (const Case& c : cases) {
    char message[400];
    const char* said = describeSocketProblem("ICMP", c.choice, 1000, message, sizeof message);
    if (c.message == nullptr) {
      EXPECT_EQ(said, nullptr);
    } else {
      ASSERT_NE(said, nullptr) << c.message;
      EXPECT_STREQ(said, c.message);
    }
  }
}

}  // namespace
}  // namespace fanecho
