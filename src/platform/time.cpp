#include <errno.h>
#include <time.h>

#include "platform/platform.h"

namespace platform {

void SleepMs(uint32_t ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  // A signal must not cut the pause short.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

uint64_t MonotonicUs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

}  // namespace platform
