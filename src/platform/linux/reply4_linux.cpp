#include "platform/linux/reply4_linux.h"

#include <algorithm>
#include <cstring>

namespace fanecho {

namespace {

// Byte i of the packet after the place where the ICMP header should be.
std::uint8_t byteAt(const ReplyPieces& p, std::size_t i) {
  i += p.headSize - kIcmpHeaderSize;
  if (i < p.headSize) return p.head[i];
  i -= p.headSize;
  return i < p.areaSize ? p.area[i] : p.spill[i - p.areaSize];
}

// IP options moved the ICMP header and the data `shift` bytes further along
// than the pieces expect: the header is copied out and the data moved down
// into the caller's area, forward, as each byte comes from further along.
void undoShift(const ReplyPieces& p, std::size_t shift, std::size_t dataCaptured) {
  std::uint8_t header[kIcmpHeaderSize];
  for (std::size_t i = 0; i < kIcmpHeaderSize; ++i) header[i] = byteAt(p, shift + i);
  for (std::size_t i = 0; i < std::min(dataCaptured, p.areaSize); ++i) {
    p.area[i] = byteAt(p, shift + kIcmpHeaderSize + i);
  }
  std::memcpy(p.head + p.headSize - kIcmpHeaderSize, header, kIcmpHeaderSize);
}

}  // namespace

bool parseReply4(const ReplyPieces& p, std::size_t length, bool raw, const EchoId& id,
                 std::size_t& dataSize) {
  const std::size_t captured = std::min(length, p.headSize + p.areaSize + kMaxIpOptionsSize);
  // Raw sockets get the IP header too. Its options, if any, move the ICMP
  // header and the data further along than the pieces expect.
  std::size_t shift = 0;
  if (raw) {
    if (captured < kIpHeaderSize) return false;
    const std::size_t ipHeaderSize = static_cast<std::size_t>(p.head[0] & 0x0F) * 4;
    if (ipHeaderSize < kIpHeaderSize) return false;
    shift = ipHeaderSize - kIpHeaderSize;
  }
  if (captured < p.headSize + shift) return false;
  const std::size_t dataCaptured = captured - p.headSize - shift;
  // Normally the ICMP header is the end of the head.
  const std::uint8_t* icmp = p.head + p.headSize - kIcmpHeaderSize;
  if (shift != 0) undoShift(p, shift, dataCaptured);
  if (icmp[0] != kEchoReply || !id.matches(icmp)) return false;
  dataSize = length - p.headSize - shift;
  if (!raw) return true;  // the kernel checked a datagram socket's checksum
  // A raw packet the caller read whole into the pieces (the area's size
  // is even, so the spill continues its words).
  if (length > captured) return false;
  std::uint32_t sum = addWords(icmp, kIcmpHeaderSize, 0);
  sum = addWords(p.area, std::min(dataSize, p.areaSize), sum);
  if (dataSize > p.areaSize) sum = addWords(p.spill + shift, dataSize - p.areaSize, sum);
  return foldSum(sum) == 0;
}

bool parseWhole4(const std::uint8_t* packet, std::size_t length, const EchoId& id,
                 std::uint8_t* area, std::size_t areaSize, std::size_t& dataSize) {
  if (length < kIpHeaderSize) return false;
  const std::size_t ipHeaderSize = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
  if (ipHeaderSize < kIpHeaderSize || length < ipHeaderSize + kIcmpHeaderSize) return false;
  const std::uint8_t* icmp = packet + ipHeaderSize;
  if (icmp[0] != kEchoReply || !id.matches(icmp) ||
      foldSum(addWords(icmp, length - ipHeaderSize, 0)) != 0) {
    return false;
  }
  dataSize = length - ipHeaderSize - kIcmpHeaderSize;
  std::memcpy(area, icmp + kIcmpHeaderSize, std::min(dataSize, areaSize));
  return true;
}

}  // namespace fanecho
