#include "net/bitstream.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace net {

namespace {

constexpr uint64_t kMaxBits = UINT32_MAX;  // bit counts and offsets are 32-bit
constexpr float kMinMagnitude = 0.00001f;

// Up to 8 bits starting at bit `pos`, returned in the high bits of a byte.
// The caller guarantees the bits lie inside the buffer.
uint8_t PeekBits(const uint8_t* data, uint32_t pos, uint32_t count) {
  const uint32_t index = pos >> 3;
  const uint32_t shift = pos & 7;
  uint32_t b = static_cast<uint32_t>(data[index]) << shift;
  if (shift + count > 8) b |= static_cast<uint32_t>(data[index + 1]) >> (8 - shift);
  return static_cast<uint8_t>(b & (0xFF00u >> count));
}

uint16_t CompressFloat(float f) {
  if (std::isnan(f)) f = 0.0f;
  f = std::clamp(f, -1.0f, 1.0f);
  return static_cast<uint16_t>((f + 1.0f) * 32767.5f);
}

float DecompressFloat(uint16_t v) { return static_cast<float>(v) / 32767.5f - 1.0f; }

}  // namespace

BitStream::BitStream() : data_(inline_), capacityBytes_(kInlineBytes) {}

BitStream::BitStream(const void* data, uint32_t bitCount) : BitStream() {
  if (data == nullptr) return;
  WriteBits(data, bitCount);
}

BitStream::~BitStream() {
  if (data_ != inline_) std::free(data_);
}

void BitStream::ToLittleEndian(const void* value, uint8_t* out, size_t n) {
  std::memcpy(out, value, n);
  if constexpr (std::endian::native == std::endian::big) std::reverse(out, out + n);
}

void BitStream::FromLittleEndian(const uint8_t* in, void* value, size_t n) {
  uint8_t tmp[16];
  std::memcpy(tmp, in, n);
  if constexpr (std::endian::native == std::endian::big) std::reverse(tmp, tmp + n);
  std::memcpy(value, tmp, n);
}

// Callers have checked that bitsUsed_ + extraBits fits in 32 bits.
void BitStream::Reserve(uint32_t extraBits) {
  const uint64_t neededBytes = (static_cast<uint64_t>(bitsUsed_) + extraBits + 7) / 8;
  if (neededBytes <= capacityBytes_) return;
  uint64_t newCapacity = capacityBytes_;
  while (newCapacity < neededBytes) newCapacity *= 2;
  void* grown = data_ == inline_ ? std::malloc(newCapacity) : std::realloc(data_, newCapacity);
  if (grown == nullptr) throw std::bad_alloc();
  if (data_ == inline_) std::memcpy(grown, inline_, GetNumberOfBytesUsed());
  data_ = static_cast<uint8_t*>(grown);
  capacityBytes_ = static_cast<uint32_t>(std::min<uint64_t>(newCapacity, UINT32_MAX));
}

void BitStream::WriteBit(bool bit) {
  const uint8_t b = bit ? 0x80 : 0x00;
  WriteBits(&b, 1);
}

bool BitStream::ReadBit(bool& bit) {
  if (GetNumberOfUnreadBits() < 1) return false;
  bit = PeekBits(data_, readOffset_, 1) != 0;
  ++readOffset_;
  return true;
}

// The unused low bits of the last byte are always zero, so a write ORs into
// that byte and assigns the ones after it (a write at a byte boundary assigns).
void BitStream::WriteBits(const void* data, uint32_t bitCount) {
  if (bitCount == 0) return;
  if (static_cast<uint64_t>(bitsUsed_) + bitCount > kMaxBits) return;  // cannot be addressed
  Reserve(bitCount);
  const uint8_t* src = static_cast<const uint8_t*>(data);
  const uint32_t shift = bitsUsed_ & 7;
  uint32_t index = bitsUsed_ >> 3;
  if (shift == 0) {
    const uint32_t whole = bitCount / 8;
    std::memcpy(data_ + index, src, whole);
    if (bitCount & 7) data_[index + whole] = src[whole] & static_cast<uint8_t>(0xFF00u >> (bitCount & 7));
  } else {
    for (uint32_t left = bitCount; left > 0; ++index, ++src) {
      const uint32_t take = left < 8 ? left : 8;
      const uint8_t b = *src & static_cast<uint8_t>(0xFF00u >> take);
      data_[index] |= static_cast<uint8_t>(b >> shift);
      if (shift + take > 8) data_[index + 1] = static_cast<uint8_t>(b << (8 - shift));
      left -= take;
    }
  }
  bitsUsed_ += bitCount;
}

bool BitStream::ReadBits(void* out, uint32_t bitCount) {
  if (bitCount > GetNumberOfUnreadBits()) return false;
  if (bitCount == 0) return true;
  uint8_t* dst = static_cast<uint8_t*>(out);
  if ((readOffset_ & 7) == 0) {
    const uint32_t whole = bitCount / 8;
    std::memcpy(dst, data_ + (readOffset_ >> 3), whole);
    if (bitCount & 7) dst[whole] = PeekBits(data_, readOffset_ + whole * 8, bitCount & 7);
  } else {
    uint32_t pos = readOffset_;
    for (uint32_t left = bitCount; left > 0; ++dst) {
      const uint32_t take = left < 8 ? left : 8;
      *dst = PeekBits(data_, pos, take);
      pos += take;
      left -= take;
    }
  }
  readOffset_ += bitCount;
  return true;
}

void BitStream::WriteBytes(const void* data, uint32_t byteCount) {
  if (static_cast<uint64_t>(byteCount) * 8 > kMaxBits) return;
  WriteBits(data, byteCount * 8);
}

bool BitStream::ReadBytes(void* out, uint32_t byteCount) {
  if (static_cast<uint64_t>(byteCount) * 8 > GetNumberOfUnreadBits()) return false;
  return ReadBits(out, byteCount * 8);
}

bool BitStream::IgnoreBits(uint32_t bitCount) {
  if (bitCount > GetNumberOfUnreadBits()) return false;
  readOffset_ += bitCount;
  return true;
}

void BitStream::Reset() {
  bitsUsed_ = 0;
  readOffset_ = 0;
}

void BitStream::ResetReadPointer() { readOffset_ = 0; }

// Leading zero bytes (from the top) cost one bit each; a low byte whose upper
// half is zero costs 1 + 4 bits.
void BitStream::WriteCompressedBytes(const uint8_t* bytes, uint32_t n) {
  for (uint32_t i = n - 1; i > 0; --i) {
    if (bytes[i] == 0) {
      WriteBit(true);
    } else {
      WriteBit(false);
      WriteBytes(bytes, i + 1);
      return;
    }
  }
  if ((bytes[0] & 0xF0) == 0) {
    WriteBit(true);
    const uint8_t low = static_cast<uint8_t>(bytes[0] << 4);
    WriteBits(&low, 4);
  } else {
    WriteBit(false);
    WriteBytes(bytes, 1);
  }
}

// Mirrors WriteCompressedBytes; the upper bytes not sent read as zero. All or
// nothing: on failure `bytes` and the read position are left as they were.
bool BitStream::ReadCompressedBytes(uint8_t* bytes, uint32_t n) {
  const uint32_t start = readOffset_;
  uint8_t value[8] = {};
  bool ok = false;
  bool flag = false;
  uint32_t i = n - 1;
  for (; i > 0; --i) {
    if (!ReadBit(flag)) break;
    if (!flag) {
      ok = ReadBytes(value, i + 1);
      break;
    }
  }
  if (i == 0 && ReadBit(flag)) {
    if (flag) {
      uint8_t low = 0;
      ok = ReadBits(&low, 4);
      value[0] = static_cast<uint8_t>(low >> 4);
    } else {
      ok = ReadBytes(value, 1);
    }
  }
  if (!ok) {
    readOffset_ = start;
    return false;
  }
  std::memcpy(bytes, value, n);
  return true;
}

void BitStream::WriteCompressed(uint8_t value) { WriteCompressedBytes(&value, 1); }

void BitStream::WriteCompressed(uint16_t value) {
  uint8_t bytes[2];
  ToLittleEndian(&value, bytes, 2);
  WriteCompressedBytes(bytes, 2);
}

void BitStream::WriteCompressed(uint32_t value) {
  uint8_t bytes[4];
  ToLittleEndian(&value, bytes, 4);
  WriteCompressedBytes(bytes, 4);
}

bool BitStream::ReadCompressed(uint8_t& value) {
  uint8_t b = 0;
  if (!ReadCompressedBytes(&b, 1)) return false;
  value = b;
  return true;
}

bool BitStream::ReadCompressed(uint16_t& value) {
  uint8_t bytes[2];
  if (!ReadCompressedBytes(bytes, 2)) return false;
  FromLittleEndian(bytes, &value, 2);
  return true;
}

bool BitStream::ReadCompressed(uint32_t& value) {
  uint8_t bytes[4];
  if (!ReadCompressedBytes(bytes, 4)) return false;
  FromLittleEndian(bytes, &value, 4);
  return true;
}

void BitStream::WriteVector(float x, float y, float z) {
  // In double so large finite components do not overflow the sum of squares.
  const double dx = x, dy = y, dz = z;
  float m = static_cast<float>(std::sqrt(dx * dx + dy * dy + dz * dz));
  if (!std::isfinite(m)) m = 0.0f;
  Write(m);
  if (m > kMinMagnitude) {
    Write(CompressFloat(x / m));
    Write(CompressFloat(y / m));
    Write(CompressFloat(z / m));
  }
}

bool BitStream::ReadVector(float& x, float& y, float& z) {
  const uint32_t start = readOffset_;
  float m = 0.0f;
  if (!Read(m)) return false;
  if (!(m > kMinMagnitude)) {
    x = y = z = 0.0f;
    return true;
  }
  uint16_t cx = 0, cy = 0, cz = 0;
  if (!Read(cx) || !Read(cy) || !Read(cz)) {
    readOffset_ = start;
    return false;
  }
  if (!std::isfinite(m)) {
    // No writer sends this; an infinite position must not reach the game.
    x = y = z = 0.0f;
    return true;
  }
  x = DecompressFloat(cx) * m;
  y = DecompressFloat(cy) * m;
  z = DecompressFloat(cz) * m;
  return true;
}

}  // namespace net
