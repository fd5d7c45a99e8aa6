#include "core/clock.h"

#include <atomic>

#include "net/peer.h"
#include "net/types.h"

namespace core {
namespace {
std::atomic<uint32_t (*)()> testSource{nullptr};
}

uint32_t NowMs() {
  if (auto* source = testSource.load()) return source();
  return net::GetTimeMs();
}

void SetClockForTesting(uint32_t (*source)()) {
  testSource.store(source);
  // What a recording peer is handed arrives by the same clock.
  net::SetRecordingClock(source);
}

}  // namespace core
