#include "net/peer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "net/bitstream.h"
#include "net/peer_test_helpers.h"

namespace net {
namespace {

using test::Call;
using test::GivenIndex;
using test::Join;
using test::Loopback;
using test::Node;
using test::RawClient;
using test::Received;
using test::UdpSocket;
using test::WaitFor;

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 31 + 7);
  return v;
}

// The index the server gave the connection from `client`, as the server sees it.
int ServerIndexOf(const Node& server, const Node& client) {
  return server.peer.GetIndexFromSystemAddress(Loopback(client.peer.GetBoundPort()));
}

TEST(PeerTest, StartupShutdownAndLookups) {
  Peer peer;
  EXPECT_FALSE(peer.IsActive());
  EXPECT_FALSE(peer.Connect("127.0.0.1", 7777, nullptr, 0));  // not started
  Packet* none = peer.Receive();
  EXPECT_EQ(none, nullptr);
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(peer.Startup(2, 1, 0, "127.0.0.1"));
    EXPECT_TRUE(peer.IsActive());
    EXPECT_NE(peer.GetBoundPort(), 0);
    EXPECT_FALSE(peer.Startup(2, 1, 0, "127.0.0.1"));  // already running
    peer.Shutdown();
    EXPECT_FALSE(peer.IsActive());
  }
  ASSERT_TRUE(peer.Startup(2, 1, 0, nullptr));
  Peer second;  // the port is taken
  EXPECT_FALSE(second.Startup(2, 1, peer.GetBoundPort(), nullptr));
  EXPECT_EQ(peer.GetIndexFromSystemAddress(Loopback(1234)), -1);
  EXPECT_EQ(peer.GetSystemAddressFromIndex(0), UNASSIGNED_SYSTEM_ADDRESS);
  EXPECT_EQ(peer.GetSystemAddressFromIndex(-1), UNASSIGNED_SYSTEM_ADDRESS);
  EXPECT_EQ(peer.GetSystemAddressFromIndex(99), UNASSIGNED_SYSTEM_ADDRESS);
  EXPECT_EQ(peer.GetLastPing(Loopback(1234)), -1);
  const uint8_t byte = 92;
  EXPECT_FALSE(peer.Send(&byte, 8, HIGH_PRIORITY, RELIABLE, 0, Loopback(1234), false));
  EXPECT_FALSE(peer.Connect("", 7777, nullptr, 0));
}

TEST(PeerTest, PasswordDecidesTheHandshake) {
  Node server;
  server.peer.SetIncomingPassword("sesame", 6);
  Node right(1), wrong(1), none(1);
  ASSERT_TRUE(server.started && right.started && wrong.started && none.started);

  EXPECT_EQ(Join(wrong, server, "sesam"), ID_INVALID_PASSWORD);
  EXPECT_EQ(Join(none, server), ID_INVALID_PASSWORD);
  EXPECT_EQ(Join(right, server, "sesame"), ID_CONNECTION_REQUEST_ACCEPTED);

  // The refused never reach the application, nor any target list.
  ASSERT_TRUE(WaitFor({&server}, [&] { return server.Count(ID_NEW_INCOMING_CONNECTION) == 1; }));
  const Received* incoming = server.Last(ID_NEW_INCOMING_CONNECTION);
  EXPECT_EQ(incoming->from, right.Address());
  EXPECT_EQ(incoming->index, GivenIndex(right));
  EXPECT_EQ(ServerIndexOf(server, right), GivenIndex(right));
  EXPECT_EQ(ServerIndexOf(server, wrong), -1);
  EXPECT_EQ(server.peer.GetSystemAddressFromIndex(GivenIndex(right)), right.Address());
  EXPECT_GE(server.peer.GetLastPing(right.Address()), 0);
  EXPECT_GE(right.peer.GetLastPing(server.Address()), 0);
  EXPECT_EQ(right.Last(ID_CONNECTION_REQUEST_ACCEPTED)->from, server.Address());

  // The application of a refused client got exactly the refusal.
  EXPECT_EQ(wrong.Count(ID_CONNECTION_ATTEMPT_FAILED), 0);
  EXPECT_EQ(wrong.Count(ID_DISCONNECTION_NOTIFICATION), 0);

  // Connecting again to a connected server is reported, not repeated.
  right.peer.Connect("127.0.0.1", server.peer.GetBoundPort(), "sesame", 6);
  EXPECT_TRUE(WaitFor({&right}, [&] { return right.Count(ID_ALREADY_CONNECTED) == 1; }));
}

TEST(PeerTest, BanListMatchesPartsExpiresAndRefuses) {
  Node server(4, "127.0.0.1");
  Peer& peer = server.peer;
  peer.AddToBanList("10.0.*.*");
  EXPECT_TRUE(peer.IsBanned("10.0.200.1"));
  EXPECT_FALSE(peer.IsBanned("10.1.0.1"));
  EXPECT_FALSE(peer.IsBanned("10.0.1"));     // part counts differ
  EXPECT_FALSE(peer.IsBanned("110.0.1.1"));  // a part is not a prefix
  EXPECT_FALSE(peer.IsBanned(nullptr));
  peer.AddToBanList("127.0.0.2");
  peer.AddToBanList("127.0.*.3");
  EXPECT_FALSE(peer.IsBanned("127.0.0.20"));
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
  EXPECT_FALSE(peer.IsBanned("10.0.0.1"));
}

TEST(PeerTest, FullServerRefusesAndFreedSlotsAreReusedLowestFirst) {
  Node server(2);
  Node a(1), b(1), c(1);
  a.Watch("Hi");
  b.Watch("Hi");
  server.Watch("Hi");
  ASSERT_EQ(Join(a, server), ID_CONNECTION_REQUEST_ACCEPTED);
  ASSERT_EQ(Join(b, server), ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(GivenIndex(a), 0);
  EXPECT_EQ(GivenIndex(b), 1);
  EXPECT_EQ(Join(c, server), ID_NO_FREE_INCOMING_CONNECTIONS);
  // A refused client may try again straight away (it is not "already connected").
  EXPECT_EQ(Join(c, server), ID_NO_FREE_INCOMING_CONNECTIONS);
  EXPECT_EQ(c.Count(ID_ALREADY_CONNECTED), 0);

  // Indices 0 and 1 keep working in both directions.
  const uint8_t payload = 0xA5;
  EXPECT_TRUE(server.peer.RPC("Hi", &payload, 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0,
                              UNASSIGNED_SYSTEM_ADDRESS, true));
  EXPECT_TRUE(
      a.peer.RPC("Hi", &payload, 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, server.Address(), false));
  EXPECT_TRUE(
      b.peer.RPC("Hi", &payload, 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, server.Address(), false));
  ASSERT_TRUE(WaitFor({&server, &a, &b}, [&] {
    return a.CallCount("Hi") == 1 && b.CallCount("Hi") == 1 && server.CallCount("Hi") == 2;
  }));
  EXPECT_EQ(server.Count(ID_NEW_INCOMING_CONNECTION), 2);

  // b leaves gracefully: the server sees 19 for index 1, and a newcomer gets
  // index 1 again, its 17 handled after that 19. The server is not pumped in
  // between, so only the order of its queue keeps them apart.
  b.peer.CloseConnection(server.Address(), false);
  Node d(1);
  uint8_t answer = 0;
  for (int attempt = 0; attempt < 20 && answer != ID_CONNECTION_REQUEST_ACCEPTED; ++attempt) {
    d.got.clear();
    d.peer.Connect("127.0.0.1", server.peer.GetBoundPort(), nullptr, 0);
    WaitFor({&d}, [&] {
      answer = d.got.empty() ? 0 : d.got.back().Id();
      return answer != 0;
    });
  }
  ASSERT_EQ(answer, ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(GivenIndex(d), 1);
  ASSERT_TRUE(WaitFor({&server}, [&] { return server.Count(ID_NEW_INCOMING_CONNECTION) == 3; }));
  int closedAt = -1, joinedAt = -1;
  for (size_t i = 0; i < server.got.size(); ++i) {
    const Received& r = server.got[i];
    if (r.Id() == ID_DISCONNECTION_NOTIFICATION && r.index == 1) closedAt = static_cast<int>(i);
    if (r.Id() == ID_NEW_INCOMING_CONNECTION && r.index == 1) joinedAt = static_cast<int>(i);
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

TEST(PeerTest, SilentClientIsLostAfterTheTimeOutAndItsSlotReused) {
  Node server(3);
  RawClient silent;
  ASSERT_TRUE(silent.Connect(server.peer.GetBoundPort()));
  ASSERT_EQ(silent.Request(""), ID_CONNECTION_REQUEST_ACCEPTED);
  const uint64_t lastHeard = platform::MonotonicUs();
  Node live(1);
  ASSERT_EQ(Join(live, server), ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(GivenIndex(live), 1);
  ASSERT_TRUE(WaitFor({&server}, [&] { return server.Count(ID_NEW_INCOMING_CONNECTION) == 2; }));

  // The raw client is no longer serviced: it answers nothing from here on.
  ASSERT_TRUE(WaitFor(
      {&server, &live}, [&] { return server.Count(ID_CONNECTION_LOST) == 1; }, 6000));
  const double silentMs = (platform::MonotonicUs() - lastHeard) / 1000.0;
  EXPECT_GE(silentMs, 2900.0);  // not before the 3000 ms time-out
  EXPECT_EQ(server.Last(ID_CONNECTION_LOST)->index, 0);
  EXPECT_EQ(server.Count(ID_DISCONNECTION_NOTIFICATION), 0);

  // The connection that kept answering is unaffected, and slot 0 is free again.
  EXPECT_EQ(ServerIndexOf(server, live), 1);
  EXPECT_EQ(live.Count(ID_CONNECTION_LOST), 0);
  Node next(1);
  EXPECT_EQ(Join(next, server), ID_CONNECTION_REQUEST_ACCEPTED);
  EXPECT_EQ(GivenIndex(next), 0);
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
  client.Send({ID_RPC, 2, 'H', 'i', 8, 0, 0, 0, 0x5A});
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
      [&] { return !client.received.empty() && client.received.back() == std::vector<uint8_t>{92}; }));
}

// ENet's clock follows the wall clock, which may be stepped (an NTP
// correction; enet_time_set stands in for it here); the time-out counts real
// silence only.
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
    ASSERT_TRUE(
        client.peer.RPC("Hi", &byte, 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, server.Address(), false))
        << "step " << step;
    ASSERT_TRUE(WaitFor({&server, &client}, [&] { return server.CallCount("Hi") > calls; }));
  }
  EXPECT_EQ(server.Count(ID_CONNECTION_LOST) + server.Count(ID_DISCONNECTION_NOTIFICATION), 0);
  EXPECT_EQ(client.Count(ID_CONNECTION_LOST) + client.Count(ID_DISCONNECTION_NOTIFICATION), 0);
}

TEST(PeerTest, ConnectingNowhereFailsAfterTheTimeOut) {
  UdpSocket deaf;  // a port where nothing answers
  Node client(1);
  client.peer.SetTimeoutTime(300, UNASSIGNED_SYSTEM_ADDRESS);
  ASSERT_TRUE(client.peer.Connect("127.0.0.1", deaf.Port(), nullptr, 0));
  ASSERT_TRUE(WaitFor({&client}, [&] { return client.Count(ID_CONNECTION_ATTEMPT_FAILED) == 1; }));
  EXPECT_EQ(client.Last(ID_CONNECTION_ATTEMPT_FAILED)->index, -1);
  // The slot is free again for the next attempt.
  Node server(2);
  EXPECT_EQ(Join(client, server), ID_CONNECTION_REQUEST_ACCEPTED);
}

TEST(PeerTest, RpcsArriveWithExactBitCounts) {
  Node server, client(1);
  server.Watch("Blob");
  client.Watch("Blob");
  ASSERT_EQ(Join(client, server), ID_CONNECTION_REQUEST_ACCEPTED);

  const std::vector<uint8_t> big = Pattern(7000);
  const uint8_t thirteen[2] = {0xDE, 0xAF};  // the low 3 bits of 0xAF are not part of it
  struct Case {
    const uint8_t* data;
    uint32_t bits;
  } cases[] = {{nullptr, 0}, {thirteen, 13}, {big.data(), 7000 * 8}};
  for (const Case& c : cases) {
    EXPECT_TRUE(client.peer.RPC("Blob", c.data, c.bits, HIGH_PRIORITY, RELIABLE_ORDERED, 0,
                                server.Address(), false));
    EXPECT_TRUE(server.peer.RPC("Blob", c.data, c.bits, HIGH_PRIORITY, RELIABLE_ORDERED, 0,
                                client.Address(), false));
  }
  // Through a BitStream as well.
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
    EXPECT_EQ(n->calls[1].payload, (std::vector<uint8_t>{0xDE, 0xA8}));
    EXPECT_EQ(n->calls[2].bits, 56000u);
    EXPECT_EQ(n->calls[2].payload, big);
  }
  EXPECT_EQ(server.calls[0].sender, client.Address());
  EXPECT_EQ(client.calls[0].sender, server.Address());
  EXPECT_EQ(server.calls[3].bits, 17u);
  EXPECT_EQ(server.calls[3].payload, (std::vector<uint8_t>{0x34, 0x12, 0x80}));
  // RPCs are handled inside Receive, never handed over as packets.
  EXPECT_EQ(server.Count(ID_RPC), 0);
  EXPECT_EQ(client.Count(ID_RPC), 0);

  // Names that are empty or too long are not sent.
  EXPECT_FALSE(
      client.peer.RPC("", nullptr, 0, HIGH_PRIORITY, RELIABLE, 0, server.Address(), false));
  EXPECT_FALSE(client.peer.RPC(std::string(256, 'n').c_str(), nullptr, 0, HIGH_PRIORITY, RELIABLE,
                               0, server.Address(), false));
}

TEST(PeerTest, UnregisteredRpcsAreDroppedAndHandlersMayChangeTheTable) {
  Node server, client(1);
  client.Watch("Pong");
  client.Watch("Done");
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
    client.peer.RPC(name, &one, 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, server.Address(), false);
  }
  ASSERT_TRUE(WaitFor({&server, &client}, [&] { return server.CallCount("Marker") == 1; }));
  EXPECT_EQ(server.CallCount("Late"), 1);
  EXPECT_EQ(server.calls.size(), 2u);  // "Nobody" and the second "Ping" found no handler
  EXPECT_EQ(server.Count(ID_RPC), 0);
  ASSERT_TRUE(WaitFor({&client}, [&] { return client.CallCount("Pong") == 1; }));
  EXPECT_EQ(client.calls[0].payload, std::vector<uint8_t>{2});
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
    return server.peer.RPC("T", &kind, 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, target, broadcast);
  };
  EXPECT_TRUE(send(1, c[1].Address(), false));
  EXPECT_TRUE(send(2, UNASSIGNED_SYSTEM_ADDRESS, true));
  EXPECT_TRUE(send(3, c[1].Address(), true));
  EXPECT_FALSE(send(4, UNASSIGNED_SYSTEM_ADDRESS, false));
  EXPECT_FALSE(send(4, Loopback(1), false));  // no such connection
  EXPECT_TRUE(send(9, UNASSIGNED_SYSTEM_ADDRESS, true));
  ASSERT_TRUE(WaitFor({&server, &c[0], &c[1], &c[2]}, [&] {
    for (Node& n : c) {
      if (n.calls.empty() || n.calls.back().payload[0] != 9) return false;
    }
    return true;
  }));
  auto kinds = [](const Node& n) {
    std::vector<uint8_t> k;
    for (const Call& call : n.calls) k.push_back(call.payload[0]);
    return k;
  };
  EXPECT_EQ(kinds(c[0]), (std::vector<uint8_t>{2, 3, 9}));
  EXPECT_EQ(kinds(c[1]), (std::vector<uint8_t>{1, 2, 9}));
  EXPECT_EQ(kinds(c[2]), (std::vector<uint8_t>{2, 3, 9}));
}

TEST(PeerTest, RawMessagesKeepTheirBytes) {
  Node server, client(1);
  ASSERT_EQ(Join(client, server), ID_CONNECTION_REQUEST_ACCEPTED);
  const int index = GivenIndex(client);

  const uint8_t reliable[4] = {95, 1, 2, 3};
  const uint8_t movement[3] = {96, 0xFF, 0xF0};  // 20 bits: arrives as 3 bytes
  EXPECT_TRUE(client.peer.Send(reliable, 32, HIGH_PRIORITY, RELIABLE, 0, server.Address(), false));
  EXPECT_TRUE(client.peer.Send(movement, 20, HIGH_PRIORITY, UNRELIABLE_SEQUENCED, 0,
                               server.Address(), false));
  EXPECT_FALSE(client.peer.Send(reliable, 0, HIGH_PRIORITY, RELIABLE, 0, server.Address(), false));
  ASSERT_TRUE(WaitFor({&server}, [&] { return server.Count(95) == 1 && server.Count(96) == 1; }));
  const Received* r = server.Last(95);
  EXPECT_EQ(r->data, std::vector<uint8_t>(reliable, reliable + 4));
  EXPECT_EQ(r->bitSize, 32u);
  EXPECT_EQ(r->index, index);
  EXPECT_EQ(r->from, client.Address());
  r = server.Last(96);
  EXPECT_EQ(r->data, std::vector<uint8_t>(movement, movement + 3));
  EXPECT_EQ(r->bitSize, 24u);

  // Unreliable traffic in a burst on loopback arrives (the throttle does not drop it).
  std::vector<uint8_t> frame(64, 0);
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

  const std::vector<uint8_t> reason = Pattern(3000);  // more than one datagram
  server.peer.RPC("Bye", reason.data(), 3000 * 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0,
                  quiet.Address(), false);
  server.peer.CloseConnection(quiet.Address(), false);
  server.peer.RPC("Bye", reason.data(), 8, HIGH_PRIORITY, RELIABLE_ORDERED, 0, loud.Address(),
                  false);
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
  EXPECT_EQ(ServerIndexOf(server, quiet), -1);
  EXPECT_EQ(ServerIndexOf(server, loud), -1);
  // Nothing further can be sent to a closed connection.
  const uint8_t byte = 92;
  EXPECT_FALSE(server.peer.Send(&byte, 8, HIGH_PRIORITY, RELIABLE, 0, quiet.Address(), false));
}

TEST(PeerTest, ShutdownNotifiesTheOtherSide) {
  auto server = std::make_unique<Node>();
  Node client(1);
  ASSERT_EQ(Join(client, *server), ID_CONNECTION_REQUEST_ACCEPTED);
  server.reset();
  EXPECT_TRUE(WaitFor({&client}, [&] { return client.Count(ID_DISCONNECTION_NOTIFICATION) == 1; }));
  EXPECT_EQ(client.Count(ID_CONNECTION_LOST), 0);
}

TEST(PeerTest, QueryDatagramIsAnsweredWithoutAConnection) {
  Node server;
  std::string response(1500, 'r');
  response[0] = 'Q';
  server.peer.SetOfflinePingResponse(response.data(), static_cast<uint32_t>(response.size()));
  UdpSocket udp;
  for (uint8_t id : {ID_PING, ID_PING_OPEN_CONNECTIONS}) {
    udp.SendTo(server.peer.GetBoundPort(), {id, 0x78, 0x56, 0x34, 0x12});
    const std::vector<uint8_t> pong = udp.Receive();
    ASSERT_EQ(pong.size(), 5 + response.size());
    EXPECT_EQ(pong[0], ID_PONG);
    EXPECT_EQ(std::vector<uint8_t>(pong.begin() + 1, pong.begin() + 5),
              (std::vector<uint8_t>{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(std::string(pong.begin() + 5, pong.end()), response);
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

  const Received& first = master.got[master.got.size() - 2];
  LightweightDatabaseClient::RowUpdate row;
  ASSERT_TRUE(LightweightDatabaseClient::ParseRowUpdate(
      first.data.data(), static_cast<uint32_t>(first.data.size()), row));
  EXPECT_EQ(row.tableName, "SERVERS");
  EXPECT_EQ(row.updatePassword, "secret");
  EXPECT_EQ(row.mode, RUM_UPDATE_EXISTING_ROW);
  EXPECT_TRUE(row.hasRowId);
  EXPECT_EQ(row.rowId, 0xCAFEBABEu);
  ASSERT_EQ(row.cells.size(), 3u);
  EXPECT_EQ(row.cells[0].columnName, "Port");
  EXPECT_EQ(row.cells[0].type, RowCell::NUMERIC);
  EXPECT_EQ(row.cells[0].number, 7777.0);
  EXPECT_EQ(row.cells[1].type, RowCell::STRING);
  EXPECT_EQ(row.cells[1].text, "Quillmere test server");
  EXPECT_EQ(row.cells[2].text, "");

  // Every truncation fails cleanly and leaves the output alone.
  for (size_t n = 0; n < first.data.size(); ++n) {
    LightweightDatabaseClient::RowUpdate partial;
    partial.tableName = "untouched";
    EXPECT_FALSE(LightweightDatabaseClient::ParseRowUpdate(first.data.data(),
                                                           static_cast<uint32_t>(n), partial))
        << n;
    EXPECT_EQ(partial.tableName, "untouched");
  }

  const Received& second = master.got.back();
  ASSERT_TRUE(LightweightDatabaseClient::ParseRowUpdate(
      second.data.data(), static_cast<uint32_t>(second.data.size()), row));
  EXPECT_EQ(row.updatePassword, "");
  EXPECT_EQ(row.mode, RUM_ADD_NEW_ROW);
  EXPECT_FALSE(row.hasRowId);
  EXPECT_TRUE(row.cells.empty());
  // Byte-exact: 71, "SERVERS", "", mode 2, then bit 0 and count 0 share bits.
  const std::vector<uint8_t> expected{71, 7, 'S', 'E', 'R', 'V', 'E', 'R', 'S', 0, 2, 0x00, 0x00};
  EXPECT_EQ(second.data, expected);

  // An unknown mode or cell type is refused.
  std::vector<uint8_t> badMode = expected;
  badMode[10] = 3;
  EXPECT_FALSE(LightweightDatabaseClient::ParseRowUpdate(badMode.data(), 13, row));
}

}  // namespace
}  // namespace net
