#include "net/query_budget.h"

namespace net {

namespace {

constexpr uint64_t kBytesBurst = uint64_t{QueryBudget::kBytesPerSecond} * 1000;
static_assert(kBytesBurst <= UINT32_MAX);

}  // namespace

QueryBudget::QueryBudget(const HashKey& key)
    : addresses_(kBurstPerAddress, 1000 / kPerAddressPerSecond, key) {}

size_t QueryBudget::BudgetOf(uint32_t host) const { return addresses_.EntryOf(host); }

bool QueryBudget::Take(uint32_t host, size_t bytes, uint32_t nowMs) {
  if (!started_) {
    started_ = true;
    bytes_.Fill(kBytesBurst, nowMs);
  }
  bytes_.Refill(nowMs, kBytesBurst, kBytesPerSecond);
  TokenBucket& address = addresses_.At(host, nowMs);

  const uint64_t cost = uint64_t{bytes} * 1000;
  if (address.credit < addresses_.CostMs() || cost > bytes_.credit) return false;
  address.Take(addresses_.CostMs());
  bytes_.Take(static_cast<uint32_t>(cost));
  return true;
}

}  // namespace net
