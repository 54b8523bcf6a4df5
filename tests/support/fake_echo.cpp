// The fake's echo and name seams: scripted replies and a table of names.
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "fake_platform.h"
#include "fake_seams.h"

namespace fanecho::testing {

// Echo requests: scripted replies per address, every request recorded.
const char* FakeEcho::problem(std::uint8_t family, bool& missing) {
  active->problemFamilies.push_back(family);
  missing = family == 6 && active->ipv6Missing;
  return missing ? "IPv6 echo is not available on this system" : nullptr;
}

IcmpHandle FakeEcho::open(std::uint8_t) {
  std::lock_guard<std::mutex> lock(fakeMutex);
  ++active->openHandles;
  return ++active->createdHandles;
}

std::uint32_t FakeEcho::send(IcmpHandle, const EchoRequest& request, EchoReply& reply,
                             std::uint8_t* dataArea, std::size_t dataAreaSize) {
  const IpAddress& address = request.target;
  if (active->onSend) active->onSend(address);
  ScriptedReply next{active->answerUnscripted ? Reply::good : Reply::none, 0};
  {
    std::lock_guard<std::mutex> lock(fakeMutex);
    active->requests.push_back(
        {address, request.size, request.timeoutMs, request.options, active->clockMs});
    auto found = active->scripts_.find(address);
    if (found != active->scripts_.end()) {
      if (found->second.empty()) {
        next = {Reply::none, 0};
      } else {
        next = found->second.front();
        found->second.pop_front();
      }
    }
  }
  if (next.kind == Reply::unsent || next.kind == Reply::refused) {
    reply.status = next.kind == Reply::unsent ? EchoStatus::shortage : EchoStatus::noRouteHere;
    return 0;
  }
  if (next.kind == Reply::status) {
    reply.status = next.status;
    reply.requestLeft = !heldHere(next.status);
    reply.from = next.from;
    return 0;
  }
  reply.requestLeft = true;
  if (next.kind == Reply::none) {
    reply.status = EchoStatus::noResponse;
    return 0;
  }
  std::size_t size = request.size;
  std::memcpy(dataArea, request.data, std::min<std::size_t>(size, dataAreaSize));
  if (next.kind == Reply::wrongData && size > 0) dataArea[size - 1] ^= 0x5A;
  if (next.kind == Reply::wrongSize) size = size > 0 ? size - 1 : 1;
  reply.status = EchoStatus::reply;
  reply.from = address;
  reply.roundTripMs = next.rttMs;
  reply.roundTripUs = next.rttUs != 0 ? next.rttUs : next.rttMs * 1000;
  reply.dataSize = static_cast<std::uint16_t>(size);
  reply.data = dataArea;
  return next.kind == Reply::zeroCount ? 0 : 1;
}

void FakeEcho::close(IcmpHandle, std::uint8_t) {
  std::lock_guard<std::mutex> lock(fakeMutex);
  --active->openHandles;
}

const char* FakeEcho::localSendProblem() { return "a full table"; }

// This machine holds 10.0.0.100 and 2001:db8::100; its one interface is eth0.
const char* FakeEcho::sourceProblem(const IpAddress& source) {
  const bool ours =
      source.family == 6 ? source == ipv6Of("2001:db8::100") : source == addressOf(10, 0, 0, 100);
  return ours ? nullptr : "it is not an address of this machine";
}

const char* FakeEcho::interfaceProblem(const char* name) {
  return std::string(name) == "eth0" ? nullptr : "this machine has no interface of that name";
}

// Names from the test's own table.
bool FakeNames::start() { return true; }
void FakeNames::stop() {}

bool FakeNames::resolve(const char* name, std::uint8_t family, IpAddress& address) {
  std::lock_guard<std::mutex> lock(fakeMutex);
  auto found = active->hosts_.find(name);
  if (found == active->hosts_.end()) return false;
  for (const IpAddress& candidate : found->second) {
    if (family == kFamilyAny || candidate.family == family) {
      address = candidate;
      return true;
    }
  }
  return false;
}

void FakeNames::reverse(const IpAddress& address, char* name, std::size_t size) {
  std::lock_guard<std::mutex> lock(fakeMutex);
  auto found = active->reverse_.find(address);
  if (found == active->reverse_.end()) {
    name[0] = '\0';
    return;
  }
  std::snprintf(name, size, "%s", found->second.c_str());
}

std::uint32_t FakeNames::interfaceIndex(const char* name) {
  return std::string(name) == "eth0" ? 2 : 0;
}

}  // namespace fanecho::testing
