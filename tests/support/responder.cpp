// fanecho_responder: answers ICMP echo requests in a test namespace the way
// misbehaving hosts do, so the end-to-end tests can see how fanecho judges
// replies it cannot get from a kernel.
//
//   fanecho_responder [--seconds N] [--ready FILE] ADDRESS[/BITS]=BEHAVIOUR ...
//
// It reads every echo request that reaches the namespace on a raw ICMP
// socket and answers by the request's destination address: a rule for the
// address itself first, else the rule of the longest prefix that holds it.
// Run it where net.ipv4.icmp_echo_ignore_all=1, or the kernel answers as well.
//
// Behaviours:
//   normal        one correct reply
//   corrupt       the data comes back with its first and last byte flipped
//   truncate      the data comes back cut to half its length, at most 16
//                 bytes: fanecho's data ends in zeros, which a reply cut
//                 later could pass off as present
//   duplicate     two correct replies
//   pad           the data comes back with 8 more bytes after it
//   delay:MS      one correct reply, MS milliseconds late
//   late:MS       the same as delay; named for delays beyond the time-out
//   wrong-id      one reply whose identifier is not the request's
//   wrong-seq     one reply whose sequence number is not the request's
//   foreign       a reply with another identifier, then the correct one
//   alternate:MS  answers (after MS ms) the first, third, fifth ... request
//                 of each identifier and drops the others
//   every-third   answers the third, sixth, ninth ... request of each
//                 identifier and drops the others: a host that only retries reach
//   bad-checksum  one reply whose checksum is wrong
//   impostor      one correct reply, but from the next address up
//   long          the data comes back with 100 more bytes after it: past
//                 what fanecho reads of a reply in one piece
//   long-bad-checksum  the same with a wrong checksum
//   forge:ADDRESS a hostile host: one correct reply, and 100 ms later 1089
//                 replies "from" ADDRESS carrying the identifiers and
//                 sequence numbers a predictable sender would use beside the
//                 request's (each within 16 of the request's, nearest first)
//   forge-error:ADDRESS  one correct reply, and 50 ms later 1089 host
//                 unreachable errors quoting a request to ADDRESS with those
//                 guessed numbers
//   misquote      a host unreachable error quoting the request (its
//                 identifier and sequence number) as sent to the next
//                 address up, then the correct reply 500 ms later
// Every other reply carries a correct checksum. Addresses without a behaviour get
// no answer. IPv6 addresses (exact, no prefixes) get ICMPv6 replies on a raw
// ICMPv6 socket, whose checksum the kernel fills in (so no bad-checksum);
// run it where net.ipv6.icmp.echo_ignore_all=1 as well. The tool ends by itself after --seconds
// (default 300), so a test run that dies cannot leave it behind for long.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <linux/icmp.h>
#include <netinet/icmp6.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum class Kind {
  normal,
  corrupt,
  truncate,
  duplicate,
  delay,
  wrongId,
  wrongSeq,
  foreign,
  alternate,
  everyThird,
  badChecksum,
  impostor,
  pad,
  longer,
  longerBadChecksum,
  forge,
  forgeError,
  misquote
};

using Address6 = std::array<std::uint8_t, 16>;  // an IPv4 address fills the first four

struct Behaviour {
  Kind kind = Kind::normal;
  int delayMs = 0;
  Address6 address{};  // of forge and forge-error
  bool v6 = false;     // whether that address is an IPv6 one
};

struct PrefixRule {
  std::uint32_t network;  // host order
  int bits;
  Behaviour behaviour;
};

struct Pending {
  Clock::time_point due;
  std::vector<std::uint8_t> packet;  // IP header included; for IPv6 the ICMPv6 message alone
  in_addr_t to;
  bool v6 = false;
  in6_addr to6{};
  in6_addr from6{};
};

// One answer: the ICMP message, its delay, whether its checksum is spoilt and
// whether it comes from the next address up. An error carries the request
// it quotes in `icmp` (the caller wraps it), sent to `quoted`; an answer
// with `forged` comes from `source`.
struct Answer {
  std::vector<std::uint8_t> icmp;
  int delayMs;
  bool spoil;
  bool impostor;
  bool error = false;
  Address6 quoted{};
  bool forged = false;
  Address6 source{};
};

std::uint16_t checksum(const std::uint8_t* data, std::size_t length) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < length; i += 2)
    sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
  if (length % 2 != 0) sum += static_cast<std::uint32_t>(data[length - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

bool parseBehaviour(const std::string& text, Behaviour& out) {
  const std::size_t colon = text.find(':');
  const std::string name = text.substr(0, colon);
  const bool hasMs = colon != std::string::npos;
  const int ms = hasMs ? std::atoi(text.c_str() + colon + 1) : 0;
  static const std::map<std::string, Kind> kinds = {
      {"normal", Kind::normal},
      {"corrupt", Kind::corrupt},
      {"truncate", Kind::truncate},
      {"duplicate", Kind::duplicate},
      {"delay", Kind::delay},
      {"late", Kind::delay},
      {"wrong-id", Kind::wrongId},
      {"wrong-seq", Kind::wrongSeq},
      {"foreign", Kind::foreign},
      {"alternate", Kind::alternate},
      {"every-third", Kind::everyThird},
      {"bad-checksum", Kind::badChecksum},
      {"impostor", Kind::impostor},
      {"pad", Kind::pad},
      {"long", Kind::longer},
      {"long-bad-checksum", Kind::longerBadChecksum},
      {"forge", Kind::forge},
      {"forge-error", Kind::forgeError},
      {"misquote", Kind::misquote},
  };
  const auto found = kinds.find(name);
  if (found == kinds.end()) return false;
  if (found->second == Kind::forge || found->second == Kind::forgeError) {
    if (!hasMs) return false;
    const std::string address = text.substr(colon + 1);
    out = {found->second, 0, {}, false};
    if (inet_pton(AF_INET, address.c_str(), out.address.data()) == 1) return true;
    out.v6 = true;
    return inet_pton(AF_INET6, address.c_str(), out.address.data()) == 1;
  }
  const bool wantsMs = found->second == Kind::delay || found->second == Kind::alternate;
  if (wantsMs != hasMs || ms < 0) return false;
  out = {found->second, ms};
  return true;
}

// An IPv4 packet from `from` to `to` carrying the ICMP message `icmp`; the
// ICMP checksum is filled in here (spoilt when asked), the IP one by the
// kernel.
std::vector<std::uint8_t> buildReply(in_addr_t from, in_addr_t to, std::vector<std::uint8_t> icmp,
                                     bool spoilChecksum = false) {
  icmp[2] = icmp[3] = 0;
  std::uint16_t sum = htons(checksum(icmp.data(), icmp.size()));
  if (spoilChecksum) sum = static_cast<std::uint16_t>(sum ^ 0x0101);
  std::memcpy(&icmp[2], &sum, 2);
  std::vector<std::uint8_t> packet(20 + icmp.size(), 0);
  packet[0] = 0x45;
  const std::uint16_t total = htons(static_cast<std::uint16_t>(packet.size()));
  std::memcpy(&packet[2], &total, 2);
  packet[8] = 64;  // time to live
  packet[9] = IPPROTO_ICMP;
  std::memcpy(&packet[12], &from, 4);
  std::memcpy(&packet[16], &to, 4);
  std::memcpy(&packet[20], icmp.data(), icmp.size());
  return packet;
}

void changeIdentifier(std::vector<std::uint8_t>& icmp) {
  icmp[4] ^= 0x5A;
  icmp[5] ^= 0xA5;
}

void addTo16(std::vector<std::uint8_t>& icmp, std::size_t at, int difference) {
  const int value = (icmp[at] << 8 | icmp[at + 1]) + difference;
  icmp[at] = static_cast<std::uint8_t>(value >> 8);
  icmp[at + 1] = static_cast<std::uint8_t>(value);
}

// Copies of `icmp` with every identifier and sequence number within 16 of
// its own, 33 x 33 = 1089, the nearest guesses first: a sender that counts
// its sequence numbers, or takes its identifiers from a counter or its
// descriptor numbers, uses some of them for its next requests.
std::vector<std::vector<std::uint8_t>> guesses(const std::vector<std::uint8_t>& icmp) {
  std::vector<std::vector<std::uint8_t>> all;
  for (int distance = 0; distance <= 32; ++distance) {
    for (int id = -16; id <= 16; ++id) {
      for (int sequence = -16; sequence <= 16; ++sequence) {
        if (std::abs(id) + std::abs(sequence) != distance) continue;
        std::vector<std::uint8_t> guess = icmp;
        addTo16(guess, 4, id);
        addTo16(guess, 6, sequence);
        all.push_back(std::move(guess));
      }
    }
  }
  return all;
}

// The answers a behaviour gives to one request; `icmp` is the request with
// its type already turned into the reply's, `requestType` what it was, and
// `destination` the address asked. `seen` counts the requests of its sender,
// target and identifier, for alternate and every-third.
std::vector<Answer> plan(const Behaviour& behaviour, std::vector<std::uint8_t> icmp,
                         std::uint8_t requestType, const Address6& destination, unsigned& seen) {
  std::vector<Answer> answers;
  const std::size_t dataSize = icmp.size() - 8;
  auto queue = [&](std::vector<std::uint8_t> message, int delayMs, bool spoil = false,
                   bool impostor = false) {
    answers.push_back({std::move(message), delayMs, spoil, impostor});
  };
  std::vector<std::uint8_t> request = icmp;
  request[0] = requestType;
  switch (behaviour.kind) {
    case Kind::normal:
      queue(icmp, 0);
      break;
    case Kind::corrupt:
      if (dataSize > 0) {
        icmp[8] ^= 0xFF;
        icmp.back() ^= 0xFF;
      }
      queue(icmp, 0);
      break;
    case Kind::truncate:
      icmp.resize(8 + std::min<std::size_t>(dataSize / 2, 16));
      queue(icmp, 0);
      break;
    case Kind::duplicate:
      queue(icmp, 0);
      queue(icmp, 0);
      break;
    case Kind::pad:
      icmp.insert(icmp.end(), {'p', 'a', 'd', 'd', 'i', 'n', 'g', '!'});
      queue(icmp, 0);
      break;
    case Kind::delay:
      queue(icmp, behaviour.delayMs);
      break;
    case Kind::wrongId:
      changeIdentifier(icmp);
      queue(icmp, 0);
      break;
    case Kind::wrongSeq: {
      std::uint16_t sequence;
      std::memcpy(&sequence, &icmp[6], 2);
      sequence = htons(static_cast<std::uint16_t>(ntohs(sequence) + 1000));
      std::memcpy(&icmp[6], &sequence, 2);
      queue(icmp, 0);
      break;
    }
    case Kind::foreign: {
      std::vector<std::uint8_t> other = icmp;
      changeIdentifier(other);
      queue(other, 0);
      queue(icmp, 0);
      break;
    }
    case Kind::alternate:
      if (seen++ % 2 == 0) queue(icmp, behaviour.delayMs);
      break;
    case Kind::everyThird:
      if (++seen % 3 == 0) queue(icmp, 0);
      break;
    case Kind::badChecksum:
      queue(icmp, 0, true);
      break;
    case Kind::impostor:
      queue(icmp, 0, false, true);
      break;
    case Kind::longer:
    case Kind::longerBadChecksum:
      icmp.insert(icmp.end(), 100, 'L');
      queue(icmp, 0, behaviour.kind == Kind::longerBadChecksum);
      break;
    case Kind::forge:
      queue(icmp, 0);
      for (std::vector<std::uint8_t>& guess : guesses(icmp)) {
        answers.push_back(
            {std::move(guess), 100, false, false, false, {}, true, behaviour.address});
      }
      break;
    case Kind::forgeError:
      queue(icmp, 0);
      for (std::vector<std::uint8_t>& guess : guesses(request)) {
        answers.push_back({std::move(guess), 50, false, false, true, behaviour.address});
      }
      break;
    case Kind::misquote: {
      Address6 other = destination;
      ++other[requestType == ICMP_ECHO ? 3 : 15];
      answers.push_back({request, 0, false, false, true, other});
      queue(icmp, 500);
      break;
    }
  }
  return answers;
}

// The ICMP or ICMPv6 host unreachable error about `request` (its first 8
// bytes quoted after the header of a packet from `from` to `to`).
std::vector<std::uint8_t> buildError(const std::vector<std::uint8_t>& request, bool v6,
                                     const std::uint8_t* from, const std::uint8_t* to) {
  std::vector<std::uint8_t> error = {static_cast<std::uint8_t>(v6 ? 1 : ICMP_DEST_UNREACH),
                                     static_cast<std::uint8_t>(v6 ? 3 : ICMP_HOST_UNREACH),
                                     0,
                                     0,
                                     0,
                                     0,
                                     0,
                                     0};
  if (v6) {
    std::uint8_t header[40] = {0x60};
    header[4] = static_cast<std::uint8_t>(request.size() >> 8);
    header[5] = static_cast<std::uint8_t>(request.size());
    header[6] = IPPROTO_ICMPV6;
    header[7] = 64;
    std::memcpy(header + 8, from, 16);
    std::memcpy(header + 24, to, 16);
    error.insert(error.end(), header, header + sizeof header);
  } else {
    std::uint8_t header[20] = {0x45};
    const std::size_t total = sizeof header + request.size();
    header[2] = static_cast<std::uint8_t>(total >> 8);
    header[3] = static_cast<std::uint8_t>(total);
    header[8] = 64;
    header[9] = IPPROTO_ICMP;
    std::memcpy(header + 12, from, 4);
    std::memcpy(header + 16, to, 4);
    const std::uint16_t sum = htons(checksum(header, sizeof header));
    std::memcpy(header + 10, &sum, 2);
    error.insert(error.end(), header, header + sizeof header);
  }
  error.insert(error.end(), request.begin(), request.begin() + 8);
  return error;
}

// Sends an ICMPv6 message from `from` (one of this namespace's addresses)
// to `to`; the kernel fills in the checksum.
void send6(int fd, const Pending& reply) {
  sockaddr_in6 to{};
  to.sin6_family = AF_INET6;
  to.sin6_addr = reply.to6;
  iovec part{const_cast<std::uint8_t*>(reply.packet.data()), reply.packet.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in6_pktinfo))] = {};
  msghdr message{};
  message.msg_name = &to;
  message.msg_namelen = sizeof to;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* c = CMSG_FIRSTHDR(&message);
  c->cmsg_level = IPPROTO_IPV6;
  c->cmsg_type = IPV6_PKTINFO;
  c->cmsg_len = CMSG_LEN(sizeof(in6_pktinfo));
  in6_pktinfo info{};
  info.ipi6_addr = reply.from6;
  std::memcpy(CMSG_DATA(c), &info, sizeof info);
  sendmsg(fd, &message, 0);
}

int usage() {
  std::fprintf(
      stderr,
      "usage: fanecho_responder [--seconds N] [--ready FILE] ADDRESS[/BITS]=BEHAVIOUR ...\n"
      "behaviours: normal corrupt truncate duplicate delay:MS late:MS wrong-id wrong-seq\n"
      "            foreign alternate:MS every-third bad-checksum impostor pad long\n"
      "            long-bad-checksum\n"
      "            forge:ADDRESS forge-error:ADDRESS misquote\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 300;
  const char* readyFile = nullptr;
  std::map<in_addr_t, Behaviour> rules;
  std::map<Address6, Behaviour> rules6;
  std::vector<PrefixRule> prefixRules;  // longest first
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--seconds" && i + 1 < argc) {
      seconds = std::atoi(argv[++i]);
    } else if (argument == "--ready" && i + 1 < argc) {
      readyFile = argv[++i];
    } else {
      const std::size_t equals = argument.find('=');
      const std::size_t slash = argument.find('/');
      const bool prefix = slash < equals;
      const int bits = prefix ? std::atoi(argument.c_str() + slash + 1) : 32;
      in_addr address{};
      Behaviour behaviour;
      in6_addr address6{};
      if (equals != std::string::npos && !prefix &&
          inet_pton(AF_INET6, argument.substr(0, equals).c_str(), &address6) == 1 &&
          parseBehaviour(argument.substr(equals + 1), behaviour) &&
          (behaviour.v6 || (behaviour.kind != Kind::forge && behaviour.kind != Kind::forgeError))) {
        Address6 key;
        std::memcpy(key.data(), &address6, 16);
        rules6[key] = behaviour;
        continue;
      }
      if (equals == std::string::npos || bits < 1 || bits > 32 ||
          inet_pton(AF_INET, argument.substr(0, prefix ? slash : equals).c_str(), &address) != 1 ||
          !parseBehaviour(argument.substr(equals + 1), behaviour) || behaviour.v6) {
        std::fprintf(stderr, "fanecho_responder: bad rule %s\n", argument.c_str());
        return usage();
      }
      if (prefix) {
        prefixRules.push_back({ntohl(address.s_addr), bits, behaviour});
      } else {
        rules[address.s_addr] = behaviour;
      }
    }
  }
  if ((rules.empty() && prefixRules.empty() && rules6.empty()) || seconds <= 0) return usage();
  std::stable_sort(prefixRules.begin(), prefixRules.end(),
                   [](const PrefixRule& a, const PrefixRule& b) { return a.bits > b.bits; });

  const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  if (fd < 0) {
    std::perror("fanecho_responder: raw ICMP socket");
    return 1;
  }
  const int on = 1;
  // Replies must leave from the address that was asked, which on a host
  // with many addresses only a header of our own can promise.
  if (setsockopt(fd, IPPROTO_IP, IP_HDRINCL, &on, sizeof on) != 0) {
    std::perror("fanecho_responder: IP_HDRINCL");
    return 1;
  }
  icmp_filter filter{};
  filter.data = ~(1u << ICMP_ECHO);
  setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
  // Thousands of requests can arrive in one burst when a block of slow
  // hosts is probed; a request dropped here would look like fanecho's loss.
  const int bufferSize = 16 * 1024 * 1024;
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bufferSize, sizeof bufferSize) != 0)
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);

  // ICMPv6: no header of ours to write; the reply's source is set per
  // message, and the request's destination comes with it.
  int fd6 = -1;
  if (!rules6.empty()) {
    fd6 = socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6);
    if (fd6 < 0) {
      std::perror("fanecho_responder: raw ICMPv6 socket");
      return 1;
    }
    icmp6_filter filter6;
    ICMP6_FILTER_SETBLOCKALL(&filter6);
    ICMP6_FILTER_SETPASS(ICMP6_ECHO_REQUEST, &filter6);
    setsockopt(fd6, IPPROTO_ICMPV6, ICMP6_FILTER, &filter6, sizeof filter6);
    setsockopt(fd6, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on);
    if (setsockopt(fd6, SOL_SOCKET, SO_RCVBUFFORCE, &bufferSize, sizeof bufferSize) != 0)
      setsockopt(fd6, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
  }

  if (readyFile != nullptr) {
    // Written only once the socket exists: from then on no request is missed.
    const std::string temporary = std::string(readyFile) + ".tmp";
    if (std::FILE* file = std::fopen(temporary.c_str(), "w")) {
      std::fprintf(file, "%ld\n", static_cast<long>(getpid()));
      std::fclose(file);
      std::rename(temporary.c_str(), readyFile);
    }
  }

  std::vector<Pending> pending;
  // Requests seen per (source, destination, identifier), for alternate and
  // every-third.
  std::map<std::tuple<in_addr_t, in_addr_t, std::uint16_t>, unsigned> seen;
  const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
  std::uint8_t buffer[65536];

  for (;;) {
    const Clock::time_point now = Clock::now();
    if (now >= end) break;
    for (std::size_t i = 0; i < pending.size();) {
      if (pending[i].due <= now && pending[i].v6) {
        send6(fd6, pending[i]);
        pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
      } else if (pending[i].due <= now) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = pending[i].to;
        sendto(fd, pending[i].packet.data(), pending[i].packet.size(), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
        pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
    Clock::time_point wake = end;
    for (const Pending& p : pending) wake = std::min(wake, p.due);
    const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
    pollfd waits[2] = {{fd, POLLIN, 0}, {fd6, POLLIN, 0}};
    if (poll(waits, fd6 >= 0 ? 2 : 1, static_cast<int>(std::max<long long>(waitMs, 0))) <= 0) {
      continue;
    }
    if (fd6 >= 0 && (waits[1].revents & POLLIN)) {
      sockaddr_in6 from{};
      alignas(cmsghdr) char control[256];
      iovec part{buffer, sizeof buffer};
      msghdr message{};
      message.msg_name = &from;
      message.msg_namelen = sizeof from;
      message.msg_iov = &part;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      const ssize_t length = recvmsg(fd6, &message, MSG_DONTWAIT);
      in6_addr destination6{};
      bool known = false;
      for (cmsghdr* c = CMSG_FIRSTHDR(&message); length >= 8 && c != nullptr;
           c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != IPPROTO_IPV6 || c->cmsg_type != IPV6_PKTINFO) continue;
        in6_pktinfo info;
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        destination6 = info.ipi6_addr;
        known = true;
      }
      Address6 key;
      std::memcpy(key.data(), &destination6, 16);
      const auto rule = rules6.find(key);
      if (known && buffer[0] == ICMP6_ECHO_REQUEST && rule != rules6.end()) {
        std::vector<std::uint8_t> icmp(buffer, buffer + length);
        icmp[0] = ICMP6_ECHO_REPLY;
        icmp[2] = icmp[3] = 0;
        std::uint16_t identifier;
        std::memcpy(&identifier, &icmp[4], 2);
        in_addr_t sourceKey;
        std::memcpy(&sourceKey, &from.sin6_addr.s6_addr[12], 4);
        in_addr_t destinationKey;
        std::memcpy(&destinationKey, &destination6.s6_addr[12], 4);
        for (Answer& answer : plan(rule->second, std::move(icmp), ICMP6_ECHO_REQUEST, key,
                                   seen[{sourceKey, destinationKey, identifier}])) {
          Pending reply;
          reply.due = Clock::now() + std::chrono::milliseconds(answer.delayMs);
          reply.packet = answer.error ? buildError(answer.icmp, true, from.sin6_addr.s6_addr,
                                                   answer.quoted.data())
                                      : std::move(answer.icmp);
          reply.v6 = true;
          reply.to6 = from.sin6_addr;
          reply.from6 = destination6;
          if (answer.impostor) ++reply.from6.s6_addr[15];
          if (answer.forged) std::memcpy(&reply.from6, answer.source.data(), 16);
          pending.push_back(std::move(reply));
        }
      }
    }
    if (!(waits[0].revents & POLLIN)) continue;

    const ssize_t received = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (received < 20) continue;
    const std::size_t headerSize = static_cast<std::size_t>(buffer[0] & 0x0F) * 4;
    if (headerSize < 20 || static_cast<std::size_t>(received) < headerSize + 8) continue;
    const std::uint8_t* request = buffer + headerSize;
    if (request[0] != ICMP_ECHO || request[1] != 0) continue;
    in_addr_t source;
    in_addr_t destination;
    std::memcpy(&source, buffer + 12, 4);
    std::memcpy(&destination, buffer + 16, 4);
    const Behaviour* found = nullptr;
    if (const auto rule = rules.find(destination); rule != rules.end()) found = &rule->second;
    for (std::size_t i = 0; found == nullptr && i < prefixRules.size(); ++i) {
      const std::uint32_t mask = ~std::uint32_t{0} << (32 - prefixRules[i].bits);
      if ((ntohl(destination) & mask) == (prefixRules[i].network & mask))
        found = &prefixRules[i].behaviour;
    }
    if (found == nullptr) continue;
    const Behaviour behaviour = *found;

    std::vector<std::uint8_t> icmp(request,
                                   request + (received - static_cast<ssize_t>(headerSize)));
    icmp[0] = ICMP_ECHOREPLY;
    std::uint16_t identifier;
    std::memcpy(&identifier, &icmp[4], 2);
    Address6 asked{};
    std::memcpy(asked.data(), &destination, 4);
    for (Answer& answer : plan(behaviour, std::move(icmp), ICMP_ECHO, asked,
                               seen[{source, destination, identifier}])) {
      in_addr_t from = answer.impostor ? htonl(ntohl(destination) + 1) : destination;
      if (answer.forged) std::memcpy(&from, answer.source.data(), 4);
      std::vector<std::uint8_t> message =
          answer.error
              ? buildError(answer.icmp, false, reinterpret_cast<const std::uint8_t*>(&source),
                           answer.quoted.data())
              : std::move(answer.icmp);
      pending.push_back({Clock::now() + std::chrono::milliseconds(answer.delayMs),
                         buildReply(from, source, std::move(message), answer.spoil), source});
    }
  }
  close(fd);
  if (fd6 >= 0) close(fd6);
  return 0;
}
