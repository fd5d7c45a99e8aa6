#include "net/bitstream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace net {
namespace {

// The stream's bits as text, e.g. "10101"; spaces in `want` are ignored.
std::string Bits(const BitStream& s) {
  std::string out;
  for (uint32_t i = 0; i < s.GetNumberOfBitsUsed(); ++i) {
    out += (s.GetData()[i / 8] >> (7 - i % 8)) & 1 ? '1' : '0';
  }
  return out;
}
std::string Spaceless(std::string want) {
  std::erase(want, ' ');
  return want;
}

// Writes `count` filler bits 1,0,1,0... so a value starts at that bit offset.
void Pad(BitStream& s, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) s.WriteBit(i % 2 == 0);
}
void SkipPad(BitStream& s, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    bool b = false;
    ASSERT_TRUE(s.ReadBit(b));
    ASSERT_EQ(b, i % 2 == 0);
  }
}

TEST(BitStreamEncoding, WorkedValues) {
  const std::pair<std::function<void(BitStream&)>, const char*> cases[] = {
      {[](BitStream& s) { s.WriteCompressed(uint8_t{5}); }, "1 0101"},
      {[](BitStream& s) { s.WriteCompressed(uint8_t{200}); }, "0 11001000"},
      {[](BitStream& s) { s.WriteCompressed(uint16_t{0x00AB}); }, "1 0 10101011"},
      {[](BitStream& s) { s.WriteCompressed(uint16_t{0x1234}); }, "0 00110100 00010010"},
      {[](BitStream& s) { s.WriteCompressed(uint32_t{7}); }, "1111 0111"},
      // Plain values: little-endian bytes at the current bit.
      {[](BitStream& s) { s.WriteBit(true), s.Write(uint8_t{0xFF}); }, "1 11111111"},
      {[](BitStream& s) { Pad(s, 3), s.Write(uint16_t{0x1234}); }, "101 00110100 00010010"},
      {[](BitStream& s) { s.Write(1.0f); }, "00000000 00000000 10000000 00111111"},
  };
  for (const auto& [write, want] : cases) {
    BitStream s;
    write(s);
    EXPECT_EQ(Bits(s), Spaceless(want));
  }
  // A vector: f32 magnitude, then (c + 1) * 32767.5 per direction component.
  BitStream s;
  s.WriteVector(3, 0, 4);
  ASSERT_EQ(s.GetNumberOfBitsUsed(), 32u + 3 * 16);
  float m = 0;
  uint16_t x = 0, y = 0, z = 0;
  ASSERT_TRUE(s.Read(m) && s.Read(x) && s.Read(y) && s.Read(z));
  EXPECT_EQ(m, 5.0f);
  EXPECT_EQ(x, 52428);
  EXPECT_EQ(y, 32767);
  EXPECT_EQ(z, 58981);
}

TEST(BitStreamEncoding, CompressedSizes) {
  struct Case {
    uint32_t value;
    uint32_t c8Bits, c16Bits, c32Bits;  // 0 = not representable in that width
  };
  const Case cases[] = {
      {0, 5, 6, 8},         {15, 5, 6, 8},        {16, 9, 10, 12},     {255, 9, 10, 12},
      {256, 0, 17, 19},     {0xFFFF, 0, 17, 19},  {0x10000, 0, 0, 26}, {0xFFFFFF, 0, 0, 26},
      {0x1000000, 0, 0, 33}, {0xFFFFFFFF, 0, 0, 33},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    BitStream s8, s16, s32;
    s8.WriteCompressed(static_cast<uint8_t>(c.value));
    s16.WriteCompressed(static_cast<uint16_t>(c.value));
    s32.WriteCompressed(c.value);
    if (c.c8Bits) { EXPECT_EQ(s8.GetNumberOfBitsUsed(), c.c8Bits); }
    if (c.c16Bits) { EXPECT_EQ(s16.GetNumberOfBitsUsed(), c.c16Bits); }
    EXPECT_EQ(s32.GetNumberOfBitsUsed(), c.c32Bits);
  }
}

TEST(BitStreamRoundTrip, EveryWidthAtEveryBitOffset) {
  const auto plain = std::tuple{uint8_t{0xA5},     uint16_t{0xBEEF},         uint32_t{0xDEADBEEF},
                                int8_t{-2},        int16_t{-12345},          int32_t{-123456789},
                                -1.5f,             3.141592653589793,        true};
  const uint32_t boundaries[] = {0, 15, 16, 255, 256, 0xFFFF, 0x10000, 0xFFFFFFFF};
  for (uint32_t offset = 0; offset < 8; ++offset) {
    SCOPED_TRACE(offset);
    BitStream s;
    Pad(s, offset);
    std::apply([&](auto... v) { (s.Write(v), ...); }, plain);
    for (uint32_t v : boundaries) {
      s.WriteCompressed(static_cast<uint8_t>(v));
      s.WriteCompressed(static_cast<uint16_t>(v));
      s.WriteCompressed(v);
    }

    SkipPad(s, offset);
    auto expect = [&s](auto want) {
      decltype(want) got{};
      EXPECT_TRUE(s.Read(got));
      EXPECT_EQ(got, want);
    };
    std::apply([&](auto... v) { (expect(v), ...); }, plain);
    for (uint32_t v : boundaries) {
      SCOPED_TRACE(v);
      // Pre-filled so a read that fails to zero the upper bytes shows.
      uint8_t c8 = 0xEE;
      uint16_t c16 = 0xEEEE;
      uint32_t c32 = 0xEEEEEEEE;
      ASSERT_TRUE(s.ReadCompressed(c8) && s.ReadCompressed(c16) && s.ReadCompressed(c32));
      EXPECT_EQ(c8, static_cast<uint8_t>(v));
      EXPECT_EQ(c16, static_cast<uint16_t>(v));
      EXPECT_EQ(c32, v);
    }
    EXPECT_EQ(s.GetNumberOfUnreadBits(), 0u);
  }
  // A bool reads any non-zero byte from the wire as true.
  const uint8_t two = 2;
  BitStream s(&two, 8);
  bool b = false;
  ASSERT_TRUE(s.Read(b));
  EXPECT_TRUE(b);
}

// A writer, and a reader into sentinels that is true if it succeeded or
// touched a sentinel.
struct Kind {
  std::function<void(BitStream&)> write;
  std::function<bool(BitStream&)> read;
};
template <typename T>
Kind Plain(T v) {
  return {[v](BitStream& s) { s.Write(v); },
          [](BitStream& s) { T x = T(0x77); return s.Read(x) || x != T(0x77); }};
}
template <typename T>
Kind Compressed(T v) {
  return {[v](BitStream& s) { s.WriteCompressed(v); },
          [](BitStream& s) { T x = T(0x77); return s.ReadCompressed(x) || x != T(0x77); }};
}

// Every kind of read, cut short at every length, fails without touching its
// output or the read position.
TEST(BitStreamBounds, TruncatedReadsFailAndLeaveOutputUntouched) {
  const Kind kinds[] = {
      Plain(uint8_t{1}), Plain(uint16_t{1}), Plain(uint32_t{1}), Plain(1.0),
      Compressed(uint8_t{5}), Compressed(uint8_t{200}), Compressed(uint16_t{0x1234}),
      Compressed(uint16_t{7}), Compressed(uint32_t{0x123456}), Compressed(uint32_t{200}),
      {[](BitStream& s) { s.WriteBit(true); },
       [](BitStream& s) { bool v = false; return s.ReadBit(v) || v; }},
      {[](BitStream& s) { s.WriteVector(1, 2, 3); },
       [](BitStream& s) {
         float x = 7, y = 7, z = 7;
         return s.ReadVector(x, y, z) || x != 7 || y != 7 || z != 7;
       }},
      {[](BitStream& s) { s.WriteBytes("abc", 3); },
       [](BitStream& s) {
         char v[3] = {'x', 'x', 'x'};
         return s.ReadBytes(v, 3) || std::memcmp(v, "xxx", 3) != 0;
       }},
      {[](BitStream& s) { s.WriteBits("\xFF\xFF", 11); },
       [](BitStream& s) {
         uint8_t v[2] = {0x12, 0x34};
         return s.ReadBits(v, 11) || v[0] != 0x12 || v[1] != 0x34;
       }},
  };
  for (size_t k = 0; k < std::size(kinds); ++k) {
    for (uint32_t lead = 0; lead < 8; lead += 3) {
      BitStream full;
      Pad(full, lead);
      kinds[k].write(full);
      for (uint32_t cut = lead; cut < full.GetNumberOfBitsUsed(); ++cut) {
        SCOPED_TRACE(testing::Message() << "kind " << k << " cut " << cut);
        BitStream s(full.GetData(), cut);
        ASSERT_TRUE(s.IgnoreBits(lead));
        EXPECT_FALSE(kinds[k].read(s));
        EXPECT_EQ(s.GetReadOffset(), lead);
      }
    }
  }
}

TEST(BitStreamBounds, StreamOverExactBitCountStopsThere) {
  const uint8_t src[3] = {0xAB, 0xFF, 0xFF};
  BitStream s(src, 13);
  EXPECT_EQ(s.GetNumberOfBytesUsed(), 2u);
  uint16_t u16 = 0;
  EXPECT_FALSE(s.Read(u16));
  uint8_t u8 = 0, rest = 0;
  ASSERT_TRUE(s.Read(u8));
  EXPECT_EQ(u8, 0xAB);
  ASSERT_TRUE(s.ReadBits(&rest, 5));
  EXPECT_EQ(rest, 0xF8);  // five bits, low bits zero
  bool bit = false;
  EXPECT_FALSE(s.ReadBit(bit));
  EXPECT_FALSE(s.IgnoreBits(1));

  // Writing on continues at bit 13; the source's bits beyond the count are gone.
  s.WriteBit(false);
  s.WriteBit(true);
  EXPECT_EQ(Bits(s), Spaceless("10101011 11111 0 1"));
  s.SetReadOffset(1000);
  EXPECT_EQ(s.GetReadOffset(), 15u);
  s.ResetReadPointer();
  EXPECT_EQ(s.GetNumberOfUnreadBits(), 15u);

  BitStream empty(nullptr, 0);
  EXPECT_FALSE(empty.ReadBit(bit));
  EXPECT_TRUE(empty.ReadBits(nullptr, 0));
}

TEST(BitStreamBits, OddCountsAtOddOffsets) {
  std::mt19937 rng(1234);
  for (uint32_t offset = 0; offset < 8; ++offset) {
    for (uint32_t count : {1u, 3u, 7u, 8u, 9u, 13u, 17u, 23u, 31u}) {
      SCOPED_TRACE(testing::Message() << "offset " << offset << " count " << count);
      uint8_t in[4];
      for (uint8_t& b : in) b = static_cast<uint8_t>(rng());
      BitStream s;
      Pad(s, offset);
      s.WriteBits(in, count);
      s.WriteBit(true);  // must land right after the bits
      ASSERT_EQ(s.GetNumberOfBitsUsed(), offset + count + 1);

      SkipPad(s, offset);
      uint8_t out[4];
      std::memset(out, 0xFF, sizeof(out));
      ASSERT_TRUE(s.ReadBits(out, count));
      const uint32_t whole = count / 8, tail = count % 8;
      EXPECT_EQ(std::memcmp(out, in, whole), 0);
      if (tail) { EXPECT_EQ(out[whole], in[whole] & (0xFF00 >> tail)); }
      bool marker = false;
      ASSERT_TRUE(s.ReadBit(marker));
      EXPECT_TRUE(marker);
    }
  }
}

TEST(BitStreamBits, GrowsBeyondTheInlineBuffer) {
  std::vector<uint8_t> big(3000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + 1);
  BitStream s;
  s.WriteBit(true);
  s.WriteBytes(big.data(), static_cast<uint32_t>(big.size()));
  s.WriteCompressed(uint32_t{0xFFFFFFFF});
  ASSERT_EQ(s.GetNumberOfBitsUsed(), 1 + 3000 * 8 + 33u);
  // Read back through a copy over the exact bit count.
  BitStream copy(s.GetData(), s.GetNumberOfBitsUsed());
  bool b = false;
  std::vector<uint8_t> back(big.size());
  uint32_t c = 0;
  ASSERT_TRUE(copy.ReadBit(b) && copy.ReadBytes(back.data(), 3000) && copy.ReadCompressed(c));
  EXPECT_EQ(back, big);
  EXPECT_EQ(c, 0xFFFFFFFFu);

  // Byte by byte across the 1024-byte edge.
  BitStream t;
  for (int i = 0; i < 1100; ++i) t.Write(static_cast<uint8_t>(i));
  for (int i = 0; i < 1100; ++i) ASSERT_EQ(t.GetData()[i], static_cast<uint8_t>(i)) << i;

  // Emptied after growing, the stream writes from scratch without old bits.
  s.Reset();
  EXPECT_EQ(s.GetNumberOfBitsUsed(), 0u);
  s.WriteBit(false);
  s.WriteBit(true);
  EXPECT_EQ(Bits(s), "01");
}

TEST(BitStreamVector, RoundTripAndSpecialValues) {
  auto read = [](BitStream& s) {
    std::vector<float> v(3, 7.0f);
    EXPECT_TRUE(s.ReadVector(v[0], v[1], v[2]));
    return v;
  };
  BitStream s;
  s.WriteVector(-120.5f, 33.25f, 7.0f);
  s.WriteVector(3e38f, 0, 0);  // squares overflow a float; the vector still travels
  std::vector<float> v = read(s);
  const float m = std::sqrt(120.5f * 120.5f + 33.25f * 33.25f + 49.0f);
  EXPECT_NEAR(v[0], -120.5f, m / 30000);
  EXPECT_NEAR(v[1], 33.25f, m / 30000);
  EXPECT_NEAR(v[2], 7.0f, m / 30000);
  EXPECT_NEAR(read(s)[0] / 3e38f, 1.0f, 1e-4);

  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float zeroes[][3] = {{0, 0, 0}, {1e-6f, 0, 0}, {nan, 1, 1}, {inf, 0, 0}, {1, -inf, 0}};
  for (const auto& z : zeroes) {
    SCOPED_TRACE(testing::Message() << z[0] << "," << z[1] << "," << z[2]);
    BitStream t;
    t.WriteVector(z[0], z[1], z[2]);
    EXPECT_EQ(t.GetNumberOfBitsUsed(), 32u);  // magnitude only
    float mag = 1;
    ASSERT_TRUE(t.Read(mag));
    EXPECT_EQ(mag, std::isfinite(z[0] + z[1] + z[2]) ? z[0] : 0.0f);  // non-finite travels as 0
    t.ResetReadPointer();
    EXPECT_EQ(read(t), std::vector<float>(3, 0.0f));
  }

  // Directions sit at the ends of the u16 range: -1 is 0 and +1 is 65535.
  BitStream ends;
  ends.WriteVector(0, -2, 0);
  ends.WriteVector(0, 0, 2);
  float mag = 0;
  uint16_t c[6] = {};
  ASSERT_TRUE(ends.Read(mag) && ends.Read(c[0]) && ends.Read(c[1]) && ends.Read(c[2]) &&
              ends.Read(mag) && ends.Read(c[3]) && ends.Read(c[4]) && ends.Read(c[5]));
  EXPECT_EQ(c[1], 0);
  EXPECT_EQ(c[5], 65535);

  // A hostile infinite magnitude is consumed with its direction and yields 0,0,0.
  BitStream hostile;
  hostile.Write(inf);
  for (uint16_t d : {65535, 32767, 32767}) hostile.Write(d);
  hostile.Write(uint8_t{9});
  EXPECT_EQ(read(hostile), std::vector<float>(3, 0.0f));
  uint8_t after = 0;
  ASSERT_TRUE(hostile.Read(after));
  EXPECT_EQ(after, 9);
}

}  // namespace
}  // namespace net
