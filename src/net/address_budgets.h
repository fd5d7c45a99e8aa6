// Budgets per source address, in a table of fixed size: addresses that land
// in the same entry share it, so a collision never hands out a fresh burst
// (forged datagrams that alternate a victim's address with one that collides
// would otherwise earn the victim a burst each time). Which entry an address
// lands in depends on a key drawn at start-up, so collisions cannot be chosen
// from outside.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/keyed_hash.h"
#include "net/token_bucket.h"

namespace net {

class AddressBudgets {
 public:
  static constexpr size_t kEntries = 4096;

  // `burst` messages at once, then one each `costMs`.
  AddressBudgets(uint32_t burst, uint32_t costMs, const HashKey& key = RandomHashKey());
  // The budget `host` (IPv4, any byte order as long as it is always the
  // same) draws on, brought up to `nowMs`; a message costs CostMs() of it.
  TokenBucket& At(uint32_t host, uint32_t nowMs);
  // Takes one message's cost from `host`'s budget; false when it is spent.
  bool Take(uint32_t host, uint32_t nowMs) { return At(host, nowMs).Take(costMs_); }
  uint32_t CostMs() const { return costMs_; }
  // The entry `host` draws on (tests find colliding addresses with it).
  size_t EntryOf(uint32_t host) const;

 private:
  HashKey key_;
  uint32_t costMs_;
  uint32_t capMs_;
  std::vector<TokenBucket> entries_;
  bool started_ = false;
};

}  // namespace net
