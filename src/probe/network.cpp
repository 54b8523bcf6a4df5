#include "probe/network.h"

#include <condition_variable>
#include <mutex>

#include "common/console.h"
#include "common/messages.h"
#include "common/run_settings.h"
#include "platform/platform.h"

namespace fanecho {

int startNetwork() {
  platform.process.prepare();
  platform.console.lockInit();
  if (platform.names.start()) return 1;
  ConsoleGuard guard;
  writeMessage(Message::socketLibrary);
  return 0;
}

void stopNetwork() {
  platform.names.stop();
  platform.process.finish();
}

namespace {

// Look-ups run in the workers, side by side, but only so many at once:
// thousands of queries in one burst overflow a name server's socket, and
// a lost query costs the resolver's whole time-out.
class LookupSlots {
 public:
  LookupSlots() {
    std::unique_lock<std::mutex> lock(mutex_);
    freed_.wait(lock, [] { return inUse_ < kMaxLookupsInFlight; });
    ++inUse_;
  }
  ~LookupSlots() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --inUse_;
    }
    freed_.notify_one();
  }
  LookupSlots(const LookupSlots&) = delete;
  LookupSlots& operator=(const LookupSlots&) = delete;

 private:
  static inline std::mutex mutex_;
  static inline std::condition_variable freed_;
  static inline std::uint32_t inUse_ = 0;
};

}  // namespace

namespace {

struct EchoFamilies {
  std::mutex mutex;
  bool asked[2] = {};
  EchoFamilyAnswer answers[2] = {};
  bool lineWritten[2] = {};
};
EchoFamilies echoFamilies;

}  // namespace

EchoFamilyAnswer askEchoFamily(std::uint8_t family) {
  const int index = family == 6 ? 1 : 0;
  std::lock_guard<std::mutex> lock(echoFamilies.mutex);
  if (!echoFamilies.asked[index]) {
    EchoFamilyAnswer& answer = echoFamilies.answers[index];
    answer.problem = platform.echo.problem(family == 6 ? 6 : 4, answer.missing);
    echoFamilies.asked[index] = true;
  }
  return echoFamilies.answers[index];
}

bool echoFamilyUsable(std::uint8_t family) {
  const EchoFamilyAnswer answer = askEchoFamily(family);
  if (answer.problem == nullptr) return true;
  bool first;
  {
    std::lock_guard<std::mutex> lock(echoFamilies.mutex);
    first = !echoFamilies.lineWritten[family == 6];
    echoFamilies.lineWritten[family == 6] = true;
  }
  if (first) {
    ConsoleGuard guard;
    writeMessage(Message::familyMissing, answer.problem);
  }
  return false;
}

void resetEchoFamilies() {
  std::lock_guard<std::mutex> lock(echoFamilies.mutex);
  for (int i = 0; i < 2; ++i) {
    echoFamilies.asked[i] = false;
    echoFamilies.answers[i] = {};
    echoFamilies.lineWritten[i] = false;
  }
}

int resolveHostName(const char* name, std::uint8_t family, IpAddress& address) {
  IpAddress found;
  {
    LookupSlots slot;
    if (!platform.names.resolve(name, family, found)) return 0;
  }
  address = found;
  return 1;
}

int reverseLookup(const IpAddress& address, char* name) {
  name[0] = '\0';
  LookupSlots slot;
  platform.names.reverse(address, name, kNameBufferSize);
  return 1;
}

}  // namespace fanecho
