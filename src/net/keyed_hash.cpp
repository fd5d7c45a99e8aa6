#include "net/keyed_hash.h"

#include <sodium.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace net {

namespace {

// libsodium must be set up once before its random source is used; a failure
// there leaves the process without a random source at all, which we do not
// run without.
void InitializeSodium() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (sodium_init() < 0) std::abort();
  });
}

static_assert(crypto_shorthash_KEYBYTES == std::tuple_size_v<HashKey>);
static_assert(crypto_shorthash_BYTES == sizeof(uint64_t));

}  // namespace

HashKey RandomHashKey() {
  InitializeSodium();
  HashKey key;
  randombytes_buf(key.data(), key.size());
  return key;
}

uint64_t KeyedHash(const HashKey& key, const void* data, size_t length) {
  InitializeSodium();
  unsigned char out[crypto_shorthash_BYTES];
  crypto_shorthash(out, static_cast<const unsigned char*>(data), length, key.data());
  uint64_t value;
  std::memcpy(&value, out, sizeof value);
  return value;
}

uint32_t RandomU32() {
  InitializeSodium();
  return randombytes_random();
}

}  // namespace net
