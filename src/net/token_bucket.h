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

  // A time at most this much before the stamp counts as no time at all.
  static constexpr uint32_t kEarlierMs = 3600 * 1000;

  // Adds the time since the stamp, up to `cap`, and moves the stamp to
  // `nowMs`. Times compare by unsigned difference (the clock wraps after
  // 49.7 days). A time a little earlier than the stamp (callers that read the
  // clock a moment before one another; a message that arrived before its
  // budget was last brought up to date) earns nothing and leaves the stamp;
  // anything else is time gone by, so a bucket left alone for weeks is full.
  void Refill(uint32_t nowMs, uint32_t cap, uint32_t perMs = 1) {
    if (static_cast<uint32_t>(stampMs - nowMs) < kEarlierMs) return;
    const uint32_t elapsed = nowMs - stampMs;
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
