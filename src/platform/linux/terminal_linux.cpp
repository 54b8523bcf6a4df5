// The terminal and the ticker of /progress.
#include "platform/linux/terminal_linux.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace fanecho {

std::uint32_t errTerminalWidthPosix() {
  if (isatty(STDERR_FILENO) == 0) return 0;
  struct winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col != 0) return size.ws_col;
  return 80;
}

bool outIsTerminalPosix() { return isatty(STDOUT_FILENO) != 0; }

namespace {

// A thread of the ordinary kind: the workers' small stacks are for workers.
struct Ticker {
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::thread thread;
};

}  // namespace

ThreadHandle startTickerPosix(void (*tick)(), std::uint32_t periodMs) {
  auto* ticker = new (std::nothrow) Ticker;
  if (ticker == nullptr) return nullptr;
  try {
    ticker->thread = std::thread([ticker, tick, periodMs] {
      std::unique_lock<std::mutex> lock(ticker->mutex);
      while (!ticker->wake.wait_for(lock, std::chrono::milliseconds(periodMs),
                                    [ticker] { return ticker->stopping; })) {
        lock.unlock();
        tick();
        lock.lock();
      }
    });
  } catch (const std::system_error&) {
    delete ticker;
    return nullptr;
  }
  return ticker;
}

void stopTickerPosix(ThreadHandle handle) {
  auto* ticker = static_cast<Ticker*>(handle);
  {
    std::lock_guard<std::mutex> lock(ticker->mutex);
    ticker->stopping = true;
  }
  ticker->wake.notify_one();
  ticker->thread.join();
  delete ticker;
}

}  // namespace fanecho
