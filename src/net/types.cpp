#include "net/types.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace net {

std::string SystemAddress::ToString(bool withPort) const {
  uint8_t b[4];
  std::memcpy(b, &binaryAddress, 4);  // network order: first byte is the first part
  char text[32];
  if (withPort) {
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u:%u", b[0], b[1], b[2], b[3], port);
  } else {
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  }
  return text;
}

bool SystemAddress::SetBinaryAddress(const char* dotted) {
  if (dotted == nullptr) return false;
  in_addr parsed{};
  // inet_pton takes exactly four decimal parts, each at most 255.
  if (inet_pton(AF_INET, dotted, &parsed) != 1) return false;
  binaryAddress = parsed.s_addr;
  return true;
}

namespace {

uint32_t Get16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8); }

// The tail bytes count as signed chars, as in the reference algorithm.
uint32_t SignedByte(uint8_t b) {
  return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(b)));
}

}  // namespace

uint32_t SuperFastHash(const char* data, int length) {
  if (data == nullptr || length <= 0) return 0;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(data);
  uint32_t hash = static_cast<uint32_t>(length);
  const int rem = length & 3;
  for (int blocks = length >> 2; blocks > 0; --blocks, p += 4) {
    hash += Get16(p);
    const uint32_t tmp = (Get16(p + 2) << 11) ^ hash;
    hash = (hash << 16) ^ tmp;
    hash += hash >> 11;
  }
  switch (rem) {
    case 3:
      hash += Get16(p);
      hash ^= hash << 16;
      hash ^= SignedByte(p[2]) << 18;
      hash += hash >> 11;
      break;
    case 2:
      hash += Get16(p);
      hash ^= hash << 11;
      hash += hash >> 17;
      break;
    case 1:
      hash += SignedByte(p[0]);
      hash ^= hash << 10;
      hash += hash >> 1;
      break;
    default:
      break;
  }
  // Avalanche the last bits.
  hash ^= hash << 3;
  hash += hash >> 5;
  hash ^= hash << 4;
  hash += hash >> 17;
  hash ^= hash << 25;
  hash += hash >> 6;
  return hash;
}

uint64_t GetTimeUs() { return platform::MonotonicUs(); }

uint32_t GetTimeMs() { return static_cast<uint32_t>(platform::MonotonicUs() / 1000); }

}  // namespace net
