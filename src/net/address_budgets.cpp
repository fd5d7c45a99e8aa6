#include "net/address_budgets.h"

namespace net {

AddressBudgets::AddressBudgets(uint32_t burst, uint32_t costMs, const HashKey& key)
    : key_(key), costMs_(costMs), capMs_(burst * costMs), entries_(kEntries) {}

size_t AddressBudgets::EntryOf(uint32_t host) const {
  return KeyedHash(key_, &host, sizeof host) % kEntries;
}

TokenBucket& AddressBudgets::At(uint32_t host, uint32_t nowMs) {
  if (!started_) {  // every address starts with its burst
    started_ = true;
    for (TokenBucket& b : entries_) b.Fill(capMs_, nowMs);
  }
  TokenBucket& b = entries_[EntryOf(host)];
  b.Refill(nowMs, capMs_);
  return b;
}

}  // namespace net
