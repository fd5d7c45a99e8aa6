// Proves the shared test harness (test client, fake master-list server, temp
// dir) against a bare peer.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "net/bitstream.h"
#include "net/peer_test_helpers.h"
#include "support/fake_master_list.h"
#include "support/temp_dir.h"
#include "support/test_client.h"

namespace net {
namespace {

using support::TestClient;
using test::Bytes;
using test::Node;

TEST(TestClientTest, ConnectsExchangesExactBitsAndDisconnects) {
  Node server;
  server.Watch("Ping");
  TestClient client({"Pong"});
  ASSERT_TRUE(client.Connect(server.peer.GetBoundPort()));
  EXPECT_EQ(client.LastRefusal(), 0);
  EXPECT_EQ(client.Index(), 0);
  auto serverGot = [&](uint8_t id, int n) {
    return test::WaitFor({&server}, [&] { return server.Count(id) == n; });
  };
  ASSERT_TRUE(serverGot(ID_NEW_INCOMING_CONNECTION, 1));

  BitStream ping;  // 8 + 3 bits
  ping.Write<uint8_t>(0x3C);
  for (bool b : {true, false, true}) ping.WriteBit(b);
  ASSERT_TRUE(client.SendRpc("Ping", ping));
  BitStream pong;  // 13 bits: u8 0xA5, c8 3
  pong.Write<uint8_t>(0xA5);
  pong.WriteCompressed(static_cast<uint8_t>(3));
  server.peer.RPC("Pong", &pong, HIGH_PRIORITY, RELIABLE_ORDERED, 0, server.got[0].from, false);
  ASSERT_TRUE(client.WaitForRpc("Pong"));
  ASSERT_TRUE(test::WaitFor({&server}, [&] { return server.calls.size() == 1; }));
  EXPECT_EQ(server.calls[0].bits, 11u);
  EXPECT_EQ(server.calls[0].payload, (Bytes{0x3C, 0xA0}));
  const support::ReceivedRpc* got = client.LastRpc("Pong");
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->bits, 13u);
  auto r = got->Reader();
  uint8_t a = 0, c = 0;
  ASSERT_TRUE(r->Read(a) && r->ReadCompressed(c));
  EXPECT_EQ(a, 0xA5);
  EXPECT_EQ(c, 3);
  EXPECT_EQ(r->GetNumberOfUnreadBits(), 0u);

  // Raw messages both ways.
  ASSERT_TRUE(client.SendRaw(Bytes{95, 1, 2, 3}));
  ASSERT_TRUE(serverGot(95, 1));
  EXPECT_EQ(server.Last(95)->data, (Bytes{95, 1, 2, 3}));
  const uint8_t back[] = {96, 9, 8};
  server.peer.Send(back, 24, HIGH_PRIORITY, RELIABLE, 0, server.got[0].from, false);
  ASSERT_TRUE(client.WaitForPacket(96));
  EXPECT_EQ(client.Packets(96)[0], (Bytes{96, 9, 8}));

  client.Clear();
  EXPECT_EQ(client.Count("Pong") + client.PacketCount(96), 0u);
  client.Disconnect();
  EXPECT_FALSE(client.Connected());
  EXPECT_FALSE(client.SendRaw(Bytes{95}));
  EXPECT_TRUE(serverGot(ID_DISCONNECTION_NOTIFICATION, 1));
}

TEST(TestClientTest, RefusalBoundAddressAndServerClose) {
  Node server;
  server.peer.SetIncomingPassword("secret", 6);
  TestClient client, other;
  EXPECT_FALSE(client.Connect(server.peer.GetBoundPort(), "nope"));
  EXPECT_EQ(client.LastRefusal(), ID_INVALID_PASSWORD);
  // The same client again, while the refused connection may still be closing.
  ASSERT_TRUE(client.Connect(server.peer.GetBoundPort(), "secret"));
  EXPECT_EQ(client.LastRefusal(), 0);

  other.BindTo("127.0.0.2");
  ASSERT_TRUE(other.Connect(server.peer.GetBoundPort(), "secret"));
  ASSERT_TRUE(test::WaitFor({&server}, [&] { return server.got.size() == 2; }));
  EXPECT_EQ(server.got[1].from.ToString(false), "127.0.0.2");
  EXPECT_EQ(server.got[1].from.port, other.LocalPort());

  server.peer.CloseConnection(server.got[1].from, false);
  EXPECT_TRUE(other.WaitFor([&] { return !other.Connected(); }));
  EXPECT_EQ(other.PacketCount(ID_DISCONNECTION_NOTIFICATION), 1u);
}

TEST(FakeMasterListTest, SendsAddressRecordsRowsAndAnswersWhenTold) {
  support::FakeMasterList master(0, "203.0.113.7");
  ASSERT_TRUE(master.Started());
  TestClient announcer;
  ASSERT_TRUE(announcer.Connect(master.Port()));
  auto announcerGot = [&](uint8_t id) {
    return announcer.WaitFor([&] {
      master.Pump();
      return announcer.PacketCount(id) == 1;
    });
  };
  ASSERT_TRUE(announcerGot(ID_MASTER_LIST_ADDRESS));
  EXPECT_EQ(master.ConnectionsAccepted(), 1u);
  EXPECT_EQ(announcer.Packets(ID_MASTER_LIST_ADDRESS)[0],
            (Bytes{31, 11, 0, 0, 0, '2', '0', '3', '.', '0', '.', '1', '1', '3', '.', '7'}));

  LightweightDatabaseClient db;
  db.Attach(&announcer.GetPeer());
  std::vector<RowCell> cells(1);
  cells[0].columnName = "Players";
  cells[0].number = 12;
  ASSERT_TRUE(db.UpdateRow("servers", "pw", RUM_UPDATE_OR_ADD_ROW, true, 77, cells,
                           announcer.Server(), false));
  ASSERT_TRUE(master.WaitForRowUpdates(1));
  const auto& row = master.RowUpdates()[0];
  EXPECT_EQ(row.tableName, "servers");
  const RowCell* players = support::FakeMasterList::Cell(row, "Players");
  ASSERT_NE(players, nullptr);
  EXPECT_EQ(players->number, 12);
  EXPECT_EQ(support::FakeMasterList::Cell(row, "Name"), nullptr);

  master.AnswerRowUpdatesWith(ID_DATABASE_UNKNOWN_TABLE);
  ASSERT_TRUE(db.UpdateRow("servers", "pw", RUM_UPDATE_OR_ADD_ROW, false, 0, cells,
                           announcer.Server(), false));
  ASSERT_TRUE(announcerGot(ID_DATABASE_UNKNOWN_TABLE));
  EXPECT_EQ(master.RowUpdates().size(), 1u);
  EXPECT_EQ(master.RowUpdatesAnswered(), 1u);

  ASSERT_TRUE(master.SendToAnnouncer({25, 1, 2, 3, 4}));
  ASSERT_TRUE(announcer.WaitForPacket(25));
  EXPECT_EQ(announcer.Packets(25)[0], (Bytes{25, 1, 2, 3, 4}));
}

TEST(TempDirTest, WritesReadsAndRemovesEverything) {
  const auto cwd = std::filesystem::current_path();
  std::string path;
  {
    support::TempDir dir;
    ASSERT_TRUE(dir.Valid());
    path = dir.Path();
    ASSERT_TRUE(dir.Write("a/b/c.txt", std::string("x\0y", 3)));
    EXPECT_EQ(dir.Read("a/b/c.txt"), std::string("x\0y", 3));
    EXPECT_FALSE(dir.Read("missing").has_value());
    support::ScopedChdir cd(dir.Path("a"));
    ASSERT_TRUE(cd.Ok());
    EXPECT_TRUE(std::filesystem::exists("b/c.txt"));
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(std::filesystem::current_path(), cwd);
}

}  // namespace
}  // namespace net
