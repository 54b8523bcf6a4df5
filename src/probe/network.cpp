#include "probe/network.h"

#include <condition_variable>
#include <mutex>

#include "common/console.h"
#include "common/messages.h"
#include "common/run_settings.h"
#include "platform/platform.h"

namespace fanecho {

int startNetwork() {
  platform.consoleLockInit();
  if (platform.startSockets()) return 1;
  ConsoleGuard guard;
  writeMessage(Message::socketLibrary);
  return 0;
}

void stopNetwork() { platform.stopSockets(); }

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

int resolveHostName(const char* name, std::uint8_t family, IpAddress& address) {
  IpAddress found;
  {
    LookupSlots slot;
    if (!platform.resolveName(name, family, found)) return 0;
  }
  address = found;
  return 1;
}

int reverseLookup(const IpAddress& address, char* name) {
  name[0] = '\0';
  LookupSlots slot;
  platform.reverseName(address, name, kNameBufferSize);
  return 1;
}

}  // namespace fanecho
