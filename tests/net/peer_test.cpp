// The peer end to end over real ENet on loopback (handshake and refusals,
// time-outs, traffic, hostile input), and the recording peer by itself.
// Tuples are brace-initialised so that their parts run left to right.
#include "net/peer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>
#include <deque>
#include <memory>
#include <random>
#include <tuple>

#include "net/bitstream.h"
#include "platform/platform.h"
#include "support/test_client.h"

namespace net {
namespace {

using namespace support;

const uint8_t kByte = 92;

struct Server : TestClient {
  explicit Server(uint16_t connections = 4, std::initializer_list<std::string> watched = {})
      : TestClient(watched) { Listen(connections); }
  uint16_t Port() const { return LocalPort(); }
};

// The first answer to a connection attempt: 14, or the refusal (0 for none).
int Join(TestClient& client, Server& server, const std::string& password = "", const char* from = nullptr) {
  if (from) client.BindTo(from);
  return client.Connect(server.Port(), password) ? ID_CONNECTION_REQUEST_ACCEPTED : client.LastRefusal();
}

// An RPC message as it travels: 11, name, u32 bit count, payload.
Bytes RpcMessage(const std::string& name, const Bytes& payload, uint32_t bits) {
  Bytes m{ID_RPC, static_cast<uint8_t>(name.size())};
  m.insert(m.end(), name.begin(), name.end());
  for (int i = 0; i < 4; ++i) m.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  return m.insert(m.end(), payload.begin(), payload.end()), m;
}

// An ENet CONNECT datagram as a client would send it: peer id 0xFFF with the
// sent-time flag, time, command 2|0x80 on channel 0xFF, then its fields.
Bytes EnetConnectDatagram(uint8_t connectId) {
  return {0x8F, 0xFF, 0x04, 0xD2, 0x82, 0xFF, 0, 1, 0, 0, 0, 0, 0, 0, 0x05, 0x78, 0, 0, 0x80, 0, 0, 0, 0, 2, 0, 0,
          0, 0, 0, 0, 0, 0, 0, 0, 0x13, 0x88, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, connectId, 0, 0, 0, 0};
}

TEST(PeerTest, StartupShutdownAndLookups) {
  Peer peer;
  EXPECT_FALSE(peer.Connect("127.0.0.1", 7777, nullptr, 0) || peer.Receive());  // not started
  // A shutdown gives back every descriptor the start took.
  const auto fds = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
  const auto before = fds();
  for (int round = 0; round < 3; ++round) EXPECT_TRUE(peer.Startup(2, 1, 0, nullptr) && (peer.Shutdown(), true));
  EXPECT_EQ(fds(), before);
  for (int round = 0; round < 2; ++round) {
    Peer second;
    ASSERT_TRUE(peer.Startup(2, 1, 0, nullptr));
    EXPECT_FALSE(peer.Startup(2, 1, 0, nullptr) || second.Startup(2, 1, peer.GetBoundPort(), nullptr));  // running; port taken
    if (round == 0) peer.Shutdown();
  }
  EXPECT_EQ(peer.GetIndexFromSystemAddress(Loopback(1234)) + peer.GetLastPing(Loopback(1234)), -2);
  for (int index : {0, -1, 99}) EXPECT_EQ(peer.GetSystemAddressFromIndex(index), UNASSIGNED_SYSTEM_ADDRESS);
  EXPECT_FALSE(peer.Send(&kByte, 8, HIGH_PRIORITY, RELIABLE, 0, Loopback(1234), false) || peer.Connect("", 7777, nullptr, 0));
}

TEST(PeerHandshakeTest, PasswordAndBansRefuseBeforeTheApplicationHears) {
  Server server;
  Peer& peer = server.GetPeer();
  peer.SetIncomingPassword("sesame", 6);
  TestClient right, wrong, none, wildcard, other;
  EXPECT_EQ((std::tuple{Join(wrong, server, "sesam"), Join(none, server), Join(right, server, "sesame")}),
            (std::tuple{ID_INVALID_PASSWORD, ID_INVALID_PASSWORD, ID_CONNECTION_REQUEST_ACCEPTED}));
  ASSERT_TRUE(server.WaitForPacket(ID_NEW_INCOMING_CONNECTION));
  const support::ReceivedPacket* in = server.LastPacket(ID_NEW_INCOMING_CONNECTION);
  EXPECT_EQ((std::tuple{in->from, in->index, right.LastPacket(ID_CONNECTION_REQUEST_ACCEPTED)->from, peer.GetIndexFromSystemAddress(right.Address()),
                        peer.GetIndexFromSystemAddress(wrong.Address()), peer.GetSystemAddressFromIndex(right.Index()),
                        peer.GetLastPing(right.Address()) >= 0, wrong.PacketCount(15) + wrong.PacketCount(19)}),
            (std::tuple{right.Address(), int{right.Index()}, server.Address(), int{right.Index()}, -1, right.Address(), true, 0u}));
  // Connecting again to a connected server is reported, not repeated.
  EXPECT_TRUE((right.GetPeer().Connect("127.0.0.1", server.Port(), "sesame", 6), right.WaitForPacket(ID_ALREADY_CONNECTED)));

  peer.SetIncomingPassword(nullptr, 0);
  for (const char* ban : {"10.0.*.*", "127.0.0.2", "127.0.*.3"}) peer.AddToBanList(ban);
  peer.RemoveFromBanList("127.0.*.*");  // removal is by exact text: nothing
  // Other parts, other part counts, a part as a prefix, nothing at all.
  const std::pair<const char*, bool> probes[] = {{"10.0.200.1", true}, {"127.0.9.3", true}, {"10.1.0.1", false},
      {"10.0.1", false}, {"110.0.1.1", false}, {"127.0.0.20", false}, {nullptr, false}};
  for (auto [ip, banned] : probes) EXPECT_EQ(peer.IsBanned(ip), banned) << (ip ? ip : "null");
  // An exact ban refusing until lifted is in the ban file's loopback test.
  EXPECT_EQ((std::tuple{Join(wildcard, server, "", "127.0.0.3"), Join(other, server, "", "127.0.0.4")}),
            (std::tuple{ID_CONNECTION_BANNED, ID_CONNECTION_REQUEST_ACCEPTED}));
  EXPECT_TRUE(server.WaitForPacket(ID_NEW_INCOMING_CONNECTION, 2) && server.PacketCount(ID_NEW_INCOMING_CONNECTION) == 2);
  // A timed ban ends by itself, the permanent ones stay.
  EXPECT_TRUE((peer.AddToBanList("*.*.*.*", 30), peer.IsBanned("1.2.3.4")));
  EXPECT_TRUE(support::WaitUntil([&] { return !peer.IsBanned("1.2.3.4"); }, 3000) && peer.IsBanned("127.0.5.3"));
  EXPECT_FALSE((peer.ClearBanList(), peer.IsBanned("127.0.5.3")));
}

TEST(PeerHandshakeTest, FullServerRefusesAndFreedSlotsAreReusedLowestFirst) {
  Server server(2);
  TestClient a, b, c, d, e;
  // A refused client may try again straight away (it is not "already connected").
  EXPECT_EQ((std::tuple{Join(a, server), Join(b, server), a.Index(), b.Index(), Join(c, server), Join(c, server), c.PacketCount(16)}),
            (std::tuple{14, 14, 0, 1, 18, 18, 0u}));
  // b leaves: the server sees 19 for index 1, and a newcomer gets index 1
  // again, its 17 handled after that 19. The server is not pumped in between,
  // so only the order of its queue keeps them apart.
  b.GetPeer().CloseConnection(server.Address(), false);
  for (int attempt = 0; attempt < 20 && !d.Connected(); ++attempt) Join(d, server);
  ASSERT_TRUE(d.Connected() && server.WaitForPacket(ID_NEW_INCOMING_CONNECTION, 3));
  Bytes atOne;
  for (const auto& r : server.AllPackets()) if (r.index == 1) atOne.push_back(r.Id());
  EXPECT_EQ(atOne, (Bytes{ID_NEW_INCOMING_CONNECTION, ID_DISCONNECTION_NOTIFICATION, ID_NEW_INCOMING_CONNECTION}));
  // b closed without notice; nothing was lost.
  EXPECT_EQ((std::tuple{d.Index(), server.LastPacket(ID_DISCONNECTION_NOTIFICATION)->from, b.PacketCount(19), server.PacketCount(20)}),
            (std::tuple{1, b.Address(), 0u, 0u}));
  // a leaves as well: index 0 is the lowest free one.
  ASSERT_TRUE((a.GetPeer().CloseConnection(server.Address(), false), server.WaitForPacket(ID_DISCONNECTION_NOTIFICATION, 2)));
  EXPECT_EQ((std::tuple{Join(e, server), e.Index()}), (std::tuple{14, 0}));
}

// The two slow deadlines share one wait: a joined client that falls silent is
// lost after 3 s, and connections that never ask are dropped quietly after 5 s.
TEST(PeerHandshakeTest, SilentAndUnaskingConnectionsAreDroppedOnTime) {
  Server server(3);
  TestClient live, early, next[3];
  RawClient silent, spoofer, lurker;  // lurker completes the ENet handshake, never asks
  ASSERT_TRUE(silent.Connect(server.Port()) && silent.Request("") == ID_CONNECTION_REQUEST_ACCEPTED);
  const uint64_t lastHeard = platform::MonotonicUs();
  ASSERT_EQ((std::tuple{Join(live, server), live.Index()}), (std::tuple{14, 1}));
  spoofer.SendDatagram(server.Port(), EnetConnectDatagram(42));  // a handshake never completed
  ASSERT_TRUE(lurker.Connect(server.Port()));
  const uint64_t lurking = platform::MonotonicUs();
  // Every slot is held meanwhile: a well-behaved client cannot get in.
  EXPECT_NE((early.GetPeer().SetTimeoutTime(500, UNASSIGNED_SYSTEM_ADDRESS), Join(early, server)), ID_CONNECTION_REQUEST_ACCEPTED);

  auto pumped = [&](const std::function<bool()>& done) { return [&, done] { return live.Pump(), server.Pump(), done(); }; };
  // `silent` is no longer serviced: it answers nothing from here on.
  ASSERT_TRUE(lurker.ServiceUntil(pumped([&] { return server.PacketCount(ID_CONNECTION_LOST) == 1; }), 6000));
  EXPECT_GE((platform::MonotonicUs() - lastHeard) / 1000.0, 2900.0);
  EXPECT_EQ(server.LastPacket(ID_CONNECTION_LOST)->index, 0);
  ASSERT_TRUE(lurker.ServiceUntil(pumped([&] { return lurker.disconnected; }), 6000) && lurker.received.empty());
  EXPECT_GE((platform::MonotonicUs() - lurking) / 1000.0, 4900.0);

  // The connection that kept answering is unaffected, the application heard
  // only of the two joins and the loss, and every other slot is free again.
  EXPECT_EQ(server.GetPeer().GetIndexFromSystemAddress(live.Address()) * 10 + live.PacketCount(ID_CONNECTION_LOST), 10u);
  EXPECT_EQ((std::tuple{Join(next[0], server), Join(next[1], server), Join(next[2], server), next[0].Index(), next[1].Index()}),
            (std::tuple{14, 14, ID_NO_FREE_INCOMING_CONNECTIONS, 0, 2}));
  EXPECT_TRUE(server.WaitForPacket(ID_NEW_INCOMING_CONNECTION, 4) && server.AllPackets().size() == 5);
}

// One address holds at most four connections that are not yet accepted, a
// refused one only until its refusal is delivered; accepted ones are not
// limited (players share NATs).
TEST(PeerHandshakeTest, OneAddressCannotHoldTheSlotsOfOthers) {
  Server server(9);
  server.GetPeer().SetIncomingPassword("pw", 2);
  server.GetPeer().SetTimeoutTime(10000, UNASSIGNED_SYSTEM_ADDRESS);  // silence frees nothing here
  for (int i = 0; i < 5; ++i)  // refused, then gone without a word
    ASSERT_TRUE([&] { RawClient gone; return gone.Connect(server.Port()) && gone.Request("") == ID_INVALID_PASSWORD; }());
  RawClient spoofer;  // eight handshakes from the same address, never completed
  for (uint8_t id = 1; id <= 8; ++id) spoofer.SendDatagram(server.Port(), EnetConnectDatagram(id));
  std::deque<TestClient> players;  // five from one other address: every one gets in
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Join(players.emplace_back(), server, "pw", "127.0.0.2"), ID_CONNECTION_REQUEST_ACCEPTED);
}

// A remote that restarts and connects again from the same address while its
// old connection is still open: one address must mean one connection.
TEST(PeerHandshakeTest, ReconnectFromTheSameAddressReplacesTheOldConnection) {
  Server server(3, {"Hi"});
  RawClient client;
  ASSERT_TRUE(client.Connect(server.Port()) && client.Request("") == ID_CONNECTION_REQUEST_ACCEPTED);
  client.Abandon();
  ASSERT_TRUE(client.Connect(server.Port()) && client.Request("") == ID_CONNECTION_REQUEST_ACCEPTED);
  client.Send(RpcMessage("Hi", {0x5A}, 8));
  ASSERT_TRUE(server.WaitFor([&] { return server.Count("Hi"); }));
  // The old connection ended (lost) before the new one began, and the
  // address now names only the new one.
  const auto& got = server.AllPackets();
  ASSERT_EQ(got.size(), 3u);
  const SystemAddress address = got[0].from;
  EXPECT_EQ((std::tuple{got[0].index, got[1].index, got[1].Id(), got[2].index, got[2].Id(), got[2].from}),
            (std::tuple{0, 0, uint8_t{ID_CONNECTION_LOST}, 1, uint8_t{ID_NEW_INCOMING_CONNECTION}, address}));
  EXPECT_EQ((std::tuple{server.LastRpc("Hi")->from, server.GetPeer().GetIndexFromSystemAddress(address),
                        server.GetPeer().GetSystemAddressFromIndex(0)}),
            (std::tuple{address, 1, UNASSIGNED_SYSTEM_ADDRESS}));
  ASSERT_TRUE(server.GetPeer().Send(&kByte, 8, HIGH_PRIORITY, RELIABLE, 0, address, false));
  EXPECT_TRUE(client.ServiceUntil([&] { return !client.received.empty() && client.received.back() == Bytes{92}; }));
}

// ENet's clock follows the wall clock, which may be stepped (enet_time_set
// stands in for an NTP correction); the time-out counts real silence only.
TEST(PeerHandshakeTest, WallClockStepsLoseNoConnectionAndNowhereTimesOut) {
  Server server(4, {"Hi"});
  TestClient client, lonely;
  ASSERT_EQ(Join(client, server), ID_CONNECTION_REQUEST_ACCEPTED);
  for (const int32_t step : {-2000, 4000, -2000}) {
    enet_time_set(enet_time_get() + static_cast<uint32_t>(step));
    // Long enough for many rounds of both network threads to have looked.
    const uint64_t until = platform::MonotonicUs() + 200000;
    server.WaitFor([&] { return client.Pump(), platform::MonotonicUs() >= until; });
    ASSERT_TRUE(client.SendRpc("Hi", &kByte, 8) && server.WaitFor([&, n = server.Count("Hi")] { return server.Count("Hi") > n; })) << "step " << step;
  }
  EXPECT_EQ(server.PacketCount(20) + server.PacketCount(19) + client.PacketCount(20) + client.PacketCount(19), 0u);  // lost, closed

  const uint16_t nowhere = Server(1).Port();
  lonely.GetPeer().SetTimeoutTime(300, UNASSIGNED_SYSTEM_ADDRESS);
  EXPECT_EQ((std::tuple{lonely.Connect(nowhere), lonely.LastRefusal(), lonely.LastPacket(15) ? lonely.LastPacket(15)->index : 9}),
            (std::tuple{false, 15, -1}));
  EXPECT_EQ(Join(lonely, server), ID_CONNECTION_REQUEST_ACCEPTED);  // the slot is free again
}

TEST(PeerTrafficTest, MessagesKeepTheirBitsAndCloseDeliversWhatWasQueued) {
  Server server(4, {"Blob"});
  TestClient client({"Blob"}), loud({"Blob"});
  ASSERT_EQ(Join(client, server), ID_CONNECTION_REQUEST_ACCEPTED);
  Bytes big(7000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 31 + 7);
  Peer& peer = server.GetPeer();
  const uint8_t movement[3] = {96, 0xFF, 0xF0};  // 20 bits: arrive as 3 bytes
  EXPECT_TRUE(client.SendRpc("Blob", big.data(), 56000));  // more than one datagram
  EXPECT_TRUE(client.GetPeer().Send(movement, 20, HIGH_PRIORITY, UNRELIABLE_SEQUENCED, 0, server.Address(), false));
  EXPECT_TRUE(peer.RPC("Blob", big.data(), 13, HIGH_PRIORITY, RELIABLE_ORDERED, 0, client.Address(), false));
  ASSERT_TRUE(server.WaitFor([&] { return client.Pump(), server.Count("Blob") && client.Count("Blob") && server.PacketCount(96); }));
  const support::ReceivedRpc &atServer = *server.LastRpc("Blob"), &atClient = *client.LastRpc("Blob");
  const support::ReceivedPacket* r = server.LastPacket(96);
  EXPECT_EQ((std::tuple{atServer.data == big, atServer.from, atClient.bits, atClient.data, atClient.from}),
            (std::tuple{true, client.Address(), 13u, Bytes{0x07, 0x20}, server.Address()}));
  // RPCs are handled inside Receive, never handed over.
  EXPECT_EQ((std::tuple{server.PacketCount(ID_RPC), r->data, r->bits, r->index, r->from}),
            (std::tuple{0u, Bytes(movement, movement + 3), 24u, int{client.Index()}, client.Address()}));
  // Unreliable traffic in a burst on loopback arrives (the throttle does not drop it).
  Bytes frame(64, 97);
  for (int i = 0; i < 200; ++i)
    frame[1] = static_cast<uint8_t>(i), peer.Send(frame.data(), 64 * 8, HIGH_PRIORITY, UNRELIABLE_SEQUENCED, 0, client.Address(), false);
  // Its index is the client's own index for its server.
  EXPECT_TRUE(client.WaitFor([&] { return client.LastPacket(97) && client.LastPacket(97)->data[1] == 199; }) && client.LastPacket(97)->index == 0);

  // A close sends what was queued before it; only a close with notify tells
  // the server's own application.
  ASSERT_EQ(Join(loud, server), ID_CONNECTION_REQUEST_ACCEPTED);
  ASSERT_TRUE(server.WaitForPacket(ID_NEW_INCOMING_CONNECTION, 2));
  server.Clear(), client.Clear();
  peer.RPC("Blob", big.data(), 3000 * 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, client.Address(), false);
  peer.CloseConnection(client.Address(), false);
  peer.RPC("Blob", big.data(), 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, loud.Address(), false);
  peer.CloseConnection(loud.Address(), true);
  ASSERT_TRUE(server.WaitFor([&] { return client.Pump(), loud.Pump(), !client.Connected() && !loud.Connected(); }));
  ASSERT_EQ((server.Pump(), client.Count("Blob") + loud.Count("Blob")), 2u);
  EXPECT_EQ((std::tuple{client.LastRpc("Blob")->data, client.LastPacket(ID_DISCONNECTION_NOTIFICATION)->from,
                        server.AllPackets().size(), server.LastPacket(ID_DISCONNECTION_NOTIFICATION)->from,
                        peer.GetIndexFromSystemAddress(client.Address()), peer.GetIndexFromSystemAddress(loud.Address()),
                        peer.Send(movement, 8, HIGH_PRIORITY, RELIABLE, 0, client.Address(), false)}),
            (std::tuple{Bytes(big.begin(), big.begin() + 3000), server.Address(), size_t{1}, loud.Address(), -1, -1, false}));
  // A peer shutting down says goodbye too.
  auto other = std::make_unique<Server>();
  ASSERT_TRUE((client.Clear(), client.Connect(other->Port())));
  other.reset();
  EXPECT_TRUE(client.WaitForPacket(ID_DISCONNECTION_NOTIFICATION) && client.PacketCount(ID_CONNECTION_LOST) == 0);
}

TEST(PeerTrafficTest, QueryDatagramIsAnsweredWithoutAConnection) {
  Server server;
  const std::string response = "Q" + std::string(1499, 'r');
  server.GetPeer().SetOfflinePingResponse(response.data(), static_cast<uint32_t>(response.size()));
  RawClient udp;
  Bytes expected{ID_PONG, 0x78, 0x56, 0x34, 0x12};
  expected.insert(expected.end(), response.begin(), response.end());
  for (uint8_t id : {ID_PING, ID_PING_OPEN_CONNECTIONS})
    EXPECT_EQ((udp.SendDatagram(server.Port(), {id, 0x78, 0x56, 0x34, 0x12}), udp.ReceiveDatagram()),
              expected);
  // Any other 5-byte datagram is not a query.
  EXPECT_TRUE((udp.SendDatagram(server.Port(), {3, 0, 0, 0, 0}), udp.ReceiveDatagram(100).empty()));
  EXPECT_TRUE((server.Pump(), server.AllPackets().empty()));
}

// The peer against hostile input. Throughout, a well-behaved client keeps
// being served (its "Echo" comes back) and no slot is lost.
struct Served {
  Server server{3, {"Count"}};
  TestClient good{{"Echo"}};
  uint8_t echoes = 0;
  Served() {
    server.GetPeer().RegisterAsRemoteProcedureCall("Echo", [](RPCParameters* p) {
      p->recipient->RPC("Echo", p->input, p->numberOfBitsOfData, HIGH_PRIORITY, RELIABLE_ORDERED, 0, p->sender, false);
    });
  }
  bool RoundTrip() {
    return ++echoes, good.SendRpc("Echo", &echoes, 8) && good.WaitFor([&] {
      return server.Pump(), good.Count("Echo") && good.LastRpc("Echo")->data == Bytes{echoes}; });
  }
};

TEST(PeerGarbageTest, RandomAndTruncatedDatagramsAreIgnored) {
  Served s;
  ASSERT_EQ(Join(s.good, s.server), ID_CONNECTION_REQUEST_ACCEPTED);
  RawClient udp;
  std::mt19937 rng(20240611);
  for (int round = 0; round < 10; ++round) {
    for (int i = 0; i < 100; ++i) {
      Bytes d(i % 10 == 0 ? 4000 + rng() % 3000 : rng() % 80);  // mostly short, some past the 4096 bytes ENet reads
      for (uint8_t& b : d) b = static_cast<uint8_t>(rng());
      // Half of them aimed at the good client's slot (peer id 0) or at "no peer".
      if (d.size() >= 2 && i % 2 == 0)
        d[0] = static_cast<uint8_t>((i % 4 == 0 ? 0x80 : 0x8F) | (d[0] & 0x30)), d[1] = i % 4 == 0 ? 0x00 : 0xFF;
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
  EXPECT_EQ((std::tuple{Join(second, s.server), Join(third, s.server), second.Index(), third.Index()}), (std::tuple{14, 14, 1, 2}));
}

// What the peer drops after the request is in the recording peer's test.
TEST(PeerGarbageTest, NothingIsTakenBeforeTheRequest) {
  Served s;
  s.server.GetPeer().SetIncomingPassword("pw", 2);
  ASSERT_EQ(Join(s.good, s.server, "pw"), ID_CONNECTION_REQUEST_ACCEPTED);
  const Bytes valid = RpcMessage("Count", {0xAB, 0xC0}, 10);
  // Not an RPC, not a fake notice, nothing empty.
  RawClient raw, truncated;
  ASSERT_TRUE(raw.Connect(s.server.Port()));
  for (const Bytes& m : std::vector<Bytes>{valid, {}, {ID_NEW_INCOMING_CONNECTION}, {ID_CONNECTION_REQUEST_ACCEPTED, 0, 0},
       {ID_DISCONNECTION_NOTIFICATION}, {200, 1, 2}}) raw.Send(m), raw.Send(m, false);
  ASSERT_TRUE(s.RoundTrip());
  // Truncated requests are wrong passwords, and the connection is closed.
  EXPECT_TRUE(truncated.Connect(s.server.Port()) && truncated.Request("p") == ID_INVALID_PASSWORD &&
              truncated.ServiceUntil([&] { return truncated.disconnected; }));
  EXPECT_EQ(raw.Request("pw"), ID_CONNECTION_REQUEST_ACCEPTED);
  for (const Bytes& m : std::vector<Bytes>{{}, {ID_CONNECTION_REQUEST, 'p', 'w'}, valid, {93}}) raw.Send(m), raw.Send(m, false);
  ASSERT_TRUE(raw.ServiceUntil([&] { return s.server.Pump(), s.server.PacketCount(93) == 2; }));
  ASSERT_TRUE(s.RoundTrip());
  // After the request both calls arrive; the app got the two 17s and the two 93s.
  EXPECT_EQ(s.server.Count("Count") * 10 + s.server.AllPackets().size(), 24u);
}

// A peer started while recording: sends are kept as {receivers, message} and
// remotes are handed in by slot.
using Sends = std::vector<std::tuple<std::vector<int>, bool, Bytes>>;
struct Recording : Peer {
  Recording() { RecordSendsInsteadOfSending(true), Startup(3, 1, 0, nullptr), RecordSendsInsteadOfSending(false); }
  Sends Take() {
    Sends out;
    for (RecordedSend& s : TakeRecorded()) out.emplace_back(s.to, s.reliable, s.message);
    return out;
  }
};

TEST(RecordingPeerTest, SendsGoToTheirTargetsAndInjectedMessagesToTheHandlers) {
  Recording peer;
  const SystemAddress a = Loopback(1), b = Loopback(2), c = Loopback(3);
  ASSERT_TRUE(peer.IsRecording() && peer.InjectConnection(0, a) && peer.InjectConnection(1, b) && peer.InjectConnection(3, c));
  EXPECT_FALSE(peer.InjectConnection(1, a) || peer.InjectConnection(4, a));  // taken; beyond the slots
  const uint8_t kind[] = {1, 2, 3, 4}, thirteen[2] = {0xDE, 0xAF};  // 0xAF's low 3 bits are not sent
  auto rpc = [&](const char* name, const uint8_t* data, uint32_t bits, const SystemAddress& to, bool broadcast) {
    return peer.RPC(name, data, bits, HIGH_PRIORITY, RELIABLE_ORDERED, 0, to, broadcast); };
  // To b, to all, to all but b; no target, an unknown one, names empty or too long.
  EXPECT_TRUE(rpc("T", &kind[0], 8, b, false) && rpc("T", &kind[1], 8, UNASSIGNED_SYSTEM_ADDRESS, true) &&
              rpc("T", &kind[2], 8, b, true) && rpc("T", thirteen, 13, a, false) && rpc("T", nullptr, 0, a, false));
  EXPECT_FALSE(rpc("T", &kind[3], 8, UNASSIGNED_SYSTEM_ADDRESS, false) || rpc("T", &kind[3], 8, Loopback(9), false) ||
               rpc("", kind, 8, a, false) || rpc(std::string(256, 'n').c_str(), kind, 8, a, false));
  BitStream stream;  // 17 bits
  stream.Write(uint16_t{0x1234}), stream.WriteBit(true);
  const uint16_t set[] = {3, 0, 2, 4095, 3};  // free slot 2, beyond any, a repeat: skipped
  EXPECT_EQ(peer.RPC("T", &stream, HIGH_PRIORITY, RELIABLE_ORDERED, 0, set) * 10 +
            peer.Send(&stream, HIGH_PRIORITY, UNRELIABLE_SEQUENCED, 0, set), 22);
  EXPECT_FALSE(peer.Send(thirteen, 0, HIGH_PRIORITY, RELIABLE, 0, a, false));
  peer.CloseConnection(c, false);
  EXPECT_EQ(peer.Take(), (Sends{{{1}, true, {11, 1, 'T', 8, 0, 0, 0, 1}}, {{0, 1, 3}, true, {11, 1, 'T', 8, 0, 0, 0, 2}},
                                {{0, 3}, true, {11, 1, 'T', 8, 0, 0, 0, 3}}, {{0}, true, {11, 1, 'T', 13, 0, 0, 0, 0xDE, 0xA8}},
                                {{0}, true, {11, 1, 'T', 0, 0, 0, 0}}, {{3, 0}, true, {11, 1, 'T', 17, 0, 0, 0, 0x34, 0x12, 0x80}},
                                {{3, 0}, false, {0x34, 0x12, 0x80}}, {{3}, false, {}}}));

  // Injected in order: calls without a handler are dropped; a handler may
  // answer, unregister itself and register another within one Receive();
  // malformed calls, bit counts past the end and ids only the peer itself
  // raises are dropped; anything else reaches the application.
  std::vector<std::string> calls;
  peer.RegisterAsRemoteProcedureCall("Ping", [&](RPCParameters* p) {
    const uint8_t reply = p->input[0] + 1;
    calls.push_back("Ping"), p->recipient->RPC("Pong", &reply, 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, p->sender, false);
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
  EXPECT_FALSE(peer.InjectMessage(2, kind, 1) || peer.InjectMessage(0, kind, 0));  // a free slot; empty
  peer.InjectDisconnection(0, true);
  using Got = std::vector<std::tuple<int, int, SystemAddress, uint32_t>>;
  Got got;
  for (Packet* p; (p = peer.Receive()); peer.DeallocatePacket(p)) got.emplace_back(p->data[0], p->systemIndex, p->systemAddress, p->bitSize);
  EXPECT_EQ(got, (Got{{ID_NEW_INCOMING_CONNECTION, 0, a, 8}, {ID_NEW_INCOMING_CONNECTION, 1, b, 8},
                      {ID_NEW_INCOMING_CONNECTION, 3, c, 8}, {200, 1, b, 16}, {ID_CONNECTION_LOST, 0, a, 8}}));
  EXPECT_EQ(calls, (std::vector<std::string>{"Ping", "Late 10:43968"}));
  EXPECT_EQ(peer.Take(), (Sends{{{1}, true, {11, 4, 'P', 'o', 'n', 'g', 8, 0, 0, 0, 2}}}));
  EXPECT_TRUE(peer.GetIndexFromSystemAddress(a) == -1 && peer.InjectConnection(0, a));  // the slot is free again
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
    marker = p && p->data[0] == 200, peer.DeallocatePacket(p), perCall.push_back(handled - before);
  }
  EXPECT_EQ(perCall, (std::vector<int>{0, 256, 256, 88}));  // the 17 first
}

TEST(RowUpdateTest, WrittenAndParsedByteExact) {
  Recording peer;
  ASSERT_TRUE(peer.InjectConnection(0, Loopback(1)));
  LightweightDatabaseClient client;
  EXPECT_FALSE(client.UpdateRow("t", "p", RUM_UPDATE_OR_ADD_ROW, false, 0, {}, Loopback(1), false));  // not attached
  client.Attach(&peer);
  const std::vector<RowCell> cells{{"P", RowCell::NUMERIC, 7777, ""}, {"N", RowCell::STRING, 0, "ab"}};
  ASSERT_TRUE(client.UpdateRow("T", "pw", RUM_UPDATE_EXISTING_ROW, true, 0xCAFEBABE, cells, Loopback(1), false));
  ASSERT_TRUE(client.UpdateRow("T", "", RUM_ADD_NEW_ROW, false, 0, {}, Loopback(1), false));
  // Table, password, mode, bit 1 + u32 row id, u8 count, then each cell's
  // name, type and f64 or u16 length + text, all from bit 1 on.
  const Bytes first{0x47, 0x01, 0x54, 0x02, 0x70, 0x77, 0x01, 0xDF, 0x5D, 0x7F, 0x65, 0x01, 0x00, 0xA8, 0x00, 0x00,
                    0x00, 0x00, 0x00, 0x00, 0x30, 0xDF, 0x20, 0x00, 0xA7, 0x00, 0x81, 0x00, 0x30, 0xB1, 0x00};
  const Bytes second{71, 1, 'T', 0, 2, 0x00, 0x00};  // bit 0 and count 0 share bytes
  EXPECT_EQ(peer.Take(), (Sends{{{0}, true, first}, {{0}, true, second}}));

  LightweightDatabaseClient::RowUpdate row;
  ASSERT_TRUE(LightweightDatabaseClient::ParseRowUpdate(first.data(), static_cast<uint32_t>(first.size()), row));
  ASSERT_EQ(row.cells.size(), 2u);
  EXPECT_EQ((std::tuple{row.tableName, row.updatePassword, row.mode, row.rowId, row.cells[0].number, row.cells[1].columnName,
                        row.cells[1].text, row.cells[1].type}),
            (std::tuple{"T", "pw", RUM_UPDATE_EXISTING_ROW, 0xCAFEBABEu, 7777.0, "N", "ab", RowCell::STRING}));
  for (uint32_t n = 0; n < first.size(); ++n) {  // every truncation fails, output untouched
    LightweightDatabaseClient::RowUpdate partial{"untouched"};
    EXPECT_TRUE(!LightweightDatabaseClient::ParseRowUpdate(first.data(), n, partial) && partial.tableName == "untouched") << n;
  }
  ASSERT_TRUE(LightweightDatabaseClient::ParseRowUpdate(second.data(), 7, row));
  EXPECT_EQ((std::tuple{row.mode, row.hasRowId, row.cells.empty()}), (std::tuple{RUM_ADD_NEW_ROW, false, true}));
  // An unknown mode is refused.
  EXPECT_FALSE(LightweightDatabaseClient::ParseRowUpdate(Bytes{71, 1, 'T', 0, 3, 0x00, 0x00}.data(), 7, row));
}

}  // namespace
}  // namespace net

namespace net {
namespace {

// With a join deadline, a connection that is accepted but has not joined
// counts against its address like a handshake under way, and is closed when
// it has not joined in time. Joined ones are not limited.
TEST(PeerHandshakeTest, ConnectionsThatNeverJoinHoldFewSlotsAndNotForLong) {
  Server server(10);
  server.GetPeer().SetJoinDeadline(2000);
  std::deque<TestClient> first(4);
  for (TestClient& c : first) {
    EXPECT_EQ(Join(c, server), ID_CONNECTION_REQUEST_ACCEPTED);
  }
  {
    TestClient fifth;
    EXPECT_FALSE(fifth.Connect(server.Port(), "", 500));
    EXPECT_EQ(fifth.LastRefusal(), 0);  // no answer at all
  }
  TestClient elsewhere;
  EXPECT_EQ(Join(elsewhere, server, "", "127.0.0.2"), ID_CONNECTION_REQUEST_ACCEPTED);

  // One of the four joins; the other three are closed at the deadline.
  server.GetPeer().MarkJoined(first[0].Index());
  auto gone = [&] {
    for (TestClient& c : first) c.Pump();
    elsewhere.Pump();  // it never joined either
    return !first[1].Connected() && !first[2].Connected() && !first[3].Connected() &&
           !elsewhere.Connected();
  };
  EXPECT_TRUE(WaitUntil(gone, 6000));
  EXPECT_TRUE(first[0].Connected());
  server.Pump();
  EXPECT_EQ(server.PacketCount(ID_NEW_INCOMING_CONNECTION), 5u);
  EXPECT_EQ(server.PacketCount(ID_CONNECTION_LOST), 4u);

  // The joined one does not count: four more from its address get in.
  std::deque<TestClient> more(4);
  for (TestClient& c : more) {
    EXPECT_EQ(Join(c, server), ID_CONNECTION_REQUEST_ACCEPTED);
  }
}

// Each connection has its own share of the queue: a flood loses its own
// excess, and the others' messages wait behind at most that share.
TEST(RecordingPeerTest, AFloodingConnectionLosesOnlyItsOwnExcess) {
  Recording peer;
  ASSERT_TRUE(peer.InjectConnection(0, Loopback(1)));
  ASSERT_TRUE(peer.InjectConnection(1, Loopback(2)));
  const uint8_t flood[] = {200, 1};
  const uint8_t other[] = {201};
  for (int i = 0; i < 5000; ++i) {
    peer.InjectMessage(0, flood, sizeof flood);
  }
  for (int i = 0; i < 3; ++i) {
    peer.InjectMessage(1, other, sizeof other);
  }
  peer.InjectDisconnection(0, true);  // a notice is never dropped

  std::vector<int> order;  // the sender of each message, in the order taken
  int notices = 0;
  for (Packet* p; (p = peer.Receive()); peer.DeallocatePacket(p)) {
    if (p->data[0] == ID_CONNECTION_LOST) {
      ++notices;
    } else if (p->data[0] != ID_NEW_INCOMING_CONNECTION) {
      order.push_back(p->systemIndex);
    }
  }
  EXPECT_EQ(std::count(order.begin(), order.end(), 0), 4096);
  EXPECT_EQ(std::count(order.begin(), order.end(), 1), 3);
  ASSERT_EQ(order.size(), 4099u);
  EXPECT_EQ(order[4096], 1);  // right behind the flooder's share
  EXPECT_EQ(notices, 1);

  // A taken message gives its room back; bytes count as well as messages.
  ASSERT_TRUE(peer.InjectConnection(0, Loopback(1)));
  Bytes big(400 << 10, 200);
  for (int i = 0; i < 3; ++i) {
    peer.InjectMessage(0, big.data(), static_cast<uint32_t>(big.size()));
  }
  int taken = 0;
  for (Packet* p; (p = peer.Receive()); peer.DeallocatePacket(p)) {
    if (p->data[0] == 200) ++taken;
  }
  EXPECT_EQ(taken, 2);  // a third would pass 1 MiB
}

}  // namespace
}  // namespace net
