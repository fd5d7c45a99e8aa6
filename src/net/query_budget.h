// How many server-browser replies the peer may send. A query is a single
// datagram whose source anyone can forge, and its reply is up to 200 times
// its size: unbudgeted, the server would aim whatever it is sent, multiplied,
// at any address. Replies are budgeted per source address (a browser asks a
// few times at once, then now and then) and in all (whatever the number of
// addresses, the replies' bytes per second are capped).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/address_budgets.h"
#include "net/keyed_hash.h"
#include "net/token_bucket.h"

namespace net {

class QueryBudget {
 public:
  static constexpr uint32_t kBurstPerAddress = 10;
  static constexpr uint32_t kPerAddressPerSecond = 4;
  static constexpr uint32_t kBytesPerSecond = 256u << 10;  // the burst is a second's worth
  // Budgets of addresses (see AddressBudgets: colliding addresses share one).
  static constexpr size_t kAddresses = AddressBudgets::kEntries;

  QueryBudget() : QueryBudget(RandomHashKey()) {}
  explicit QueryBudget(const HashKey& key);  // for tests
  // Whether a reply of `bytes` to IPv4 address `host` (any byte order, as
  // long as it is always the same) may go out at `nowMs`; takes it if so.
  bool Take(uint32_t host, size_t bytes, uint32_t nowMs);
  // The budget `host` draws on (tests find colliding addresses with it).
  size_t BudgetOf(uint32_t host) const;

 private:
  AddressBudgets addresses_;
  TokenBucket bytes_;  // credit in bytes * 1000: a ms earns kBytesPerSecond
  bool started_ = false;
};

}  // namespace net
