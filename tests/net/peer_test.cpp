// The peer end to end over real ENet on loopback (handshake and refusals,
// time-outs, traffic, hostile input), and the recording peer by itself.
#include "net/peer.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <random>
#include <tuple>

#include "net/bitstream.h"
#include "platform/platform.h"
#include "support/test_client.h"

namespace net {
namespace {

using support::Bytes;
using support::Loopback;
using support::RawClient;
using support::TestClient;

struct Server : TestClient {
  explicit Server(uint16_t connections = 4) { Listen(connections); }
  uint16_t Port() const { return LocalPort(); }
};

// The first answer to a connection attempt: 14, or the refusal (0 for none).
uint8_t Join(TestClient& client, Server& server, const std::string& password = "") {
  return client.Connect(server.Port(), password) ? uint8_t{ID_CONNECTION_REQUEST_ACCEPTED}
                                                 : client.LastRefusal();
}
TestClient& BoundTo(TestClient& c, const char* address) { return c.BindTo(address), c; }

// An RPC message as it travels: 11, name, u32 bit count, payload.
Bytes RpcMessage(const std::string& name, const Bytes& payload, uint32_t bits) {
  Bytes m{ID_RPC, static_cast<uint8_t>(name.size())};
  m.insert(m.end(), name.begin(), name.end());
  for (int i = 0; i < 4; ++i) m.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  m.insert(m.end(), payload.begin(), payload.end());
  return m;
}

// An ENet CONNECT datagram as a client would send it: peer id 0xFFF with the
// sent-time flag, time, command 2|0x80 on channel 0xFF, then its fields.
Bytes EnetConnectDatagram(uint8_t connectId) {
  return {0x8F, 0xFF, 0x04, 0xD2, 0x82, 0xFF, 0, 1, 0, 0, 0, 0,   0, 0, 0x05, 0x78,
          0,    0,    0x80, 0,    0,    0,    0, 2, 0, 0, 0, 0,   0, 0, 0,    0,
          0,    0,    0x13, 0x88, 0,    0,    0, 2, 0, 0, 0, 2,   0, 0, 0,    connectId,
          0,    0,    0,    0};
}

TEST(PeerTest, StartupShutdownAndLookups) {
  Peer peer;
  EXPECT_FALSE(peer.Connect("127.0.0.1", 7777, nullptr, 0));  // not started
  EXPECT_EQ(peer.Receive(), nullptr);
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(peer.Startup(2, 1, 0, nullptr));
    EXPECT_FALSE(peer.Startup(2, 1, 0, nullptr));  // already running
    Peer second;                                    // the port is taken
    EXPECT_FALSE(second.Startup(2, 1, peer.GetBoundPort(), nullptr));
    if (round == 0) peer.Shutdown();
  }
  EXPECT_EQ(peer.GetIndexFromSystemAddress(Loopback(1234)), -1);
  for (int index : {0, -1, 99}) EXPECT_EQ(peer.GetSystemAddressFromIndex(index), UNASSIGNED_SYSTEM_ADDRESS);
  EXPECT_EQ(peer.GetLastPing(Loopback(1234)), -1);
  const uint8_t byte = 92;
  EXPECT_FALSE(peer.Send(&byte, 8, HIGH_PRIORITY, RELIABLE, 0, Loopback(1234), false));
  EXPECT_FALSE(peer.Connect("", 7777, nullptr, 0));
}

TEST(PeerHandshakeTest, PasswordAndBansRefuseBeforeTheApplicationHears) {
  Server server;
  server.GetPeer().SetIncomingPassword("sesame", 6);
  TestClient right, wrong, none;
  EXPECT_EQ(Join(wrong, server, "sesam"), ID_INVALID_PASSWORD);
  EXPECT_EQ(Join(none, server), ID_INVALID_PASSWORD);
  EXPECT_EQ(Join(right, server, "sesame"), ID_CONNECTION_REQUEST_ACCEPTED);
  ASSERT_TRUE(server.WaitForPacket(ID_NEW_INCOMING_CONNECTION));
  const support::ReceivedPacket* incoming = server.LastPacket(ID_NEW_INCOMING_CONNECTION);
  EXPECT_EQ(incoming->from, right.Address());
  EXPECT_EQ(incoming->index, right.Index());
  Peer& peer = server.GetPeer();
  EXPECT_EQ(peer.GetIndexFromSystemAddress(right.Address()), right.Index());
  EXPECT_EQ(peer.GetIndexFromSystemAddress(wrong.Address()), -1);
  EXPECT_EQ(peer.GetSystemAddressFromIndex(right.Index()), right.Address());
  EXPECT_GE(peer.GetLastPing(right.Address()), 0);
  EXPECT_EQ(right.Server(), server.Address());
  EXPECT_EQ(wrong.PacketCount(ID_CONNECTION_ATTEMPT_FAILED) + wrong.PacketCount(ID_DISCONNECTION_NOTIFICATION), 0u);
  // Connecting again to a connected server is reported, not repeated.
  right.GetPeer().Connect("127.0.0.1", server.Port(), "sesame", 6);
  EXPECT_TRUE(right.WaitForPacket(ID_ALREADY_CONNECTED));

  peer.SetIncomingPassword(nullptr, 0);
  peer.AddToBanList("10.0.*.*");
  peer.AddToBanList("127.0.0.2");
  peer.AddToBanList("127.0.*.3");
  EXPECT_TRUE(peer.IsBanned("10.0.200.1"));
  // Other parts, other part counts, a part as a prefix, nothing at all.
  for (const char* free : {"10.1.0.1", "10.0.1", "110.0.1.1", "127.0.0.20"}) EXPECT_FALSE(peer.IsBanned(free)) << free;
  EXPECT_FALSE(peer.IsBanned(nullptr));
  peer.RemoveFromBanList("127.0.*.*");  // removal is by exact text: nothing
  EXPECT_TRUE(peer.IsBanned("127.0.9.3"));
  TestClient exact, wildcard, other, again;
  EXPECT_EQ(Join(BoundTo(exact, "127.0.0.2"), server), ID_CONNECTION_BANNED);
  EXPECT_EQ(Join(BoundTo(wildcard, "127.0.0.3"), server), ID_CONNECTION_BANNED);
  EXPECT_EQ(Join(BoundTo(other, "127.0.0.4"), server), ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_TRUE(server.WaitForPacket(ID_NEW_INCOMING_CONNECTION, 2));
  EXPECT_EQ(server.PacketCount(ID_NEW_INCOMING_CONNECTION), 2u);
  // Lifting the exact ban lets that address in; a timed ban ends by itself.
  peer.RemoveFromBanList("127.0.0.2");
  EXPECT_EQ(Join(BoundTo(again, "127.0.0.2"), server), ID_CONNECTION_REQUEST_ACCEPTED);
  peer.AddToBanList("*.*.*.*", 30);
  EXPECT_TRUE(peer.IsBanned("1.2.3.4"));
  EXPECT_TRUE(support::WaitUntil([&] { return !peer.IsBanned("1.2.3.4"); }, 3000));
  EXPECT_TRUE(peer.IsBanned("127.0.5.3"));  // the permanent one stays
  peer.ClearBanList();
  EXPECT_FALSE(peer.IsBanned("127.0.5.3"));
}

TEST(PeerHandshakeTest, FullServerRefusesAndFreedSlotsAreReusedLowestFirst) {
  Server server(2);
  TestClient a, b, c, d, e;
  ASSERT_EQ(Join(a, server), ID_CONNECTION_REQUEST_ACCEPTED);
  ASSERT_EQ(Join(b, server), ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(a.Index() * 10 + b.Index(), 1);
  EXPECT_EQ(Join(c, server), ID_NO_FREE_INCOMING_CONNECTIONS);
  // A refused client may try again straight away (it is not "already connected").
  EXPECT_EQ(Join(c, server), ID_NO_FREE_INCOMING_CONNECTIONS);
  EXPECT_EQ(c.PacketCount(ID_ALREADY_CONNECTED), 0u);

  // b leaves: the server sees 19 for index 1, and a newcomer gets index 1
  // again, its 17 handled after that 19. The server is not pumped in between,
  // so only the order of its queue keeps them apart.
  b.GetPeer().CloseConnection(server.Address(), false);
  for (int attempt = 0; attempt < 20 && !d.Connected(); ++attempt) Join(d, server);
  ASSERT_TRUE(d.Connected());
  EXPECT_EQ(d.Index(), 1);
  ASSERT_TRUE(server.WaitForPacket(ID_NEW_INCOMING_CONNECTION, 3));
  std::vector<uint8_t> atOne;
  for (const auto& r : server.AllPackets())
    if (r.index == 1) atOne.push_back(r.Id());
  EXPECT_EQ(atOne, (Bytes{ID_NEW_INCOMING_CONNECTION, ID_DISCONNECTION_NOTIFICATION, ID_NEW_INCOMING_CONNECTION}));
  EXPECT_EQ(server.LastPacket(ID_DISCONNECTION_NOTIFICATION)->from, b.Address());
  EXPECT_EQ(b.PacketCount(ID_DISCONNECTION_NOTIFICATION), 0u);  // closed without notice
  EXPECT_EQ(server.PacketCount(ID_CONNECTION_LOST), 0u);
  // a leaves as well: index 0 is the lowest free one.
  a.GetPeer().CloseConnection(server.Address(), false);
  ASSERT_TRUE(server.WaitForPacket(ID_DISCONNECTION_NOTIFICATION, 2));
  EXPECT_EQ(Join(e, server), ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(e.Index(), 0);
}

// The two slow deadlines share one wait: a joined client that falls silent is
// lost after 3 s, and connections that never ask are dropped quietly after 5 s.
TEST(PeerHandshakeTest, SilentAndUnaskingConnectionsAreDroppedOnTime) {
  Server server(3);
  TestClient live, early, next[3];
  RawClient silent, spoofer, lurker;  // lurker completes the ENet handshake, never asks
  ASSERT_TRUE(silent.Connect(server.Port()));
  ASSERT_EQ(silent.Request(""), ID_CONNECTION_REQUEST_ACCEPTED);
  const uint64_t lastHeard = platform::MonotonicUs();
  ASSERT_EQ(Join(live, server), ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(live.Index(), 1);
  spoofer.SendDatagram(server.Port(), EnetConnectDatagram(42));  // a handshake never completed
  ASSERT_TRUE(lurker.Connect(server.Port()));
  const uint64_t lurking = platform::MonotonicUs();
  // Every slot is held meanwhile: a well-behaved client cannot get in.
  early.GetPeer().SetTimeoutTime(500, UNASSIGNED_SYSTEM_ADDRESS);
  EXPECT_NE(Join(early, server), ID_CONNECTION_REQUEST_ACCEPTED);

  auto pumped = [&](const std::function<bool()>& done) {
    return [&, done] { return live.Pump(), server.Pump(), done(); };
  };
  // `silent` is no longer serviced: it answers nothing from here on.
  ASSERT_TRUE(lurker.ServiceUntil(pumped([&] { return server.PacketCount(ID_CONNECTION_LOST) == 1; }), 6000));
  EXPECT_GE((platform::MonotonicUs() - lastHeard) / 1000.0, 2900.0);
  EXPECT_EQ(server.LastPacket(ID_CONNECTION_LOST)->index, 0);
  ASSERT_TRUE(lurker.ServiceUntil(pumped([&] { return lurker.disconnected; }), 6000));
  EXPECT_GE((platform::MonotonicUs() - lurking) / 1000.0, 4900.0);
  EXPECT_TRUE(lurker.received.empty());

  // The connection that kept answering is unaffected, the application heard
  // only of the two joins and the loss, and every other slot is free again.
  EXPECT_EQ(server.GetPeer().GetIndexFromSystemAddress(live.Address()), 1);
  EXPECT_EQ(live.PacketCount(ID_CONNECTION_LOST), 0u);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(Join(next[i], server), i < 2 ? ID_CONNECTION_REQUEST_ACCEPTED : ID_NO_FREE_INCOMING_CONNECTIONS);
  EXPECT_EQ(next[0].Index() * 10 + next[1].Index(), 2);
  ASSERT_TRUE(server.WaitForPacket(ID_NEW_INCOMING_CONNECTION, 4));
  EXPECT_EQ(server.AllPackets().size(), 5u);
}

// One address holds at most four connections that are not yet accepted, a
// refused one only until its refusal is delivered; accepted ones are not
// limited (players share NATs).
TEST(PeerHandshakeTest, OneAddressCannotHoldTheSlotsOfOthers) {
  Server server(9);
  server.GetPeer().SetIncomingPassword("pw", 2);
  server.GetPeer().SetTimeoutTime(10000, UNASSIGNED_SYSTEM_ADDRESS);  // silence frees nothing here
  for (int i = 0; i < 5; ++i) {  // refused, then gone without a word
    RawClient gone;
    ASSERT_TRUE(gone.Connect(server.Port()));
    ASSERT_EQ(gone.Request(""), ID_INVALID_PASSWORD);
  }
  RawClient spoofer;  // eight handshakes from the same address, never completed
  for (uint8_t id = 1; id <= 8; ++id) spoofer.SendDatagram(server.Port(), EnetConnectDatagram(id));
  std::deque<TestClient> players;  // five from one other address: every one gets in
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(Join(BoundTo(players.emplace_back(), "127.0.0.2"), server, "pw"), ID_CONNECTION_REQUEST_ACCEPTED);
}

// A remote that restarts and connects again from the same address while its
// old connection is still open: one address must mean one connection.
TEST(PeerHandshakeTest, ReconnectFromTheSameAddressReplacesTheOldConnection) {
  Server server(3);
  server.Watch("Hi");
  RawClient client;
  ASSERT_TRUE(client.Connect(server.Port()));
  ASSERT_EQ(client.Request(""), ID_CONNECTION_REQUEST_ACCEPTED);
  client.Abandon();
  ASSERT_TRUE(client.Connect(server.Port()));
  ASSERT_EQ(client.Request(""), ID_CONNECTION_REQUEST_ACCEPTED);
  client.Send(RpcMessage("Hi", {0x5A}, 8));
  ASSERT_TRUE(server.WaitForRpc("Hi"));
  // The old connection ended (lost) before the new one began, and the
  // address now names only the new one.
  const auto& got = server.AllPackets();
  ASSERT_EQ(got.size(), 3u);
  const SystemAddress address = got[0].from;
  EXPECT_EQ(got[0].index * 100 + got[1].index * 10 + got[2].index, 1);
  EXPECT_EQ(got[1].Id(), ID_CONNECTION_LOST);
  EXPECT_EQ(got[2].Id(), ID_NEW_INCOMING_CONNECTION);
  EXPECT_EQ(got[2].from, address);
  EXPECT_EQ(server.LastRpc("Hi")->sender, address);
  EXPECT_EQ(server.GetPeer().GetIndexFromSystemAddress(address), 1);
  EXPECT_EQ(server.GetPeer().GetSystemAddressFromIndex(0), UNASSIGNED_SYSTEM_ADDRESS);
  const uint8_t byte = 92;
  ASSERT_TRUE(server.GetPeer().Send(&byte, 8, HIGH_PRIORITY, RELIABLE, 0, address, false));
  EXPECT_TRUE(client.ServiceUntil([&] { return !client.received.empty() && client.received.back() == Bytes{92}; }));
}

// ENet's clock follows the wall clock, which may be stepped (enet_time_set
// stands in for an NTP correction); the time-out counts real silence only.
TEST(PeerHandshakeTest, WallClockStepsLoseNoConnectionAndNowhereTimesOut) {
  Server server;
  TestClient client;
  server.Watch("Hi");
  ASSERT_EQ(Join(client, server), ID_CONNECTION_REQUEST_ACCEPTED);
  const uint8_t byte = 1;
  for (const int32_t step : {-2000, 4000, -2000}) {
    enet_time_set(enet_time_get() + static_cast<uint32_t>(step));
    // Long enough for many rounds of both network threads to have looked.
    const uint64_t until = platform::MonotonicUs() + 200000;
    server.WaitFor([&] { return client.Pump(), platform::MonotonicUs() >= until; });
    ASSERT_TRUE(client.SendRpc("Hi", &byte, 8)) << "step " << step;
    ASSERT_TRUE(server.WaitForRpc("Hi", server.Count("Hi") + 1));
  }
  for (TestClient* n : {static_cast<TestClient*>(&server), &client})
    EXPECT_EQ(n->PacketCount(ID_CONNECTION_LOST) + n->PacketCount(ID_DISCONNECTION_NOTIFICATION), 0u);

  auto deaf = std::make_unique<Server>(1);
  const uint16_t nowhere = deaf->Port();
  deaf.reset();
  TestClient lonely;
  lonely.GetPeer().SetTimeoutTime(300, UNASSIGNED_SYSTEM_ADDRESS);
  EXPECT_FALSE(lonely.Connect(nowhere));
  EXPECT_EQ(lonely.LastRefusal(), ID_CONNECTION_ATTEMPT_FAILED);
  EXPECT_EQ(lonely.LastPacket(ID_CONNECTION_ATTEMPT_FAILED)->index, -1);
  EXPECT_EQ(Join(lonely, server), ID_CONNECTION_REQUEST_ACCEPTED);  // the slot is free again
}

TEST(PeerTrafficTest, MessagesKeepTheirBitsAndCloseDeliversWhatWasQueued) {
  Server server;
  TestClient client({"Blob"}), loud({"Blob"});
  server.Watch("Blob");
  ASSERT_EQ(Join(client, server), ID_CONNECTION_REQUEST_ACCEPTED);
  Bytes big(7000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 31 + 7);
  Peer& peer = server.GetPeer();
  const uint8_t movement[3] = {96, 0xFF, 0xF0};  // 20 bits: arrive as 3 bytes
  EXPECT_TRUE(client.SendRpc("Blob", big.data(), 56000));  // more than one datagram
  EXPECT_TRUE(client.GetPeer().Send(movement, 20, HIGH_PRIORITY, UNRELIABLE_SEQUENCED, 0, server.Address(), false));
  EXPECT_TRUE(peer.RPC("Blob", big.data(), 13, HIGH_PRIORITY, RELIABLE_ORDERED, 0, client.Address(), false));
  ASSERT_TRUE(server.WaitFor([&] { return client.Pump(), server.Count("Blob") && client.Count("Blob") && server.PacketCount(96); }));
  EXPECT_EQ(server.LastRpc("Blob")->data, big);
  EXPECT_EQ(server.LastRpc("Blob")->sender, client.Address());
  EXPECT_EQ(client.LastRpc("Blob")->bits, 13u);
  EXPECT_EQ(client.LastRpc("Blob")->data, (Bytes{0x07, 0x20}));
  EXPECT_EQ(client.LastRpc("Blob")->sender, server.Address());
  EXPECT_EQ(server.PacketCount(ID_RPC), 0u);  // handled inside Receive, never handed over
  const support::ReceivedPacket* r = server.LastPacket(96);
  EXPECT_EQ(r->data, Bytes(movement, movement + 3));
  EXPECT_EQ(r->bits + r->index, 24u + client.Index());
  EXPECT_EQ(r->from, client.Address());
  // Unreliable traffic in a burst on loopback arrives (the throttle does not drop it).
  Bytes frame(64, 97);
  for (int i = 0; i < 200; ++i) {
    frame[1] = static_cast<uint8_t>(i);
    peer.Send(frame.data(), 64 * 8, HIGH_PRIORITY, UNRELIABLE_SEQUENCED, 0, client.Address(), false);
  }
  EXPECT_TRUE(client.WaitFor([&] { return client.LastPacket(97) && client.LastPacket(97)->data[1] == 199; }));
  EXPECT_EQ(client.LastPacket(97)->index, 0);  // the client's own index for its server

  // A close sends what was queued before it; only a close with notify tells
  // the server's own application.
  ASSERT_EQ(Join(loud, server), ID_CONNECTION_REQUEST_ACCEPTED);
  ASSERT_TRUE(server.WaitForPacket(ID_NEW_INCOMING_CONNECTION, 2));
  server.Clear();
  client.Clear();
  peer.RPC("Blob", big.data(), 3000 * 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, client.Address(), false);
  peer.CloseConnection(client.Address(), false);
  peer.RPC("Blob", big.data(), 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, loud.Address(), false);
  peer.CloseConnection(loud.Address(), true);
  ASSERT_TRUE(server.WaitFor([&] { return client.Pump(), loud.Pump(), !client.Connected() && !loud.Connected(); }));
  ASSERT_EQ(client.Count("Blob") + loud.Count("Blob"), 2u);
  EXPECT_EQ(client.LastRpc("Blob")->data, Bytes(big.begin(), big.begin() + 3000));
  EXPECT_EQ(client.LastPacket(ID_DISCONNECTION_NOTIFICATION)->from, server.Address());
  server.Pump();
  ASSERT_EQ(server.AllPackets().size(), 1u);
  EXPECT_EQ(server.LastPacket(ID_DISCONNECTION_NOTIFICATION)->from, loud.Address());
  EXPECT_EQ(peer.GetIndexFromSystemAddress(client.Address()) + peer.GetIndexFromSystemAddress(loud.Address()), -2);
  EXPECT_FALSE(peer.Send(movement, 8, HIGH_PRIORITY, RELIABLE, 0, client.Address(), false));
  // A peer shutting down says goodbye too.
  auto other = std::make_unique<Server>();
  client.Clear();
  ASSERT_TRUE(client.Connect(other->Port()));
  other.reset();
  EXPECT_TRUE(client.WaitForPacket(ID_DISCONNECTION_NOTIFICATION));
  EXPECT_EQ(client.PacketCount(ID_CONNECTION_LOST), 0u);
}

TEST(PeerTrafficTest, QueryDatagramIsAnsweredWithoutAConnection) {
  Server server;
  std::string response(1500, 'r');
  response[0] = 'Q';
  server.GetPeer().SetOfflinePingResponse(response.data(), static_cast<uint32_t>(response.size()));
  EXPECT_EQ(server.GetPeer().GetOfflinePingResponse(), response);
  RawClient udp;
  for (uint8_t id : {ID_PING, ID_PING_OPEN_CONNECTIONS}) {
    udp.SendDatagram(server.Port(), {id, 0x78, 0x56, 0x34, 0x12});
    Bytes expected{ID_PONG, 0x78, 0x56, 0x34, 0x12};
    expected.insert(expected.end(), response.begin(), response.end());
    EXPECT_EQ(udp.ReceiveDatagram(), expected);
  }
  udp.SendDatagram(server.Port(), {3, 0, 0, 0, 0});  // any other 5-byte datagram is not a query
  EXPECT_TRUE(udp.ReceiveDatagram(100).empty());
  server.Pump();
  EXPECT_TRUE(server.AllPackets().empty());
}

// The peer against hostile input. Throughout, a well-behaved client keeps
// being served (its "Echo" comes back) and no slot is lost.
struct Served {
  Server server{3};
  TestClient good{{"Echo"}};
  uint8_t echoes = 0;
  Served() {
    server.GetPeer().RegisterAsRemoteProcedureCall("Echo", [](RPCParameters* p) {
      p->recipient->RPC("Echo", p->input, p->numberOfBitsOfData, HIGH_PRIORITY, RELIABLE_ORDERED, 0, p->sender, false);
    });
  }
  bool RoundTrip() {
    const uint8_t n = ++echoes;
    return good.SendRpc("Echo", &n, 8) &&
           good.WaitFor([&] { return server.Pump(), good.Count("Echo") && good.LastRpc("Echo")->data == Bytes{n}; });
  }
};

TEST(PeerGarbageTest, RandomAndTruncatedDatagramsAreIgnored) {
  Served s;
  ASSERT_EQ(Join(s.good, s.server), ID_CONNECTION_REQUEST_ACCEPTED);
  RawClient udp;
  std::mt19937 rng(20240611);
  Bytes d;
  for (int round = 0; round < 10; ++round) {
    for (int i = 0; i < 100; ++i) {
      // Mostly short ones, some past the 4096 bytes an ENet host reads.
      d.resize(i % 10 == 0 ? 4000 + rng() % 3000 : rng() % 80);
      for (uint8_t& b : d) b = static_cast<uint8_t>(rng());
      // Half of them aimed at the good client's slot (peer id 0) or at "no peer".
      if (d.size() >= 2 && i % 2 == 0) {
        d[0] = static_cast<uint8_t>((i % 4 == 0 ? 0x80 : 0x8F) | (d[0] & 0x30));
        d[1] = i % 4 == 0 ? 0x00 : 0xFF;
      }
      udp.SendDatagram(s.server.Port(), d);
    }
    ASSERT_TRUE(s.RoundTrip()) << "round " << round;
  }
  const Bytes connect = EnetConnectDatagram(77);  // every truncation of a real CONNECT
  for (size_t n = 0; n < connect.size(); ++n) udp.SendDatagram(s.server.Port(), Bytes(connect.begin(), connect.begin() + n));
  ASSERT_TRUE(s.RoundTrip());
  for (const auto& r : s.server.AllPackets()) EXPECT_EQ(r.from, s.good.Address()) << "packet id " << int(r.Id());
  EXPECT_EQ(s.server.PacketCount(ID_NEW_INCOMING_CONNECTION), 1u);
  TestClient second, third;  // no slot was lost: the next two get indices 1 and 2
  EXPECT_EQ(Join(second, s.server), ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(Join(third, s.server), ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(second.Index() * 10 + third.Index(), 12);
}

// What the peer drops after the request is in the recording peer's test.
TEST(PeerGarbageTest, NothingIsTakenBeforeTheRequest) {
  Served s;
  s.server.GetPeer().SetIncomingPassword("pw", 2);
  s.server.Watch("Count");
  ASSERT_EQ(Join(s.good, s.server, "pw"), ID_CONNECTION_REQUEST_ACCEPTED);
  const Bytes valid = RpcMessage("Count", {0xAB, 0xC0}, 10);
  // Not an RPC, not a fake notice, nothing empty.
  RawClient raw, truncated;
  ASSERT_TRUE(raw.Connect(s.server.Port()));
  for (const Bytes& m : std::vector<Bytes>{valid, {}, {ID_NEW_INCOMING_CONNECTION}, {ID_CONNECTION_REQUEST_ACCEPTED, 0, 0},
                                          {ID_DISCONNECTION_NOTIFICATION}, {200, 1, 2}})
    raw.Send(m), raw.Send(m, false);
  ASSERT_TRUE(s.RoundTrip());
  // Truncated requests are wrong passwords, and the connection is closed.
  ASSERT_TRUE(truncated.Connect(s.server.Port()));
  EXPECT_EQ(truncated.Request("p"), ID_INVALID_PASSWORD);
  EXPECT_TRUE(truncated.ServiceUntil([&] { return truncated.disconnected; }));
  EXPECT_EQ(raw.Request("pw"), ID_CONNECTION_REQUEST_ACCEPTED);
  for (const Bytes& m : std::vector<Bytes>{{}, {ID_CONNECTION_REQUEST, 'p', 'w'}, valid, {93}}) raw.Send(m), raw.Send(m, false);
  ASSERT_TRUE(raw.ServiceUntil([&] { return s.server.Pump(), s.server.PacketCount(93) == 2; }));
  ASSERT_TRUE(s.RoundTrip());
  EXPECT_EQ(s.server.Count("Count"), 2u);  // after the request, both ways
  EXPECT_EQ(s.server.AllPackets().size(), 4u);  // the two 17s and the two 93s
}

// A peer started while recording: sends are kept as {receivers, message} and
// remotes are handed in by slot.
struct Recording : Peer {
  Recording() {
    RecordSendsInsteadOfSending(true);
    Startup(3, 1, 0, nullptr);
    RecordSendsInsteadOfSending(false);
  }
  std::vector<std::tuple<std::vector<int>, bool, Bytes>> Take() {
    std::vector<std::tuple<std::vector<int>, bool, Bytes>> out;
    for (RecordedSend& s : TakeRecorded()) out.emplace_back(s.to, s.reliable, s.message);
    return out;
  }
};
using Sends = std::vector<std::tuple<std::vector<int>, bool, Bytes>>;

TEST(RecordingPeerTest, SendsGoToTheirTargetsAndInjectedMessagesToTheHandlers) {
  Recording peer;
  ASSERT_TRUE(peer.IsRecording());
  const SystemAddress a = Loopback(1), b = Loopback(2), c = Loopback(3);
  ASSERT_TRUE(peer.InjectConnection(0, a) && peer.InjectConnection(1, b) && peer.InjectConnection(3, c));
  EXPECT_FALSE(peer.InjectConnection(1, a));  // taken
  EXPECT_FALSE(peer.InjectConnection(4, a));  // beyond the slots
  const uint8_t kind[] = {1, 2, 3, 4}, thirteen[2] = {0xDE, 0xAF};  // 0xAF's low 3 bits are not sent
  auto rpc = [&](const uint8_t* data, uint32_t bits, const SystemAddress& to, bool broadcast) {
    return peer.RPC("T", data, bits, HIGH_PRIORITY, RELIABLE_ORDERED, 0, to, broadcast);
  };
  EXPECT_TRUE(rpc(&kind[0], 8, b, false));
  EXPECT_TRUE(rpc(&kind[1], 8, UNASSIGNED_SYSTEM_ADDRESS, true));
  EXPECT_TRUE(rpc(&kind[2], 8, b, true));  // all but b
  EXPECT_FALSE(rpc(&kind[3], 8, UNASSIGNED_SYSTEM_ADDRESS, false));
  EXPECT_FALSE(rpc(&kind[3], 8, Loopback(9), false));
  EXPECT_TRUE(rpc(thirteen, 13, a, false));
  EXPECT_TRUE(rpc(nullptr, 0, a, false));
  EXPECT_FALSE(peer.RPC("", kind, 8, HIGH_PRIORITY, RELIABLE, 0, a, false));  // names empty or too long
  EXPECT_FALSE(peer.RPC(std::string(256, 'n').c_str(), kind, 8, HIGH_PRIORITY, RELIABLE, 0, a, false));
  BitStream stream;  // 17 bits
  stream.Write(uint16_t{0x1234});
  stream.WriteBit(true);
  const uint16_t set[] = {3, 0, 2, 4095, 3};  // free slot 2, beyond any, a repeat: skipped
  EXPECT_EQ(peer.RPC("T", &stream, HIGH_PRIORITY, RELIABLE_ORDERED, 0, set), 2);
  EXPECT_EQ(peer.Send(&stream, HIGH_PRIORITY, UNRELIABLE_SEQUENCED, 0, set), 2);
  EXPECT_FALSE(peer.Send(thirteen, 0, HIGH_PRIORITY, RELIABLE, 0, a, false));
  peer.CloseConnection(c, false);
  EXPECT_EQ(peer.Take(), (Sends{{{1}, true, {11, 1, 'T', 8, 0, 0, 0, 1}},
                                {{0, 1, 3}, true, {11, 1, 'T', 8, 0, 0, 0, 2}},
                                {{0, 3}, true, {11, 1, 'T', 8, 0, 0, 0, 3}},
                                {{0}, true, {11, 1, 'T', 13, 0, 0, 0, 0xDE, 0xA8}},
                                {{0}, true, {11, 1, 'T', 0, 0, 0, 0}},
                                {{3, 0}, true, {11, 1, 'T', 17, 0, 0, 0, 0x34, 0x12, 0x80}},
                                {{3, 0}, false, {0x34, 0x12, 0x80}},
                                {{3}, false, {}}}));
  EXPECT_TRUE(peer.Take().empty());

  // Injected in order: calls without a handler are dropped; a handler may
  // answer, unregister itself and register another within one Receive();
  // malformed calls, bit counts past the end and ids only the peer itself
  // raises are dropped; anything else reaches the application.
  std::vector<std::string> calls;
  peer.RegisterAsRemoteProcedureCall("Ping", [&](RPCParameters* p) {
    calls.push_back("Ping");
    const uint8_t reply = p->input[0] + 1;
    p->recipient->RPC("Pong", &reply, 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, p->sender, false);
    p->recipient->UnregisterAsRemoteProcedureCall("Ping");
    p->recipient->RegisterAsRemoteProcedureCall("Late", [&](RPCParameters* q) {
      calls.push_back("Late " + std::to_string(q->numberOfBitsOfData) + ":" + std::to_string(q->input[0] * 256 + q->input[1]));
    });
  });
  const Bytes valid = RpcMessage("Late", {0xAB, 0xC0}, 10);
  std::vector<Bytes> in{RpcMessage("Nobody", {1}, 8), RpcMessage("Ping", {1}, 8), RpcMessage("Ping", {1}, 8), {ID_RPC},
                        RpcMessage("", {1, 2}, 16), RpcMessage("Late", {0xAB}, 9), RpcMessage("Late", {}, 0xFFFFFFFF),
                        {ID_CONNECTION_REQUEST, 'p', 'w'}, {ID_CONNECTION_REQUEST_ACCEPTED, 1, 0}, {ID_NEW_INCOMING_CONNECTION},
                        {ID_DISCONNECTION_NOTIFICATION}, {ID_CONNECTION_LOST}, {ID_CONNECTION_BANNED}, {200, 7}, valid};
  for (size_t n = 1; n < valid.size(); ++n) in.emplace_back(valid.begin(), valid.begin() + n);
  for (const Bytes& m : in) EXPECT_TRUE(peer.InjectMessage(1, m.data(), static_cast<uint32_t>(m.size())));
  EXPECT_FALSE(peer.InjectMessage(2, kind, 1));  // a free slot
  EXPECT_FALSE(peer.InjectMessage(0, kind, 0));
  peer.InjectDisconnection(0, true);
  std::vector<std::tuple<int, int, SystemAddress, uint32_t>> got;
  while (Packet* p = peer.Receive()) {
    got.emplace_back(p->data[0], p->systemIndex, p->systemAddress, p->bitSize);
    peer.DeallocatePacket(p);
  }
  using Got = std::vector<std::tuple<int, int, SystemAddress, uint32_t>>;
  EXPECT_EQ(got, (Got{{ID_NEW_INCOMING_CONNECTION, 0, a, 8}, {ID_NEW_INCOMING_CONNECTION, 1, b, 8},
                      {ID_NEW_INCOMING_CONNECTION, 3, c, 8}, {200, 1, b, 16}, {ID_CONNECTION_LOST, 0, a, 8}}));
  EXPECT_EQ(calls, (std::vector<std::string>{"Ping", "Late 10:43968"}));
  EXPECT_EQ(peer.Take(), (Sends{{{1}, true, {11, 4, 'P', 'o', 'n', 'g', 8, 0, 0, 0, 2}}}));
  EXPECT_EQ(peer.GetIndexFromSystemAddress(a), -1);
  EXPECT_TRUE(peer.InjectConnection(0, a));  // the slot is free again
}

// A remote that floods calls must not hold the application inside Receive().
TEST(RecordingPeerTest, ReceiveReturnsAfterAFixedNumberOfCallsAndLosesNone) {
  Recording peer;
  ASSERT_TRUE(peer.InjectConnection(0, Loopback(1)));
  int handled = 0;
  peer.RegisterAsRemoteProcedureCall("Flood", [&](RPCParameters*) { ++handled; });
  const Bytes call = RpcMessage("Flood", {7}, 8), marker{200};
  for (int i = 0; i < 600; ++i) peer.InjectMessage(0, call.data(), static_cast<uint32_t>(call.size()));
  peer.InjectMessage(0, marker.data(), 1);
  std::vector<int> perCall;
  for (bool marker = false; !marker && perCall.size() < 10;) {
    const int before = handled;
    Packet* p = peer.Receive();
    marker = p && p->data[0] == 200;
    peer.DeallocatePacket(p);
    perCall.push_back(handled - before);
  }
  EXPECT_EQ(perCall, (std::vector<int>{0, 256, 256, 88}));  // the 17 first
}

TEST(RowUpdateTest, WrittenAndParsedByteExact) {
  Recording peer;
  ASSERT_TRUE(peer.InjectConnection(0, Loopback(1)));
  LightweightDatabaseClient client;
  EXPECT_FALSE(client.UpdateRow("t", "p", RUM_UPDATE_OR_ADD_ROW, false, 0, {}, Loopback(1), false));  // not attached
  client.Attach(&peer);
  std::vector<RowCell> cells(2);
  cells[0].columnName = "P";
  cells[0].number = 7777;
  cells[1] = {"N", RowCell::STRING, 0, "ab"};
  ASSERT_TRUE(client.UpdateRow("T", "pw", RUM_UPDATE_EXISTING_ROW, true, 0xCAFEBABE, cells, Loopback(1), false));
  ASSERT_TRUE(client.UpdateRow("T", "", RUM_ADD_NEW_ROW, false, 0, {}, Loopback(1), false));
  // Table, password, mode, bit 1 + u32 row id, u8 count, then each cell's
  // name, type and f64 or u16 length + text, all from bit 1 on.
  const Bytes first{0x47, 0x01, 0x54, 0x02, 0x70, 0x77, 0x01, 0xDF, 0x5D, 0x7F, 0x65, 0x01, 0x00, 0xA8, 0x00, 0x00,
                    0x00, 0x00, 0x00, 0x00, 0x30, 0xDF, 0x20, 0x00, 0xA7, 0x00, 0x81, 0x00, 0x30, 0xB1, 0x00};
  const Bytes second{71, 1, 'T', 0, 2, 0x00, 0x00};  // bit 0 and count 0 share bytes
  const auto sent = peer.Take();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(std::get<2>(sent[0]), first);
  EXPECT_EQ(std::get<2>(sent[1]), second);

  LightweightDatabaseClient::RowUpdate row;
  ASSERT_TRUE(LightweightDatabaseClient::ParseRowUpdate(first.data(), static_cast<uint32_t>(first.size()), row));
  EXPECT_EQ(row.tableName + "/" + row.updatePassword, "T/pw");
  EXPECT_EQ(row.mode, RUM_UPDATE_EXISTING_ROW);
  EXPECT_EQ(row.rowId, 0xCAFEBABEu);
  ASSERT_EQ(row.cells.size(), 2u);
  EXPECT_EQ(row.cells[0].number, 7777.0);
  EXPECT_EQ(row.cells[1].columnName + "=" + row.cells[1].text, "N=ab");
  EXPECT_EQ(row.cells[1].type, RowCell::STRING);
  for (size_t n = 0; n < first.size(); ++n) {  // every truncation fails, output untouched
    LightweightDatabaseClient::RowUpdate partial;
    partial.tableName = "untouched";
    EXPECT_FALSE(LightweightDatabaseClient::ParseRowUpdate(first.data(), static_cast<uint32_t>(n), partial)) << n;
    EXPECT_EQ(partial.tableName, "untouched");
  }
  ASSERT_TRUE(LightweightDatabaseClient::ParseRowUpdate(second.data(), 7, row));
  EXPECT_EQ(row.mode, RUM_ADD_NEW_ROW);
  EXPECT_FALSE(row.hasRowId);
  EXPECT_TRUE(row.cells.empty());
  Bytes badMode = second;  // an unknown mode is refused
  badMode[4] = 3;
  EXPECT_FALSE(LightweightDatabaseClient::ParseRowUpdate(badMode.data(), 7, row));
}

}  // namespace
}  // namespace net
