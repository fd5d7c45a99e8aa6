// The peer against hostile input: random and truncated datagrams, malformed
// messages before and after the handshake, and connections that never ask.
// Throughout, a well-behaved client keeps being served and no slot is lost.
#include <gtest/gtest.h>

#include <random>

#include "net/peer.h"
#include "net/peer_test_helpers.h"

namespace net {
namespace {

using test::GivenIndex;
using test::Join;
using test::Node;
using test::RawClient;
using test::UdpSocket;
using test::WaitFor;

// An ENet CONNECT datagram as a client would send it; nobody acknowledges the answer.
std::vector<uint8_t> EnetConnectDatagram(uint32_t connectId) {
  std::vector<uint8_t> d;
  auto u16 = [&d](uint16_t v) {
    d.push_back(static_cast<uint8_t>(v >> 8));
    d.push_back(static_cast<uint8_t>(v));
  };
  auto u32 = [&](uint32_t v) {
    u16(static_cast<uint16_t>(v >> 16));
    u16(static_cast<uint16_t>(v));
  };
  u16(static_cast<uint16_t>(ENET_PROTOCOL_MAXIMUM_PEER_ID) |
      static_cast<uint16_t>(ENET_PROTOCOL_HEADER_FLAG_SENT_TIME));
  u16(1234);  // sent time
  d.push_back(static_cast<uint8_t>(ENET_PROTOCOL_COMMAND_CONNECT) |
              static_cast<uint8_t>(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE));
  d.push_back(0xFF);  // channel
  u16(1);             // reliable sequence number
  u16(0);             // outgoing peer id
  d.push_back(0);     // incoming session
  d.push_back(0);     // outgoing session
  u32(1400);          // mtu
  u32(32768);         // window size
  u32(2);             // channels
  u32(0);
  u32(0);  // bandwidths
  u32(5000);
  u32(2);
  u32(2);  // throttle
  u32(connectId);
  u32(0);  // data
  return d;
}

std::vector<uint8_t> Rpc(const std::string& name, const std::vector<uint8_t>& payload,
                         uint32_t bits) {
  std::vector<uint8_t> m{ID_RPC, static_cast<uint8_t>(name.size())};
  m.insert(m.end(), name.begin(), name.end());
  for (int i = 0; i < 4; ++i) m.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  m.insert(m.end(), payload.begin(), payload.end());
  return m;
}

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
    if (!good.peer.RPC("Echo", &n, 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, server.Address(),
                       false)) {
      return false;
    }
    return WaitFor({&server, &good}, [&] {
      return !good.calls.empty() && good.calls.back().payload == std::vector<uint8_t>{n};
    });
  }

  // Fills the remaining slots with new clients: they must get indices 1 and 2.
  void ExpectNoSlotLost() {
    Node second(1), third(1);
    EXPECT_EQ(Join(second, server), ID_CONNECTION_REQUEST_ACCEPTED);
    EXPECT_EQ(GivenIndex(second), 1);
    EXPECT_EQ(Join(third, server), ID_CONNECTION_REQUEST_ACCEPTED);
    EXPECT_EQ(GivenIndex(third), 2);
  }
};

TEST(GarbageTest, RandomAndTruncatedDatagramsAreIgnored) {
  Served s;
  ASSERT_EQ(Join(s.good, s.server), ID_CONNECTION_REQUEST_ACCEPTED);
  UdpSocket udp;
  const uint16_t port = s.server.peer.GetBoundPort();
  std::mt19937 rng(20240611);
  std::vector<uint8_t> d;
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
  const std::vector<uint8_t> connect = EnetConnectDatagram(77);
  for (size_t n = 0; n < connect.size(); ++n) {
    udp.SendTo(port, std::vector<uint8_t>(connect.begin(), connect.begin() + n));
  }
  ASSERT_TRUE(s.RoundTrip());

  s.server.Pump();
  for (const test::Received& r : s.server.got) {
    EXPECT_EQ(r.from, s.good.Address()) << "packet id " << int(r.Id());
  }
  EXPECT_EQ(s.server.Count(ID_NEW_INCOMING_CONNECTION), 1);
  s.ExpectNoSlotLost();
}

TEST(GarbageTest, MalformedMessagesAreDroppedBeforeAndAfterTheHandshake) {
  Served s;
  s.server.peer.SetIncomingPassword("pw", 2);
  s.server.Watch("Count");
  ASSERT_EQ(Join(s.good, s.server, "pw"), ID_CONNECTION_REQUEST_ACCEPTED);
  const std::vector<uint8_t> valid = Rpc("Count", {0xAB, 0xC0}, 10);

  // Before the request nothing is taken: not an RPC, not a fake notice.
  RawClient raw;
  ASSERT_TRUE(raw.Connect(s.server.peer.GetBoundPort()));
  for (const std::vector<uint8_t>& m :
       std::vector<std::vector<uint8_t>>{valid,
                                         {},
                                         {ID_NEW_INCOMING_CONNECTION},
                                         {ID_CONNECTION_REQUEST_ACCEPTED, 0, 0},
                                         {ID_DISCONNECTION_NOTIFICATION},
                                         {200, 1, 2}}) {
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
  std::vector<std::vector<uint8_t>> bad{
      {},
      {ID_RPC},
      Rpc("", {1, 2}, 16),
      Rpc("Count", {0xAB}, 9),
      Rpc("Count", {}, 0xFFFFFFFF),
      Rpc("Nobody", {1}, 8),
      {ID_CONNECTION_REQUEST, 'p', 'w'},
      {ID_CONNECTION_REQUEST_ACCEPTED, 1, 0},
      {ID_NEW_INCOMING_CONNECTION},
      {ID_DISCONNECTION_NOTIFICATION},
      {ID_CONNECTION_LOST},
      {ID_CONNECTION_BANNED},
  };
  for (size_t n = 1; n < valid.size(); ++n) bad.emplace_back(valid.begin(), valid.begin() + n);
  for (const std::vector<uint8_t>& m : bad) {
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
  EXPECT_EQ(s.server.calls.back().payload, (std::vector<uint8_t>{0xAB, 0xC0}));
  EXPECT_EQ(s.server.Count(ID_NEW_INCOMING_CONNECTION), 2);
  EXPECT_EQ(s.server.Count(ID_DISCONNECTION_NOTIFICATION), 0);
  EXPECT_EQ(s.server.Count(ID_CONNECTION_LOST), 0);
  EXPECT_EQ(s.server.Count(ID_CONNECTION_REQUEST_ACCEPTED), 0);
  EXPECT_EQ(s.server.Count(ID_CONNECTION_BANNED), 0);
  ASSERT_EQ(s.server.Count(200), 1);
  EXPECT_EQ(s.server.Last(200)->data, (std::vector<uint8_t>{200, 7, 8, 9}));
  EXPECT_EQ(s.server.Count(ID_RPC), 0);
  EXPECT_EQ(s.server.got.size(), 4u);  // the two 17s, 200 and 93
}

TEST(GarbageTest, ConnectionsThatNeverAskAreDroppedQuietly) {
  Node server(1);
  UdpSocket spoofer;
  spoofer.SendTo(server.peer.GetBoundPort(), EnetConnectDatagram(4242));  // never completes
  RawClient lurker;  // completes the ENet handshake and answers, but never asks
  ASSERT_TRUE(lurker.Connect(server.peer.GetBoundPort()));
  const uint64_t connected = platform::MonotonicUs();

  // Both slots are held meanwhile: a well-behaved client cannot get in yet.
  Node early(1);
  early.peer.SetTimeoutTime(500, UNASSIGNED_SYSTEM_ADDRESS);
  EXPECT_NE(Join(early, server), ID_CONNECTION_REQUEST_ACCEPTED);

  ASSERT_TRUE(lurker.ServiceUntil([&] { return lurker.disconnected; }, 8000));
  EXPECT_GE((platform::MonotonicUs() - connected) / 1000.0, 4900.0);
  EXPECT_TRUE(lurker.received.empty());

  // Both slots are back: the next client gets index 0, and the application
  // never heard of either.
  Node good(1);
  EXPECT_EQ(Join(good, server), ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(GivenIndex(good), 0);
  server.Pump();
  ASSERT_EQ(server.got.size(), 1u);
  EXPECT_EQ(server.got[0].Id(), ID_NEW_INCOMING_CONNECTION);
}

}  // namespace
}  // namespace net
