#include "net/query_budget.h"

namespace net {

namespace {

constexpr uint32_t kReplyCostMs = 1000 / QueryBudget::kPerAddressPerSecond;
constexpr uint32_t kAddressBurstMs = QueryBudget::kBurstPerAddress * kReplyCostMs;
constexpr uint64_t kBytesBurst = uint64_t{QueryBudget::kBytesPerSecond} * 1000;
static_assert(kBytesBurst <= UINT32_MAX);

}  // namespace

QueryBudget::QueryBudget(const HashKey& key) : key_(key), addresses_(kAddresses) {}

size_t QueryBudget::BudgetOf(uint32_t host) const {
  return KeyedHash(key_, &host, sizeof host) % kAddresses;
}

bool QueryBudget::Take(uint32_t host, size_t bytes, uint32_t nowMs) {
  if (!started_) {
    started_ = true;
    bytes_.Fill(kBytesBurst, nowMs);
    for (TokenBucket& b : addresses_) b.Fill(kAddressBurstMs, nowMs);
  }
  bytes_.Refill(nowMs, kBytesBurst, kBytesPerSecond);
  TokenBucket& address = addresses_[BudgetOf(host)];
  address.Refill(nowMs, kAddressBurstMs);

  const uint64_t cost = uint64_t{bytes} * 1000;
  if (address.credit < kReplyCostMs || cost > bytes_.credit) return false;
  address.Take(kReplyCostMs);
  bytes_.Take(static_cast<uint32_t>(cost));
  return true;
}

}  // namespace net
