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

namespace net {

class QueryBudget {
 public:
  static constexpr uint32_t kBurstPerAddress = 10;
  static constexpr uint32_t kPerAddressPerSecond = 4;
  static constexpr uint32_t kBytesPerSecond = 256u << 10;  // the burst is a second's worth
  // Addresses remembered at once; an address that falls out starts afresh.
  static constexpr size_t kAddresses = 4096;

  QueryBudget();
  // Whether a reply of `bytes` to IPv4 address `host` (any byte order, as
  // long as it is always the same) may go out at `nowMs`; takes it if so.
  bool Take(uint32_t host, size_t bytes, uint32_t nowMs);

 private:
  struct Bucket {
    uint32_t host = 0;
    uint32_t stampMs = 0;
    uint32_t creditMs = 0;  // a reply costs 1000 / kPerAddressPerSecond
    bool used = false;
  };
  std::vector<Bucket> addresses_;
  uint64_t bytesCredit_;  // in bytes * 1000 (a millisecond earns kBytesPerSecond of them)
  uint32_t bytesStampMs_ = 0;
  bool started_ = false;
};

}  // namespace net
