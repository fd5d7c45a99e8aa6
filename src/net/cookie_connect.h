// Connects out that wait for the server's cookie (net/cookie.h) before they
// are handed to ENet. The peer keeps them apart from its slots, which are
// ENet's peers: a connect not yet handed to ENet has none. Used under the
// peer's host lock.
#pragma once

#include <enet/enet.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace net {

class PendingConnects {
 public:
  // A server that has not answered in this time does not know cookies (a
  // master list on plain ENet, say): the connect goes ahead without one.
  static constexpr uint32_t kWaitMs = 1000;

  struct Entry {
    ENetAddress address{};
    std::string password;
    uint32_t nonce = 0;
    uint32_t startedMs = 0;
    uint32_t askedMs = 0;
    bool answered = false;
    uint32_t cookie = 0;
  };
  using Connect = std::function<void(const Entry&, uint32_t cookie)>;

  // Asks `to` for a cookie from `socket` at once.
  void Add(ENetSocket socket, const ENetAddress& to, std::string password, uint32_t nowMs);
  bool Has(const ENetAddress& to) const;
  void Remove(const ENetAddress& to);
  void Clear() { entries_.clear(); }
  size_t Size() const { return entries_.size(); }
  // Whether `d` is a cookie answer (taken, or dropped when it answers no
  // request of ours: wrong sender or nonce).
  bool TakeAnswer(const uint8_t* d, size_t n, const ENetAddress& from);
  // Asks again where due, and hands each connect that has its cookie, or has
  // waited kWaitMs, to `connect` (cookie 0: none) and forgets it.
  void Advance(ENetSocket socket, uint32_t nowMs, const Connect& connect);

 private:
  std::vector<Entry> entries_;
};

}  // namespace net
