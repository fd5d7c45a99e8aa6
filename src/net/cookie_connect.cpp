#include "net/cookie_connect.h"

#include <algorithm>
#include <utility>

#include "net/cookie.h"
#include "net/keyed_hash.h"

namespace net {

namespace {

bool Same(const ENetAddress& a, const ENetAddress& b) {
  return a.host == b.host && a.port == b.port;
}

}  // namespace

void PendingConnects::Add(ENetSocket socket, const ENetAddress& to, std::string password,
                          uint32_t nowMs) {
  Entry e;
  e.address = to;
  e.password = std::move(password);
  // A nonce that an off-path sender cannot guess: it cannot slip us a cookie.
  e.nonce = RandomU32();
  e.startedMs = nowMs;
  e.askedMs = nowMs;
  SendCookieRequest(socket, to, e.nonce);
  entries_.push_back(std::move(e));
}

bool PendingConnects::Has(const ENetAddress& to) const {
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const Entry& e) { return Same(e.address, to); });
}

void PendingConnects::Remove(const ENetAddress& to) {
  std::erase_if(entries_, [&](const Entry& e) { return Same(e.address, to); });
}

bool PendingConnects::TakeAnswer(const uint8_t* d, size_t n, const ENetAddress& from) {
  uint32_t nonce = 0, cookie = 0;
  if (!ReadCookieAnswer(d, n, &nonce, &cookie)) return false;
  for (Entry& e : entries_) {
    if (Same(e.address, from) && e.nonce == nonce) {
      e.answered = true;
      e.cookie = cookie;
    }
  }
  return true;
}

void PendingConnects::Advance(ENetSocket socket, uint32_t nowMs, const Connect& connect) {
  std::vector<Entry> ready;
  for (size_t i = 0; i < entries_.size();) {
    Entry& e = entries_[i];
    if (e.answered || nowMs - e.startedMs >= kWaitMs) {
      ready.push_back(std::move(e));
      entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    if (nowMs - e.askedMs >= kCookieRepeatMs) {
      SendCookieRequest(socket, e.address, e.nonce);
      e.askedMs = nowMs;
    }
    ++i;
  }
  for (const Entry& e : ready) connect(e, e.answered ? e.cookie : 0);
}

}  // namespace net
