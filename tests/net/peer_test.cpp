// The peer end to end over real ENet on loopback (handshake and refusals,
// time-outs, traffic, hostile input), and the recording peer by itself.
#include "net/peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <filesystem>
#include <memory>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/bitstream.h"
#include "net/cookie.h"
#include "platform/platform.h"
#include "support/test_client.h"

namespace net {
namespace {

using namespace support;

const uint8_t kByte = 92;

// Message ids as they travel, written out here rather than taken from the
// library, so that a changed id shows.
constexpr uint8_t kRpc = 11;
constexpr uint8_t kAccepted = 14;
constexpr uint8_t kAttemptFailed = 15;
constexpr uint8_t kAlreadyConnected = 16;
constexpr uint8_t kNewConnection = 17;
constexpr uint8_t kNoFreeSlots = 18;
constexpr uint8_t kDisconnected = 19;
constexpr uint8_t kLost = 20;
constexpr uint8_t kBanned = 22;
constexpr uint8_t kInvalidPassword = 23;
constexpr uint8_t kPong = 26;

struct Server : TestClient {
  explicit Server(uint16_t connections = 4, std::initializer_list<std::string> watched = {})
      : TestClient(watched) {
    Listen(connections);
  }
  uint16_t Port() const { return LocalPort(); }
};

// The first answer to a connection attempt: 14, or the refusal (0 for none).
int JoinAnswer(TestClient& client, Server& server, const std::string& password = "",
               const char* from = nullptr) {
  if (from) client.BindTo(from);
  if (client.Connect(server.Port(), password)) return kAccepted;
  return client.LastRefusal();
}

// An RPC message as it travels: 11, name, u32 bit count, payload.
Bytes RpcMessage(const std::string& name, const Bytes& payload, uint32_t bits) {
  Bytes m{kRpc, static_cast<uint8_t>(name.size())};
  m.insert(m.end(), name.begin(), name.end());
  for (int i = 0; i < 4; ++i) m.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  m.insert(m.end(), payload.begin(), payload.end());
  return m;
}

TEST(PeerTest, StartupShutdownAndLookups) {
  Peer peer;
  // Not started.
  EXPECT_FALSE(peer.Connect("127.0.0.1", 7777, nullptr, 0));
  EXPECT_EQ(peer.Receive(), nullptr);
  // A shutdown gives back every descriptor the start took.
  const auto fds = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  const auto before = fds();
  for (int round = 0; round < 3; ++round) {
    EXPECT_TRUE(peer.Startup(2, 1, 0, nullptr)) << "round " << round;
    peer.Shutdown();
  }
  EXPECT_EQ(fds(), before);
  for (int round = 0; round < 2; ++round) {
    Peer second;
    ASSERT_TRUE(peer.Startup(2, 1, 0, nullptr));
    EXPECT_FALSE(peer.Startup(2, 1, 0, nullptr)) << "already running";
    EXPECT_FALSE(second.Startup(2, 1, peer.GetBoundPort(), nullptr)) << "port taken";
    errno = 0;
    EXPECT_FALSE(second.Startup(2, 1, 0, "localhost")) << "a bind address not in dotted text";
    EXPECT_EQ(errno, EADDRNOTAVAIL);
    if (round == 0) peer.Shutdown();
  }
  EXPECT_EQ(peer.GetIndexFromSystemAddress(Loopback(1234)), -1);
  EXPECT_EQ(peer.GetLastPing(Loopback(1234)), -1);
  for (int index : {0, -1, 99}) {
    EXPECT_EQ(peer.GetSystemAddressFromIndex(index), UNASSIGNED_SYSTEM_ADDRESS) << index;
  }
  EXPECT_FALSE(peer.Send(&kByte, 8, HIGH_PRIORITY, RELIABLE, 0, Loopback(1234), false));
  EXPECT_FALSE(peer.Connect("", 7777, nullptr, 0));
}

TEST(PeerHandshakeTest, PasswordAndBansRefuseBeforeTheApplicationHears) {
  Server server;
  Peer& peer = server.GetPeer();
  peer.SetIncomingPassword("sesame", 6);
  TestClient right;
  TestClient wrong;
  TestClient none;
  EXPECT_EQ(JoinAnswer(wrong, server, "sesam"), kInvalidPassword);
  EXPECT_EQ(JoinAnswer(none, server), kInvalidPassword);
  EXPECT_EQ(JoinAnswer(right, server, "sesame"), kAccepted);
  ASSERT_TRUE(server.WaitForPacket(kNewConnection));
  const ReceivedPacket* in = server.LastPacket(kNewConnection);
  EXPECT_EQ(in->from, right.Address());
  EXPECT_EQ(in->index, right.Index());
  ASSERT_NE(right.LastPacket(kAccepted), nullptr);
  EXPECT_EQ(right.LastPacket(kAccepted)->from, server.Address());
  EXPECT_EQ(peer.GetIndexFromSystemAddress(right.Address()), right.Index());
  EXPECT_EQ(peer.GetIndexFromSystemAddress(wrong.Address()), -1);
  EXPECT_EQ(peer.GetSystemAddressFromIndex(right.Index()), right.Address());
  EXPECT_GE(peer.GetLastPing(right.Address()), 0);
  EXPECT_EQ(wrong.PacketCount(kAttemptFailed), 0u);
  EXPECT_EQ(wrong.PacketCount(kDisconnected), 0u);
  // Connecting again to a connected server is reported, not repeated.
  EXPECT_TRUE(right.GetPeer().Connect("127.0.0.1", server.Port(), "sesame", 6));
  EXPECT_TRUE(right.WaitForPacket(kAlreadyConnected));

  peer.SetIncomingPassword(nullptr, 0);
  for (const char* ban : {"10.0.*.*", "127.0.0.2", "127.0.*.3"}) peer.AddToBanList(ban);
  peer.RemoveFromBanList("127.0.*.*");  // removal is by exact text: nothing
  // Other parts, other part counts, a part as a prefix, nothing at all.
  const std::pair<const char*, bool> probes[] = {
      {"10.0.200.1", true}, {"127.0.9.3", true},   {"10.1.0.1", false}, {"10.0.1", false},
      {"110.0.1.1", false}, {"127.0.0.20", false}, {nullptr, false},
  };
  for (auto [ip, banned] : probes) EXPECT_EQ(peer.IsBanned(ip), banned) << (ip ? ip : "null");
  // An exact ban refusing until lifted is in the ban file's loopback test.
  TestClient wildcard;
  TestClient other;
  EXPECT_EQ(JoinAnswer(wildcard, server, "", "127.0.0.3"), kBanned);
  EXPECT_EQ(JoinAnswer(other, server, "", "127.0.0.4"), kAccepted);
  EXPECT_TRUE(server.WaitForPacket(kNewConnection, 2));
  EXPECT_EQ(server.PacketCount(kNewConnection), 2u);
  // A timed ban ends by itself, the permanent ones stay.
  peer.AddToBanList("*.*.*.*", 30);
  EXPECT_TRUE(peer.IsBanned("1.2.3.4"));
  EXPECT_TRUE(WaitUntil([&] { return !peer.IsBanned("1.2.3.4"); }, 3000));
  EXPECT_TRUE(peer.IsBanned("127.0.5.3"));
  peer.ClearBanList();
  EXPECT_FALSE(peer.IsBanned("127.0.5.3"));
}

TEST(PeerHandshakeTest, FullServerRefusesAndFreedSlotsAreReusedLowestFirst) {
  Server server(2);
  TestClient a;
  TestClient b;
  TestClient c;
  TestClient d;
  TestClient e;
  EXPECT_EQ(JoinAnswer(a, server), kAccepted);
  EXPECT_EQ(JoinAnswer(b, server), kAccepted);
  EXPECT_EQ(a.Index(), 0);
  EXPECT_EQ(b.Index(), 1);
  EXPECT_EQ(JoinAnswer(c, server), kNoFreeSlots);
  // A refused client may try again straight away (it is not "already connected").
  EXPECT_EQ(JoinAnswer(c, server), kNoFreeSlots);
  EXPECT_EQ(c.PacketCount(kAlreadyConnected), 0u);
  // b leaves: the server sees 19 for index 1, and a newcomer gets index 1
  // again, its 17 handled after that 19. The server is not pumped in between,
  // so only the order of its queue keeps them apart.
  b.GetPeer().CloseConnection(server.Address(), false);
  for (int attempt = 0; attempt < 20 && !d.Connected(); ++attempt) JoinAnswer(d, server);
  ASSERT_TRUE(d.Connected());
  ASSERT_TRUE(server.WaitForPacket(kNewConnection, 3));
  Bytes atOne;
  for (const auto& r : server.AllPackets()) {
    if (r.index == 1) atOne.push_back(r.Id());
  }
  EXPECT_EQ(atOne, (Bytes{kNewConnection, kDisconnected, kNewConnection}));
  EXPECT_EQ(d.Index(), 1);
  ASSERT_NE(server.LastPacket(kDisconnected), nullptr);
  EXPECT_EQ(server.LastPacket(kDisconnected)->from, b.Address());
  // b closed without notice; nothing was lost.
  EXPECT_EQ(b.PacketCount(kDisconnected), 0u);
  EXPECT_EQ(server.PacketCount(kLost), 0u);
  // a leaves as well: index 0 is the lowest free one.
  a.GetPeer().CloseConnection(server.Address(), false);
  ASSERT_TRUE(server.WaitForPacket(kDisconnected, 2));
  EXPECT_EQ(JoinAnswer(e, server), kAccepted);
  EXPECT_EQ(e.Index(), 0);
  // An attempt closed before any answer gives its slot back at once: a peer
  // with a single slot can try elsewhere straight away.
  const uint16_t nowhere = Server().Port();  // closed again: nothing answers there
  Peer single;
  ASSERT_TRUE(single.Startup(0, 1, 0, nullptr));  // no incoming, one slot beyond
  ASSERT_TRUE(single.Connect("127.0.0.1", nowhere, nullptr, 0));
  single.CloseConnection(Loopback(nowhere), false);
  EXPECT_TRUE(single.Connect("127.0.0.1", server.Port(), nullptr, 0));
}

// The two slow deadlines share one wait: a joined client that falls silent is
// lost after 3 s, and connections that never ask are dropped quietly after 5 s.
TEST(PeerHandshakeTest, SilentAndUnaskingConnectionsAreDroppedOnTime) {
  Server server(3);
  TestClient live;
  TestClient early;
  TestClient next[3];
  RawClient silent;
  RawClient spoofer;
  RawClient lurker;  // completes the ENet handshake, never asks
  ASSERT_TRUE(silent.Connect(server.Port()));
  ASSERT_EQ(silent.Request(""), kAccepted);
  const uint64_t lastHeard = platform::MonotonicUs();
  ASSERT_EQ(JoinAnswer(live, server), kAccepted);
  ASSERT_EQ(live.Index(), 1);
  // A handshake never completed.
  spoofer.SendDatagram(server.Port(), EnetConnectDatagram(42, spoofer.Cookie(server.Port())));
  ASSERT_TRUE(lurker.Connect(server.Port()));
  const uint64_t lurking = platform::MonotonicUs();
  // Every slot is held meanwhile: a well-behaved client cannot get in.
  early.GetPeer().SetTimeoutTime(500, UNASSIGNED_SYSTEM_ADDRESS);
  EXPECT_NE(JoinAnswer(early, server), kAccepted);

  auto pumped = [&](const std::function<bool()>& done) {
    return [&, done] {
      live.Pump();
      server.Pump();
      return done();
    };
  };
  // `silent` is no longer serviced: it answers nothing from here on.
  auto silentLost = [&] { return server.PacketCount(kLost) == 1; };
  ASSERT_TRUE(lurker.ServiceUntil(pumped(silentLost), 6000));
  EXPECT_GE((platform::MonotonicUs() - lastHeard) / 1000.0, 2900.0);
  EXPECT_EQ(server.LastPacket(kLost)->index, 0);
  ASSERT_TRUE(lurker.ServiceUntil(pumped([&] { return lurker.disconnected; }), 6000));
  EXPECT_TRUE(lurker.received.empty()) << "the lurker was told something";
  EXPECT_GE((platform::MonotonicUs() - lurking) / 1000.0, 4900.0);

  // The connection that kept answering is unaffected, the application heard
  // only of the two joins and the loss, and every other slot is free again.
  EXPECT_EQ(server.GetPeer().GetIndexFromSystemAddress(live.Address()), 1);
  EXPECT_EQ(live.PacketCount(kLost), 0u);
  EXPECT_EQ(JoinAnswer(next[0], server), kAccepted);
  EXPECT_EQ(JoinAnswer(next[1], server), kAccepted);
  EXPECT_EQ(JoinAnswer(next[2], server), kNoFreeSlots);
  EXPECT_EQ(next[0].Index(), 0);
  EXPECT_EQ(next[1].Index(), 2);
  EXPECT_TRUE(server.WaitForPacket(kNewConnection, 4));
  EXPECT_EQ(server.AllPackets().size(), 5u);
}

// A remote that goes on sending but acknowledges nothing of what it is sent
// ends with ENet's own time-out (after 6 s and more: nothing shorter, for an
// honest client's acknowledgements come late after an outage), and is lost,
// not closed in good order.
TEST(PeerHandshakeTest, ARemoteThatAcknowledgesNothingIsLost) {
  Server server;
  RawClient mute;
  ASSERT_TRUE(mute.Connect(server.Port()));
  ASSERT_EQ(mute.Request(""), kAccepted);
  ASSERT_TRUE(server.WaitForPacket(kNewConnection));
  const SystemAddress address = server.AllPackets()[0].from;
  // Acknowledged at once, so that ENet's round trip, and its resend, are short.
  for (int i = 0; i < 40; ++i) {
    EXPECT_TRUE(server.GetPeer().Send(&kByte, 8, HIGH_PRIORITY, RELIABLE, 0, address, false));
    ASSERT_TRUE(mute.ServiceUntil([&] { return mute.received.size() > size_t(i) + 1; }));
  }
  EXPECT_TRUE(server.GetPeer().Send(&kByte, 8, HIGH_PRIORITY, RELIABLE, 0, address, false));
  int rounds = 0;
  auto ended = [&] {
    if (++rounds % 50 == 0) mute.Send({200}, false);  // never received, so never acknowledged
    server.Pump();
    return server.PacketCount(kLost) + server.PacketCount(kDisconnected) > 0;
  };
  ASSERT_TRUE(WaitUntil(ended, 35000));
  EXPECT_EQ(server.PacketCount(kDisconnected), 0u);
  ASSERT_EQ(server.PacketCount(kLost), 1u);
  EXPECT_EQ(server.LastPacket(kLost)->data, (Bytes{kLost}));
}

// A time-out set while connections are open applies to every one of them,
// the first slot included: the keep-alive follows it, so connections that
// answer are not taken for silent.
TEST(PeerHandshakeTest, ATimeoutChangeReachesEveryOpenConnection) {
  Server server(3);
  TestClient a;
  TestClient b;
  ASSERT_EQ(JoinAnswer(a, server), kAccepted);
  ASSERT_EQ(JoinAnswer(b, server), kAccepted);
  ASSERT_EQ(a.Index(), 0);
  ASSERT_EQ(b.Index(), 1);
  // Shorter than the half second between keep-alives of an unchanged connection.
  server.GetPeer().SetTimeoutTime(400, UNASSIGNED_SYSTEM_ADDRESS);
  auto anyLost = [&] {
    a.Pump();
    b.Pump();
    return server.PacketCount(kLost) > 0;
  };
  EXPECT_FALSE(server.WaitFor(anyLost, 1000)) << "lost index " << server.LastPacket(kLost)->index;
  EXPECT_EQ(server.GetPeer().GetIndexFromSystemAddress(a.Address()), 0);
  EXPECT_EQ(server.GetPeer().GetIndexFromSystemAddress(b.Address()), 1);
  EXPECT_TRUE(a.Connected());
  EXPECT_TRUE(b.Connected());
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
    ASSERT_TRUE(gone.Connect(server.Port())) << i;
    ASSERT_EQ(gone.Request(""), kInvalidPassword) << i;
  }
  RawClient spoofer;  // eight handshakes from the same address, never completed
  const uint32_t cookie = spoofer.Cookie(server.Port());
  for (uint8_t id = 1; id <= 8; ++id) {
    spoofer.SendDatagram(server.Port(), EnetConnectDatagram(id, cookie));
  }
  std::deque<TestClient> players;  // five from one other address: every one gets in
  for (int i = 0; i < 5; ++i) {
    TestClient& player = players.emplace_back();
    EXPECT_EQ(JoinAnswer(player, server, "pw", "127.0.0.2"), kAccepted) << i;
  }
}

// ENet connects from one address draw on a budget: 20 at once (players
// behind one address joining together), then one every 5 s, so joining and
// leaving again and again goes no faster; other addresses are not held up.
TEST(PeerHandshakeTest, OneAddressStartsTwentyConnectsAtOnceThenOneEveryFiveSeconds) {
  Server server(60);
  std::deque<RawClient> clients;
  int admitted = 0;
  while (admitted < 60) {
    RawClient& client = clients.emplace_back();
    if (!client.Connect(server.Port(), 300)) break;
    ASSERT_EQ(client.Request(""), kAccepted);  // accepted, so no longer pending
    ++admitted;
  }
  EXPECT_GE(admitted, 20);
  EXPECT_LE(admitted, 22);
  EXPECT_GE(server.GetPeer().TakeUnansweredConnects(), 1u);  // counted for the log
  RawClient elsewhere("127.0.0.2");
  EXPECT_TRUE(elsewhere.Connect(server.Port(), 300));
}

// A remote that restarts and connects again from the same address while its
// old connection is still open: one address must mean one connection.
TEST(PeerHandshakeTest, ReconnectFromTheSameAddressReplacesTheOldConnection) {
  Server server(3, {"Hi"});
  RawClient client;
  ASSERT_TRUE(client.Connect(server.Port()));
  ASSERT_EQ(client.Request(""), kAccepted);
  client.Abandon();
  ASSERT_TRUE(client.Connect(server.Port()));
  ASSERT_EQ(client.Request(""), kAccepted);
  client.Send(RpcMessage("Hi", {0x5A}, 8));
  ASSERT_TRUE(server.WaitFor([&] { return server.Count("Hi") > 0; }));
  // The old connection ended (lost) before the new one began, and the
  // address now names only the new one.
  const auto& got = server.AllPackets();
  ASSERT_EQ(got.size(), 3u);
  const SystemAddress address = got[0].from;
  EXPECT_EQ(got[0].index, 0);
  EXPECT_EQ(got[0].Id(), kNewConnection);
  EXPECT_EQ(got[1].index, 0);
  EXPECT_EQ(got[1].Id(), kLost);
  EXPECT_EQ(got[2].index, 1);
  EXPECT_EQ(got[2].Id(), kNewConnection);
  EXPECT_EQ(got[2].from, address);
  EXPECT_EQ(server.LastRpc("Hi")->from, address);
  EXPECT_EQ(server.GetPeer().GetIndexFromSystemAddress(address), 1);
  EXPECT_EQ(server.GetPeer().GetSystemAddressFromIndex(0), UNASSIGNED_SYSTEM_ADDRESS);
  const size_t before = client.received.size();
  ASSERT_TRUE(server.GetPeer().Send(&kByte, 8, HIGH_PRIORITY, RELIABLE, 0, address, false));
  ASSERT_TRUE(client.ServiceUntil([&] { return client.received.size() > before; }));
  EXPECT_EQ(client.received[before], Bytes{92});
}

// ENet's clock follows the wall clock, which may be stepped (enet_time_set
// stands in for an NTP correction); the time-out counts real silence only.
TEST(PeerHandshakeTest, WallClockStepsLoseNoConnectionAndNowhereTimesOut) {
  Server server(4, {"Hi"});
  TestClient client;
  TestClient lonely;
  ASSERT_EQ(JoinAnswer(client, server), kAccepted);
  for (const int32_t step : {-2000, 4000, -2000}) {
    SCOPED_TRACE(testing::Message() << "step " << step);
    enet_time_set(enet_time_get() + static_cast<uint32_t>(step));
    // Long enough for many rounds of both network threads to have looked.
    const uint64_t until = platform::MonotonicUs() + 200000;
    server.WaitFor([&] {
      client.Pump();
      return platform::MonotonicUs() >= until;
    });
    const size_t heard = server.Count("Hi");
    ASSERT_TRUE(client.SendRpc("Hi", &kByte, 8));
    ASSERT_TRUE(server.WaitFor([&] { return server.Count("Hi") > heard; }));
  }
  EXPECT_EQ(server.PacketCount(kLost), 0u);
  EXPECT_EQ(server.PacketCount(kDisconnected), 0u);
  EXPECT_EQ(client.PacketCount(kLost), 0u);
  EXPECT_EQ(client.PacketCount(kDisconnected), 0u);

  const uint16_t nowhere = Server(1).Port();
  lonely.GetPeer().SetTimeoutTime(300, UNASSIGNED_SYSTEM_ADDRESS);
  EXPECT_FALSE(lonely.Connect(nowhere));
  EXPECT_EQ(lonely.LastRefusal(), kAttemptFailed);
  ASSERT_NE(lonely.LastPacket(kAttemptFailed), nullptr);
  EXPECT_EQ(lonely.LastPacket(kAttemptFailed)->index, -1);
  EXPECT_EQ(JoinAnswer(lonely, server), kAccepted);  // the slot is free again
}

// With a join deadline, a connection that is accepted but has not joined
// counts against its address like a handshake under way, and is closed when
// it has not joined in time. Joined ones are not limited.
TEST(PeerHandshakeTest, ConnectionsThatNeverJoinHoldFewSlotsAndNotForLong) {
  Server server(10);
  server.GetPeer().SetJoinDeadline(2000);
  std::deque<TestClient> first(4);
  for (TestClient& c : first) {
    EXPECT_EQ(JoinAnswer(c, server), kAccepted);
  }
  {
    TestClient fifth;
    EXPECT_FALSE(fifth.Connect(server.Port(), "", 500));
    EXPECT_EQ(fifth.LastRefusal(), 0);  // no answer at all
  }
  TestClient elsewhere;
  EXPECT_EQ(JoinAnswer(elsewhere, server, "", "127.0.0.2"), kAccepted);

  // One of the four joins; the other three are closed at the deadline.
  server.GetPeer().MarkJoined(first[0].Index());
  auto gone = [&] {
    server.Pump();  // the deadline runs once the application has heard of them
    for (TestClient& c : first) c.Pump();
    elsewhere.Pump();  // it never joined either
    return !first[1].Connected() && !first[2].Connected() && !first[3].Connected() &&
           !elsewhere.Connected();
  };
  EXPECT_TRUE(WaitUntil(gone, 6000));
  EXPECT_TRUE(first[0].Connected());
  server.Pump();
  EXPECT_EQ(server.PacketCount(kNewConnection), 5u);
  EXPECT_EQ(server.PacketCount(kLost), 4u);
  EXPECT_EQ(server.LastPacket(kLost)->data, (Bytes{kLost, 3}));  // the join deadline

  // The joined one does not count: four more from its address get in.
  std::deque<TestClient> more(4);
  for (TestClient& c : more) {
    EXPECT_EQ(JoinAnswer(c, server), kAccepted);
  }
}

// A connection the application closes before it joins (a refused join) goes
// on counting against its address until its slot is free: until the client
// has acknowledged what was sent before the close, however long it takes.
TEST(PeerHandshakeTest, AJoinRefusedToASilentClientStillHoldsItsPlace) {
  Server server(10);
  server.GetPeer().SetJoinDeadline(10000);
  server.GetPeer().SetTimeoutTime(10000, UNASSIGNED_SYSTEM_ADDRESS);  // silence frees nothing here
  std::deque<RawClient> refused(4);
  for (RawClient& c : refused) {
    ASSERT_TRUE(c.Connect(server.Port()));
    ASSERT_EQ(c.Request(""), kAccepted);
  }
  ASSERT_TRUE(server.WaitForPacket(kNewConnection, 4));
  for (const ReceivedPacket& p : server.AllPackets()) {
    // The refusal, then the close; the clients acknowledge neither.
    const uint8_t refusal = 0x5A;
    ASSERT_TRUE(server.GetPeer().Send(&refusal, 8, HIGH_PRIORITY, RELIABLE, 0, p.from, false));
    server.GetPeer().CloseConnection(p.from, false);
  }
  TestClient fifth;
  EXPECT_FALSE(fifth.Connect(server.Port(), "", 500));
  EXPECT_EQ(fifth.LastRefusal(), 0);  // no answer at all
  TestClient elsewhere;
  EXPECT_EQ(JoinAnswer(elsewhere, server, "", "127.0.0.2"), kAccepted);
}

// Only a source that reads what is sent to it gets in: a cookie request is
// answered with no more bytes than it has, and of CONNECTs from a plain
// socket ENet answers only one carrying a cookie for that socket's address.
TEST(PeerHandshakeTest, OnlyAConnectWithACookieForItsAddressIsAnswered) {
  Server server;
  RawClient udp;
  RawClient elsewhere("127.0.0.2");
  const CookieDatagram asked = CookieRequest(0xA1B2C3D4);
  const Bytes request(asked.begin(), asked.end());
  udp.SendDatagram(server.Port(), request);
  const Bytes answer = udp.ReceiveDatagram();
  ASSERT_EQ(answer.size(), request.size());
  EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 8),
            (Bytes{0xFF, 0xFF, 0x51, 0x41, 0xD4, 0xC3, 0xB2, 0xA1}));
  uint32_t cookie = 0;
  for (int i = 3; i >= 0; --i) cookie = cookie << 8 | answer[8 + i];

  Bytes padded = request;
  padded[11] = 1;
  const std::vector<Bytes> unanswered{
      Bytes(request.begin(), request.end() - 1),
      padded,
      EnetConnectDatagram(1),
      EnetConnectDatagram(2, elsewhere.Cookie(server.Port())),
      EnetConnectDatagram(3, cookie, 0xFFF),
  };
  for (const Bytes& d : unanswered) {
    udp.SendDatagram(server.Port(), d);
    EXPECT_EQ(udp.ReceiveDatagram(200), Bytes{}) << testing::PrintToString(d);
  }
  udp.SendDatagram(server.Port(), EnetConnectDatagram(4, cookie));
  const Bytes verify = udp.ReceiveDatagram();
  // The header with its sent time, then VERIFY_CONNECT.
  ASSERT_GE(verify.size(), 5u);
  EXPECT_EQ(verify[4] & 0x0F, 3);
}

// A server that never answers a cookie request (plain ENet, as a master list
// that knows nothing of cookies may be) still gets our connect, without one.
// Meanwhile the connect counts as under way, until it is closed.
TEST(PeerHandshakeTest, AConnectThatGetsNoCookieGoesAheadWithout) {
  RawClient plain;
  TestClient client;
  ASSERT_TRUE(client.Listen(1));
  Peer& peer = client.GetPeer();
  ASSERT_TRUE(peer.Connect("127.0.0.1", plain.Port(), nullptr, 0));
  ASSERT_TRUE(peer.Connect("127.0.0.1", plain.Port(), nullptr, 0));
  peer.CloseConnection(Loopback(plain.Port()), false);
  ASSERT_TRUE(peer.Connect("127.0.0.1", plain.Port(), nullptr, 0));
  client.Pump();
  EXPECT_EQ(client.PacketCount(kAlreadyConnected), 1u);
  EXPECT_TRUE(plain.ServiceUntil([&] { return plain.Connected(); }));
}

// The join deadline counts only time in which the application could have
// handled a join: a stalled main loop closes nobody whose join is waiting.
TEST(PeerHandshakeTest, AStalledApplicationLosesNoJoinToTheDeadline) {
  Server server(10);
  Peer& peer = server.GetPeer();
  peer.SetJoinDeadline(1000);
  peer.RegisterAsRemoteProcedureCall("Join", [&](RPCParameters* p) {
    peer.MarkJoined(peer.GetIndexFromSystemAddress(p->sender));
  });
  auto stall = [](std::deque<TestClient>& clients, uint32_t ms) {
    WaitUntil([] { return false; }, ms, [&] {
      for (TestClient& c : clients) c.Pump();
    });
  };
  std::deque<TestClient> early(1), late(1), never(1);
  // Joins at once while the application is away for twice the deadline.
  ASSERT_TRUE(early[0].Connect(server.Port()));
  EXPECT_TRUE(early[0].SendRpc("Join", nullptr, 0));
  stall(early, 2500);
  // Heard of, then the application stalls before the join arrives.
  ASSERT_TRUE(late[0].Connect(server.Port()));
  ASSERT_TRUE(server.WaitForPacket(kNewConnection, 2));
  EXPECT_TRUE(late[0].SendRpc("Join", nullptr, 0));
  stall(late, 2500);
  // Accepted while the application is away; joins later than the deadline
  // after its acceptance, but soon after the application took note of it.
  std::deque<TestClient> slow(1);
  ASSERT_TRUE(slow[0].Connect(server.Port()));
  stall(slow, 1500);
  ASSERT_TRUE(server.WaitForPacket(kNewConnection, 3));
  stall(slow, 200);  // the client joins a moment after
  EXPECT_TRUE(slow[0].SendRpc("Join", nullptr, 0));
  ASSERT_TRUE(never[0].Connect(server.Port()));
  auto neverGone = [&] {
    server.Pump();
    early[0].Pump();
    late[0].Pump();
    slow[0].Pump();
    never[0].Pump();
    return !never[0].Connected();
  };
  EXPECT_TRUE(WaitUntil(neverGone, 4000));
  EXPECT_TRUE(early[0].Connected());
  EXPECT_TRUE(late[0].Connected());
  EXPECT_TRUE(slow[0].Connected());
  EXPECT_EQ(server.PacketCount(kLost), 1u);
}

TEST(PeerTrafficTest, MessagesKeepTheirBitsAndCloseDeliversWhatWasQueued) {
  Server server(4, {"Blob"});
  TestClient client({"Blob"});
  TestClient loud({"Blob"});
  ASSERT_EQ(JoinAnswer(client, server), kAccepted);
  Bytes big(9000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 31 + 7);
  Peer& peer = server.GetPeer();
  const uint8_t movement[3] = {96, 0xFF, 0xF0};  // 20 bits: arrive as 3 bytes
  // More than one datagram, and a bit count that needs its third byte.
  EXPECT_TRUE(peer.RPC("Blob", big.data(), 72000, HIGH_PRIORITY, RELIABLE_ORDERED, 0,
                       client.Address(), false));
  EXPECT_TRUE(client.GetPeer().Send(movement, 20, HIGH_PRIORITY, UNRELIABLE_SEQUENCED, 0,
                                    server.Address(), false));
  EXPECT_TRUE(client.SendRpc("Blob", big.data(), 13));
  const Bytes longest(512, 200);  // the longest a connected client's message may be
  EXPECT_TRUE(client.SendRaw(longest));
  auto allIn = [&] {
    client.Pump();
    return server.Count("Blob") > 0 && client.Count("Blob") > 0 && server.PacketCount(96) > 0 &&
           server.PacketCount(200) > 0;
  };
  ASSERT_TRUE(server.WaitFor(allIn));
  const ReceivedRpc& atClient = *client.LastRpc("Blob");
  const ReceivedRpc& atServer = *server.LastRpc("Blob");
  EXPECT_EQ(atClient.bits, 72000u);
  EXPECT_TRUE(atClient.data == big) << "the 9000 bytes arrived changed";
  EXPECT_EQ(atClient.from, server.Address());
  EXPECT_EQ(atServer.bits, 13u);
  EXPECT_EQ(atServer.data, (Bytes{0x07, 0x20}));
  EXPECT_EQ(atServer.from, client.Address());
  EXPECT_EQ(server.LastPacket(200)->data.size(), 512u);
  // One byte more never arrives (and takes the rest of its datagram with it:
  // the reliable marker after it comes in a resend).
  const Bytes tooLong(513, 201);
  const uint8_t marker = 202;
  EXPECT_TRUE(client.GetPeer().Send(tooLong.data(), 513 * 8, HIGH_PRIORITY, UNRELIABLE, 0,
                                    server.Address(), false));
  EXPECT_TRUE(client.GetPeer().Send(&marker, 8, HIGH_PRIORITY, RELIABLE, 0, server.Address(),
                                    false));
  ASSERT_TRUE(server.WaitForPacket(202));
  EXPECT_EQ(server.PacketCount(201), 0u);
  // RPCs are handled inside Receive, never handed over.
  EXPECT_EQ(server.PacketCount(kRpc), 0u);
  const ReceivedPacket* r = server.LastPacket(96);
  EXPECT_EQ(r->data, (Bytes{96, 0xFF, 0xF0}));
  EXPECT_EQ(r->bits, 24u);
  EXPECT_EQ(r->index, client.Index());
  EXPECT_EQ(r->from, client.Address());
  // Unreliable traffic in a burst on loopback arrives (the throttle does not drop it).
  Bytes frame(64, 97);
  for (int i = 0; i < 200; ++i) {
    frame[1] = static_cast<uint8_t>(i);
    peer.Send(frame.data(), 64 * 8, HIGH_PRIORITY, UNRELIABLE_SEQUENCED, 0, client.Address(),
              false);
  }
  auto lastFrameIn = [&] {
    const ReceivedPacket* last = client.LastPacket(97);
    return last != nullptr && last->data[1] == 199;
  };
  EXPECT_TRUE(client.WaitFor(lastFrameIn));
  // Its index is the client's own index for its server.
  ASSERT_NE(client.LastPacket(97), nullptr);
  EXPECT_EQ(client.LastPacket(97)->index, 0);

  // A close sends what was queued before it; only a close with notify tells
  // the server's own application.
  ASSERT_EQ(JoinAnswer(loud, server), kAccepted);
  ASSERT_TRUE(server.WaitForPacket(kNewConnection, 2));
  server.Clear();
  client.Clear();
  peer.RPC("Blob", big.data(), 3000 * 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, client.Address(),
           false);
  peer.CloseConnection(client.Address(), false);
  peer.RPC("Blob", big.data(), 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, loud.Address(), false);
  peer.CloseConnection(loud.Address(), true);
  auto bothClosed = [&] {
    client.Pump();
    loud.Pump();
    return !client.Connected() && !loud.Connected();
  };
  ASSERT_TRUE(server.WaitFor(bothClosed));
  server.Pump();
  ASSERT_EQ(client.Count("Blob"), 1u);
  ASSERT_EQ(loud.Count("Blob"), 1u);
  EXPECT_EQ(client.LastRpc("Blob")->data, Bytes(big.begin(), big.begin() + 3000));
  ASSERT_NE(client.LastPacket(kDisconnected), nullptr);
  EXPECT_EQ(client.LastPacket(kDisconnected)->from, server.Address());
  EXPECT_EQ(server.AllPackets().size(), 1u);
  ASSERT_NE(server.LastPacket(kDisconnected), nullptr);
  EXPECT_EQ(server.LastPacket(kDisconnected)->from, loud.Address());
  EXPECT_EQ(peer.GetIndexFromSystemAddress(client.Address()), -1);
  EXPECT_EQ(peer.GetIndexFromSystemAddress(loud.Address()), -1);
  EXPECT_FALSE(peer.Send(movement, 8, HIGH_PRIORITY, RELIABLE, 0, client.Address(), false));
  // A peer shutting down says goodbye too.
  auto other = std::make_unique<Server>();
  client.Clear();
  ASSERT_TRUE(client.Connect(other->Port()));
  other.reset();
  EXPECT_TRUE(client.WaitForPacket(kDisconnected));
  EXPECT_EQ(client.PacketCount(kLost), 0u);
}

// What waits to be sent to one connection is capped: a reader that takes
// nothing (it goes on sending, so it is not silent) is closed once more than
// 8192 messages have waited for it for 2 s without the pile shrinking. A
// reader that takes a burst of 9000 (four times the largest world's
// download) at its own pace, a second late, is not: it gets all of it in
// order, and a close after it still delivers all of it first.
TEST(PeerTrafficTest, AConnectionThatTakesLessThanItIsSentIsClosed) {
  Server server;
  Peer& peer = server.GetPeer();
  RawClient deaf;
  ASSERT_TRUE(deaf.Connect(server.Port()));
  ASSERT_EQ(deaf.Request(""), kAccepted);
  ASSERT_TRUE(server.WaitForPacket(kNewConnection));
  const SystemAddress deafAddress = server.AllPackets()[0].from;
  // Long enough that ENet's window fills and most wait in the connection's own queue.
  const Bytes page(400, 7);
  int sent = 0;
  while (sent < 8193 && peer.Send(page.data(), 400 * 8, HIGH_PRIORITY, RELIABLE, 0, deafAddress,
                                  false)) {
    ++sent;
  }
  EXPECT_EQ(sent, 8193) << "taken while under the cap";
  int rounds = 0;
  auto deafLost = [&] {
    if (++rounds % 50 == 0) deaf.Send({200}, false);
    server.Pump();
    return server.PacketCount(kLost) > 0;
  };
  ASSERT_TRUE(WaitUntil(deafLost, 6000));
  EXPECT_EQ(server.LastPacket(kLost)->data, (Bytes{kLost, 2}));
  EXPECT_EQ(server.LastPacket(kLost)->from, deafAddress);
  EXPECT_EQ(peer.GetIndexFromSystemAddress(deafAddress), -1);

  RawClient reader;
  ASSERT_TRUE(reader.Connect(server.Port()));
  ASSERT_EQ(reader.Request(""), kAccepted);
  ASSERT_TRUE(server.WaitForPacket(kNewConnection, 2));
  const SystemAddress readerAddress = server.AllPackets().back().from;
  reader.received.clear();
  for (int i = 0; i < 9000; ++i) {
    const uint8_t number[2] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)};
    peer.RPC("Many", number, 16, HIGH_PRIORITY, RELIABLE_ORDERED, 0, readerAddress, false);
  }
  WaitUntil([] { return false; }, 1000);  // the reader takes nothing for a second
  peer.CloseConnection(readerAddress, false);
  EXPECT_TRUE(reader.ServiceUntil([&] { return reader.disconnected; }, 10000));
  ASSERT_EQ(reader.received.size(), 9000u);
  int inOrder = 0;
  for (const Bytes& m : reader.received) {  // 11, 4, "Many", u32 16, the number
    inOrder += m.size() == 12 && (m[10] | m[11] << 8) == inOrder;
  }
  EXPECT_EQ(inOrder, 9000);
  EXPECT_EQ(server.PacketCount(kLost), 1u);
}

// ENet holds at most 128 messages of a connection that wait behind a lost
// one (however short, each costs memory): one that holds more when its next
// datagram comes is closed, as it could only stall. Fewer wait and arrive.
TEST(PeerTrafficTest, MessagesWaitingBehindALostOneAreFew) {
  Server server;
  RawClient within, past;
  for (RawClient* c : {&within, &past}) {
    ASSERT_TRUE(c->Connect(server.Port()));
    ASSERT_EQ(c->Request(""), kAccepted);
  }
  ASSERT_TRUE(server.WaitForPacket(kNewConnection, 2));
  within.SendReliableRun(3, std::vector<Bytes>(127, Bytes{200}));
  past.SendReliableRun(3, std::vector<Bytes>(128, Bytes{201}));
  within.Send({202});  // ENet's own message 2: the gap is filled
  past.Send({203});
  ASSERT_TRUE(server.WaitForPacket(202));
  EXPECT_EQ(server.PacketCount(200), 127u);
  ASSERT_TRUE(server.WaitForPacket(kLost));
  EXPECT_EQ(server.LastPacket(kLost)->data, (Bytes{kLost, 4}));
  EXPECT_EQ(server.PacketCount(201), 0u);
  EXPECT_EQ(server.PacketCount(203), 0u);
}

// One message to a set of connection indices: each open connection listed gets
// exactly one copy; free slots, indices past the slots or past any peer id, and
// repeats are skipped, and nothing reaches a connection not listed.
TEST(PeerTrafficTest, SharedSendReachesEachListedConnectionOnce) {
  Server server(4);  // slots 0 to 4: the limit and one to refuse from
  TestClient a({"Set", "End"});
  TestClient b({"Set", "End"});
  TestClient c({"Set", "End"});
  ASSERT_EQ(JoinAnswer(a, server), kAccepted);
  ASSERT_EQ(JoinAnswer(b, server), kAccepted);
  ASSERT_EQ(JoinAnswer(c, server), kAccepted);
  ASSERT_EQ(a.Index(), 0);
  ASSERT_EQ(b.Index(), 1);
  ASSERT_EQ(c.Index(), 2);
  Peer& peer = server.GetPeer();
  const uint16_t indices[] = {1, 0, 0, 3, 4, 5, 4095, 4096, 5000, 65535, 1};
  BitStream payload;
  payload.Write(uint8_t{0x5A});
  EXPECT_EQ(peer.RPC("Set", &payload, HIGH_PRIORITY, RELIABLE_ORDERED, 0, indices), 2);
  const uint8_t raw[2] = {200, 7};
  EXPECT_EQ(peer.Send(raw, 16, HIGH_PRIORITY, RELIABLE_ORDERED, 0, indices), 2);
  // Sent after them on the same channel: once it is in, they are.
  ASSERT_TRUE(peer.RPC("End", &kByte, 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0,
                       UNASSIGNED_SYSTEM_ADDRESS, true));
  for (TestClient* client : {&a, &b, &c}) {
    ASSERT_TRUE(client->WaitFor([&] { return client->Count("End") > 0; }));
  }
  EXPECT_EQ(a.Count("Set"), 1u);
  EXPECT_EQ(b.Count("Set"), 1u);
  EXPECT_EQ(c.Count("Set"), 0u);
  EXPECT_EQ(a.LastRpc("Set")->data, Bytes{0x5A});
  EXPECT_EQ(b.LastRpc("Set")->data, Bytes{0x5A});
  EXPECT_EQ(a.Packets(200), (std::vector<Bytes>{{200, 7}}));
  EXPECT_EQ(b.Packets(200), (std::vector<Bytes>{{200, 7}}));
  EXPECT_EQ(c.PacketCount(200), 0u);
}

TEST(PeerTrafficTest, QueryDatagramIsAnsweredWithoutAConnection) {
  Server server;
  const std::string response = "Q" + std::string(1499, 'r');
  server.GetPeer().SetOfflinePingResponse(response.data(), static_cast<uint32_t>(response.size()));
  RawClient udp;
  // A query: 1 or 2, then a u32 time the answer carries back after 26.
  const Bytes queries[] = {{1, 0x78, 0x56, 0x34, 0x12}, {2, 0xBE, 0xBA, 0xFE, 0xCA}};
  for (const Bytes& query : queries) {
    SCOPED_TRACE(testing::Message() << "query " << int{query[0]});
    udp.SendDatagram(server.Port(), query);
    const Bytes reply = udp.ReceiveDatagram();
    ASSERT_EQ(reply.size(), 1505u);
    EXPECT_EQ(reply[0], kPong);
    EXPECT_EQ(Bytes(reply.begin() + 1, reply.begin() + 5), Bytes(query.begin() + 1, query.end()));
    EXPECT_EQ(std::string(reply.begin() + 5, reply.end()), response);
  }
  // Any other 5-byte datagram is not a query.
  udp.SendDatagram(server.Port(), {3, 0, 0, 0, 0});
  EXPECT_EQ(udp.ReceiveDatagram(100), Bytes{});
  server.Pump();
  EXPECT_EQ(server.AllPackets().size(), 0u);
  // A flood from one address (its source may be forged) is answered ten
  // times in all, the two above included (and a ninth here when a quarter
  // of a second has passed since them).
  for (int i = 0; i < 30; ++i) udp.SendDatagram(server.Port(), queries[0]);
  int answered = 0;
  while (!udp.ReceiveDatagram(200).empty()) ++answered;
  EXPECT_GE(answered, 8);
  EXPECT_LE(answered, 9);
  EXPECT_EQ(server.GetPeer().TakeUnansweredQueries(), 30u - answered);  // counted for the log
  EXPECT_EQ(server.GetPeer().TakeUnansweredQueries(), 0u);
}

// An application that waits for its messages, as the server's main loop does:
// its own thread then services the host. `others` are pumped between waits.
bool WaitAsTheMainLoop(Server& server, std::initializer_list<TestClient*> others,
                       const std::function<bool()>& cond, uint32_t ms = kDefaultWaitMs) {
  return WaitUntil(cond, ms, [&] {
    server.GetPeer().WaitForMessage(1);
    server.Pump();
    for (TestClient* c : others) c->Pump();
  });
}

// Numbers 0..n-1 in two bytes each, in the order they arrived, as "Seq" RPCs.
int SequenceInOrder(const TestClient& to) {
  int inOrder = 0;
  for (const ReceivedRpc& r : to.AllRpcs()) inOrder += (r.data[0] | r.data[1] << 8) == inOrder;
  return inOrder;
}
void SendSequence(Peer& peer, const SystemAddress& to, int n) {
  for (int i = 0; i < n; ++i) {
    const uint8_t number[2] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)};
    peer.RPC("Seq", number, 16, HIGH_PRIORITY, RELIABLE_ORDERED, 0, to, false);
  }
}

// A download far beyond what ENet is given at once drains while the
// application does nothing but wait and receive; a burst followed at once by
// a close arrives whole before the close.
TEST(PeerWaitTest, AWaitingApplicationSendsDownloadsAndBurstsBeforeACloseWhole) {
  Server server;
  TestClient client({"Seq"});
  ASSERT_EQ(JoinAnswer(client, server), kAccepted);
  Peer& peer = server.GetPeer();
  ASSERT_TRUE(WaitAsTheMainLoop(server, {&client}, [&] {
    return server.PacketCount(kNewConnection) > 0;
  }));
  SendSequence(peer, client.Address(), 2000);
  EXPECT_TRUE(WaitAsTheMainLoop(server, {&client}, [&] { return client.Count("Seq") == 2000; }));
  EXPECT_EQ(SequenceInOrder(client), 2000);

  client.Clear();
  SendSequence(peer, client.Address(), 1000);
  peer.CloseConnection(client.Address(), false);
  EXPECT_TRUE(WaitAsTheMainLoop(server, {&client}, [&] { return !client.Connected(); }));
  EXPECT_EQ(client.Count("Seq"), 1000u);
  EXPECT_EQ(SequenceInOrder(client), 1000);
}

// While the application is away (a long script call) the network thread
// serves in its place: no connection is lost to silence, nothing sent
// meanwhile is lost, and a query is answered.
TEST(PeerWaitTest, AnApplicationAwayLongerThanTheSilenceLimitLosesNothing) {
  constexpr uint32_t kSilenceMs = 600;
  Server server(4, {"Seq"});
  TestClient client;
  ASSERT_EQ(JoinAnswer(client, server), kAccepted);
  server.GetPeer().SetTimeoutTime(kSilenceMs, UNASSIGNED_SYSTEM_ADDRESS);
  client.GetPeer().SetTimeoutTime(kSilenceMs, UNASSIGNED_SYSTEM_ADDRESS);
  ASSERT_TRUE(WaitAsTheMainLoop(server, {&client}, [&] {
    return server.PacketCount(kNewConnection) > 0;
  }));
  const SystemAddress serverAddress = server.Address();
  SendSequence(client.GetPeer(), serverAddress, 50);
  RawClient udp;
  WaitUntil([] { return false; }, kSilenceMs * 5 / 2, [&] { client.Pump(); });
  udp.SendDatagram(server.Port(), {1, 1, 2, 3, 4});
  EXPECT_EQ(udp.ReceiveDatagram(kSilenceMs).size(), 5u);
  WaitUntil([] { return false; }, kSilenceMs, [&] { client.Pump(); });
  EXPECT_TRUE(WaitAsTheMainLoop(server, {&client}, [&] { return server.Count("Seq") == 50; }));
  EXPECT_EQ(SequenceInOrder(server), 50);
  EXPECT_TRUE(client.Connected());
  EXPECT_EQ(client.PacketCount(kLost), 0u);
  EXPECT_EQ(server.PacketCount(kLost), 0u);
}

// A shutdown while another thread waits for messages: the thread goes on
// safely and the remote hears a goodbye, not a loss.
TEST(PeerWaitTest, AShutdownWhileTheApplicationWaitsSaysGoodbye) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    Server server;
    TestClient client;
    ASSERT_EQ(JoinAnswer(client, server), kAccepted);
    std::atomic<bool> stop{false};
    std::thread application([&] {
      while (!stop) server.GetPeer().WaitForMessage(round * 20);
    });
    server.GetPeer().Shutdown();
    stop = true;
    application.join();
    EXPECT_TRUE(client.WaitForPacket(kDisconnected));
    EXPECT_EQ(client.PacketCount(kLost), 0u);
  }
}

// The peer against hostile input. Throughout, a well-behaved client keeps
// being served (its "Echo" comes back) and no slot is lost.
struct Served {
  Server server{3, {"Count"}};
  TestClient good{{"Echo"}};
  uint8_t echoes = 0;
  Served() {
    server.GetPeer().RegisterAsRemoteProcedureCall("Echo", [](RPCParameters* p) {
      p->recipient->RPC("Echo", p->input, p->numberOfBitsOfData, HIGH_PRIORITY, RELIABLE_ORDERED, 0,
                        p->sender, false);
    });
  }
  bool RoundTrip() {
    ++echoes;
    if (!good.SendRpc("Echo", &echoes, 8)) return false;
    return good.WaitFor([&] {
      server.Pump();
      return good.Count("Echo") > 0 && good.LastRpc("Echo")->data == Bytes{echoes};
    });
  }
};

TEST(PeerGarbageTest, RandomAndTruncatedDatagramsAreIgnored) {
  Served s;
  ASSERT_EQ(JoinAnswer(s.good, s.server), kAccepted);
  RawClient udp;
  std::mt19937 rng(20240611);
  for (int round = 0; round < 10; ++round) {
    for (int i = 0; i < 100; ++i) {
      // Mostly short, some past the 4096 bytes ENet reads.
      Bytes d(i % 10 == 0 ? 4000 + rng() % 3000 : rng() % 80);
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
  for (size_t n = 0; n < connect.size(); ++n) {
    udp.SendDatagram(s.server.Port(), Bytes(connect.begin(), connect.begin() + n));
  }
  ASSERT_TRUE(s.RoundTrip());
  for (const auto& r : s.server.AllPackets()) {
    EXPECT_EQ(r.from, s.good.Address()) << "packet id " << int{r.Id()};
  }
  EXPECT_EQ(s.server.PacketCount(kNewConnection), 1u);
  TestClient second;  // no slot was lost: the next two get indices 1 and 2
  TestClient third;
  EXPECT_EQ(JoinAnswer(second, s.server), kAccepted);
  EXPECT_EQ(JoinAnswer(third, s.server), kAccepted);
  EXPECT_EQ(second.Index(), 1);
  EXPECT_EQ(third.Index(), 2);
}

// What the peer drops after the request is in the recording peer's test.
TEST(PeerGarbageTest, NothingIsTakenBeforeTheRequest) {
  Served s;
  s.server.GetPeer().SetIncomingPassword("pw", 2);
  ASSERT_EQ(JoinAnswer(s.good, s.server, "pw"), kAccepted);
  const Bytes valid = RpcMessage("Count", {0xAB, 0xC0}, 10);
  RawClient raw;
  RawClient truncated;
  ASSERT_TRUE(raw.Connect(s.server.Port()));
  // Not an RPC, not a fake notice, nothing empty: each sent reliably and not.
  const std::vector<Bytes> early{
      valid, {}, {kNewConnection}, {kAccepted, 0, 0}, {kDisconnected}, {200, 1, 2},
  };
  for (const Bytes& m : early) {
    raw.Send(m);
    raw.Send(m, false);
  }
  ASSERT_TRUE(s.RoundTrip());
  // Truncated requests are wrong passwords, and the connection is closed.
  ASSERT_TRUE(truncated.Connect(s.server.Port()));
  EXPECT_EQ(truncated.Request("p"), kInvalidPassword);
  EXPECT_TRUE(truncated.ServiceUntil([&] { return truncated.disconnected; }));
  EXPECT_EQ(raw.Request("pw"), kAccepted);
  const std::vector<Bytes> after{{}, {4, 'p', 'w'}, valid, {93}};  // 4: a second request
  for (const Bytes& m : after) {
    raw.Send(m);
    raw.Send(m, false);
  }
  auto bothIn = [&] {
    s.server.Pump();
    return s.server.PacketCount(93) == 2;
  };
  ASSERT_TRUE(raw.ServiceUntil(bothIn));
  ASSERT_TRUE(s.RoundTrip());
  // After the request both calls arrive; the app got the two 17s and the two 93s.
  EXPECT_EQ(s.server.Count("Count"), 2u);
  EXPECT_EQ(s.server.PacketCount(kNewConnection), 2u);
  EXPECT_EQ(s.server.PacketCount(93), 2u);
  EXPECT_EQ(s.server.AllPackets().size(), 4u);
}

// One send of a recording peer: the receivers by slot, reliability, message.
struct Sent {
  std::vector<int> to;
  bool reliable = false;
  Bytes message;
  bool operator==(const Sent&) const = default;
};
void PrintTo(const Sent& s, std::ostream* os) {
  *os << "{to " << testing::PrintToString(s.to) << (s.reliable ? " reliable " : " unreliable ")
      << testing::PrintToString(s.message) << "}";
}
using Sends = std::vector<Sent>;

// A peer started while recording: sends are kept and remotes handed in by slot.
struct Recording : Peer {
  Recording() {
    RecordSendsInsteadOfSending(true);
    EXPECT_TRUE(Startup(3, 1, 0, nullptr));
    RecordSendsInsteadOfSending(false);
  }
  Sends Take() {
    Sends out;
    for (RecordedSend& s : TakeRecorded()) out.push_back({s.to, s.reliable, s.message});
    return out;
  }
};

// A call a handler saw.
struct Call {
  std::string name;
  uint32_t bits = 0;
  Bytes data;
  bool operator==(const Call&) const = default;
};
void PrintTo(const Call& c, std::ostream* os) {
  *os << "{" << c.name << " " << c.bits << " bits " << testing::PrintToString(c.data) << "}";
}

// A message the application was handed.
struct Handed {
  int id = 0;
  int index = -1;
  SystemAddress from;
  uint32_t bits = 0;
  bool operator==(const Handed&) const = default;
};
void PrintTo(const Handed& h, std::ostream* os) {
  *os << "{id " << h.id << " index " << h.index << " from " << h.from.ToString() << " bits "
      << h.bits << "}";
}

TEST(RecordingPeerTest, SendsGoToTheirTargetsAndInjectedMessagesToTheHandlers) {
  Recording peer;
  const SystemAddress a = Loopback(1);
  const SystemAddress b = Loopback(2);
  const SystemAddress c = Loopback(3);
  ASSERT_TRUE(peer.IsRecording());
  ASSERT_TRUE(peer.InjectConnection(0, a));
  ASSERT_TRUE(peer.InjectConnection(1, b));
  ASSERT_TRUE(peer.InjectConnection(3, c));
  EXPECT_FALSE(peer.InjectConnection(1, a)) << "slot taken";
  EXPECT_FALSE(peer.InjectConnection(4, a)) << "beyond the slots";
  const uint8_t kind[] = {1, 2, 3, 4};
  const uint8_t thirteen[2] = {0xDE, 0xAF};  // 0xAF's low 3 bits are not sent
  auto rpc = [&](const char* name, const uint8_t* data, uint32_t bits, const SystemAddress& to,
                 bool broadcast) {
    return peer.RPC(name, data, bits, HIGH_PRIORITY, RELIABLE_ORDERED, 0, to, broadcast);
  };
  EXPECT_TRUE(rpc("T", &kind[0], 8, b, false)) << "to b";
  EXPECT_TRUE(rpc("T", &kind[1], 8, UNASSIGNED_SYSTEM_ADDRESS, true)) << "to all";
  EXPECT_TRUE(rpc("T", &kind[2], 8, b, true)) << "to all but b";
  EXPECT_TRUE(rpc("T", thirteen, 13, a, false)) << "13 bits";
  EXPECT_TRUE(rpc("T", nullptr, 0, a, false)) << "no payload";
  EXPECT_FALSE(rpc("T", &kind[3], 8, UNASSIGNED_SYSTEM_ADDRESS, false)) << "no target";
  EXPECT_FALSE(rpc("T", &kind[3], 8, Loopback(9), false)) << "an unknown target";
  EXPECT_FALSE(rpc("", kind, 8, a, false)) << "an empty name";
  EXPECT_FALSE(rpc(std::string(256, 'n').c_str(), kind, 8, a, false)) << "a name too long";
  BitStream stream;  // 17 bits
  stream.Write(uint16_t{0x1234});
  stream.WriteBit(true);
  const uint16_t set[] = {3, 0, 2, 4095, 3};  // free slot 2, beyond any, a repeat: skipped
  EXPECT_EQ(peer.RPC("T", &stream, HIGH_PRIORITY, RELIABLE_ORDERED, 0, set), 2);
  EXPECT_EQ(peer.Send(&stream, HIGH_PRIORITY, UNRELIABLE_SEQUENCED, 0, set), 2);
  EXPECT_FALSE(peer.Send(thirteen, 0, HIGH_PRIORITY, RELIABLE, 0, a, false));
  EXPECT_FALSE(peer.Send(nullptr, 8, HIGH_PRIORITY, RELIABLE, 0, a, false)) << "no data";
  peer.CloseConnection(c, false);
  // clang-format off
  EXPECT_EQ(peer.Take(), (Sends{
      {{1},       true,  {11, 1, 'T', 8, 0, 0, 0, 1}},
      {{0, 1, 3}, true,  {11, 1, 'T', 8, 0, 0, 0, 2}},
      {{0, 3},    true,  {11, 1, 'T', 8, 0, 0, 0, 3}},
      {{0},       true,  {11, 1, 'T', 13, 0, 0, 0, 0xDE, 0xA8}},
      {{0},       true,  {11, 1, 'T', 0, 0, 0, 0}},
      {{3, 0},    true,  {11, 1, 'T', 17, 0, 0, 0, 0x34, 0x12, 0x80}},
      {{3, 0},    false, {0x34, 0x12, 0x80}},
      {{3},       false, {}},  // the close
  }));
  // clang-format on
  // A bit count past 16 bits fills the count's third byte.
  const Bytes wide(9321, 0x5A);
  EXPECT_TRUE(rpc("T", wide.data(), 0x012345, a, false));
  const Sends wideSent = peer.Take();
  ASSERT_EQ(wideSent.size(), 1u);
  const Bytes& m = wideSent[0].message;
  ASSERT_EQ(m.size(), 7u + 9321u);
  EXPECT_EQ(Bytes(m.begin(), m.begin() + 7), (Bytes{11, 1, 'T', 0x45, 0x23, 0x01, 0x00}));

  // Injected in order: calls without a handler are dropped; a handler may
  // answer, unregister itself and register another within one Receive();
  // malformed calls, bit counts past the end and ids only the peer itself
  // raises are dropped; anything else reaches the application.
  std::vector<Call> calls;
  auto seen = [&](const char* name, RPCParameters* p) {
    const Bytes data(p->input, p->input + (p->numberOfBitsOfData + 7) / 8);
    calls.push_back({name, p->numberOfBitsOfData, data});
  };
  peer.RegisterAsRemoteProcedureCall("Ping", [&](RPCParameters* p) {
    seen("Ping", p);
    const uint8_t reply = p->input[0] + 1;
    p->recipient->RPC("Pong", &reply, 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, p->sender, false);
    p->recipient->UnregisterAsRemoteProcedureCall("Ping");
    p->recipient->RegisterAsRemoteProcedureCall("Late", [&](RPCParameters* q) { seen("Late", q); });
  });
  const Bytes valid = RpcMessage("Late", {0xAB, 0xC0}, 10);
  std::vector<Bytes> in{
      RpcMessage("Nobody", {1}, 8),
      RpcMessage("Ping", {1}, 8),
      RpcMessage("Ping", {1}, 8),  // unregistered by the first
      {kRpc},
      RpcMessage("", {1, 2}, 16),
      RpcMessage("Late", {0xAB}, 9),
      RpcMessage("Late", {}, 0xFFFFFFFF),
      // Counts whose top byte alone puts them past the end.
      RpcMessage("Late", {0xAB}, 0x01000008),
      RpcMessage("Late", {0xAB}, 0x80000008),
      {4, 'p', 'w'},  // a request
      {kAccepted, 1, 0},
      {kNewConnection},
      {kDisconnected},
      {kLost},
      {kBanned},
      {200, 7},
      valid,
  };
  for (size_t n = 1; n < valid.size(); ++n) in.emplace_back(valid.begin(), valid.begin() + n);
  for (size_t i = 0; i < in.size(); ++i) {
    EXPECT_TRUE(peer.InjectMessage(1, in[i].data(), static_cast<uint32_t>(in[i].size()))) << i;
  }
  EXPECT_FALSE(peer.InjectMessage(2, kind, 1)) << "a free slot";
  EXPECT_FALSE(peer.InjectMessage(0, kind, 0)) << "empty";
  peer.InjectDisconnection(0, true);
  std::vector<Handed> got;
  while (Packet* p = peer.Receive()) {
    got.push_back({p->data[0], p->systemIndex, p->systemAddress, p->bitSize});
    peer.DeallocatePacket(p);
  }
  // clang-format off
  EXPECT_EQ(got, (std::vector<Handed>{
      {kNewConnection, 0, a, 8},
      {kNewConnection, 1, b, 8},
      {kNewConnection, 3, c, 8},
      {200,            1, b, 16},
      {kLost,          0, a, 8},
  }));
  // clang-format on
  EXPECT_EQ(calls, (std::vector<Call>{{"Ping", 8, {1}}, {"Late", 10, {0xAB, 0xC0}}}));
  EXPECT_EQ(peer.Take(), (Sends{{{1}, true, {11, 4, 'P', 'o', 'n', 'g', 8, 0, 0, 0, 2}}}));
  EXPECT_EQ(peer.GetIndexFromSystemAddress(a), -1);
  EXPECT_TRUE(peer.InjectConnection(0, a)) << "the slot is free again";
}

// A remote that floods calls must not hold the application inside Receive().
TEST(RecordingPeerTest, ReceiveReturnsAfterAFixedNumberOfCallsAndLosesNone) {
  Recording peer;
  ASSERT_TRUE(peer.InjectConnection(0, Loopback(1)));
  int handled = 0;
  peer.RegisterAsRemoteProcedureCall("Flood", [&](RPCParameters*) { ++handled; });
  const Bytes call = RpcMessage("Flood", {7}, 8);
  const uint8_t marker = 200;
  for (int i = 0; i < 600; ++i) {
    peer.InjectMessage(0, call.data(), static_cast<uint32_t>(call.size()));
  }
  peer.InjectMessage(0, &marker, 1);
  std::vector<int> perCall;
  bool markerIn = false;
  while (!markerIn && perCall.size() < 10) {
    const int before = handled;
    Packet* p = peer.Receive();
    markerIn = p != nullptr && p->data[0] == marker;
    peer.DeallocatePacket(p);
    perCall.push_back(handled - before);
  }
  EXPECT_EQ(perCall, (std::vector<int>{0, 256, 256, 88}));  // the 17 first

  // A shutdown ends the recording: nothing more can be handed in.
  peer.Shutdown();
  EXPECT_FALSE(peer.IsActive());
  EXPECT_FALSE(peer.IsRecording());
  EXPECT_FALSE(peer.InjectConnection(1, Loopback(2)));
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
    peer.InjectMessage(0, flood, sizeof flood, false);  // movement, say
  }
  for (int i = 0; i < 3; ++i) {
    peer.InjectMessage(1, other, sizeof other);
  }
  peer.InjectDisconnection(0, true);  // a notice is never dropped

  std::vector<int> order;  // the sender of each message, in the order taken
  int notices = 0;
  for (Packet* p; (p = peer.Receive()); peer.DeallocatePacket(p)) {
    if (p->data[0] == kLost) {
      ++notices;
    } else if (p->data[0] != kNewConnection) {
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
    peer.InjectMessage(0, big.data(), static_cast<uint32_t>(big.size()), false);
  }
  int taken = 0;
  for (Packet* p; (p = peer.Receive()); peer.DeallocatePacket(p)) {
    if (p->data[0] == 200) ++taken;
  }
  EXPECT_EQ(taken, 2);  // a third would pass 1 MiB

  // Reliable messages have 1024 more that unreliable ones cannot fill; one
  // that does not fit even so ends the connection: no hole in its stream.
  for (int i = 0; i < 4096; ++i) {
    peer.InjectMessage(0, flood, sizeof flood, false);
  }
  const uint8_t call[] = {202};
  int fitted = 0;
  while (peer.InjectMessage(0, call, sizeof call)) ++fitted;
  EXPECT_EQ(fitted, 1024);
  EXPECT_FALSE(peer.InjectMessage(0, call, sizeof call)) << "closed";
  const std::vector<RecordedSend> sent = peer.TakeRecorded();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(sent[0].message.empty()) << "a close";
  EXPECT_EQ(sent[0].to, std::vector<int>{0});
  // The next connection in the slot has a share of its own: what the flooder
  // left waiting counts against nobody.
  ASSERT_TRUE(peer.InjectConnection(0, Loopback(2)));
  EXPECT_TRUE(peer.InjectMessage(0, call, sizeof call)) << "the newcomer's first call";
  int calls = 0;
  int newcomers = 0;
  Bytes last;
  for (Packet* p; (p = peer.Receive()); peer.DeallocatePacket(p)) {
    if (p->systemAddress == Loopback(2)) {
      newcomers += p->data[0] == 202;
      continue;
    }
    calls += p->data[0] == 202;
    last.assign(p->data, p->data + p->length);
  }
  EXPECT_EQ(calls, 1024);
  EXPECT_EQ(last, (Bytes{kLost, 1}));  // after all it sent, and why
  EXPECT_EQ(newcomers, 1);
  EXPECT_TRUE(peer.InjectMessage(0, call, sizeof call)) << "the flooder's messages taken";
}

TEST(RowUpdateTest, WrittenAndParsedByteExact) {
  Recording peer;
  ASSERT_TRUE(peer.InjectConnection(0, Loopback(1)));
  LightweightDatabaseClient client;
  EXPECT_FALSE(client.UpdateRow("t", "p", RUM_UPDATE_OR_ADD_ROW, false, 0, {}, Loopback(1), false))
      << "not attached";
  client.Attach(&peer);
  const std::vector<RowCell> cells{{"P", RowCell::NUMERIC, 7777, ""},
                                   {"N", RowCell::STRING, 0, "ab"}};
  ASSERT_TRUE(client.UpdateRow("T", "pw", RUM_UPDATE_EXISTING_ROW, true, 0xCAFEBABE, cells,
                               Loopback(1), false));
  ASSERT_TRUE(client.UpdateRow("T", "", RUM_ADD_NEW_ROW, false, 0, {}, Loopback(1), false));
  // Table, password, mode, bit 1 + u32 row id, u8 count, then each cell's
  // name, type and f64 or u16 length + text, all from bit 1 on.
  // clang-format off
  const Bytes first{0x47, 0x01, 0x54, 0x02, 0x70, 0x77, 0x01, 0xDF, 0x5D, 0x7F, 0x65,
                    0x01, 0x00, 0xA8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x30, 0xDF,
                    0x20, 0x00, 0xA7, 0x00, 0x81, 0x00, 0x30, 0xB1, 0x00};
  // clang-format on
  const Bytes second{71, 1, 'T', 0, 2, 0x00, 0x00};  // bit 0 and count 0 share bytes
  EXPECT_EQ(peer.Take(), (Sends{{{0}, true, first}, {{0}, true, second}}));

  LightweightDatabaseClient::RowUpdate row;
  ASSERT_TRUE(LightweightDatabaseClient::ParseRowUpdate(first.data(),
                                                        static_cast<uint32_t>(first.size()), row));
  EXPECT_EQ(row.tableName, "T");
  EXPECT_EQ(row.updatePassword, "pw");
  EXPECT_EQ(row.mode, RUM_UPDATE_EXISTING_ROW);
  EXPECT_TRUE(row.hasRowId);
  EXPECT_EQ(row.rowId, 0xCAFEBABEu);
  ASSERT_EQ(row.cells.size(), 2u);
  EXPECT_EQ(row.cells[0].columnName, "P");
  EXPECT_EQ(row.cells[0].type, RowCell::NUMERIC);
  EXPECT_EQ(row.cells[0].number, 7777.0);
  EXPECT_EQ(row.cells[1].columnName, "N");
  EXPECT_EQ(row.cells[1].type, RowCell::STRING);
  EXPECT_EQ(row.cells[1].text, "ab");
  for (uint32_t n = 0; n < first.size(); ++n) {  // every truncation fails, output untouched
    LightweightDatabaseClient::RowUpdate partial;
    partial.tableName = "untouched";
    EXPECT_FALSE(LightweightDatabaseClient::ParseRowUpdate(first.data(), n, partial)) << n;
    EXPECT_EQ(partial.tableName, "untouched") << n;
  }
  ASSERT_TRUE(LightweightDatabaseClient::ParseRowUpdate(second.data(), 7, row));
  EXPECT_EQ(row.mode, RUM_ADD_NEW_ROW);
  EXPECT_FALSE(row.hasRowId);
  EXPECT_TRUE(row.cells.empty());
  // An unknown mode is refused.
  const Bytes unknownMode{71, 1, 'T', 0, 3, 0x00, 0x00};
  EXPECT_FALSE(LightweightDatabaseClient::ParseRowUpdate(unknownMode.data(), 7, row));
}

}  // namespace
}  // namespace net
