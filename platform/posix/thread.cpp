// POSIX backend: thread identity and time.
#include "platform/thread.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace corvane::platform {

uint32_t currentThreadId() {
  thread_local const uint32_t id = static_cast<uint32_t>(::syscall(SYS_gettid));
  return id;
}

uint64_t tickCount64() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

void sleepMs(uint32_t milliseconds) {
  timespec wait{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&wait, &wait) != 0) {
  }
}

}  // namespace corvane::platform
