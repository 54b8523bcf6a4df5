// The IPv4 reply parser two ways: a raw packet scattered over the pieces
// receiveReply reads into, and the same packet read whole, as a long one
// is. Both must take or refuse it alike and give the same data.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/linux/reply4_linux.h"

namespace {

using namespace fanecho;

constexpr std::size_t kArea = 64;  // even, as the real area is

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  // The first four bytes are the identifier and sequence number looked for.
  const EchoId id{{data[0], data[1], data[2], data[3]}, false};
  data += 4;
  size -= 4;
  std::uint8_t head[kIpHeaderSize + kIcmpHeaderSize];
  std::uint8_t area[kArea];
  std::uint8_t spill[kMaxIpOptionsSize];
  const std::size_t capacity = sizeof head + sizeof area + sizeof spill;
  if (size > capacity) return 0;  // receiveReply reads such a packet whole
  std::size_t at = 0;
  for (auto [piece, room] : {std::pair{head, sizeof head}, std::pair{area, sizeof area},
                             std::pair{spill, sizeof spill}}) {
    const std::size_t n = std::min(room, size - std::min(at, size));
    std::memcpy(piece, data + at, n);
    at += n;
  }
  std::size_t piecesSize = 0;
  const bool pieces =
      parseReply4({head, sizeof head, area, sizeof area, spill}, size, true, id, piecesSize);
  std::uint8_t wholeArea[kArea];
  std::size_t wholeSize = 0;
  const bool whole = parseWhole4(data, size, id, wholeArea, sizeof wholeArea, wholeSize);
  if (pieces != whole) std::abort();
  if (pieces &&
      (piecesSize != wholeSize || std::memcmp(area, wholeArea, std::min(piecesSize, kArea)) != 0)) {
    std::abort();
  }
  return 0;
}
