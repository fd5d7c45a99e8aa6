#include "net/cookie.h"

#include <enet/protocol.h>

#include <algorithm>
#include <cstring>

#include "net/types.h"

namespace net {

namespace {

constexpr uint8_t kRequestMagic[4] = {0xFF, 0xFF, 0x51, 0x52};
constexpr uint8_t kAnswerMagic[4] = {0xFF, 0xFF, 0x51, 0x41};

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

CookieDatagram Datagram(const uint8_t (&magic)[4], uint32_t first, uint32_t second) {
  CookieDatagram d{};
  std::memcpy(d.data(), magic, 4);
  PutU32(d.data() + 4, first);
  PutU32(d.data() + 8, second);
  return d;
}

bool IsDatagram(const uint8_t (&magic)[4], const uint8_t* d, size_t n) {
  return n == kCookieDatagramBytes && std::memcmp(d, magic, 4) == 0;
}

}  // namespace

CookieDatagram CookieRequest(uint32_t nonce) { return Datagram(kRequestMagic, nonce, 0); }

bool ReadCookieRequest(const uint8_t* d, size_t n, uint32_t* nonce) {
  // The padding is zero: it keeps the request as long as the answer.
  if (!IsDatagram(kRequestMagic, d, n) || GetU32(d + 8) != 0) return false;
  *nonce = GetU32(d + 4);
  return true;
}

CookieDatagram CookieAnswer(uint32_t nonce, uint32_t cookie) {
  return Datagram(kAnswerMagic, nonce, cookie);
}

bool ReadCookieAnswer(const uint8_t* d, size_t n, uint32_t* nonce, uint32_t* cookie) {
  if (!IsDatagram(kAnswerMagic, d, n)) return false;
  *nonce = GetU32(d + 4);
  *cookie = GetU32(d + 8);
  return true;
}

void SendCookieRequest(ENetSocket socket, const ENetAddress& to, uint32_t nonce) {
  CookieDatagram request = CookieRequest(nonce);
  ENetBuffer buffer{request.data(), request.size()};
  enet_socket_send(socket, &to, &buffer, 1);
}

uint32_t Cookies::ForSlot(uint32_t host, uint64_t slot) const {
  uint8_t input[12];
  std::memcpy(input, &host, 4);
  std::memcpy(input + 4, &slot, 8);
  return static_cast<uint32_t>(KeyedHash(key_, input, sizeof input));
}

uint32_t Cookies::Make(uint32_t host, uint64_t nowMs) const {
  return ForSlot(host, nowMs / kSlotMs);
}

bool Cookies::Check(uint32_t host, uint32_t cookie, uint64_t nowMs) const {
  const uint64_t slot = nowMs / kSlotMs;
  return cookie == ForSlot(host, slot) || (slot > 0 && cookie == ForSlot(host, slot - 1));
}

bool AdmitsConnect(const uint8_t* d, size_t n, uint32_t host, const Cookies& cookies,
                   uint64_t nowMs) {
  if (n < 2) return false;
  const uint16_t header = static_cast<uint16_t>(d[0] << 8 | d[1]);
  if ((header & ENET_PROTOCOL_MAXIMUM_PEER_ID) != ENET_PROTOCOL_MAXIMUM_PEER_ID ||
      (header & ENET_PROTOCOL_HEADER_FLAG_COMPRESSED)) {
    return false;
  }
  const size_t headerBytes = (header & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME) ? 4 : 2;
  ENetProtocolConnect connect;
  if (n != headerBytes + sizeof connect) return false;
  std::memcpy(&connect, d + headerBytes, sizeof connect);
  return (connect.header.command & ENET_PROTOCOL_COMMAND_MASK) == ENET_PROTOCOL_COMMAND_CONNECT &&
         ENET_NET_TO_HOST_16(connect.outgoingPeerID) < ENET_PROTOCOL_MAXIMUM_PEER_ID &&
         cookies.Check(host, ENET_NET_TO_HOST_32(connect.data), nowMs);
}

uint32_t FetchCookie(ENetSocket socket, const ENetAddress& server, uint32_t timeoutMs) {
  const uint32_t nonce = RandomU32();
  const uint32_t start = GetTimeMs();
  uint32_t sent = start - kCookieRepeatMs;
  for (uint32_t now = start; now - start < timeoutMs; now = GetTimeMs()) {
    if (now - sent >= kCookieRepeatMs) {
      SendCookieRequest(socket, server, nonce);
      sent = now;
    }
    enet_uint32 condition = ENET_SOCKET_WAIT_RECEIVE;
    const uint32_t wait = std::min(kCookieRepeatMs - (now - sent), timeoutMs - (now - start));
    if (enet_socket_wait(socket, &condition, wait) != 0 || !(condition & ENET_SOCKET_WAIT_RECEIVE))
      continue;
    uint8_t data[ENET_PROTOCOL_MAXIMUM_MTU];
    ENetBuffer in{data, sizeof data};
    ENetAddress from{};
    const int got = enet_socket_receive(socket, &from, &in, 1);
    uint32_t echoed = 0, cookie = 0;
    if (got > 0 && from.host == server.host && from.port == server.port &&
        ReadCookieAnswer(data, static_cast<size_t>(got), &echoed, &cookie) && echoed == nonce) {
      return cookie;
    }
  }
  return 0;
}

}  // namespace net
