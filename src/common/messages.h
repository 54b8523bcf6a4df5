// The messages fanecho writes about its arguments, files and permissions:
// one line each, as text or, under /json, as a JSON object.
#pragma once

#include <string_view>

namespace fanecho {

enum class Message {
  socketLibrary,        // the socket library could not be started
  noPermission,         // subject: the platform's explanation, the whole text
  illegalAddress,       // subject: the pattern
  tooManyAddresses,     // subject: the refused target
  fileNotFound,         // subject: the file name
  nestedTooDeep,        // subject: the file name
  invalidArgument,      // subject: the argument
  expectedReportValue,  // subject: the argument
  expectedIpValue,      // subject: the argument
  familyMissing,        // subject: the platform's explanation, the whole text
};

// Writes the message; the caller holds consoleLock.
void writeMessage(Message message, std::string_view subject = {});

}  // namespace fanecho
