// A keyed hash with a secret key drawn at start-up: whoever does not know the
// key can neither forge its values nor pick inputs that collide.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace net {

using HashKey = std::array<uint8_t, 16>;

// A fresh key from the system's random source.
HashKey RandomHashKey();
// SipHash-2-4 of `length` bytes under `key`.
uint64_t KeyedHash(const HashKey& key, const void* data, size_t length);
// A random 32-bit value (for nonces).
uint32_t RandomU32();

}  // namespace net
