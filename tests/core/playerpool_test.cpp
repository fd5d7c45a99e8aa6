#include "core/playerpool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/log.h"
#include "core/netgame.h"
#include "support/server_fixture.h"
#include "support/test_client.h"

namespace {

using support::TestClient;

class PlayerPoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::internal::CaptureStdout();
    server_.Start();
  }
  void TearDown() override { testing::internal::GetCapturedStdout(); }

  // Connects a client and waits until the server has taken its connection.
  void Join(TestClient& client) {
    ASSERT_TRUE(client.Connect(server_.Port()));
    server_.Pump();
  }
  // Pumps the server and every client until `cond` holds.
  bool Until(const std::function<bool()>& cond, TestClient& a, TestClient& b) {
    return support::WaitUntil(cond, 3000, [&] {
      server_.Pump();
      a.Pump();
      b.Pump();
    });
  }
  std::string Log() { return server_.ReadFile(kLogFileName); }

  InProcessServer server_;
};

TEST_F(PlayerPoolTest, ConnectTellsTheOthersAndDisconnectFreesTheSlot) {
  TestClient alice({"PlayerConnect", "PlayerDisconnect"});
  TestClient bob({"PlayerConnect", "PlayerDisconnect"});
  Join(alice);
  Join(bob);
  const uint8_t id = static_cast<uint8_t>(alice.Index());
  PlayerPool* pool = GetPlayerPool();

  ASSERT_TRUE(ConnectPlayer("Alice", pool, id));
  EXPECT_TRUE(pool->IsInUse(id));
  EXPECT_STREQ(pool->names[id], "Alice");
  EXPECT_EQ(+pool->records[id].present, 1);
  EXPECT_EQ(+pool->records[id].connected, 1);
  EXPECT_EQ(+pool->records[id].team, -1);

  ASSERT_TRUE(Until([&] { return bob.Count("PlayerConnect") == 1; }, alice, bob));
  auto connect = bob.LastRpc("PlayerConnect")->Reader();
  uint8_t gotId = 0, length = 0;
  ASSERT_TRUE(connect->ReadCompressed(gotId));
  ASSERT_TRUE(connect->ReadCompressed(length));
  char name[8] = {0};
  ASSERT_EQ(length, 5);
  ASSERT_TRUE(connect->ReadBytes(name, length));
  EXPECT_EQ(gotId, id);
  EXPECT_STREQ(name, "Alice");
  EXPECT_EQ(connect->GetNumberOfUnreadBits(), 0u);

  DisconnectPlayer(kReasonKicked, id);
  EXPECT_FALSE(pool->IsInUse(id));
  EXPECT_STREQ(pool->names[id], "");
  EXPECT_EQ(+pool->records[id].present, 0);
  ASSERT_TRUE(Until([&] { return bob.Count("PlayerDisconnect") == 1; }, alice, bob));
  auto leave = bob.LastRpc("PlayerDisconnect")->Reader();
  uint8_t reason = 0;
  ASSERT_TRUE(leave->ReadCompressed(gotId));
  ASSERT_TRUE(leave->ReadCompressed(reason));
  EXPECT_EQ(gotId, id);
  EXPECT_EQ(reason, kReasonKicked);
  EXPECT_NE(Log().find("[LEAVE] Alice has left the server. [Kicked]"), std::string::npos);
  // Nobody tells a player about itself.
  alice.Pump();
  EXPECT_EQ(alice.Count("PlayerConnect"), 0u);
  EXPECT_EQ(alice.Count("PlayerDisconnect"), 0u);
}

TEST_F(PlayerPoolTest, SecondConnectOfATakenSlotAndDisconnectOfAFreeSlotDoNothing) {
  TestClient alice({"PlayerConnect"});
  TestClient bob({"PlayerConnect", "PlayerDisconnect"});
  Join(alice);
  Join(bob);
  const uint8_t id = static_cast<uint8_t>(alice.Index());
  PlayerPool* pool = GetPlayerPool();
  ASSERT_TRUE(ConnectPlayer("Alice", pool, id));
  pool->records[id].score = 7;
  EXPECT_FALSE(ConnectPlayer("Mallory", pool, id));
  EXPECT_FALSE(ConnectPlayer("Mallory", pool, 100));
  EXPECT_STREQ(pool->names[id], "Alice");
  EXPECT_EQ(+pool->records[id].score, 7);

  const std::string logBefore = Log();
  DisconnectPlayer(kReasonQuit, 42);
  DisconnectPlayer(kReasonQuit, 200);
  EXPECT_EQ(Log(), logBefore);
  ASSERT_TRUE(Until([&] { return bob.Count("PlayerConnect") == 1; }, alice, bob));
  for (int i = 0; i < 20; ++i) {
    server_.Pump();
    bob.Pump();
  }
  EXPECT_EQ(bob.Count("PlayerConnect"), 1u);
  EXPECT_EQ(bob.Count("PlayerDisconnect"), 0u);
}

TEST_F(PlayerPoolTest, ClientQuitAndRestartDeparture) {
  TestClient alice;
  TestClient bob({"PlayerDisconnect"});
  TestClient carol({"PlayerConnect", "PlayerDisconnect"});  // connected, not joined
  TestClient dave;
  Join(alice);
  Join(bob);
  Join(carol);
  PlayerPool* pool = GetPlayerPool();
  const uint8_t aliceId = static_cast<uint8_t>(alice.Index());
  const uint8_t bobId = static_cast<uint8_t>(bob.Index());
  ASSERT_TRUE(ConnectPlayer("Alice", pool, aliceId));
  ASSERT_TRUE(ConnectPlayer("Bob", pool, bobId));

  // A graceful quit reaches the packet loop as 19: reason 1.
  alice.Disconnect();
  ASSERT_TRUE(Until([&] { return bob.Count("PlayerDisconnect") == 1; }, alice, bob));
  EXPECT_FALSE(pool->IsInUse(aliceId));
  EXPECT_NE(Log().find("[LEAVE] Alice has left the server. [Quit]"), std::string::npos);

  // A restart closes silently: the client hears 19, nobody else hears a
  // thing, and the closed connection reaches no leave path afterwards.
  const std::string logBefore = Log();
  DisconnectAllPlayers();
  EXPECT_FALSE(pool->IsInUse(bobId));
  ASSERT_TRUE(bob.WaitForPacket(net::ID_DISCONNECTION_NOTIFICATION));
  EXPECT_EQ(bob.Count("PlayerDisconnect"), 1u);
  // Carol hears Alice's and Bob's arrivals, Alice's quit, then Dave's arrival:
  // nothing about Bob's departure came in between.
  Join(dave);
  ASSERT_TRUE(ConnectPlayer("Dave", pool, static_cast<uint8_t>(dave.Index())));
  ASSERT_TRUE(Until([&] { return carol.Count("PlayerConnect") == 3; }, carol, dave));
  EXPECT_EQ(carol.Count("PlayerDisconnect"), 1u);  // Alice's quit only
  EXPECT_EQ(Log(), logBefore);
}

TEST_F(PlayerPoolTest, NicknameInUseIsCaseInsensitiveOverTwentyFourCharactersOfPresentSlots) {
  PlayerPool* pool = GetPlayerPool();
  ASSERT_TRUE(ConnectPlayer("Alice", pool, 3));
  EXPECT_TRUE(IsNicknameInUse("alice"));
  EXPECT_TRUE(IsNicknameInUse("ALICE"));
  EXPECT_FALSE(IsNicknameInUse("Alic"));
  EXPECT_FALSE(IsNicknameInUse("Alice2"));

  const std::string long24 = "abcdefghijklmnopqrstuvwx";
  ASSERT_TRUE(ConnectPlayer((long24 + "yz").c_str(), pool, 4));
  EXPECT_STREQ(pool->names[4], long24.c_str());
  EXPECT_TRUE(IsNicknameInUse((long24 + "QQ").c_str()));

  // A name left in a slot that is not present does not count.
  std::strcpy(pool->names[9], "Ghost");
  EXPECT_FALSE(IsNicknameInUse("Ghost"));
}

TEST_F(PlayerPoolTest, LocalMarkerSlotFinderAndAFreshSlotForTheNextPlayer) {
  PlayerPool* pool = GetPlayerPool();
  EXPECT_EQ(pool->FindFreeLocalMarkerSlot(5), -1);  // slot free
  EXPECT_EQ(pool->FindFreeLocalMarkerSlot(100), -1);
  ASSERT_TRUE(ConnectPlayer("Alice", pool, 5));
  EXPECT_EQ(pool->FindFreeLocalMarkerSlot(5), 0);
  pool->localMarkers[5][0] = pool->localMarkers[5][1] = 1;
  EXPECT_EQ(pool->FindFreeLocalMarkerSlot(5), 2);
  std::memset(pool->localMarkers[5], 1, kLocalMarkersPerPlayer);
  EXPECT_EQ(pool->FindFreeLocalMarkerSlot(5), -1);

  pool->records[5].spawned = 1;
  pool->records[5].team = 3;
  DisconnectPlayer(kReasonTimedOut, 5);
  ASSERT_TRUE(ConnectPlayer("Bob", pool, 5));
  EXPECT_EQ(pool->FindFreeLocalMarkerSlot(5), 0);
  EXPECT_EQ(+pool->records[5].team, -1);
  EXPECT_EQ(+pool->records[5].spawned, 0);
  EXPECT_EQ(+pool->records[5].connected, 1);
  EXPECT_NE(Log().find("[LEAVE] Alice has left the server. [Timed Out]"), std::string::npos);
}

}  // namespace
