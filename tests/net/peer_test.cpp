#include "net/peer.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include "net/bitstream.h"
#include "net/peer_test_helpers.h"

namespace net {
namespace {

using namespace test;

Bytes Pattern(size_t n) {
  Bytes v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 31 + 7);
  return v;
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
  for (int index : {0, -1, 99}) {
    EXPECT_EQ(peer.GetSystemAddressFromIndex(index), UNASSIGNED_SYSTEM_ADDRESS);
  }
  EXPECT_EQ(peer.GetLastPing(Loopback(1234)), -1);
  const uint8_t byte = 92;
  EXPECT_FALSE(peer.Send(&byte, 8, HIGH_PRIORITY, RELIABLE, 0, Loopback(1234), false));
  EXPECT_FALSE(peer.Connect("", 7777, nullptr, 0));
}

TEST(PeerTest, PasswordDecidesTheHandshake) {
  Node server, right(1), wrong(1), none(1);
  server.peer.SetIncomingPassword("sesame", 6);
  EXPECT_EQ(Join(wrong, server, "sesam"), ID_INVALID_PASSWORD);
  EXPECT_EQ(Join(none, server), ID_INVALID_PASSWORD);
  EXPECT_EQ(Join(right, server, "sesame"), ID_CONNECTION_REQUEST_ACCEPTED);

  // The refused never reach the application, nor the address table.
  ASSERT_TRUE(WaitFor({&server}, [&] { return server.Count(ID_NEW_INCOMING_CONNECTION) == 1; }));
  const Received* incoming = server.Last(ID_NEW_INCOMING_CONNECTION);
  EXPECT_EQ(incoming->from, right.Address());
  EXPECT_EQ(incoming->index, GivenIndex(right));
  EXPECT_EQ(right.IndexAt(server), GivenIndex(right));
  EXPECT_EQ(wrong.IndexAt(server), -1);
  EXPECT_EQ(server.peer.GetSystemAddressFromIndex(GivenIndex(right)), right.Address());
  EXPECT_GE(server.peer.GetLastPing(right.Address()), 0);
  EXPECT_EQ(right.Last(ID_CONNECTION_REQUEST_ACCEPTED)->from, server.Address());
  // A refused client's application got exactly the refusal.
  EXPECT_EQ(wrong.Count(ID_CONNECTION_ATTEMPT_FAILED) + wrong.Count(ID_DISCONNECTION_NOTIFICATION),
            0);

  // Connecting again to a connected server is reported, not repeated.
  right.peer.Connect("127.0.0.1", server.peer.GetBoundPort(), "sesame", 6);
  EXPECT_TRUE(WaitFor({&right}, [&] { return right.Count(ID_ALREADY_CONNECTED) == 1; }));
}

TEST(PeerTest, BanListMatchesPartsExpiresAndRefuses) {
  Node server(4);
  Peer& peer = server.peer;
  peer.AddToBanList("10.0.*.*");
  peer.AddToBanList("127.0.0.2");
  peer.AddToBanList("127.0.*.3");
  EXPECT_TRUE(peer.IsBanned("10.0.200.1"));
  // Other parts, other part counts, a part as a prefix, nothing at all.
  for (const char* free : {"10.1.0.1", "10.0.1", "110.0.1.1", "127.0.0.20"}) {
    EXPECT_FALSE(peer.IsBanned(free)) << free;
  }
  EXPECT_FALSE(peer.IsBanned(nullptr));
  peer.RemoveFromBanList("127.0.*.*");  // removal is by exact text: nothing
  EXPECT_TRUE(peer.IsBanned("127.0.9.3"));

  Node exact(1, "127.0.0.2"), wildcard(1, "127.0.0.3"), other(1, "127.0.0.4");
  ASSERT_TRUE(exact.started && wildcard.started && other.started);
  EXPECT_EQ(Join(exact, server), ID_CONNECTION_BANNED);
  EXPECT_EQ(Join(wildcard, server), ID_CONNECTION_BANNED);
  EXPECT_EQ(Join(other, server), ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(server.Count(ID_NEW_INCOMING_CONNECTION), 1);

  // Lifting the exact ban lets that address in; a timed ban ends by itself.
  peer.RemoveFromBanList("127.0.0.2");
  Node again(1, "127.0.0.2");
  EXPECT_EQ(Join(again, server), ID_CONNECTION_REQUEST_ACCEPTED);
  peer.AddToBanList("*.*.*.*", 30);
  EXPECT_TRUE(peer.IsBanned("1.2.3.4"));
  EXPECT_TRUE(WaitFor({}, [&] { return !peer.IsBanned("1.2.3.4"); }));
  EXPECT_TRUE(peer.IsBanned("127.0.5.3"));  // the permanent one stays
  peer.ClearBanList();
  EXPECT_FALSE(peer.IsBanned("127.0.5.3"));
}

TEST(PeerTest, FullServerRefusesAndFreedSlotsAreReusedLowestFirst) {
  Node server(2), a(1), b(1), c(1);
  ASSERT_EQ(Join(a, server), ID_CONNECTION_REQUEST_ACCEPTED);
  ASSERT_EQ(Join(b, server), ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(GivenIndex(a), 0);
  EXPECT_EQ(GivenIndex(b), 1);
  EXPECT_EQ(Join(c, server), ID_NO_FREE_INCOMING_CONNECTIONS);
  // A refused client may try again straight away (it is not "already connected").
  EXPECT_EQ(Join(c, server), ID_NO_FREE_INCOMING_CONNECTIONS);
  EXPECT_EQ(c.Count(ID_ALREADY_CONNECTED), 0);

  // b leaves: the server sees 19 for index 1, and a newcomer gets index 1
  // again, its 17 handled after that 19. The server is not pumped in between,
  // so only the order of its queue keeps them apart.
  b.peer.CloseConnection(server.Address(), false);
  Node d(1);
  uint8_t answer = 0;
  for (int attempt = 0; attempt < 20 && answer != ID_CONNECTION_REQUEST_ACCEPTED; ++attempt) {
    d.got.clear();
    d.peer.Connect("127.0.0.1", server.peer.GetBoundPort(), nullptr, 0);
    WaitFor({&d}, [&] { return (answer = d.got.empty() ? 0 : d.got.back().Id()) != 0; });
  }
  ASSERT_EQ(answer, ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(GivenIndex(d), 1);
  ASSERT_TRUE(WaitFor({&server}, [&] { return server.Count(ID_NEW_INCOMING_CONNECTION) == 3; }));
  int closedAt = -1, joinedAt = -1;
  for (size_t i = 0; i < server.got.size(); ++i) {
    const Received& r = server.got[i];
    if (r.index != 1) continue;
    if (r.Id() == ID_DISCONNECTION_NOTIFICATION) closedAt = static_cast<int>(i);
    if (r.Id() == ID_NEW_INCOMING_CONNECTION) joinedAt = static_cast<int>(i);
  }
  ASSERT_GE(closedAt, 0);
  EXPECT_LT(closedAt, joinedAt);
  EXPECT_EQ(server.got[closedAt].from, b.Address());
  EXPECT_EQ(b.Count(ID_DISCONNECTION_NOTIFICATION), 0);  // closed without notice
  EXPECT_EQ(server.Count(ID_CONNECTION_LOST), 0);

  // a leaves as well: index 0 is the lowest free one.
  a.peer.CloseConnection(server.Address(), false);
  ASSERT_TRUE(WaitFor({&server}, [&] { return server.Count(ID_DISCONNECTION_NOTIFICATION) == 2; }));
  Node e(1);
  EXPECT_EQ(Join(e, server), ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(GivenIndex(e), 0);
}

// The two slow deadlines share one wait: a joined client that falls silent is
// lost after 3 s, and connections that never ask are dropped quietly after 5 s.
TEST(PeerTest, SilentAndUnaskingConnectionsAreDroppedOnTime) {
  Node server(3), live(1);
  RawClient silent;
  ASSERT_TRUE(silent.Connect(server.peer.GetBoundPort()));
  ASSERT_EQ(silent.Request(""), ID_CONNECTION_REQUEST_ACCEPTED);
  const uint64_t lastHeard = platform::MonotonicUs();
  ASSERT_EQ(Join(live, server), ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(GivenIndex(live), 1);
  UdpSocket spoofer;
  spoofer.SendTo(server.peer.GetBoundPort(), EnetConnectDatagram(4242));  // never completes
  RawClient lurker;  // completes the ENet handshake and answers, but never asks
  ASSERT_TRUE(lurker.Connect(server.peer.GetBoundPort()));
  const uint64_t lurking = platform::MonotonicUs();

  // Every slot is held meanwhile: a well-behaved client cannot get in.
  Node early(1);
  early.peer.SetTimeoutTime(500, UNASSIGNED_SYSTEM_ADDRESS);
  EXPECT_NE(Join(early, server), ID_CONNECTION_REQUEST_ACCEPTED);

  auto pumped = [&](const std::function<bool()>& done) {
    return [&, done] {
      server.Pump();
      live.Pump();
      return done();
    };
  };
  // `silent` is no longer serviced: it answers nothing from here on.
  ASSERT_TRUE(lurker.ServiceUntil(pumped([&] { return server.Count(ID_CONNECTION_LOST) == 1; }),
                                  6000));
  EXPECT_GE((platform::MonotonicUs() - lastHeard) / 1000.0, 2900.0);
  EXPECT_EQ(server.Last(ID_CONNECTION_LOST)->index, 0);
  ASSERT_TRUE(lurker.ServiceUntil(pumped([&] { return lurker.disconnected; }), 6000));
  EXPECT_GE((platform::MonotonicUs() - lurking) / 1000.0, 4900.0);
  EXPECT_TRUE(lurker.received.empty());

  // The connection that kept answering is unaffected, the application heard
  // only of the two joins and the loss, and every other slot is free again.
  EXPECT_EQ(live.IndexAt(server), 1);
  EXPECT_EQ(live.Count(ID_CONNECTION_LOST), 0);
  Node next[3] = {Node(1), Node(1), Node(1)};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Join(next[i], server), i < 2 ? ID_CONNECTION_REQUEST_ACCEPTED
                                           : ID_NO_FREE_INCOMING_CONNECTIONS);
  }
  EXPECT_EQ(GivenIndex(next[0]), 0);
  EXPECT_EQ(GivenIndex(next[1]), 2);
  ASSERT_TRUE(WaitFor({&server}, [&] { return server.Count(ID_NEW_INCOMING_CONNECTION) == 4; }));
  EXPECT_EQ(server.got.size(), 5u);
  EXPECT_EQ(server.Count(ID_DISCONNECTION_NOTIFICATION), 0);
}

// One address holds at most four connections that are not yet accepted, a
// refused one only until its refusal is delivered; accepted ones are not
// limited (players share NATs).
TEST(PeerTest, OneAddressCannotHoldTheSlotsOfOthers) {
  Node server(9);
  server.peer.SetIncomingPassword("pw", 2);
  server.peer.SetTimeoutTime(10000, UNASSIGNED_SYSTEM_ADDRESS);  // silence frees nothing here
  const uint16_t port = server.peer.GetBoundPort();
  for (int i = 0; i < 5; ++i) {  // refused, then gone without a word
    RawClient gone;
    ASSERT_TRUE(gone.Connect(port));
    ASSERT_EQ(gone.Request(""), ID_INVALID_PASSWORD);
  }
  UdpSocket spoofer;  // eight handshakes from the same address, never completed
  for (uint32_t id = 1; id <= 8; ++id) spoofer.SendTo(port, EnetConnectDatagram(id));
  std::deque<Node> players;  // five from one other address: every one gets in
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(Join(players.emplace_back(1, "127.0.0.2"), server, "pw"), ID_CONNECTION_REQUEST_ACCEPTED);
}

// A remote that restarts and connects again from the same address while its
// old connection is still open: one address must mean one connection.
TEST(PeerTest, ReconnectFromTheSameAddressReplacesTheOldConnection) {
  Node server(3);
  server.Watch("Hi");
  RawClient client;
  ASSERT_TRUE(client.Connect(server.peer.GetBoundPort()));
  ASSERT_EQ(client.Request(""), ID_CONNECTION_REQUEST_ACCEPTED);
  client.Abandon();
  ASSERT_TRUE(client.Connect(server.peer.GetBoundPort()));
  ASSERT_EQ(client.Request(""), ID_CONNECTION_REQUEST_ACCEPTED);
  client.Send(RpcMessage("Hi", {0x5A}, 8));
  ASSERT_TRUE(WaitFor({&server}, [&] { return server.CallCount("Hi") == 1; }));

  // The old connection ended (lost) before the new one began, and the
  // address now names only the new one.
  ASSERT_EQ(server.got.size(), 3u);
  const SystemAddress address = server.got[0].from;
  EXPECT_EQ(server.got[0].index, 0);
  EXPECT_EQ(server.got[1].Id(), ID_CONNECTION_LOST);
  EXPECT_EQ(server.got[1].index, 0);
  EXPECT_EQ(server.got[2].Id(), ID_NEW_INCOMING_CONNECTION);
  EXPECT_EQ(server.got[2].index, 1);
  EXPECT_EQ(server.got[2].from, address);
  EXPECT_EQ(server.calls[0].sender, address);
  EXPECT_EQ(server.peer.GetIndexFromSystemAddress(address), 1);
  EXPECT_EQ(server.peer.GetSystemAddressFromIndex(0), UNASSIGNED_SYSTEM_ADDRESS);
  const uint8_t byte = 92;
  ASSERT_TRUE(server.peer.Send(&byte, 8, HIGH_PRIORITY, RELIABLE, 0, address, false));
  EXPECT_TRUE(client.ServiceUntil(
      [&] { return !client.received.empty() && client.received.back() == Bytes{92}; }));
}

// ENet's clock follows the wall clock, which may be stepped (enet_time_set
// stands in for an NTP correction); the time-out counts real silence only.
TEST(PeerTest, WallClockStepsLoseNoConnection) {
  Node server, client(1);
  server.Watch("Hi");
  ASSERT_EQ(Join(client, server), ID_CONNECTION_REQUEST_ACCEPTED);
  const uint8_t byte = 1;
  for (const int32_t step : {-2000, 4000, -2000}) {
    enet_time_set(enet_time_get() + static_cast<uint32_t>(step));
    // Long enough for many rounds of both network threads to have looked.
    const uint64_t until = platform::MonotonicUs() + 200000;
    WaitFor({&server, &client}, [&] { return platform::MonotonicUs() >= until; });
    const int calls = server.CallCount("Hi");
    ASSERT_TRUE(client.Rpc("Hi", &byte, 8, server.Address())) << "step " << step;
    ASSERT_TRUE(WaitFor({&server, &client}, [&] { return server.CallCount("Hi") > calls; }));
  }
  for (Node* n : {&server, &client}) {
    EXPECT_EQ(n->Count(ID_CONNECTION_LOST) + n->Count(ID_DISCONNECTION_NOTIFICATION), 0);
  }
}

TEST(PeerTest, ConnectingNowhereFailsAfterTheTimeOut) {
  UdpSocket deaf;
  Node client(1);
  client.peer.SetTimeoutTime(300, UNASSIGNED_SYSTEM_ADDRESS);
  ASSERT_TRUE(client.peer.Connect("127.0.0.1", deaf.Port(), nullptr, 0));
  ASSERT_TRUE(WaitFor({&client}, [&] { return client.Count(ID_CONNECTION_ATTEMPT_FAILED) == 1; }));
  EXPECT_EQ(client.Last(ID_CONNECTION_ATTEMPT_FAILED)->index, -1);
  Node server(2);  // the slot is free again for the next attempt
  EXPECT_EQ(Join(client, server), ID_CONNECTION_REQUEST_ACCEPTED);
}

TEST(PeerTest, RpcsArriveWithExactBitCounts) {
  Node server, client(1);
  server.Watch("Blob");
  client.Watch("Blob");
  ASSERT_EQ(Join(client, server), ID_CONNECTION_REQUEST_ACCEPTED);

  const Bytes big = Pattern(7000);
  const uint8_t thirteen[2] = {0xDE, 0xAF};  // the low 3 bits of 0xAF are not part of it
  const std::pair<const uint8_t*, uint32_t> cases[] = {
      {nullptr, 0}, {thirteen, 13}, {big.data(), 7000 * 8}};
  for (const auto& [data, bits] : cases) {
    EXPECT_TRUE(client.Rpc("Blob", data, bits, server.Address()));
    EXPECT_TRUE(server.Rpc("Blob", data, bits, client.Address()));
  }
  BitStream stream;
  stream.Write(static_cast<uint16_t>(0x1234));
  stream.WriteBit(true);
  EXPECT_TRUE(
      client.peer.RPC("Blob", &stream, HIGH_PRIORITY, RELIABLE, 0, server.Address(), false));
  ASSERT_TRUE(WaitFor({&server, &client},
                      [&] { return server.calls.size() == 4 && client.calls.size() == 3; }));

  for (const Node* n : {&server, &client}) {
    EXPECT_EQ(n->calls[0].bits, 0u);
    EXPECT_TRUE(n->calls[0].payload.empty());
    EXPECT_EQ(n->calls[1].bits, 13u);
    EXPECT_EQ(n->calls[1].payload, (Bytes{0xDE, 0xA8}));
    EXPECT_EQ(n->calls[2].bits, 56000u);
    EXPECT_EQ(n->calls[2].payload, big);
    EXPECT_EQ(n->Count(ID_RPC), 0);  // handled inside Receive, never handed over
  }
  EXPECT_EQ(server.calls[0].sender, client.Address());
  EXPECT_EQ(client.calls[0].sender, server.Address());
  EXPECT_EQ(server.calls[3].bits, 17u);
  EXPECT_EQ(server.calls[3].payload, (Bytes{0x34, 0x12, 0x80}));

  // Names that are empty or too long are not sent.
  EXPECT_FALSE(client.Rpc("", nullptr, 0, server.Address()));
  EXPECT_FALSE(client.Rpc(std::string(256, 'n').c_str(), nullptr, 0, server.Address()));
}

TEST(PeerTest, UnregisteredRpcsAreDroppedAndHandlersMayChangeTheTable) {
  Node server, client(1);
  client.Watch("Pong");
  // Ping answers once, then removes itself and adds Late.
  server.peer.RegisterAsRemoteProcedureCall("Ping", [&server](RPCParameters* p) {
    const uint8_t reply = p->input[0] + 1;
    p->recipient->RPC("Pong", &reply, 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, p->sender, false);
    p->recipient->UnregisterAsRemoteProcedureCall("Ping");
    server.Watch("Late");
  });
  server.Watch("Marker");
  ASSERT_EQ(Join(client, server), ID_CONNECTION_REQUEST_ACCEPTED);

  const uint8_t one = 1;
  for (const char* name : {"Nobody", "Ping", "Ping", "Late", "Marker"}) {
    client.Rpc(name, &one, 8, server.Address());
  }
  ASSERT_TRUE(WaitFor({&server, &client},
                      [&] { return server.CallCount("Marker") == 1 && client.calls.size() == 1; }));
  EXPECT_EQ(server.CallCount("Late"), 1);
  EXPECT_EQ(server.calls.size(), 2u);  // "Nobody" and the second "Ping" found no handler
  EXPECT_EQ(server.Count(ID_RPC), 0);
  EXPECT_EQ(client.calls[0].payload, Bytes{2});
}

TEST(PeerTest, TargetsSelectTheRecipients) {
  Node server(4);
  Node c[3] = {Node(1), Node(1), Node(1)};
  for (Node& n : c) {
    n.Watch("T");
    ASSERT_EQ(Join(n, server), ID_CONNECTION_REQUEST_ACCEPTED);
  }
  // Kind 1: only c[1]; 2: everyone; 3: all but c[1]; 4: nobody; 9: everyone (the end marker).
  auto send = [&](uint8_t kind, const SystemAddress& target, bool broadcast) {
    return server.Rpc("T", &kind, 8, target, broadcast);
  };
  EXPECT_TRUE(send(1, c[1].Address(), false));
  EXPECT_TRUE(send(2, UNASSIGNED_SYSTEM_ADDRESS, true));
  EXPECT_TRUE(send(3, c[1].Address(), true));
  EXPECT_FALSE(send(4, UNASSIGNED_SYSTEM_ADDRESS, false));
  EXPECT_FALSE(send(4, Loopback(1), false));  // no such connection
  // Kind 5 to a set of indices: each open connection once, one shared packet
  // (a leak shows under ASan); free slot 3, an index beyond any slot and a
  // repeat are skipped.
  BitStream five;
  five.Write(uint8_t{5});
  const auto at = [&](const Node& n) { return static_cast<uint16_t>(n.IndexAt(server)); };
  const uint16_t set[] = {at(c[2]), at(c[0]), 3, 4095, at(c[2])};
  EXPECT_EQ(server.peer.RPC("T", &five, HIGH_PRIORITY, RELIABLE_ORDERED, 0, set), 2);
  EXPECT_TRUE(send(9, UNASSIGNED_SYSTEM_ADDRESS, true));
  ASSERT_TRUE(WaitFor({&server, &c[0], &c[1], &c[2]}, [&] {
    for (Node& n : c) {
      if (n.calls.empty() || n.calls.back().payload[0] != 9) return false;
    }
    return true;
  }));
  const Bytes expected[3] = {{2, 3, 5, 9}, {1, 2, 9}, {2, 3, 5, 9}};
  for (int i = 0; i < 3; ++i) {
    Bytes kinds;
    for (const Call& call : c[i].calls) kinds.push_back(call.payload[0]);
    EXPECT_EQ(kinds, expected[i]) << i;
  }
}

TEST(PeerTest, RawMessagesKeepTheirBytes) {
  Node server, client(1);
  ASSERT_EQ(Join(client, server), ID_CONNECTION_REQUEST_ACCEPTED);

  const uint8_t reliable[4] = {95, 1, 2, 3};
  const uint8_t movement[3] = {96, 0xFF, 0xF0};  // 20 bits: arrives as 3 bytes
  EXPECT_TRUE(client.peer.Send(reliable, 32, HIGH_PRIORITY, RELIABLE, 0, server.Address(), false));
  EXPECT_TRUE(client.peer.Send(movement, 20, HIGH_PRIORITY, UNRELIABLE_SEQUENCED, 0,
                               server.Address(), false));
  EXPECT_FALSE(client.peer.Send(reliable, 0, HIGH_PRIORITY, RELIABLE, 0, server.Address(), false));
  ASSERT_TRUE(WaitFor({&server}, [&] { return server.Count(95) == 1 && server.Count(96) == 1; }));
  const Received* r = server.Last(95);
  EXPECT_EQ(r->data, Bytes(reliable, reliable + 4));
  EXPECT_EQ(r->bitSize, 32u);
  EXPECT_EQ(r->index, GivenIndex(client));
  EXPECT_EQ(r->from, client.Address());
  r = server.Last(96);
  EXPECT_EQ(r->data, Bytes(movement, movement + 3));
  EXPECT_EQ(r->bitSize, 24u);

  // Unreliable traffic in a burst on loopback arrives (the throttle does not drop it).
  Bytes frame(64, 0);
  frame[0] = 97;
  for (int i = 0; i < 200; ++i) {
    frame[1] = static_cast<uint8_t>(i);
    server.peer.Send(frame.data(), 64 * 8, HIGH_PRIORITY, UNRELIABLE_SEQUENCED, 0, client.Address(),
                     false);
  }
  EXPECT_TRUE(WaitFor({&client}, [&] {
    const Received* last = client.Last(97);
    return last && last->data[1] == 199;
  }));
  EXPECT_EQ(client.Last(97)->index, 0);  // the client's own index for its server
}

TEST(PeerTest, CloseDeliversWhatWasQueuedFirst) {
  Node server, quiet(1), loud(1);
  quiet.Watch("Bye");
  loud.Watch("Bye");
  ASSERT_EQ(Join(quiet, server), ID_CONNECTION_REQUEST_ACCEPTED);
  ASSERT_EQ(Join(loud, server), ID_CONNECTION_REQUEST_ACCEPTED);
  ASSERT_TRUE(WaitFor({&server}, [&] { return server.Count(ID_NEW_INCOMING_CONNECTION) == 2; }));

  const Bytes reason = Pattern(3000);  // more than one datagram
  server.Rpc("Bye", reason.data(), 3000 * 8, quiet.Address());
  server.peer.CloseConnection(quiet.Address(), false);
  server.Rpc("Bye", reason.data(), 8, loud.Address());
  server.peer.CloseConnection(loud.Address(), true);

  ASSERT_TRUE(WaitFor({&server, &quiet, &loud}, [&] {
    return quiet.Count(ID_DISCONNECTION_NOTIFICATION) == 1 &&
           loud.Count(ID_DISCONNECTION_NOTIFICATION) == 1;
  }));
  ASSERT_EQ(quiet.calls.size(), 1u);
  EXPECT_EQ(quiet.calls[0].payload, reason);
  EXPECT_EQ(loud.calls.size(), 1u);
  EXPECT_EQ(quiet.Last(ID_DISCONNECTION_NOTIFICATION)->from, server.Address());
  // Only the close with notify gave the server's own application a notice.
  server.Pump();
  ASSERT_EQ(server.Count(ID_DISCONNECTION_NOTIFICATION), 1);
  EXPECT_EQ(server.Last(ID_DISCONNECTION_NOTIFICATION)->from, loud.Address());
  EXPECT_EQ(server.Count(ID_CONNECTION_LOST), 0);
  EXPECT_EQ(quiet.IndexAt(server), -1);
  EXPECT_EQ(loud.IndexAt(server), -1);
  const uint8_t byte = 92;
  EXPECT_FALSE(server.peer.Send(&byte, 8, HIGH_PRIORITY, RELIABLE, 0, quiet.Address(), false));

  // A peer shutting down says goodbye too.
  auto other = std::make_unique<Node>();
  ASSERT_EQ(Join(quiet, *other), ID_CONNECTION_REQUEST_ACCEPTED);
  other.reset();
  EXPECT_TRUE(WaitFor({&quiet}, [&] { return quiet.Count(ID_DISCONNECTION_NOTIFICATION) == 2; }));
  EXPECT_EQ(quiet.Count(ID_CONNECTION_LOST), 0);
}

TEST(PeerTest, QueryDatagramIsAnsweredWithoutAConnection) {
  Node server;
  std::string response(1500, 'r');
  response[0] = 'Q';
  server.peer.SetOfflinePingResponse(response.data(), static_cast<uint32_t>(response.size()));
  UdpSocket udp;
  for (uint8_t id : {ID_PING, ID_PING_OPEN_CONNECTIONS}) {
    udp.SendTo(server.peer.GetBoundPort(), {id, 0x78, 0x56, 0x34, 0x12});
    Bytes expected{ID_PONG, 0x78, 0x56, 0x34, 0x12};
    expected.insert(expected.end(), response.begin(), response.end());
    EXPECT_EQ(udp.Receive(), expected);
  }
  // Any other 5-byte datagram is not a query.
  udp.SendTo(server.peer.GetBoundPort(), {3, 0, 0, 0, 0});
  EXPECT_TRUE(udp.Receive(100).empty());
  server.Pump();
  EXPECT_TRUE(server.got.empty());
}

TEST(PeerTest, RowUpdateRoundTrip) {
  Node master(4), announcer(1);
  ASSERT_EQ(Join(announcer, master), ID_CONNECTION_REQUEST_ACCEPTED);
  LightweightDatabaseClient client;
  EXPECT_FALSE(client.UpdateRow("t", "p", RUM_UPDATE_OR_ADD_ROW, false, 0, {}, master.Address(),
                                false));  // not attached
  client.Attach(&announcer.peer);

  std::vector<RowCell> cells(3);
  cells[0].columnName = "Port";
  cells[0].number = 7777;
  cells[1].columnName = "Name";
  cells[1].type = RowCell::STRING;
  cells[1].text = "Quillmere test server";
  cells[2].columnName = "Empty";
  cells[2].type = RowCell::STRING;
  ASSERT_TRUE(client.UpdateRow("SERVERS", "secret", RUM_UPDATE_EXISTING_ROW, true, 0xCAFEBABE,
                               cells, master.Address(), false));
  ASSERT_TRUE(
      client.UpdateRow("SERVERS", "", RUM_ADD_NEW_ROW, false, 0, {}, master.Address(), false));
  ASSERT_TRUE(WaitFor({&master}, [&] { return master.Count(ID_DATABASE_UPDATE_ROW) == 2; }));

  // Byte-exact: table, password, mode, bit 1 + u32 row id, u8 count, then
  // each cell's name, type and f64 or u16 length + text, all from bit 1 on.
  const Bytes& first = master.got[master.got.size() - 2].data;
  BitStream want;
  auto text8 = [&want](const std::string& t) {
    want.Write(static_cast<uint8_t>(t.size()));
    want.WriteBytes(t.data(), static_cast<uint32_t>(t.size()));
  };
  want.Write(uint8_t{71});
  text8("SERVERS");
  text8("secret");
  want.Write(uint8_t{1});
  want.WriteBit(true);
  want.Write(uint32_t{0xCAFEBABE});
  want.Write(uint8_t{3});
  text8("Port");
  want.Write(uint8_t{0});
  want.Write(7777.0);
  for (const std::string& t : {std::string("Name"), std::string("Empty")}) {
    const std::string& value = t == "Name" ? cells[1].text : cells[2].text;
    text8(t);
    want.Write(uint8_t{1});
    want.Write(static_cast<uint16_t>(value.size()));
    want.WriteBytes(value.data(), static_cast<uint32_t>(value.size()));
  }
  EXPECT_EQ(first, Bytes(want.GetData(), want.GetData() + want.GetNumberOfBytesUsed()));

  LightweightDatabaseClient::RowUpdate row;
  ASSERT_TRUE(LightweightDatabaseClient::ParseRowUpdate(first.data(),
                                                         static_cast<uint32_t>(first.size()), row));
  EXPECT_EQ(row.tableName + "/" + row.updatePassword, "SERVERS/secret");
  EXPECT_EQ(row.mode, RUM_UPDATE_EXISTING_ROW);
  EXPECT_EQ(row.rowId, 0xCAFEBABEu);
  ASSERT_EQ(row.cells.size(), 3u);
  EXPECT_EQ(row.cells[0].number, 7777.0);
  EXPECT_EQ(row.cells[1].columnName + "=" + row.cells[1].text, "Name=Quillmere test server");
  EXPECT_EQ(row.cells[2].type, RowCell::STRING);

  // Every truncation fails cleanly and leaves the output alone.
  for (size_t n = 0; n < first.size(); ++n) {
    LightweightDatabaseClient::RowUpdate partial;
    partial.tableName = "untouched";
    EXPECT_FALSE(
        LightweightDatabaseClient::ParseRowUpdate(first.data(), static_cast<uint32_t>(n), partial))
        << n;
    EXPECT_EQ(partial.tableName, "untouched");
  }

  // Byte-exact: 71, "SERVERS", "", mode 2, then bit 0 and count 0 share bits.
  const Bytes expected{71, 7, 'S', 'E', 'R', 'V', 'E', 'R', 'S', 0, 2, 0x00, 0x00};
  EXPECT_EQ(master.got.back().data, expected);
  ASSERT_TRUE(LightweightDatabaseClient::ParseRowUpdate(expected.data(), 13, row));
  EXPECT_EQ(row.mode, RUM_ADD_NEW_ROW);
  EXPECT_FALSE(row.hasRowId);
  EXPECT_TRUE(row.cells.empty());
  Bytes badMode = expected;  // an unknown mode is refused
  badMode[10] = 3;
  EXPECT_FALSE(LightweightDatabaseClient::ParseRowUpdate(badMode.data(), 13, row));
}

}  // namespace
}  // namespace net
