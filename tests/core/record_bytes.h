// Reading a raw record's bytes back as the wire sees them: little-endian
// values at fixed offsets, whatever the host's own layout.
#pragma once

#include <bit>
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

inline uint32_t U32At(const std::vector<uint8_t>& b, size_t offset) {
  return static_cast<uint32_t>(b.at(offset)) | static_cast<uint32_t>(b.at(offset + 1)) << 8 |
         static_cast<uint32_t>(b.at(offset + 2)) << 16 |
         static_cast<uint32_t>(b.at(offset + 3)) << 24;
}

inline uint16_t U16At(const std::vector<uint8_t>& b, size_t offset) {
  return static_cast<uint16_t>(b.at(offset) | b.at(offset + 1) << 8);
}

inline float F32At(const std::vector<uint8_t>& b, size_t offset) {
  return std::bit_cast<float>(U32At(b, offset));
}

}  // namespace recordbytes
