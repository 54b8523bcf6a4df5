// What one thread and one ICMP socket per target cost on this machine, with
// nothing of fanecho around them: the floor that fanecho's own figures are
// measured against. bench/run.sh builds and runs it beside fanecho.
//
//   cc -O2 -pthread -o floor bench/floor.c
//   ip netns exec NS ./floor COUNT NET [keep]
//
// Raises its descriptor limit to the hard one, then starts COUNT threads,
// one after another, on stacks of one mapping, using again the stacks of
// threads that have ended, as fanecho does. Thread i sends one echo request
// over an ICMP datagram socket to 10.NET.(i / 250).(i % 250 + 1), the order
// in which fanecho expands 10.NET.0-39.1-250, waits up to a second for the
// reply and ends; with "keep" a socket goes back to a shared pile for the
// next thread instead of being closed. Run it in a namespace made by
// `tests/e2e/netns.sh up NS` (NET 1 answers, NET 2 is silent) after
// `sysctl net.ipv4.ping_group_range="0 2147483647"` there. Prints how many
// replies came and the seconds taken.
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { kStack = 256 * 1024, kGuard = 4096 };

static pthread_mutex_t pileLock = PTHREAD_MUTEX_INITIALIZER;
static int* pile;
static int pileCount;
static int keep;
static int replies;

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static void* probe(void* argument) {
  int fd = -1;
  pthread_mutex_lock(&pileLock);
  if (keep && pileCount > 0) fd = pile[--pileCount];
  pthread_mutex_unlock(&pileLock);
  if (fd < 0) fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
  if (fd < 0) {
    perror("floor: socket");
    exit(1);
  }
  struct sockaddr_in to = {.sin_family = AF_INET};
  to.sin_addr.s_addr = htonl((unsigned)(unsigned long)argument);
  unsigned char request[8 + 300] = {8};
  sendto(fd, request, sizeof request, 0, (struct sockaddr*)&to, sizeof to);
  struct pollfd wait = {fd, POLLIN, 0};
  poll(&wait, 1, 1000);
  const int replied = recv(fd, request, sizeof request, MSG_DONTWAIT) > 0;
  pthread_mutex_lock(&pileLock);
  replies += replied;
  if (keep) pile[pileCount++] = fd;
  pthread_mutex_unlock(&pileLock);
  if (!keep) close(fd);
  return NULL;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: floor COUNT NET [keep]\n");
    return 2;
  }
  const int count = atoi(argv[1]);
  const unsigned net = (unsigned)atoi(argv[2]);
  keep = argc > 3 && strcmp(argv[3], "keep") == 0;
  // Every silent target holds its socket until its second is up.
  struct rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  const size_t slot = kGuard + kStack;
  char* stacks = mmap(NULL, (size_t)count * slot, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
  pthread_t* threads = calloc((size_t)count, sizeof *threads);
  int* slotOf = calloc((size_t)count, sizeof *slotOf);
  int* freeSlots = calloc((size_t)count, sizeof *freeSlots);
  pile = calloc((size_t)count, sizeof *pile);
  if (stacks == MAP_FAILED || !threads || !slotOf || !freeSlots || !pile) return 1;
  int freeCount = 0, used = 0, oldest = 0;
  const double start = now();
  for (int i = 0; i < count; ++i) {
    while (oldest < i && pthread_tryjoin_np(threads[oldest], NULL) == 0) {
      freeSlots[freeCount++] = slotOf[oldest++];
    }
    slotOf[i] = freeCount > 0 ? freeSlots[--freeCount] : used++;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstack(&attributes, stacks + (size_t)slotOf[i] * slot + kGuard, kStack);
    const unsigned address =
        10u << 24 | net << 16 | (unsigned)(i / 250) << 8 | (unsigned)(i % 250 + 1);
    if (pthread_create(&threads[i], &attributes, probe, (void*)(unsigned long)address) != 0) {
      fprintf(stderr, "floor: thread %d could not start\n", i);
      return 1;
    }
    pthread_attr_destroy(&attributes);
  }
  const double started = now();
  for (int i = oldest; i < count; ++i) pthread_join(threads[i], NULL);
  printf("%d threads: %d replies, started in %.3f s, all ended after %.3f s (%d stacks)\n", count,
         replies, started - start, now() - start, used);
  return 0;
}
