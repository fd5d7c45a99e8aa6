#include "net/types.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace net {
namespace {

TEST(SystemAddressTest, DottedTextAndNetworkOrder) {
  SystemAddress a;
  EXPECT_EQ(a, UNASSIGNED_SYSTEM_ADDRESS);
  EXPECT_EQ(a.ToString(), "255.255.255.255:65535");

  ASSERT_TRUE(a.SetBinaryAddress("192.168.1.20"));
  a.port = 7777;
  // The same value a socket's sockaddr_in.sin_addr.s_addr would hold.
  EXPECT_EQ(a.binaryAddress, htonl(0xC0A80114));
  EXPECT_EQ(a.ToString(), "192.168.1.20:7777");
  EXPECT_EQ(a.ToString(false), "192.168.1.20");

  SystemAddress b;
  ASSERT_TRUE(b.SetBinaryAddress("192.168.1.20"));
  EXPECT_NE(a, b);  // the port differs
  b.port = 7777;
  EXPECT_EQ(a, b);
}

TEST(SystemAddressTest, BadTextIsRefusedAndChangesNothing) {
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.-4", "a.b.c.d",
                          "1.2.3.4 ", " 1.2.3.4", "1.2.3.4:80", "localhost", "1..2.3"}) {
    SCOPED_TRACE(bad);
    SystemAddress a{htonl(0x0A000001), 80};
    EXPECT_FALSE(a.SetBinaryAddress(bad));
    EXPECT_EQ(a.ToString(), "10.0.0.1:80");
  }
  SystemAddress a;
  EXPECT_FALSE(a.SetBinaryAddress(nullptr));
  EXPECT_EQ(a, UNASSIGNED_SYSTEM_ADDRESS);
}

// Expected values come from a separate reference computation of the published
// algorithm; the 1-, 2- and 3-byte tails and tail bytes above 127 (which the
// algorithm treats as signed) each take their own path.
TEST(SuperFastHashTest, KnownValues) {
  EXPECT_EQ(SuperFastHash("", 0), 0u);
  EXPECT_EQ(SuperFastHash(nullptr, 5), 0u);
  EXPECT_EQ(SuperFastHash("abc", -1), 0u);
  EXPECT_EQ(SuperFastHash("a", 1), 0x115ea782u);
  EXPECT_EQ(SuperFastHash("ab", 2), 0x516b8b44u);
  EXPECT_EQ(SuperFastHash("abc", 3), 0xd2be198au);
  EXPECT_EQ(SuperFastHash("abcd", 4), 0xdad8b8dbu);
  EXPECT_EQ(SuperFastHash("abcde", 5), 0x51ed072eu);
  EXPECT_EQ(SuperFastHash("hello world", 11), 0xa68c6882u);
  EXPECT_EQ(SuperFastHash("Quillmere server 0.3", 20), 0xf5bbf237u);
  EXPECT_EQ(SuperFastHash("\xff", 1), 0u);  // length 1 plus signed -1
  EXPECT_EQ(SuperFastHash("ab\xff", 3), 0xc25f0954u);
  EXPECT_EQ(SuperFastHash("\x80\x81", 2), 0xfb1b8d10u);
  EXPECT_EQ(SuperFastHash("\xff\xfe\xfd\xfc\xfb\xfa\xf9", 7), 0x7833c0f0u);
  // Only `length` bytes count.
  EXPECT_EQ(SuperFastHash("abcdXYZ", 4), SuperFastHash("abcd", 4));
}

TEST(ClockTest, MillisecondsAreTheLow32BitsOfMicrosecondsOver1000) {
  const uint64_t before = GetTimeUs();
  const uint32_t ms = GetTimeMs();
  const uint64_t after = GetTimeUs();
  const uint32_t lo = static_cast<uint32_t>(before / 1000);
  EXPECT_LE(static_cast<uint32_t>(ms - lo), static_cast<uint32_t>(after / 1000) - lo);
}

}  // namespace
}  // namespace net
