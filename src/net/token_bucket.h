// A token bucket measured in time: the credit is time's worth (`perMs` units
// earned a millisecond), refilled by the time elapsed up to a cap (the burst),
// and each message takes its cost out of it.
#pragma once

#include <algorithm>
#include <cstdint>

namespace net {

struct TokenBucket {
  uint32_t credit = 0;
  uint32_t stampMs = 0;

  // Adds the time since the stamp, up to `cap`, and moves the stamp to
  // `nowMs`. Times compare by unsigned difference (the clock wraps); a time
  // earlier than the stamp (by up to half the clock's range) counts as none
  // and leaves the stamp: callers that read the clock a moment before one
  // another never earn a wrapped-around refill.
  void Refill(uint32_t nowMs, uint32_t cap, uint32_t perMs = 1) {
    const uint32_t elapsed = nowMs - stampMs;
    if (elapsed > UINT32_MAX / 2) return;
    stampMs = nowMs;
    credit = static_cast<uint32_t>(
        std::min<uint64_t>(cap, uint64_t{credit} + uint64_t{elapsed} * perMs));
  }
  // Takes `cost` if there is that much; false (and nothing taken) if not.
  bool Take(uint32_t cost) {
    if (credit < cost) return false;
    credit -= cost;
    return true;
  }
  void Fill(uint32_t cap, uint32_t nowMs) {
    credit = cap;
    stampMs = nowMs;
  }
};

}  // namespace net
