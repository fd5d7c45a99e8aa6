// The peer against hostile input: random and truncated datagrams, malformed
// messages before and after the handshake. Throughout, a well-behaved client
// keeps being served and no slot is lost.
#include <gtest/gtest.h>

#include <random>

#include "net/peer.h"
#include "net/peer_test_helpers.h"

namespace net {
namespace {

using namespace test;

// A client and server that answer each other's "Echo": the service check.
struct Served {
  Node server{3};
  Node good{1};
  int echoes = 0;

  Served() {
    server.peer.RegisterAsRemoteProcedureCall("Echo", [](RPCParameters* p) {
      p->recipient->RPC("Echo", p->input, p->numberOfBitsOfData, HIGH_PRIORITY, RELIABLE_ORDERED, 0,
                        p->sender, false);
    });
    good.Watch("Echo");
  }

  bool RoundTrip() {
    const uint8_t n = static_cast<uint8_t>(++echoes);
    return good.Rpc("Echo", &n, 8, server.Address()) && WaitFor({&server, &good}, [&] {
      return !good.calls.empty() && good.calls.back().payload == Bytes{n};
    });
  }
};

TEST(GarbageTest, RandomAndTruncatedDatagramsAreIgnored) {
  Served s;
  ASSERT_EQ(Join(s.good, s.server), ID_CONNECTION_REQUEST_ACCEPTED);
  UdpSocket udp;
  const uint16_t port = s.server.peer.GetBoundPort();
  std::mt19937 rng(20240611);
  Bytes d;
  for (int round = 0; round < 10; ++round) {
    for (int i = 0; i < 100; ++i) {
      // Mostly short ones, some past the 4096 bytes an ENet host reads.
      const size_t size = i % 10 == 0 ? 4000 + rng() % 3000 : rng() % 80;
      d.resize(size);
      for (uint8_t& b : d) b = static_cast<uint8_t>(rng());
      // Half of them aimed at the good client's slot (peer id 0) or at "no peer".
      if (size >= 2 && i % 2 == 0) {
        d[0] = static_cast<uint8_t>((i % 4 == 0 ? 0x80 : 0x8F) | (d[0] & 0x30));
        d[1] = i % 4 == 0 ? 0x00 : 0xFF;
      }
      udp.SendTo(port, d);
    }
    ASSERT_TRUE(s.RoundTrip()) << "round " << round;
  }
  // Every truncation of a real ENet CONNECT.
  const Bytes connect = EnetConnectDatagram(77);
  for (size_t n = 0; n < connect.size(); ++n) {
    udp.SendTo(port, Bytes(connect.begin(), connect.begin() + n));
  }
  ASSERT_TRUE(s.RoundTrip());

  s.server.Pump();
  for (const Received& r : s.server.got) {
    EXPECT_EQ(r.from, s.good.Address()) << "packet id " << int(r.Id());
  }
  EXPECT_EQ(s.server.Count(ID_NEW_INCOMING_CONNECTION), 1);
  // No slot was lost: the next two clients get indices 1 and 2.
  Node second(1), third(1);
  EXPECT_EQ(Join(second, s.server), ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(Join(third, s.server), ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(GivenIndex(second) + 10 * GivenIndex(third), 21);
}

TEST(GarbageTest, MalformedMessagesAreDroppedBeforeAndAfterTheHandshake) {
  Served s;
  s.server.peer.SetIncomingPassword("pw", 2);
  s.server.Watch("Count");
  ASSERT_EQ(Join(s.good, s.server, "pw"), ID_CONNECTION_REQUEST_ACCEPTED);
  const Bytes valid = RpcMessage("Count", {0xAB, 0xC0}, 10);

  // Before the request nothing is taken: not an RPC, not a fake notice.
  RawClient raw;
  ASSERT_TRUE(raw.Connect(s.server.peer.GetBoundPort()));
  for (const Bytes& m : std::vector<Bytes>{valid, {}, {ID_NEW_INCOMING_CONNECTION},
                                          {ID_CONNECTION_REQUEST_ACCEPTED, 0, 0},
                                          {ID_DISCONNECTION_NOTIFICATION}, {200, 1, 2}}) {
    raw.Send(m);
    raw.Send(m, false);
  }
  ASSERT_TRUE(s.RoundTrip());
  // Truncated requests are wrong passwords, and the connection is closed.
  RawClient truncated;
  ASSERT_TRUE(truncated.Connect(s.server.peer.GetBoundPort()));
  EXPECT_EQ(truncated.Request("p"), ID_INVALID_PASSWORD);
  EXPECT_TRUE(truncated.ServiceUntil([&] { return truncated.disconnected; }));
  EXPECT_EQ(raw.Request("pw"), ID_CONNECTION_REQUEST_ACCEPTED);
  ASSERT_TRUE(
      WaitFor({&s.server}, [&] { return s.server.Count(ID_NEW_INCOMING_CONNECTION) == 2; }));
  EXPECT_EQ(s.server.CallCount("Count"), 0);
  EXPECT_EQ(s.server.got.size(), 2u);  // the two 17s

  // After the request: malformed RPCs, truncations, bit counts past the end,
  // empty messages and ids that only the peer itself may raise.
  std::vector<Bytes> bad{{},
                         {ID_RPC},
                         RpcMessage("", {1, 2}, 16),
                         RpcMessage("Count", {0xAB}, 9),
                         RpcMessage("Count", {}, 0xFFFFFFFF),
                         RpcMessage("Nobody", {1}, 8),
                         {ID_CONNECTION_REQUEST, 'p', 'w'},
                         {ID_CONNECTION_REQUEST_ACCEPTED, 1, 0},
                         {ID_NEW_INCOMING_CONNECTION},
                         {ID_DISCONNECTION_NOTIFICATION},
                         {ID_CONNECTION_LOST},
                         {ID_CONNECTION_BANNED}};
  for (size_t n = 1; n < valid.size(); ++n) bad.emplace_back(valid.begin(), valid.begin() + n);
  for (const Bytes& m : bad) {
    raw.Send(m);
    raw.Send(m, false);
  }
  raw.Send({200, 7, 8, 9});  // unknown to the peer: the application decides
  raw.Send(valid);
  raw.Send({93});  // end marker
  ASSERT_TRUE(raw.ServiceUntil([&] {
    s.server.Pump();
    return s.server.Count(93) == 1;
  }));
  ASSERT_TRUE(s.RoundTrip());
  EXPECT_EQ(s.server.CallCount("Count"), 1);
  EXPECT_EQ(s.server.calls.back().bits, 10u);
  EXPECT_EQ(s.server.calls.back().payload, (Bytes{0xAB, 0xC0}));
  // Nothing else reached the application: the two 17s, 200 and 93.
  ASSERT_EQ(s.server.got.size(), 4u);
  EXPECT_EQ(s.server.Count(ID_NEW_INCOMING_CONNECTION), 2);
  ASSERT_EQ(s.server.Count(200), 1);
  EXPECT_EQ(s.server.Last(200)->data, (Bytes{200, 7, 8, 9}));
}

}  // namespace
}  // namespace net
