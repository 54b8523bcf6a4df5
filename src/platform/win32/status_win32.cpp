// What a failed call of the ICMP helper API means: a shortage here, a
// refusal here, or an IP_STATUS about the request (ip_status.h).
#include <atomic>

#include "platform/win32/back_end_win32.h"
#include "platform/win32/ip_status.h"

namespace fanecho::win32 {

static_assert(IP_SUCCESS == win32::kIpSuccess && IP_REQ_TIMED_OUT == win32::kIpReqTimedOut &&
              IP_DEST_HOST_UNREACHABLE == win32::kIpDestHostUnreachable &&
              IP_DEST_PROT_UNREACHABLE == win32::kIpDestProtUnreachable &&
              IP_TTL_EXPIRED_TRANSIT == win32::kIpTtlExpiredTransit &&
              IP_PARAM_PROBLEM == win32::kIpParameterProblem &&
              IP_PACKET_TOO_BIG == win32::kIpPacketTooBig &&
              IP_GENERAL_FAILURE == win32::kIpGeneralFailure &&
              IP_NO_RESOURCES == win32::kIpNoResources);

namespace {

// The last reason a request could not leave this machine.
std::atomic<DWORD> lastLocalSendError{0};

// Failures of the ICMP helper API that are ours, not the target's, and
// may pass: the system was short of memory or buffers for the moment.
bool isLocalShortage(DWORD error) {
  return error == IP_NO_RESOURCES || error == ERROR_NOT_ENOUGH_MEMORY ||
         error == ERROR_OUTOFMEMORY || error == ERROR_NO_SYSTEM_RESOURCES ||
         error == ERROR_NOT_ENOUGH_QUOTA || error == WSAENOBUFS;
}

// Errors with which the helper API refuses a call before anything is sent:
// a bad parameter (Windows since Vista answers a time-out of 0 so), no
// IPv6 stack, no such function. The request never left this machine.
bool isRefusedHere(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_CALL_NOT_IMPLEMENTED;
}

}  // namespace

const char* localSendProblem() {
  const DWORD error = lastLocalSendError.load(std::memory_order_relaxed);
  if (error == 0) return nullptr;
  static char message[200];
  std::snprintf(message, sizeof message,
                "The ICMP helper API said: error %lu, out of memory or buffers. Likely causes: a "
                "full neighbour (ARP) cache or send queue; probe fewer targets at once.",
                static_cast<unsigned long>(error));
  return message;
}

// The status of a call that returned no reply record: what the record or
// the last error says, once a shortage or a refusal here is ruled out.
void failedCall(DWORD written, std::uint8_t family, EchoReply& reply) {
  const DWORD error = written == IP_NO_RESOURCES ? IP_NO_RESOURCES : GetLastError();
  if (isLocalShortage(error)) {
    lastLocalSendError.store(error, std::memory_order_relaxed);
    reply.status = EchoStatus::shortage;
    return;
  }
  if (isRefusedHere(error)) {
    reply.status = EchoStatus::refusedHere;
    return;
  }
  reply.requestLeft = true;
  if (written != kNotWritten && written != IP_SUCCESS) {
    reply.status = win32::echoStatusOf(written, family);
  } else if (error >= IP_STATUS_BASE && error != IP_SUCCESS) {
    reply.status = win32::echoStatusOf(error, family);
  } else {
    reply.status = EchoStatus::noResponse;
  }
}
}  // namespace fanecho::win32
