// Bit-level message buffer shared by the server and its clients.
//
// Bits fill each byte from its most significant bit and writes continue at the
// current bit; nothing is aligned unless asked. Plain values are written as
// their little-endian bytes, 8 bits each. Every read reports failure instead of
// reading past the end and leaves its output untouched when it fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace net {

class BitStream {
 public:
  static constexpr uint32_t kInlineBytes = 1024;

  // An empty stream for writing.
  BitStream();
  // A stream holding a copy of `bitCount` bits of `data` (MSB-first), with the
  // read position at 0; reads stop at exactly `bitCount`.
  BitStream(const void* data, uint32_t bitCount);
  ~BitStream();
  BitStream(const BitStream&) = delete;
  BitStream& operator=(const BitStream&) = delete;

  // Plain writes and reads of u8/u16/u32/i8/i16/i32/f32/f64 (and bool as 8 bits).
  template <typename T>
  void Write(T value) {
    static_assert(std::is_arithmetic_v<T>, "plain writes take numbers");
    uint8_t bytes[sizeof(T)];
    ToLittleEndian(&value, bytes, sizeof(T));
    WriteBytes(bytes, sizeof(T));
  }
  template <typename T>
  bool Read(T& value) {
    static_assert(std::is_arithmetic_v<T>, "plain reads take numbers");
    uint8_t bytes[sizeof(T)];
    if (!ReadBytes(bytes, sizeof(T))) return false;
    if constexpr (std::is_same_v<T, bool>) {
      value = bytes[0] != 0;  // any byte from the wire, never an invalid bool
    } else {
      FromLittleEndian(bytes, &value, sizeof(T));
    }
    return true;
  }

  void WriteBit(bool bit);
  bool ReadBit(bool& bit);

  // Compressed unsigned values (c8, c16, c32).
  void WriteCompressed(uint8_t value);
  void WriteCompressed(uint16_t value);
  void WriteCompressed(uint32_t value);
  bool ReadCompressed(uint8_t& value);
  bool ReadCompressed(uint16_t& value);
  bool ReadCompressed(uint32_t& value);

  // vec3: f32 magnitude, then the normalised direction as three compressed
  // floats when the magnitude is above 0.00001.
  void WriteVector(float x, float y, float z);
  bool ReadVector(float& x, float& y, float& z);

  // Raw bytes at the current bit position.
  void WriteBytes(const void* data, uint32_t byteCount);
  bool ReadBytes(void* out, uint32_t byteCount);

  // Raw bits: `bitCount` bits taken MSB-first from `data`. ReadBits stores them
  // MSB-first into `out` (the last byte's unused low bits are zero).
  void WriteBits(const void* data, uint32_t bitCount);
  bool ReadBits(void* out, uint32_t bitCount);

  bool IgnoreBits(uint32_t bitCount);
  void Reset();             // empty the stream
  void ResetReadPointer();  // read again from bit 0

  const uint8_t* GetData() const { return data_; }
  uint32_t GetNumberOfBitsUsed() const { return bitsUsed_; }
  uint32_t GetNumberOfBytesUsed() const { return (bitsUsed_ + 7) / 8; }
  uint32_t GetReadOffset() const { return readOffset_; }
  void SetReadOffset(uint32_t bit) { readOffset_ = bit <= bitsUsed_ ? bit : bitsUsed_; }
  uint32_t GetNumberOfUnreadBits() const { return bitsUsed_ - readOffset_; }

 private:
  static void ToLittleEndian(const void* value, uint8_t* out, size_t n);
  static void FromLittleEndian(const uint8_t* in, void* value, size_t n);
  void Reserve(uint32_t extraBits);
  void WriteCompressedBytes(const uint8_t* bytes, uint32_t n);
  bool ReadCompressedBytes(uint8_t* bytes, uint32_t n);

  uint8_t* data_;
  uint32_t capacityBytes_;
  uint32_t bitsUsed_ = 0;
  uint32_t readOffset_ = 0;
  uint8_t inline_[kInlineBytes];
};

}  // namespace net
