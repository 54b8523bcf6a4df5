#include "app/include_files.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "app/dispatch.h"
#include "common/console.h"
#include "common/messages.h"
#include "common/text.h"
#include "platform/platform.h"

namespace fanecho {

namespace {

// Opens for reading; a directory counts as a file that cannot be opened,
// though some systems let fopen succeed on one.
std::FILE* openIncludeFile(const std::string& name) {
  if (name.empty()) return nullptr;
  std::FILE* file = platform.process.openFile(name.c_str());
  if (file == nullptr) return nullptr;
  const int c = std::fgetc(file);
  if (c == EOF && std::ferror(file)) {
    std::fclose(file);
    return nullptr;
  }
  if (c != EOF) std::ungetc(c, file);
  return file;
}

}  // namespace

void processIncludeFile(std::string_view name, WorkerTable& table) {
  // The name ends where a C string would.
  const std::string fileName(name.substr(0, name.find('\0')));
  if (settings.includeDepth >= kMaxIncludeDepth) {
    ConsoleGuard guard;
    writeMessage(Message::nestedTooDeep, fileName);
    return;
  }
  ++settings.includeDepth;
  std::FILE* file = openIncludeFile(fileName);
  if (file == nullptr) {
    ConsoleGuard guard;
    writeMessage(Message::fileNotFound, fileName);
  } else {
    // A run that cannot probe stops at its first target: read no further.
    while (!std::feof(file) && !std::ferror(file) && !table.probingRefused()) {
      // Dispatched straight from the buffer: whatever outlives this pass
      // (a worker's label) is copied by the one who keeps it.
      char line[kIncludeLineLength + 1];
      if (std::fgets(line, sizeof line, file) == nullptr) line[0] = '\0';
      std::size_t end = std::strlen(line);
      while (end > 0 && isWhiteSpace(line[end - 1])) --end;
      std::size_t start = 0;
      while (start < end && isWhiteSpace(line[start])) ++start;
      if (start == end || line[start] == '#') continue;
      dispatchArgument(std::string_view(line + start, end - start), table);
    }
    std::fclose(file);
  }
  --settings.includeDepth;
}

}  // namespace fanecho
