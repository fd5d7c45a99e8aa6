// The player slots: taking and freeing them, what the others hear, the log.
#include "core/playerpool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/log.h"
#include "record_bytes.h"
#include "support/seam.h"

namespace {

using recordbytes::Values;

using support::Line;
using support::Want;

class PlayerPoolTest : public ::testing::Test {
 protected:
  bool Logged(const std::string& text) { return Log().find(text) != std::string::npos; }
  std::string Log() { return seam.Server().ReadFile(kLogFileName); }
  support::Seam seam;
  PlayerPool& pool = *GetPlayerPool();
};

TEST_F(PlayerPoolTest, ConnectTellsTheOthersAndDisconnectFreesTheSlot) {
  const int a = seam.Connect();
  seam.Connect();
  ASSERT_TRUE(ConnectPlayer("Alice", &pool, a));
  EXPECT_TRUE(pool.IsInUse(a));
  EXPECT_STREQ(pool.names[a], "Alice");
  EXPECT_EQ(Values(pool.records[a].present, pool.records[a].connected, pool.records[a].team), Values(1, 1, -1));
  // Nobody tells a player about itself.
  EXPECT_EQ(seam.Take(), Line("PlayerConnect", {1}, Want().c8(0).c8(5).chars("Alice", 5)));

  // A taken slot, a slot beyond the pool, a free slot: nothing happens.
  pool.records[a].score = 7;
  EXPECT_FALSE(ConnectPlayer("Mallory", &pool, a) || ConnectPlayer("Mallory", &pool, 100));
  EXPECT_STREQ(pool.names[a], "Alice");
  EXPECT_EQ(+pool.records[a].score, 7);
  const std::string logBefore = Log();
  DisconnectPlayer(kReasonQuit, 42);
  DisconnectPlayer(kReasonQuit, 200);
  EXPECT_EQ(Log(), logBefore);
  EXPECT_EQ(seam.Take(), "");

  DisconnectPlayer(kReasonKicked, a);
  EXPECT_FALSE(pool.IsInUse(a));
  EXPECT_STREQ(pool.names[a], "");
  EXPECT_EQ(+pool.records[a].present, 0);
  EXPECT_EQ(seam.Take(), Line("PlayerDisconnect", {1}, Want().c8(0).c8(kReasonKicked)));
  EXPECT_TRUE(Logged("[LEAVE] Alice has left the server. [Kicked]"));
}

TEST_F(PlayerPoolTest, AClientsQuitIsToldAndARestartClosesSilently) {
  const int alice = seam.Join("Alice");
  const int bob = seam.Join("Bob");
  seam.Connect();  // connected, never joined
  seam.Drop(alice);
  EXPECT_EQ(seam.Take("PlayerDisconnect"), Line("PlayerDisconnect", {1, 2}, Want().c8(0).c8(kReasonQuit)));
  EXPECT_FALSE(pool.IsInUse(alice));
  EXPECT_TRUE(Logged("[LEAVE] Alice has left the server. [Quit]"));
  const std::string logBefore = Log();
  DisconnectAllPlayers();
  EXPECT_FALSE(pool.IsInUse(bob));
  seam.Pump();
  EXPECT_EQ(seam.Take(), "close>1");
  EXPECT_EQ(Log(), logBefore);
}

TEST_F(PlayerPoolTest, NicknamesMatchCaselessOver24CharactersAndTheNextPlayerStartsAfresh) {
  ASSERT_TRUE(ConnectPlayer("Alice", &pool, 3));
  EXPECT_TRUE(IsNicknameInUse("alice") && IsNicknameInUse("ALICE"));
  EXPECT_FALSE(IsNicknameInUse("Alic") || IsNicknameInUse("Alice2") || IsNicknameInUse(nullptr));
  const std::string long24 = "abcdefghijklmnopqrstuvwx";
  ASSERT_TRUE(ConnectPlayer((long24 + "yz").c_str(), &pool, 4));
  EXPECT_STREQ(pool.names[4], long24.c_str());
  EXPECT_TRUE(IsNicknameInUse((long24 + "QQ").c_str()));
  std::strcpy(pool.names[9], "Ghost");  // a name left in a slot that is not present
  EXPECT_FALSE(IsNicknameInUse("Ghost"));

  EXPECT_EQ(Values(pool.FindFreeLocalMarkerSlot(5), pool.FindFreeLocalMarkerSlot(100)), Values(-1, -1));
  ASSERT_TRUE(ConnectPlayer("Alice", &pool, 5));
  EXPECT_EQ(pool.FindFreeLocalMarkerSlot(5), 0);
  pool.localMarkers[5][0] = pool.localMarkers[5][1] = 1;
  EXPECT_EQ(pool.FindFreeLocalMarkerSlot(5), 2);
  std::memset(pool.localMarkers[5], 1, kLocalMarkersPerPlayer);
  EXPECT_EQ(pool.FindFreeLocalMarkerSlot(5), -1);
  pool.records[5].spawned = 1;
  pool.records[5].team = 3;
  DisconnectPlayer(kReasonTimedOut, 5);
  EXPECT_TRUE(Logged("[LEAVE] Alice has left the server. [Timed Out]"));
  ASSERT_TRUE(ConnectPlayer("Bob", &pool, 5));
  EXPECT_EQ(pool.FindFreeLocalMarkerSlot(5), 0);
  EXPECT_EQ(Values(pool.records[5].team, pool.records[5].spawned, pool.records[5].connected), Values(-1, 0, 1));
}

}  // namespace
