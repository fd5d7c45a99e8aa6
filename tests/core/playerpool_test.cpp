// The player slots: taking and freeing them, what the others hear, the log.
#include "core/playerpool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/log.h"
#include "support/seam.h"

using support::Line;
using support::Want;

TEST(PlayerPoolTest, ConnectTellsTheOthersAndDisconnectFreesTheSlot) {
  support::Seam seam;
  PlayerPool& pool = *GetPlayerPool();
  const int a = seam.Connect();
  seam.Connect();
  ASSERT_TRUE(ConnectPlayer("Alice", &pool, a));
  const PlayerRecord& r = pool.records[a];
  EXPECT_TRUE(pool.IsInUse(a));
  EXPECT_STREQ(pool.names[a], "Alice");
  EXPECT_EQ(+r.present, 1);
  EXPECT_EQ(+r.connected, 1);
  EXPECT_EQ(+r.team, -1);
  // Nobody tells a player about itself.
  EXPECT_EQ(seam.Take(), Line("PlayerConnect", {1}, Want().c8(0).c8(5).chars("Alice", 5)));
  // A taken slot, a slot beyond the pool, a free slot: nothing happens.
  pool.records[a].score = 7;
  EXPECT_FALSE(ConnectPlayer("Mallory", &pool, a));
  EXPECT_FALSE(ConnectPlayer("Mallory", &pool, 100));
  const std::string logBefore = seam.Server().ReadFile(kLogFileName);
  DisconnectPlayer(kReasonQuit, 42);
  DisconnectPlayer(kReasonQuit, 200);
  EXPECT_STREQ(pool.names[a], "Alice");
  EXPECT_EQ(+r.score, 7);
  EXPECT_EQ(seam.Take(), "");
  EXPECT_EQ(seam.Server().ReadFile(kLogFileName), logBefore);
  DisconnectPlayer(kReasonKicked, a);
  EXPECT_FALSE(pool.IsInUse(a));
  EXPECT_STREQ(pool.names[a], "");
  EXPECT_EQ(+r.present, 0);
  EXPECT_EQ(seam.Take(), Line("PlayerDisconnect", {1}, Want().c8(0).c8(kReasonKicked)));
  // A restart closes the others silently. (A client's own quit: packets_test.cpp.)
  const int bob = seam.Join("Bob");
  seam.Take();
  const std::string log = seam.Server().ReadFile(kLogFileName);
  DisconnectAllPlayers();
  seam.Pump();
  EXPECT_FALSE(pool.IsInUse(bob));
  EXPECT_EQ(seam.Take(), "close>2");
  EXPECT_EQ(seam.Server().ReadFile(kLogFileName), log);
  EXPECT_NE(log.find("[LEAVE] Alice has left the server. [Kicked]"), std::string::npos);
}

TEST(PlayerPoolTest, NicknamesMatchCaselessOver24CharactersAndTheNextPlayerStartsAfresh) {
  support::Seam seam;
  PlayerPool& pool = *GetPlayerPool();
  ASSERT_TRUE(ConnectPlayer("Alice", &pool, 3));
  const std::string long24 = "abcdefghijklmnopqrstuvwx";
  ASSERT_TRUE(ConnectPlayer((long24 + "yz").c_str(), &pool, 4));
  std::strcpy(pool.names[9], "Ghost");  // a name left in a slot that is not present
  EXPECT_TRUE(IsNicknameInUse("alice"));
  EXPECT_TRUE(IsNicknameInUse("ALICE"));
  EXPECT_FALSE(IsNicknameInUse("Alic"));
  EXPECT_FALSE(IsNicknameInUse("Alice2"));
  EXPECT_FALSE(IsNicknameInUse(nullptr));
  EXPECT_EQ(std::string(pool.names[4]), long24);
  EXPECT_TRUE(IsNicknameInUse((long24 + "QQ").c_str()));
  EXPECT_FALSE(IsNicknameInUse("Ghost"));
  // Local markers: 25 a player (slots 0 to 24), for players in use only.
  EXPECT_EQ(pool.FindFreeLocalMarkerSlot(5), -1);
  EXPECT_EQ(pool.FindFreeLocalMarkerSlot(100), -1);
  ASSERT_TRUE(ConnectPlayer("Alice", &pool, 5));
  EXPECT_EQ(pool.FindFreeLocalMarkerSlot(5), 0);
  pool.localMarkers[5][0] = 1;
  pool.localMarkers[5][1] = 1;
  EXPECT_EQ(pool.FindFreeLocalMarkerSlot(5), 2);
  for (int slot = 2; slot < 25; ++slot) {
    ASSERT_EQ(pool.FindFreeLocalMarkerSlot(5), slot);
    pool.localMarkers[5][slot] = 1;
  }
  EXPECT_EQ(pool.FindFreeLocalMarkerSlot(5), -1);
  pool.records[5].spawned = 1;
  pool.records[5].team = 3;
  DisconnectPlayer(kReasonTimedOut, 5);
  EXPECT_NE(
      seam.Server().ReadFile(kLogFileName).find("[LEAVE] Alice has left the server. [Timed Out]"),
      std::string::npos);
  ASSERT_TRUE(ConnectPlayer("Bob", &pool, 5));
  EXPECT_EQ(pool.FindFreeLocalMarkerSlot(5), 0);
  EXPECT_EQ(+pool.records[5].team, -1);
  EXPECT_EQ(+pool.records[5].spawned, 0);
  EXPECT_EQ(+pool.records[5].connected, 1);
}
