#include "report/target_label.h"

#include "probe/network.h"

namespace fanecho {

void writeTargetLabel(ConsoleLine& line, const ProbeJob& job, const std::uint16_t resolvedOctets[4],
                      const char* reverseName) {
  line.text(job.label);
  if (settings.verbose.load(std::memory_order_relaxed) == 0) return;
  if (job.kind == TargetKind::hostName) {
    line.text(" (");
    for (int i = 0; i < 4; ++i) {
      if (i != 0) line.text(".");
      line.number(resolvedOctets[i]);
    }
    line.text(")");
    return;
  }
  char nameBuffer[kNameBufferSize];
  if (reverseName == nullptr) {
    reverseLookup(job.address, nameBuffer);
    reverseName = nameBuffer;
  }
  if (reverseName[0] == '\0') {
    line.text(" (?)");
  } else {
    line.text(" (").text(reverseName).text(")");
  }
}

}  // namespace fanecho
