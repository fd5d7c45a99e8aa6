// A raw record's bytes as the wire sees them, and the bytes it should hold.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace recordbytes {

template <typename T>
std::vector<uint8_t> Bytes(const T& record) {
  std::vector<uint8_t> out(sizeof(T));
  std::memcpy(out.data(), &record, sizeof(T));
  return out;
}

template <typename T>
bool AllZero(const T& record) {
  for (uint8_t b : Bytes(record)) {
    if (b) return false;
  }
  return true;
}

constexpr uint8_t operator""_u8(unsigned long long v) { return static_cast<uint8_t>(v); }

// Plain values laid end to end, as a record or a payload of plain writes
// carries them (the test hosts are little-endian).
template <typename... T>
std::vector<uint8_t> PlainBytes(T... values) {
  std::vector<uint8_t> out;
  (out.insert(out.end(), reinterpret_cast<const uint8_t*>(&values),
              reinterpret_cast<const uint8_t*>(&values) + sizeof values),
   ...);
  return out;
}

}  // namespace recordbytes
