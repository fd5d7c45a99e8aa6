#include "net/bitstream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace net {
namespace {

// The stream's bits as text, e.g. "10101".
std::string Bits(const BitStream& s) {
  std::string out;
  for (uint32_t i = 0; i < s.GetNumberOfBitsUsed(); ++i) {
    out += (s.GetData()[i / 8] >> (7 - i % 8)) & 1 ? '1' : '0';
  }
  return out;
}

std::string BitsOf(const std::string& spaced) {
  std::string out;
  for (char c : spaced)
    if (c != ' ') out += c;
  return out;
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
  {
    BitStream s;
    s.WriteCompressed(uint8_t{5});
    EXPECT_EQ(Bits(s), BitsOf("1 0101"));
  }
  {
    BitStream s;
    s.WriteCompressed(uint8_t{200});
    EXPECT_EQ(Bits(s), BitsOf("0 11001000"));
  }
  {
    BitStream s;
    s.WriteCompressed(uint16_t{0x00AB});
    EXPECT_EQ(Bits(s), BitsOf("1 0 10101011"));
  }
  {
    BitStream s;
    s.WriteCompressed(uint16_t{0x1234});
    EXPECT_EQ(Bits(s), BitsOf("0 00110100 00010010"));
  }
  {
    BitStream s;
    s.WriteCompressed(uint32_t{7});
    EXPECT_EQ(Bits(s), BitsOf("1111 0111"));
  }
  {
    // Plain values: little-endian bytes at the current bit.
    BitStream s;
    s.WriteBit(true);
    s.Write(uint8_t{0xFF});
    EXPECT_EQ(Bits(s), BitsOf("1 11111111"));
    BitStream t;
    Pad(t, 3);
    t.Write(uint16_t{0x1234});
    EXPECT_EQ(Bits(t), BitsOf("101 00110100 00010010"));
    BitStream f;
    f.Write(1.0f);  // 0x3F800000
    EXPECT_EQ(Bits(f), BitsOf("00000000 00000000 10000000 00111111"));
  }
  {
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
}

TEST(BitStreamEncoding, CompressedSizes) {
  struct Case {
    uint32_t value;
    uint32_t c8Bits, c16Bits, c32Bits;  // 0 = not representable in that width
  };
  const Case cases[] = {
      {0, 5, 6, 8},          {15, 5, 6, 8},         {16, 9, 10, 12},
      {255, 9, 10, 12},      {256, 0, 17, 19},      {0xFFFF, 0, 17, 19},
      {0x10000, 0, 0, 26},   {0xFFFFFF, 0, 0, 26},  {0x1000000, 0, 0, 33},
      {0xFFFFFFFF, 0, 0, 33},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    if (c.c8Bits) {
      BitStream s;
      s.WriteCompressed(static_cast<uint8_t>(c.value));
      EXPECT_EQ(s.GetNumberOfBitsUsed(), c.c8Bits);
    }
    if (c.c16Bits) {
      BitStream s;
      s.WriteCompressed(static_cast<uint16_t>(c.value));
      EXPECT_EQ(s.GetNumberOfBitsUsed(), c.c16Bits);
    }
    BitStream s;
    s.WriteCompressed(c.value);
    EXPECT_EQ(s.GetNumberOfBitsUsed(), c.c32Bits);
  }
}

TEST(BitStreamRoundTrip, EveryWidthAtEveryBitOffset) {
  const uint32_t boundaries[] = {0, 15, 16, 255, 256, 0xFFFF, 0x10000, 0xFFFFFFFF};
  for (uint32_t offset = 0; offset < 8; ++offset) {
    SCOPED_TRACE(offset);
    BitStream s;
    Pad(s, offset);
    s.Write(uint8_t{0xA5});
    s.Write(uint16_t{0xBEEF});
    s.Write(uint32_t{0xDEADBEEF});
    s.Write(int8_t{-2});
    s.Write(int16_t{-12345});
    s.Write(int32_t{-123456789});
    s.Write(-1.5f);
    s.Write(3.141592653589793);
    s.Write(true);
    for (uint32_t v : boundaries) {
      s.WriteCompressed(static_cast<uint8_t>(v));
      s.WriteCompressed(static_cast<uint16_t>(v));
      s.WriteCompressed(v);
    }

    SkipPad(s, offset);
    uint8_t u8 = 0;
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    int8_t i8 = 0;
    int16_t i16 = 0;
    int32_t i32 = 0;
    float f32 = 0;
    double f64 = 0;
    bool b = false;
    ASSERT_TRUE(s.Read(u8) && s.Read(u16) && s.Read(u32) && s.Read(i8) && s.Read(i16) &&
                s.Read(i32) && s.Read(f32) && s.Read(f64) && s.Read(b));
    EXPECT_EQ(u8, 0xA5);
    EXPECT_EQ(u16, 0xBEEF);
    EXPECT_EQ(u32, 0xDEADBEEFu);
    EXPECT_EQ(i8, -2);
    EXPECT_EQ(i16, -12345);
    EXPECT_EQ(i32, -123456789);
    EXPECT_EQ(f32, -1.5f);
    EXPECT_EQ(f64, 3.141592653589793);
    EXPECT_TRUE(b);
    for (uint32_t v : boundaries) {
      SCOPED_TRACE(v);
      // Pre-filled so a read that fails to zero the upper bytes shows.
      uint8_t c8 = 0xEE;
      uint16_t c16 = 0xEEEE;
      uint32_t c32 = 0xEEEEEEEE;
      ASSERT_TRUE(s.ReadCompressed(c8));
      ASSERT_TRUE(s.ReadCompressed(c16));
      ASSERT_TRUE(s.ReadCompressed(c32));
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

// Every kind of read, cut short at every length, fails without touching its
// output or the read position.
TEST(BitStreamBounds, TruncatedReadsFailAndLeaveOutputUntouched) {
  struct Kind {
    const char* name;
    void (*write)(BitStream&);
    bool (*read)(BitStream&);  // reads into sentinels; false if one changed
  };
  const Kind kinds[] = {
      {"u8", [](BitStream& s) { s.Write(uint8_t{1}); },
       [](BitStream& s) { uint8_t v = 0x77; return s.Read(v) || v != 0x77; }},
      {"u16", [](BitStream& s) { s.Write(uint16_t{1}); },
       [](BitStream& s) { uint16_t v = 0x77; return s.Read(v) || v != 0x77; }},
      {"u32", [](BitStream& s) { s.Write(uint32_t{1}); },
       [](BitStream& s) { uint32_t v = 0x77; return s.Read(v) || v != 0x77; }},
      {"f64", [](BitStream& s) { s.Write(1.0); },
       [](BitStream& s) { double v = 7; return s.Read(v) || v != 7; }},
      {"bit", [](BitStream& s) { s.WriteBit(true); },
       [](BitStream& s) { bool v = false; return s.ReadBit(v) || v; }},
      {"c8 small", [](BitStream& s) { s.WriteCompressed(uint8_t{5}); },
       [](BitStream& s) { uint8_t v = 0x77; return s.ReadCompressed(v) || v != 0x77; }},
      {"c8 big", [](BitStream& s) { s.WriteCompressed(uint8_t{200}); },
       [](BitStream& s) { uint8_t v = 0x77; return s.ReadCompressed(v) || v != 0x77; }},
      {"c16", [](BitStream& s) { s.WriteCompressed(uint16_t{0x1234}); },
       [](BitStream& s) { uint16_t v = 0x77; return s.ReadCompressed(v) || v != 0x77; }},
      {"c16 low", [](BitStream& s) { s.WriteCompressed(uint16_t{7}); },
       [](BitStream& s) { uint16_t v = 0x77; return s.ReadCompressed(v) || v != 0x77; }},
      {"c32", [](BitStream& s) { s.WriteCompressed(uint32_t{0x123456}); },
       [](BitStream& s) { uint32_t v = 0x77; return s.ReadCompressed(v) || v != 0x77; }},
      {"c32 low", [](BitStream& s) { s.WriteCompressed(uint32_t{200}); },
       [](BitStream& s) { uint32_t v = 0x77; return s.ReadCompressed(v) || v != 0x77; }},
      {"vec3", [](BitStream& s) { s.WriteVector(1, 2, 3); },
       [](BitStream& s) {
         float x = 7, y = 7, z = 7;
         return s.ReadVector(x, y, z) || x != 7 || y != 7 || z != 7;
       }},
      {"bytes", [](BitStream& s) { s.WriteBytes("abc", 3); },
       [](BitStream& s) {
         char v[3] = {'x', 'x', 'x'};
         return s.ReadBytes(v, 3) || std::memcmp(v, "xxx", 3) != 0;
       }},
      {"bits", [](BitStream& s) { s.WriteBits("\xFF\xFF", 11); },
       [](BitStream& s) {
         uint8_t v[2] = {0x12, 0x34};
         return s.ReadBits(v, 11) || v[0] != 0x12 || v[1] != 0x34;
       }},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.name);
    for (uint32_t lead = 0; lead < 8; lead += 3) {
      BitStream full;
      Pad(full, lead);
      k.write(full);
      for (uint32_t cut = lead; cut < full.GetNumberOfBitsUsed(); ++cut) {
        SCOPED_TRACE(cut);
        BitStream s(full.GetData(), cut);
        ASSERT_TRUE(s.IgnoreBits(lead));
        EXPECT_FALSE(k.read(s));
        EXPECT_EQ(s.GetReadOffset(), lead);
      }
    }
  }
}

TEST(BitStreamBounds, StreamOverExactBitCountStopsThere) {
  const uint8_t src[3] = {0xAB, 0xFF, 0xFF};
  BitStream s(src, 13);
  EXPECT_EQ(s.GetNumberOfBitsUsed(), 13u);
  EXPECT_EQ(s.GetNumberOfBytesUsed(), 2u);

  uint16_t u16 = 0;
  EXPECT_FALSE(s.Read(u16));
  uint8_t u8 = 0;
  ASSERT_TRUE(s.Read(u8));
  EXPECT_EQ(u8, 0xAB);
  uint8_t rest = 0;
  ASSERT_TRUE(s.ReadBits(&rest, 5));
  EXPECT_EQ(rest, 0xF8);  // five bits, low bits zero
  bool bit = false;
  EXPECT_FALSE(s.ReadBit(bit));
  EXPECT_FALSE(s.IgnoreBits(1));

  // Writing on continues at bit 13; the source's bits beyond the count are gone.
  s.WriteBit(false);
  s.WriteBit(true);
  EXPECT_EQ(Bits(s), BitsOf("10101011 11111 0 1"));

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
      if (tail) {
        EXPECT_EQ(out[whole], in[whole] & (0xFF00 >> tail));
      }
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

  bool b = false;
  std::vector<uint8_t> back(big.size());
  uint32_t c = 0;
  ASSERT_TRUE(s.ReadBit(b));
  ASSERT_TRUE(s.ReadBytes(back.data(), static_cast<uint32_t>(back.size())));
  ASSERT_TRUE(s.ReadCompressed(c));
  EXPECT_EQ(back, big);
  EXPECT_EQ(c, 0xFFFFFFFFu);

  // Byte by byte across the 1024-byte edge, then a copy of the whole thing.
  BitStream t;
  for (int i = 0; i < 1100; ++i) t.Write(static_cast<uint8_t>(i));
  BitStream copy(t.GetData(), t.GetNumberOfBitsUsed());
  for (int i = 0; i < 1100; ++i) {
    uint8_t v = 0;
    ASSERT_TRUE(copy.Read(v));
    ASSERT_EQ(v, static_cast<uint8_t>(i));
  }

  // Emptied after growing, the stream writes from scratch without old bits.
  t.Reset();
  EXPECT_EQ(t.GetNumberOfBitsUsed(), 0u);
  t.WriteBit(false);
  t.WriteBit(true);
  EXPECT_EQ(Bits(t), "01");
}

TEST(BitStreamVector, RoundTripAndSpecialValues) {
  {
    BitStream s;
    s.WriteVector(-120.5f, 33.25f, 7.0f);
    float x = 0, y = 0, z = 0;
    ASSERT_TRUE(s.ReadVector(x, y, z));
    const float m = std::sqrt(120.5f * 120.5f + 33.25f * 33.25f + 49.0f);
    EXPECT_NEAR(x, -120.5f, m / 30000);
    EXPECT_NEAR(y, 33.25f, m / 30000);
    EXPECT_NEAR(z, 7.0f, m / 30000);
  }
  {
    // Finite components whose squares overflow a float still travel.
    BitStream s;
    s.WriteVector(3e38f, 0, 0);
    float x = 0, y = 0, z = 0;
    ASSERT_TRUE(s.ReadVector(x, y, z));
    EXPECT_NEAR(x / 3e38f, 1.0f, 1e-4);
  }
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float zeroes[][3] = {{0, 0, 0}, {1e-6f, 0, 0}, {nan, 1, 1}, {inf, 0, 0}, {1, -inf, 0}};
  for (const auto& v : zeroes) {
    SCOPED_TRACE(testing::Message() << v[0] << "," << v[1] << "," << v[2]);
    BitStream s;
    s.WriteVector(v[0], v[1], v[2]);
    EXPECT_EQ(s.GetNumberOfBitsUsed(), 32u);  // magnitude only
    float m = 1;
    ASSERT_TRUE(s.Read(m));
    EXPECT_EQ(m, std::isfinite(v[0] + v[1] + v[2]) ? v[0] : 0.0f);  // non-finite travels as 0
    s.ResetReadPointer();
    float x = 7, y = 7, z = 7;
    ASSERT_TRUE(s.ReadVector(x, y, z));
    EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(y, 0.0f);
    EXPECT_EQ(z, 0.0f);
  }
  {
    // Directions sit at the ends of the u16 range: -1 is 0 and +1 is 65535.
    BitStream s;
    s.WriteVector(0, -2, 0);
    float m = 0;
    uint16_t cx = 0, cy = 1, cz = 0;
    ASSERT_TRUE(s.Read(m) && s.Read(cx) && s.Read(cy) && s.Read(cz));
    EXPECT_EQ(cy, 0);
    BitStream t;
    t.WriteVector(0, 0, 2);
    ASSERT_TRUE(t.Read(m) && t.Read(cx) && t.Read(cy) && t.Read(cz));
    EXPECT_EQ(cz, 65535);
  }
  {
    // A hostile infinite magnitude is consumed with its direction and yields 0,0,0.
    BitStream s;
    s.Write(inf);
    s.Write(uint16_t{65535});
    s.Write(uint16_t{32767});
    s.Write(uint16_t{32767});
    s.Write(uint8_t{9});
    float x = 7, y = 7, z = 7;
    ASSERT_TRUE(s.ReadVector(x, y, z));
    EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(y, 0.0f);
    EXPECT_EQ(z, 0.0f);
    uint8_t after = 0;
    ASSERT_TRUE(s.Read(after));
    EXPECT_EQ(after, 9);
  }
}

}  // namespace
}  // namespace net
