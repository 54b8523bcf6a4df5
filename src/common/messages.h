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
  expectedTtl,          // subject: the argument
  badSource,            // subject: the address; detail: why not
  badInterface,         // subject: the interface's name; detail: why not
  expectedWait,         // subject: the argument
  expectedRetry,        // subject: the argument
  expectedRate,         // subject: the argument
};

// Writes the message; the caller holds consoleLock. A detail follows the
// text after ": " (and is the object's "reason").
void writeMessage(Message message, std::string_view subject = {}, std::string_view detail = {});

// "too many addresses; ignoring TARGET and MORE more": the first address of
// a block that the limit refused, and how many of the block's addresses
// follow it (decimal digits; more than one). Under /json the message object
// of tooManyAddresses with a "more" count. The caller holds consoleLock.
void writeBlockRefusal(std::string_view target, std::string_view more);

}  // namespace fanecho
