// Proves the shared test harness against a bare net::Peer server: connecting,
// refusals, RPCs and raw messages both ways with exact bits, and the fake
// master-list server.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "net/bitstream.h"
#include "net/peer.h"
#include "support/fake_master_list.h"
#include "support/temp_dir.h"
#include "support/test_client.h"

namespace {

using support::TestClient;
using support::WaitUntil;

// A bare server: records what it gets and echoes "Ping" back as "Pong".
struct BareServer {
  net::Peer peer;
  std::vector<std::vector<uint8_t>> raw;  // non-notice messages
  struct Notice {
    uint8_t id;
    net::SystemAddress from;
  };
  std::vector<Notice> notices;            // 17/19/20
  std::vector<uint8_t> pingData;
  uint32_t pingBits = 0;

  explicit BareServer(const char* password = nullptr) {
    EXPECT_TRUE(peer.Startup(4, 1, 0, "127.0.0.1"));
    if (password) peer.SetIncomingPassword(password, static_cast<int>(strlen(password)));
    peer.RegisterAsRemoteProcedureCall("Ping", [this](net::RPCParameters* p) {
      pingBits = p->numberOfBitsOfData;
      pingData.assign(p->input, p->input + (pingBits + 7) / 8);
      // 13 bits: u8 0xA5, then c8 3 (bit 1 + 0011).
      net::BitStream out;
      out.Write<uint8_t>(0xA5);
      out.WriteCompressed(static_cast<uint8_t>(3));
      peer.RPC("Pong", &out, net::HIGH_PRIORITY, net::RELIABLE_ORDERED, 0, p->sender, false);
    });
  }
  uint16_t Port() const { return peer.GetBoundPort(); }
  void Pump() {
    while (net::Packet* p = peer.Receive()) {
      const uint8_t id = p->length ? p->data[0] : 0;
      if (id == net::ID_NEW_INCOMING_CONNECTION || id == net::ID_DISCONNECTION_NOTIFICATION ||
          id == net::ID_CONNECTION_LOST) {
        notices.push_back({id, p->systemAddress});
      } else {
        raw.emplace_back(p->data, p->data + p->length);
      }
      peer.DeallocatePacket(p);
    }
  }
  size_t Notices(uint8_t id) const {
    size_t n = 0;
    for (const auto& p : notices) n += p.id == id;
    return n;
  }
};

TEST(TestClientTest, ConnectsExchangesExactBitsAndDisconnects) {
  BareServer server;
  TestClient client({"Pong"});
  ASSERT_TRUE(client.Connect(server.Port()));
  EXPECT_EQ(client.LastRefusal(), 0);
  EXPECT_EQ(client.Index(), 0);
  ASSERT_TRUE(WaitUntil([&] { return server.Notices(net::ID_NEW_INCOMING_CONNECTION) == 1; },
                        3000, [&] { server.Pump(); }));

  // Client -> server RPC with an odd bit count: 8 + 3 bits.
  net::BitStream ping;
  ping.Write<uint8_t>(0x3C);
  ping.WriteBit(true);
  ping.WriteBit(false);
  ping.WriteBit(true);
  ASSERT_TRUE(client.SendRpc("Ping", ping));
  ASSERT_TRUE(client.WaitFor([&] {
    server.Pump();
    return client.Count("Pong") == 1;
  }));
  EXPECT_EQ(server.pingBits, 11u);
  EXPECT_EQ(server.pingData, (std::vector<uint8_t>{0x3C, 0xA0}));

  const support::ReceivedRpc* pong = client.LastRpc("Pong");
  ASSERT_NE(pong, nullptr);
  EXPECT_EQ(pong->bits, 13u);
  auto r = pong->Reader();
  uint8_t a = 0, c = 0;
  ASSERT_TRUE(r->Read(a));
  ASSERT_TRUE(r->ReadCompressed(c));
  EXPECT_EQ(a, 0xA5);
  EXPECT_EQ(c, 3);
  EXPECT_EQ(r->GetNumberOfUnreadBits(), 0u);

  // Raw messages both ways.
  ASSERT_TRUE(client.SendRaw(std::vector<uint8_t>{95, 1, 2, 3}));
  ASSERT_TRUE(WaitUntil([&] { return !server.raw.empty(); }, 3000, [&] { server.Pump(); }));
  EXPECT_EQ(server.raw[0], (std::vector<uint8_t>{95, 1, 2, 3}));
  const uint8_t back[] = {96, 9, 8};
  server.peer.Send(back, 24, net::HIGH_PRIORITY, net::RELIABLE, 0, server.notices[0].from, false);
  ASSERT_TRUE(client.WaitForPacket(96));
  EXPECT_EQ(client.Packets(96)[0], (std::vector<uint8_t>{96, 9, 8}));

  client.Clear();
  EXPECT_EQ(client.Count("Pong"), 0u);
  EXPECT_EQ(client.PacketCount(96), 0u);

  client.Disconnect();
  EXPECT_FALSE(client.Connected());
  EXPECT_FALSE(client.SendRaw(std::vector<uint8_t>{95}));
  EXPECT_TRUE(WaitUntil([&] { return server.Notices(net::ID_DISCONNECTION_NOTIFICATION) == 1; },
                        3000, [&] { server.Pump(); }));
}

TEST(TestClientTest, RemembersRefusalReconnectsAndSendsFromChosenAddress) {
  BareServer server("secret");
  TestClient client;
  EXPECT_FALSE(client.Connect(server.Port(), "nope"));
  EXPECT_EQ(client.LastRefusal(), net::ID_INVALID_PASSWORD);
  // The same client again, while the refused connection may still be closing.
  ASSERT_TRUE(client.Connect(server.Port(), "secret"));
  EXPECT_EQ(client.LastRefusal(), 0);

  TestClient other;
  other.BindTo("127.0.0.2");
  ASSERT_TRUE(other.Connect(server.Port(), "secret"));
  ASSERT_TRUE(WaitUntil([&] { return server.Notices(net::ID_NEW_INCOMING_CONNECTION) == 2; },
                        3000, [&] { server.Pump(); }));
  EXPECT_EQ(server.notices[1].from.ToString(false), "127.0.0.2");
  EXPECT_EQ(server.notices[1].from.port, other.LocalPort());
}

TEST(TestClientTest, ServerClosingTheConnectionIsSeen) {
  BareServer server;
  TestClient client;
  ASSERT_TRUE(client.Connect(server.Port()));
  ASSERT_TRUE(WaitUntil([&] { return server.Notices(net::ID_NEW_INCOMING_CONNECTION) == 1; },
                        3000, [&] { server.Pump(); }));
  server.peer.CloseConnection(server.notices[0].from, false);
  EXPECT_TRUE(client.WaitFor([&] { return !client.Connected(); }));
  EXPECT_EQ(client.PacketCount(net::ID_DISCONNECTION_NOTIFICATION), 1u);
}

TEST(FakeMasterListTest, SendsAddressRecordsRowsAndAnswersWhenTold) {
  support::FakeMasterList master(0, "203.0.113.7");
  ASSERT_TRUE(master.Started());
  ASSERT_NE(master.Port(), 0);

  TestClient announcer;
  ASSERT_TRUE(announcer.Connect(master.Port()));
  ASSERT_TRUE(announcer.WaitFor([&] {
    master.Pump();
    return announcer.PacketCount(net::ID_MASTER_LIST_ADDRESS) == 1;
  }));
  EXPECT_EQ(master.ConnectionsAccepted(), 1u);
  const std::vector<uint8_t> expected31 = {31, 11, 0, 0, 0, '2', '0', '3', '.', '0',
                                           '.', '1', '1', '3', '.', '7'};
  EXPECT_EQ(announcer.Packets(net::ID_MASTER_LIST_ADDRESS)[0], expected31);

  net::LightweightDatabaseClient db;
  db.Attach(&announcer.GetPeer());
  std::vector<net::RowCell> cells(2);
  cells[0].columnName = "Name";
  cells[0].type = net::RowCell::STRING;
  cells[0].text = "My server";
  cells[1].columnName = "Players";
  cells[1].number = 12;
  ASSERT_TRUE(db.UpdateRow("servers", "pw", net::RUM_UPDATE_OR_ADD_ROW, true, 77, cells,
                           announcer.Server(), false));
  ASSERT_TRUE(master.WaitForRowUpdates(1));
  const auto& row = master.RowUpdates()[0];
  EXPECT_EQ(row.tableName, "servers");
  EXPECT_EQ(row.updatePassword, "pw");
  EXPECT_TRUE(row.hasRowId);
  EXPECT_EQ(row.rowId, 77u);
  const net::RowCell* name = support::FakeMasterList::Cell(row, "Name");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->text, "My server");
  ASSERT_NE(support::FakeMasterList::Cell(row, "Players"), nullptr);
  EXPECT_EQ(support::FakeMasterList::Cell(row, "Players")->number, 12);

  master.AnswerRowUpdatesWith(net::ID_DATABASE_UNKNOWN_TABLE);
  ASSERT_TRUE(db.UpdateRow("servers", "pw", net::RUM_UPDATE_OR_ADD_ROW, false, 0, cells,
                           announcer.Server(), false));
  ASSERT_TRUE(announcer.WaitFor([&] {
    master.Pump();
    return announcer.PacketCount(net::ID_DATABASE_UNKNOWN_TABLE) == 1;
  }));
  EXPECT_EQ(master.RowUpdates().size(), 1u);
  EXPECT_EQ(master.RowUpdatesAnswered(), 1u);

  // Arbitrary bytes reach the announcer as they are.
  ASSERT_TRUE(master.SendToAnnouncer({25, 1, 2, 3, 4}));
  ASSERT_TRUE(announcer.WaitForPacket(25));
  EXPECT_EQ(announcer.Packets(25)[0], (std::vector<uint8_t>{25, 1, 2, 3, 4}));
}

TEST(TempDirTest, WritesReadsAndRemovesEverything) {
  std::string path;
  {
    support::TempDir dir;
    ASSERT_TRUE(dir.Valid());
    path = dir.Path();
    ASSERT_TRUE(dir.Write("a/b/c.txt", std::string("x\0y", 3)));
    EXPECT_EQ(dir.Read("a/b/c.txt"), std::string("x\0y", 3));
    EXPECT_FALSE(dir.Read("missing").has_value());
    {
      support::ScopedChdir cd(dir.Path("a"));
      ASSERT_TRUE(cd.Ok());
      EXPECT_TRUE(std::filesystem::exists("b/c.txt"));
    }
    EXPECT_FALSE(std::filesystem::exists("b/c.txt"));
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
