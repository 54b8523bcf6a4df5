// The descriptor budget: how many sockets workers may hold at once, room
// kept for name look-ups and include files, and the datagram sockets kept
// for later workers.
#include "platform/linux/icmp_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/linux/shape_linux.h"

namespace fanecho {

namespace {

// Descriptors. Of those free at the start, workers' sockets may hold all
// but a reserve: what the name look-ups in flight may hold and a margin for
// the include files (nested up to 11 deep) and the permission check. A
// worker that finds the sockets' share taken waits for a socket to close,
// so a look-up or an include file never fails for want of a descriptor
// that a socket took. The counts are ours; descriptors opened by others
// later are not counted, so a failed open still waits for one of ours to
// close.
constexpr unsigned kLookupDescriptors = 4;  // hosts file, resolv.conf, a DNS socket or two
constexpr unsigned kSpareDescriptors = 32;

// Datagram sockets that workers closed, kept open for the workers that
// start after them: making and freeing a socket per target (its file and
// inode go through RCU) costs a large run about a fifth of its CPU time.
// What a kept socket may still hold from its last target is harmless to the
// next: late replies come from another source and carry another sequence
// number, and sendRequest clears a pending error. A raw socket is never
// kept: its connect fixes its source address for good. Each family has a
// pile of its own.
constexpr unsigned kMaxKept = 256;  // enough to hand on at the rate threads end
constexpr int kNoPile = -1;

struct Descriptors {
  std::mutex mutex;
  std::condition_variable socketRoom;  // a socket of ours closed
  std::condition_variable lookupRoom;
  unsigned sockets = 0;  // open sockets of ours, the kept ones included
  unsigned lookups = 0;  // descriptors held for look-ups under way
  unsigned lookupWaiters = 0;
  unsigned total = 0;              // 0 until the limit is read
  unsigned socketShare = 0;        // what sockets may hold of total
  unsigned inUseAtStart = 0;       // below the limit, when the run started
  unsigned keptCount[2] = {0, 0};  // IPv4's pile, IPv6's
  int kept[2][kMaxKept];
};
Descriptors descriptors;

// Read at the first socket or look-up, after startSockets raised the limit.
void readLimit(Descriptors& d) {
  if (d.total != 0) return;
  rlimit current{};
  const rlim_t limit = getrlimit(RLIMIT_NOFILE, &current) == 0 ? current.rlim_cur : 1024;
  const DescriptorShare share = shareOf(limit, d.inUseAtStart);
  d.total = share.total;
  d.socketShare = share.sockets;
}

}  // namespace

DescriptorShare shareOf(std::uint64_t limit, unsigned inUseAtStart) {
  limit = std::min<std::uint64_t>(limit, 1u << 24);
  // Descriptors open at the start (the standard streams, and whatever a
  // parent left open) take numbers below the limit as ours do: with 56 of
  // 64 taken, waiting workers' sockets took what was left and valid names
  // read as unknown.
  const unsigned free = limit > inUseAtStart ? static_cast<unsigned>(limit) - inUseAtStart : 0;
  // One socket and one look-up at least, or nothing could go on.
  const unsigned usable =
      std::max(free > 2 * kSpareDescriptors ? free - kSpareDescriptors : free / 2 + 1,
               kLookupDescriptors + 1);
  // Room for one look-up at least is kept from the sockets.
  const unsigned lookupRoom =
      std::max(std::min(kMaxLookupsInFlight * kLookupDescriptors, usable / 2), kLookupDescriptors);
  return {usable, usable - lookupRoom};
}

void noteDescriptorsInUse() {
  rlimit current{};
  if (getrlimit(RLIMIT_NOFILE, &current) != 0) return;
  const rlim_t limit = std::min<rlim_t>(current.rlim_cur, 1u << 24);
  unsigned count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    const int own = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
      char* end;
      const long fd = std::strtol(entry->d_name, &end, 10);
      if (end != entry->d_name && *end == '\0' && fd != own && fd >= 0 &&
          static_cast<rlim_t>(fd) < limit) {
        ++count;
      }
    }
    closedir(dir);
  } else {
    // Without /proc, each number in turn, as far as a sane limit goes.
    for (int fd = 0; static_cast<rlim_t>(fd) < std::min<rlim_t>(limit, 65536); ++fd) {
      if (fcntl(fd, F_GETFD) >= 0) ++count;
    }
  }
  std::lock_guard<std::mutex> lock(descriptors.mutex);
  descriptors.inUseAtStart = count;
}

namespace {

// Closes the kept sockets; true when there were some. Under the mutex.
bool closeKept(Descriptors& d) {
  bool closed = false;
  for (unsigned pile = 0; pile < 2; ++pile) {
    unsigned& count = d.keptCount[pile];
    closed = closed || count > 0;
    d.sockets -= count;
    while (count > 0) close(d.kept[pile][--count]);
  }
  return closed;
}

int pileOf(const EchoFamily& family) { return family.domain == AF_INET6 ? 1 : 0; }

bool socketRoom(const Descriptors& d) {
  return d.sockets < d.socketShare && d.sockets + d.lookups < d.total;
}

// A kept socket of `pile` where one is there (kNoPile: none is wanted), or
// -1 once room for a new one is counted; kept sockets are closed where they stand in the way.
// Waits while the sockets' share is taken (on a condition: a thousand
// workers trying again every few milliseconds took more CPU than the rest
// of the run).
int takeSocket(Descriptors& d, std::unique_lock<std::mutex>& lock, int pile) {
  readLimit(d);
  for (;;) {
    if (pile != kNoPile && d.keptCount[pile] > 0) return d.kept[pile][--d.keptCount[pile]];
    if (socketRoom(d)) {
      ++d.sockets;
      return -1;
    }
    if (!closeKept(d)) d.socketRoom.wait(lock);
  }
}

// A socket of ours was closed, or could not be opened after all.
void uncountSocket() {
  std::lock_guard<std::mutex> lock(descriptors.mutex);
  --descriptors.sockets;
  descriptors.socketRoom.notify_one();
  if (descriptors.lookupWaiters > 0) descriptors.lookupRoom.notify_all();
}

}  // namespace

LookupDescriptors::LookupDescriptors() {
  Descriptors& d = descriptors;
  std::unique_lock<std::mutex> lock(d.mutex);
  readLimit(d);
  while (d.sockets + d.lookups + kLookupDescriptors > d.total) {
    if (closeKept(d)) continue;
    ++d.lookupWaiters;
    d.lookupRoom.wait(lock);
    --d.lookupWaiters;
  }
  d.lookups += kLookupDescriptors;
}

LookupDescriptors::~LookupDescriptors() {
  std::lock_guard<std::mutex> lock(descriptors.mutex);
  descriptors.lookups -= kLookupDescriptors;
  for (unsigned i = 0; i < kLookupDescriptors; ++i) descriptors.socketRoom.notify_one();
  if (descriptors.lookupWaiters > 0) descriptors.lookupRoom.notify_one();
}

void closeKeptSockets() {
  std::lock_guard<std::mutex> lock(descriptors.mutex);
  closeKept(descriptors);
}

bool waitForFreeDescriptor(int error) {
  if (error != EMFILE && error != ENFILE && error != ENOBUFS && error != ENOMEM) return false;
  std::unique_lock<std::mutex> lock(descriptors.mutex);
  if (closeKept(descriptors)) return true;  // free now: try again at once
  if (descriptors.sockets == 0) return false;
  // A descriptor freed by someone else (the resolver) wakes nobody: look
  // again after a while all the same.
  descriptors.socketRoom.wait_for(lock, std::chrono::milliseconds(100));
  return true;
}

IcmpHandle openCountedSocket(const EchoFamily& family) {
  const int type = family.choice().type;
  if (type < 0) return -1;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(descriptors.mutex);
      const int pile = type == SOCK_DGRAM ? pileOf(family) : kNoPile;
      if (const int kept = takeSocket(descriptors, lock, pile); kept >= 0) return kept;
    }
    const int fd = openEchoSocket(family, type, nullptr);
    if (fd >= 0) return newEchoHandle(fd, type);
    // Descriptors can run out all the same (the system's, or ours held by
    // others): wait for a socket of ours to close rather than count the
    // target as unreachable. The count goes back first, so that the wait
    // never waits on itself.
    const int error = errno;
    uncountSocket();
    if (!waitForFreeDescriptor(error)) return -1;
  }
}

void closeCountedSocket(const EchoFamily& family, IcmpHandle handle) {
  if (handle < 0) return;
  const int fd = handleDescriptor(handle);
  if (family.choice().type == SOCK_DGRAM && !socketsShaped()) {
    std::lock_guard<std::mutex> lock(descriptors.mutex);
    // Handed on to a worker that waits for one, or kept for the next;
    // not while a look-up waits for the room it holds.
    unsigned& count = descriptors.keptCount[pileOf(family)];
    if (count < kMaxKept && descriptors.lookupWaiters == 0) {
      descriptors.kept[pileOf(family)][count++] = fd;
      descriptors.socketRoom.notify_one();
      return;
    }
  }
  close(fd);
  uncountSocket();
}

}  // namespace fanecho
