#include "net/bitstream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace net {
namespace {

// The stream's bits as text, e.g. "10101".
std::string Bits(const BitStream& s) {
  std::string out;
  for (uint32_t i = 0; i < s.GetNumberOfBitsUsed(); ++i) {
    const bool set = (s.GetData()[i / 8] >> (7 - i % 8)) & 1;
    out += set ? '1' : '0';
  }
  return out;
}

// Expected bits as words of binary digits, or of hex digits after an "x".
std::string Expand(const std::string& spec) {
  std::string out;
  bool hex = false;
  for (const char ch : spec) {
    if (ch == ' ' || ch == 'x') {
      hex = ch == 'x';
      continue;
    }
    const int value = std::stoi(std::string(1, ch), nullptr, 16);
    for (int b = hex ? 3 : 0; b >= 0; --b) out += (value >> b) & 1 ? '1' : '0';
  }
  return out;
}

// What one read did: whether it succeeded, whether it gave the written value,
// and whether it left its output as it found it.
struct ReadResult {
  bool ok = false;
  bool matches = false;
  bool untouched = false;
};

// A write, the read that should give the same value back, and the bits the
// write must put in the stream.
struct Row {
  std::function<void(BitStream&)> write;
  std::function<ReadResult(BitStream&)> read;
  const char* bits;
};

template <bool kCompressed = false, typename T>
Row Plain(T v, const char* bits) {
  constexpr T kSentinel = static_cast<T>(0xEEEEEEEEu);  // shows upper bytes a read fails to clear
  auto write = [=](BitStream& s) {
    if constexpr (kCompressed) {
      s.WriteCompressed(v);
    } else {
      s.Write(v);
    }
  };
  auto read = [=](BitStream& s) {
    T x = kSentinel;
    ReadResult r;
    if constexpr (kCompressed) {
      r.ok = s.ReadCompressed(x);
    } else {
      r.ok = s.Read(x);
    }
    r.matches = x == v;
    r.untouched = x == kSentinel;
    return r;
  };
  return {write, read, bits};
}

template <typename T>
Row Compressed(T v, const char* bits) {
  return Plain<true>(v, bits);
}

Row Bit(const char* bits) {
  auto write = [](BitStream& s) { s.WriteBit(true); };
  auto read = [](BitStream& s) {
    bool v = false;
    ReadResult r;
    r.ok = s.ReadBit(v);
    r.matches = v;
    r.untouched = !v;
    return r;
  };
  return {write, read, bits};
}

Row Abc(const char* bits) {
  auto write = [](BitStream& s) { s.WriteBytes("abc", 3); };
  auto read = [](BitStream& s) {
    char v[4] = "xxx";
    ReadResult r;
    r.ok = s.ReadBytes(v, 3);
    r.matches = std::string(v) == "abc";
    r.untouched = std::string(v) == "xxx";
    return r;
  };
  return {write, read, bits};
}

Row RawBits(std::vector<uint8_t> in, uint32_t count, const char* bits) {
  auto write = [=](BitStream& s) { s.WriteBits(in.data(), count); };
  auto read = [=](BitStream& s) {
    const std::vector<uint8_t> unread(in.size(), 0xEE);
    std::vector<uint8_t> out = unread;
    std::vector<uint8_t> want = in;
    if (count % 8) want[count / 8] &= static_cast<uint8_t>(0xFF00 >> count % 8);  // low bits zero
    ReadResult r;
    r.ok = s.ReadBits(out.data(), count);
    r.matches = out == want;
    r.untouched = out == unread;
    return r;
  };
  return {write, read, bits};
}

Row Vector(float x, float y, float z, std::vector<float> want, const char* bits) {
  auto write = [=](BitStream& s) { s.WriteVector(x, y, z); };
  auto read = [=](BitStream& s) {
    const std::vector<float> unread(3, 7.0f);
    std::vector<float> got = unread;
    auto close = [](float g, float w) {
      return std::fabs(g - w) <= 1e-3f * std::max(1.0f, std::fabs(w));
    };
    ReadResult r;
    r.ok = s.ReadVector(got[0], got[1], got[2]);
    r.matches = std::equal(got.begin(), got.end(), want.begin(), close);
    r.untouched = got == unread;
    return r;
  };
  return {write, read, bits};
}

// Every row at every bit offset: the exact bits, read back whole, and cut short
// at every length a failed read that leaves output and read position alone.
TEST(BitStreamTest, WorkedValuesAtEveryOffsetAndEveryTruncation) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  // clang-format off
  const Row rows[] = {
      Plain(uint8_t{0xA5}, "xA5"),
      Plain(uint16_t{0x1234}, "x3412"),
      Plain(uint32_t{0xDEADBEEF}, "xEFBEADDE"),
      Plain(int8_t{-2}, "xFE"),
      Plain(int16_t{-12345}, "xC7CF"),
      Plain(int32_t{-123456789}, "xEB32A4F8"),
      Plain(1.0f, "x0000803F"),
      Plain(-1.5f, "x0000C0BF"),
      Plain(3.141592653589793, "x182D4454FB210940"),
      Plain(true, "x01"),
      // c8: flag 1 and the low nibble, or flag 0 and the byte.
      Compressed(uint8_t{0}, "1 0000"),
      Compressed(uint8_t{15}, "1 1111"),
      Compressed(uint8_t{16}, "0 x10"),
      Compressed(uint8_t{255}, "0 xFF"),
      // Wider: one flag per upper byte that is zero, from the top, then as above;
      // at the first non-zero upper byte, flag 0 and all bytes up to it.
      Compressed(uint16_t{0}, "1 1 0000"),
      Compressed(uint16_t{7}, "1 1 0111"),
      Compressed(uint16_t{0xAB}, "1 0 xAB"),
      Compressed(uint16_t{0x100}, "0 x0001"),
      Compressed(uint16_t{0xFFFF}, "0 xFFFF"),
      Compressed(uint32_t{0}, "111 1 0000"),
      Compressed(uint32_t{7}, "111 1 0111"),
      Compressed(uint32_t{200}, "111 0 xC8"),
      Compressed(uint32_t{0x100}, "11 0 x0001"),
      Compressed(uint32_t{0xFFFF}, "11 0 xFFFF"),
      Compressed(uint32_t{0x10000}, "1 0 x000001"),
      Compressed(uint32_t{0xFFFFFF}, "1 0 xFFFFFF"),
      Compressed(uint32_t{0x1000000}, "0 x00000001"),
      Compressed(uint32_t{0xFFFFFFFF}, "0 xFFFFFFFF"),
      Bit("1"),
      Abc("x616263"),
      RawBits({0xB5}, 1, "1"),
      RawBits({0xB5}, 3, "101"),
      RawBits({0xB5}, 7, "1011010"),
      RawBits({0xB5}, 8, "xB5"),
      RawBits({0xB5, 0xC3}, 9, "xB5 1"),
      RawBits({0xFF, 0xFF}, 11, "xFF 111"),
      RawBits({0xB5, 0xC3, 0x3C, 0x96}, 31, "xB5C33C 1001011"),
      // vec3: f32 magnitude, then (c + 1) * 32767.5 per direction component as
      // u16; only the magnitude when it is 0 or not finite (then sent as 0).
      Vector(3, 0, 4, {3, 0, 4}, "x0000A040 xCCCC xFF7F x65E6"),
      Vector(0, -2, 0, {0, -2, 0}, "x00000040 xFF7F x0000 xFF7F"),
      Vector(0, 0, 2, {0, 0, 2}, "x00000040 xFF7F xFF7F xFFFF"),
      Vector(0, 0, 0, {0, 0, 0}, "x00000000"),
      Vector(1e-6f, 0, 0, {0, 0, 0}, "xBD378635"),
      Vector(nan, 1, 1, {0, 0, 0}, "x00000000"),
      Vector(1, -inf, 0, {0, 0, 0}, "x00000000"),
  };
  // clang-format on
  for (size_t r = 0; r < std::size(rows); ++r) {
    for (uint32_t offset = 0; offset < 8; ++offset) {
      SCOPED_TRACE(testing::Message() << "row " << r << " offset " << offset);
      BitStream s;
      for (uint32_t i = 0; i < offset; ++i) s.WriteBit(i % 2 == 0);
      rows[r].write(s);
      ASSERT_EQ(Bits(s), std::string("1010101").substr(0, offset) + Expand(rows[r].bits));
      ASSERT_TRUE(s.IgnoreBits(offset));
      const ReadResult whole = rows[r].read(s);
      EXPECT_TRUE(whole.ok);
      EXPECT_TRUE(whole.matches);
      EXPECT_EQ(s.GetNumberOfUnreadBits(), 0u);
      for (uint32_t cut = offset; cut < s.GetNumberOfBitsUsed(); ++cut) {
        SCOPED_TRACE(testing::Message() << "cut " << cut);
        BitStream t(s.GetData(), cut);
        ASSERT_TRUE(t.IgnoreBits(offset));
        const ReadResult part = rows[r].read(t);
        EXPECT_FALSE(part.ok);
        EXPECT_TRUE(part.untouched);
        EXPECT_EQ(t.GetReadOffset(), offset);
      }
    }
  }
}

TEST(BitStreamTest, ExactBitCountsGrowthAndOddInput) {
  const uint8_t src[3] = {0xAB, 0xFF, 0xFF};
  BitStream s(src, 13);
  ASSERT_EQ(s.GetNumberOfBytesUsed(), 2u);
  uint8_t u8 = 0;
  uint8_t rest = 0;
  ASSERT_TRUE(s.Read(u8));
  ASSERT_TRUE(s.ReadBits(&rest, 5));
  EXPECT_EQ(u8, 0xAB);
  EXPECT_EQ(rest, 0xF8);
  EXPECT_FALSE(s.IgnoreBits(1));
  // Writing on continues at bit 13; the source's bits beyond the count are gone.
  s.WriteBit(false);
  s.WriteBit(true);
  EXPECT_EQ(Bits(s), "101010111111101");
  s.SetReadOffset(1000);
  EXPECT_EQ(s.GetReadOffset(), 15u);
  s.ResetReadPointer();
  EXPECT_EQ(s.GetNumberOfUnreadBits(), 15u);
  BitStream empty(nullptr, 0);
  EXPECT_TRUE(empty.ReadBits(nullptr, 0));
  // A bool reads any non-zero byte from the wire as true.
  const uint8_t two = 2;
  BitStream wire(&two, 8);
  bool b = false;
  EXPECT_TRUE(wire.Read(b));
  EXPECT_TRUE(b);

  // Past the inline buffer: byte by byte across its edge, and one long write.
  BitStream big;
  for (int i = 0; i < 1100; ++i) big.Write(static_cast<uint8_t>(i));
  for (int i = 0; i < 1100; ++i) ASSERT_EQ(big.GetData()[i], static_cast<uint8_t>(i)) << i;
  const std::vector<uint8_t> bytes(3000, 0x5A);
  std::vector<uint8_t> back(3000);
  big.Reset();
  big.WriteBit(true);
  big.WriteBytes(bytes.data(), 3000);
  big.WriteCompressed(uint32_t{0xFFFFFFFF});
  BitStream copy(big.GetData(), big.GetNumberOfBitsUsed());
  uint32_t c = 0;
  ASSERT_TRUE(copy.ReadBit(b));
  ASSERT_TRUE(copy.ReadBytes(back.data(), 3000));
  ASSERT_TRUE(copy.ReadCompressed(c));
  EXPECT_TRUE(back == bytes) << "the 3000 bytes came back changed";
  EXPECT_EQ(c, 0xFFFFFFFFu);
  big.Reset();  // emptied after growing, it writes from scratch without old bits
  big.WriteBit(false);
  EXPECT_EQ(Bits(big), "0");

  // Vectors: a magnitude whose square overflows a float still travels; a
  // hostile infinite magnitude is consumed with its direction and yields 0,0,0.
  BitStream v;
  v.WriteVector(3e38f, 0, 0);
  v.Write(std::numeric_limits<float>::infinity());
  for (uint16_t d : {65535, 32767, 32767, 9}) v.Write(d);
  float x = 0;
  float y = 0;
  float z = 0;
  ASSERT_TRUE(v.ReadVector(x, y, z));
  EXPECT_NEAR(x / 3e38f, 1.0f, 1e-4);
  ASSERT_TRUE(v.ReadVector(x, y, z));
  EXPECT_EQ(x, 0.0f);
  EXPECT_EQ(y, 0.0f);
  EXPECT_EQ(z, 0.0f);
  uint16_t after = 0;
  EXPECT_TRUE(v.Read(after));
  EXPECT_EQ(after, 9) << "the direction was not consumed with the magnitude";
}

}  // namespace
}  // namespace net
