// The cookie in front of ENet's handshake: its bytes, its life, and which
// datagrams to "no peer yet" may reach ENet, on a clock the test sets.
#include "net/cookie.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_client.h"

namespace net {
namespace {

using support::Bytes;
using support::EnetConnectDatagram;

const HashKey kKey = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const uint32_t kClient = 0x0100007F;  // 127.0.0.1 as ENet holds it
const uint32_t kOther = 0x0200007F;

Bytes Joined(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(CookieTest, RequestAndAnswerBytes) {
  const CookieDatagram request = CookieRequest(0x12345678);
  EXPECT_EQ(Bytes(request.begin(), request.end()),
            (Bytes{0xFF, 0xFF, 0x51, 0x52, 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0}));
  const CookieDatagram answer = CookieAnswer(0x12345678, 0xCAFEBABE);
  EXPECT_EQ(Bytes(answer.begin(), answer.end()),
            (Bytes{0xFF, 0xFF, 0x51, 0x41, 0x78, 0x56, 0x34, 0x12, 0xBE, 0xBA, 0xFE, 0xCA}));

  // Not requests: each a request with one thing wrong.
  const Bytes good(request.begin(), request.end());
  auto with = [&](size_t at, uint8_t value) {
    Bytes d = good;
    d[at] = value;
    return d;
  };
  const std::vector<Bytes> notRequests{
      Bytes(good.begin(), good.end() - 1),
      Joined(good, {0}),
      with(0, 0x8F),
      with(3, 0x41),  // an answer
      with(11, 1),    // the padding is zero
  };
  uint32_t nonce = 0;
  for (const Bytes& d : notRequests) {
    EXPECT_FALSE(ReadCookieRequest(d.data(), d.size(), &nonce)) << testing::PrintToString(d);
  }
}

TEST(CookieTest, GoodForItsSlotAndTheNextForItsAddressAndKeyOnly) {
  const Cookies cookies(kKey);
  const uint64_t made = 4999;  // the end of the first 5 s slot
  const uint32_t cookie = cookies.Make(kClient, made);
  struct Row {
    uint32_t host;
    uint32_t cookie;
    uint64_t atMs;
    bool good;
  };
  const Row rows[] = {
      {kClient, cookie, made, true},
      {kClient, cookie, 9999, true},                                   // the next slot
      {kClient, cookie, 10000, false},                                 // two slots on: stale
      {kOther, cookie, made, false},                                   // another address
      {kClient, 0, made, false},                                       // none
      {kClient, Cookies(HashKey{}).Make(kClient, made), made, false},  // another server's
  };
  for (const Row& r : rows) {
    EXPECT_EQ(cookies.Check(r.host, r.cookie, r.atMs), r.good) << "at " << r.atMs;
  }
  // A cookie depends on the time slot, or one would be good forever.
  EXPECT_NE(cookies.Make(kClient, 5000), cookie);
}

TEST(CookieTest, OnlyOneWellFormedConnectWithAGoodCookieReachesENet) {
  const Cookies cookies(kKey);
  const uint64_t now = 50000;
  const uint32_t good = cookies.Make(kClient, now);
  const Bytes connect = EnetConnectDatagram(1, good);
  Bytes noSentTime = connect;  // ENet reads a header without its sent time too
  noSentTime[0] = 0x0F;
  noSentTime.erase(noSentTime.begin() + 2, noSentTime.begin() + 4);
  Bytes compressed = connect;
  compressed[0] |= 0x40;
  Bytes reliable = connect;  // the same bytes as another command
  reliable[4] = 0x86;
  struct Row {
    std::string name;
    Bytes datagram;
    bool admitted;
  };
  const Row rows[] = {
      {"good", connect, true},
      {"good, no sent time", noSentTime, true},
      {"no cookie", EnetConnectDatagram(1), false},
      {"stale", EnetConnectDatagram(1, cookies.Make(kClient, now - 10000)), false},
      {"another address's", EnetConnectDatagram(1, cookies.Make(kOther, now)), false},
      {"outgoing peer 0xFFF", EnetConnectDatagram(1, good, 0xFFF), false},
      {"compressed", compressed, false},
      {"not a connect", reliable, false},
      {"a command after it", Joined(connect, {0x85, 0xFF, 0, 2}), false},
      {"cut short", Bytes(connect.begin(), connect.end() - 1), false},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(AdmitsConnect(r.datagram.data(), r.datagram.size(), kClient, cookies, now),
              r.admitted)
        << r.name;
  }
}

}  // namespace
}  // namespace net
