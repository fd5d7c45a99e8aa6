// The server's millisecond clock: the network library's microsecond clock
// divided by 1000, as an unsigned 32-bit count compared by difference. Tests
// drive it by installing their own source.
#pragma once

#include <cstdint>

namespace core {

uint32_t NowMs();
// True when more than `intervalMs` have passed since `stampMs` (strictly
// greater, and safe across the wrap of the count).
inline bool HasElapsed(uint32_t nowMs, uint32_t stampMs, uint32_t intervalMs) {
  return static_cast<uint32_t>(nowMs - stampMs) > intervalMs;
}
// Installs a clock source for tests; null restores the real clock.
void SetClockForTesting(uint32_t (*source)());

}  // namespace core
