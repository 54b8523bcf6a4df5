// Before main: trim the static TLS block that sits on top of every
// worker's stack.
//
// glibc places a thread's record and its static TLS block at the top of the
// thread's stack, and the worker's frames below them. The block keeps spare
// room for modules loaded later (the static TLS surplus); with it a waiting
// worker touches a second page of stack, 40 MiB at ten thousand workers.
// The loader sizes that room from the environment the process starts with,
// so fanecho starts itself once more with the room cut down to what one
// namespace of modules needs. The name-service modules of glibc live in
// libc itself; modules loaded from elsewhere use dynamic TLS.
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace fanecho {

namespace {

// Sanitizers reserve stacks and TLS of their own: nothing to trim there.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)

constexpr char kTrimmedTls[] = "glibc.rtld.optional_static_tls=0:glibc.rtld.nns=1";

void trimStaticTls(int, char** argv, char** envp) {
  // A program that gained privileges (file capabilities) has its
  // tunables ignored by the loader: starting again would change nothing.
  if (getauxval(AT_SECURE) != 0) return;
  const char* tunables = getenv("GLIBC_TUNABLES");
  // Set already: by us a moment ago, or by whoever runs us.
  if (tunables != nullptr && (strstr(tunables, "glibc.rtld.nns") != nullptr ||
                              strstr(tunables, "glibc.rtld.optional_static_tls") != nullptr)) {
    return;
  }
  std::string setting = "GLIBC_TUNABLES=";
  if (tunables != nullptr && *tunables != '\0') setting.append(tunables).append(":");
  setting.append(kTrimmedTls);
  std::vector<char*> environment;
  for (char** entry = envp; *entry != nullptr; ++entry) {
    if (strncmp(*entry, "GLIBC_TUNABLES=", 15) != 0) environment.push_back(*entry);
  }
  environment.push_back(setting.data());
  environment.push_back(nullptr);
  execve("/proc/self/exe", argv, environment.data());
  // Still here (no /proc, say): run as we are, with two pages a worker.
}

// glibc calls the functions of .init_array with argc, argv and envp.
[[gnu::section(".init_array"), gnu::used]] void (*const trimAtStart)(int, char**,
                                                                     char**) = trimStaticTls;
#endif

}  // namespace

}  // namespace fanecho
