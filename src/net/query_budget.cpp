#include "net/query_budget.h"

#include <algorithm>

namespace net {

namespace {

constexpr uint32_t kReplyCostMs = 1000 / QueryBudget::kPerAddressPerSecond;
constexpr uint32_t kAddressBurstMs = QueryBudget::kBurstPerAddress * kReplyCostMs;
constexpr uint64_t kBytesBurst = uint64_t{QueryBudget::kBytesPerSecond} * 1000;

// Credit after `elapsedMs` more, at `perMs` a millisecond, capped at `most`.
uint64_t Refill(uint64_t credit, uint32_t elapsedMs, uint64_t perMs, uint64_t most) {
  return std::min<uint64_t>(most, credit + uint64_t{elapsedMs} * perMs);
}

}  // namespace

QueryBudget::QueryBudget() : addresses_(kAddresses), bytesCredit_(kBytesBurst) {}

bool QueryBudget::Take(uint32_t host, size_t bytes, uint32_t nowMs) {
  if (!started_) {
    started_ = true;
    bytesStampMs_ = nowMs;
  }
  bytesCredit_ = Refill(bytesCredit_, nowMs - bytesStampMs_, kBytesPerSecond, kBytesBurst);
  bytesStampMs_ = nowMs;

  // Fibonacci hashing (the product's top bits) spreads neighbouring addresses.
  static_assert(kAddresses == 1u << 12);
  Bucket& b = addresses_[(host * 2654435769u) >> 20];
  if (!b.used || b.host != host) {
    b = Bucket{host, nowMs, kAddressBurstMs, true};
  }
  b.creditMs = static_cast<uint32_t>(Refill(b.creditMs, nowMs - b.stampMs, 1, kAddressBurstMs));
  b.stampMs = nowMs;

  const uint64_t cost = uint64_t{bytes} * 1000;
  if (b.creditMs < kReplyCostMs || bytesCredit_ < cost) return false;
  b.creditMs -= kReplyCostMs;
  bytesCredit_ -= cost;
  return true;
}

}  // namespace net
