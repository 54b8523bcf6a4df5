// What the fake's files share: the fake in charge, the lock over its
// records, and the seams that fake_echo.cpp fills.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "fake_platform.h"

namespace fanecho::testing {

extern FakePlatform* active;
extern std::mutex fakeMutex;  // guards the fake's records when threads are real

// Echo requests: scripted replies per address, every request recorded.
struct FakeEcho {
  static const char* problem(std::uint8_t family, bool& missing);
  static IcmpHandle open(std::uint8_t family);
  static std::uint32_t send(IcmpHandle handle, const EchoRequest& request, EchoReply& reply,
                            std::uint8_t* dataArea, std::size_t dataAreaSize);
  static void close(IcmpHandle handle, std::uint8_t family);
  static const char* localSendProblem();
  static const char* sourceProblem(const IpAddress& source);
  static const char* interfaceProblem(const char* name);
};
// Names from the test's own table.
struct FakeNames {
  static bool start();
  static void stop();
  static bool resolve(const char* name, std::uint8_t family, IpAddress& address);
  static void reverse(const IpAddress& address, char* name, std::size_t size);
  static std::uint32_t interfaceIndex(const char* name);
};

}  // namespace fanecho::testing
