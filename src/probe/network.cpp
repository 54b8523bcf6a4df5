#include "probe/network.h"

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

int resolveHostName(const char* name, std::uint16_t octets[4]) {
  std::uint8_t bytes[4];
  if (!platform.resolveName(name, bytes)) return 0;
  for (int i = 0; i < 4; ++i) octets[i] = bytes[i];
  return 1;
}

int reverseLookup(std::uint32_t address, char* name) {
  name[0] = '\0';
  platform.reverseName(address, name, kNameBufferSize);
  return 1;
}

}  // namespace fanecho
