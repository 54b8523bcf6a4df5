#include "common/messages.h"

#include <string>

#include "common/console.h"
#include "common/json.h"

namespace fanecho {

namespace {

struct MessageForm {
  std::string_view code;    // the object's "message"
  std::string_view before;  // the text line: before, subject, after
  std::string_view after;
  std::string_view subjectKey;  // the object's field for the subject, if any
  bool subjectInText;
};

MessageForm formOf(Message message) {
  switch (message) {
    case Message::socketLibrary:
      return {"socket_library",
              "the socket library could not be started; host names will not be translated", "", "",
              false};
    case Message::noPermission:
      return {"no_permission", "", "", "", true};
    case Message::illegalAddress:
      return {"illegal_address", "illegal IP address", "", "argument", false};
    case Message::tooManyAddresses:
      return {"too_many_addresses", "too many addresses; ignoring ", "", "target", true};
    case Message::fileNotFound:
      return {"file_not_found", "file ", " not found", "file", true};
    case Message::nestedTooDeep:
      return {"nested_too_deep", "include file ", " nested too deep; ignoring it", "file", true};
    case Message::invalidArgument:
      return {"invalid_argument", "invalid control argument ", "; try fanecho /? for more help",
              "argument", true};
    case Message::expectedReportValue:
      return {"expected_report_value", "expected all, ok or error", "", "argument", false};
    case Message::expectedIpValue:
      return {"expected_ip_value", "expected 4, 6 or any", "", "argument", false};
    case Message::familyMissing:
      return {"family_missing", "", "", "", true};
    case Message::expectedTtl:
      return {"expected_ttl", "expected a TTL of 1 to 255", "", "argument", false};
    case Message::badSource:
      return {"bad_source", "cannot send from ", "", "address", true};
    case Message::badInterface:
      return {"bad_interface", "cannot send through ", "", "interface", true};
    case Message::expectedWait:
      return {"expected_wait", "expected a wait of 0 to 2147483647 milliseconds", "", "argument",
              false};
    case Message::expectedRetry:
      return {"expected_retry", "expected 0 to 10 retries", "", "argument", false};
    case Message::expectedRate:
      return {"expected_rate", "expected a rate of 0 to 1000000 requests a second", "", "argument",
              false};
  }
  return {};
}

}  // namespace

void writeMessage(Message message, std::string_view subject, std::string_view detail) {
  const MessageForm form = formOf(message);
  std::string text(form.before);
  // The text as the console shows it; the object's subject keeps every byte.
  if (form.subjectInText) text.append(shownOnConsole(subject));
  text.append(form.after);
  if (!detail.empty()) text.append(": ").append(detail);
  ConsoleLine line;
  if (!jsonOutput()) {
    line.text(text).end();
    return;
  }
  // The text as well, so that a script can show it as fanecho would.
  JsonObject object(line, "message");
  object.text("message", form.code);
  if (!form.subjectKey.empty()) object.text(form.subjectKey, subject);
  if (!detail.empty()) object.text("reason", detail);
  object.text("text", text).end();
}

void writeBlockRefusal(std::string_view target, std::string_view more) {
  const MessageForm form = formOf(Message::tooManyAddresses);
  std::string text(form.before);
  text.append(target).append(" and ").append(more).append(" more");
  ConsoleLine line;
  if (!jsonOutput()) {
    line.text(text).end();
    return;
  }
  JsonObject(line, "message")
      .text("message", form.code)
      .text(form.subjectKey, target)
      .decimal("more", more)
      .text("text", text)
      .end();
}

}  // namespace fanecho
