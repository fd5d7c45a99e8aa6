// The player slots: taking and freeing them, what the others hear, the log.
#include "core/playerpool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/log.h"
#include "record_bytes.h"
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
  EXPECT_EQ(Join(pool.IsInUse(a), pool.names[a], r.present, r.connected, r.team), "1|Alice|1|1|-1");
  // Nobody tells a player about itself.
  EXPECT_EQ(seam.Take(), Line("PlayerConnect", {1}, Want().c8(0).c8(5).chars("Alice", 5)));
  // A taken slot, a slot beyond the pool, a free slot: nothing happens.
  pool.records[a].score = 7;
  EXPECT_FALSE(ConnectPlayer("Mallory", &pool, a) || ConnectPlayer("Mallory", &pool, 100));
  const std::string logBefore = seam.Server().ReadFile(kLogFileName);
  DisconnectPlayer(kReasonQuit, 42);
  DisconnectPlayer(kReasonQuit, 200);
  EXPECT_EQ(Join(pool.names[a], r.score, seam.Take(), seam.Server().ReadFile(kLogFileName) == logBefore), "Alice|7||1");
  DisconnectPlayer(kReasonKicked, a);
  EXPECT_EQ(Join(pool.IsInUse(a), pool.names[a], r.present), "0||0");
  EXPECT_EQ(seam.Take(), Line("PlayerDisconnect", {1}, Want().c8(0).c8(kReasonKicked)));
  // A restart closes the others silently. (A client's own quit: packets_test.cpp.)
  const int bob = seam.Join("Bob");
  seam.Take();
  const std::string log = seam.Server().ReadFile(kLogFileName);
  DisconnectAllPlayers();
  seam.Pump();
  EXPECT_EQ(Join(pool.IsInUse(bob), seam.Take(), seam.Server().ReadFile(kLogFileName) == log), "0|close>2|1");
  EXPECT_NE(log.find("[LEAVE] Alice has left the server. [Kicked]"), std::string::npos);
}

TEST(PlayerPoolTest, NicknamesMatchCaselessOver24CharactersAndTheNextPlayerStartsAfresh) {
  support::Seam seam;
  PlayerPool& pool = *GetPlayerPool();
  ASSERT_TRUE(ConnectPlayer("Alice", &pool, 3));
  const std::string long24 = "abcdefghijklmnopqrstuvwx";
  ASSERT_TRUE(ConnectPlayer((long24 + "yz").c_str(), &pool, 4));
  std::strcpy(pool.names[9], "Ghost");  // a name left in a slot that is not present
  EXPECT_EQ(Join(IsNicknameInUse("alice"), IsNicknameInUse("ALICE"), IsNicknameInUse("Alic"), IsNicknameInUse("Alice2"),
                 IsNicknameInUse(nullptr), pool.names[4], IsNicknameInUse((long24 + "QQ").c_str()), IsNicknameInUse("Ghost")),
            "1|1|0|0|0|" + long24 + "|1|0");
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
  EXPECT_NE(seam.Server().ReadFile(kLogFileName).find("[LEAVE] Alice has left the server. [Timed Out]"), std::string::npos);
  ASSERT_TRUE(ConnectPlayer("Bob", &pool, 5));
  EXPECT_EQ(Values(pool.FindFreeLocalMarkerSlot(5), pool.records[5].team, pool.records[5].spawned, pool.records[5].connected),
            Values(0, -1, 0, 1));
}
