// The cookie exchange in front of ENet's handshake. ENet's handshake proves
// nothing about a source address, so a server that took every CONNECT would
// let anyone open connections (and have the server send to them) from an
// address that is not theirs. A client first asks for a cookie: a keyed hash
// of its IPv4 address and the time, answered statelessly in a datagram no
// longer than the question; only a CONNECT that carries it (in ENet's connect
// data) reaches ENet. So a CONNECT comes from an address that can read what
// is sent to it.
//
// On the wire (docs/protocol.md, section 1.1), 12 bytes each way:
//   request  FF FF 51 52, u32 nonce, 00 00 00 00
//   answer   FF FF 51 41, u32 nonce (echoed), u32 cookie
// The u32s are little-endian. FF FF is, to ENet, a compressed datagram to
// "no peer yet", which a host without a compressor drops: neither datagram
// can pass for ENet traffic, nor for a 5-byte server-browser query.
#pragma once

#include <enet/enet.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "net/keyed_hash.h"

namespace net {

inline constexpr size_t kCookieDatagramBytes = 12;
using CookieDatagram = std::array<uint8_t, kCookieDatagramBytes>;
// A client that has no answer asks again after this long.
inline constexpr uint32_t kCookieRepeatMs = 250;

CookieDatagram CookieRequest(uint32_t nonce);
// Whether `d` is a well-formed request; its nonce when it is.
bool ReadCookieRequest(const uint8_t* d, size_t n, uint32_t* nonce);
CookieDatagram CookieAnswer(uint32_t nonce, uint32_t cookie);
bool ReadCookieAnswer(const uint8_t* d, size_t n, uint32_t* nonce, uint32_t* cookie);
// Sends a request from `socket` to `to`.
void SendCookieRequest(ENetSocket socket, const ENetAddress& to, uint32_t nonce);

// Cookies of one server: a keyed hash of the IPv4 address (not the port: a
// client may ask from any socket) and the time slot.
class Cookies {
 public:
  // A cookie is good in its own slot and the next: 5 to 10 s from when it
  // was made. That outlasts our own connect attempt (given up after 3 s of
  // silence) and a plain ENet client's first four sends of its CONNECT (at
  // 0, 0.5, 1.5 and 3.5 s); a client whose CONNECTs are all lost meanwhile
  // asks again.
  static constexpr uint64_t kSlotMs = 5000;

  Cookies() : key_(RandomHashKey()) {}
  explicit Cookies(const HashKey& key) : key_(key) {}  // for tests

  // `host` as ENet holds it (network order); `nowMs` on a monotonic clock.
  uint32_t Make(uint32_t host, uint64_t nowMs) const;
  bool Check(uint32_t host, uint32_t cookie, uint64_t nowMs) const;

 private:
  uint32_t ForSlot(uint32_t host, uint64_t slot) const;
  HashKey key_;
};

// Whether a datagram addressed to ENet's "no peer yet" id may reach ENet:
// exactly one CONNECT command as ENet reads it (header with or without its
// sent time, no compression), declaring an outgoing peer id below 0xFFF (ENet
// skips the session check for one that does not), whose connect data is a
// cookie of `cookies` for `host`.
bool AdmitsConnect(const uint8_t* d, size_t n, uint32_t host, const Cookies& cookies,
                   uint64_t nowMs);

// For clients on plain ENet (tests, benchmarks): asks `server` for a cookie
// from `socket` before the host connects, asking again every kCookieRepeatMs, and
// waits up to `timeoutMs`. Returns the cookie to pass as the connect data,
// or 0 (no cookie) when no answer came.
uint32_t FetchCookie(ENetSocket socket, const ENetAddress& server, uint32_t timeoutMs = 1000);

}  // namespace net
