// The area sweep as the game mode sees it: its enter and leave events.
#include "core/areapool.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "core/log.h"
#include "core/playerpool.h"
#include "core/world.h"
#include "record_bytes.h"
#include "support/seam.h"

namespace {

using recordbytes::Values;

constexpr uint32_t kGate = kAreaSweepIntervalMs + 1;

class AreaTest : public ::testing::Test {
 protected:
  struct Step {
    uint8_t player;
    float x;             // where he stands (y and z are 5)
    uint32_t advance;    // the time before the next main-loop pass
    const char* events;  // what that pass raises
    int area;            // and his area after it
  };
  void Place(uint8_t player, float x) {
    if (!players.IsInUse(player)) {
      ASSERT_TRUE(ConnectPlayer("Walker", &players, player));
    }
    players.records[player].x = x, players.records[player].y = players.records[player].z = 5;
  }
  void Walk(std::initializer_list<Step> steps) {
    for (const Step& s : steps) {
      Place(s.player, s.x);
      seam.clock.Advance(s.advance);
      seam.Pump();
      EXPECT_EQ(seam.events.Take(), s.events) << int{s.player} << " at " << s.x;
      EXPECT_EQ(+players.records[s.player].area, s.area) << s.events;
    }
  }
  support::Seam seam;
  AreaPool& areas = *gAreaPool;
  PlayerPool& players = *GetPlayerPool();
};

TEST_F(AreaTest, EnterOnceLeaveOnceNothingOnAFaceAndSweepsMoreThan250MsApart) {
  ASSERT_EQ(areas.Add(0, 0, 0, 10, 10, 10), 1);
  // The first pass is 250 ms after the pool was made; on a face the player
  // is neither inside nor outside, from either side.
  Walk({{4, 5, 250, "", 0}, {4, 5, 1, "enterarea 4 1", 1}, {4, 5, kGate, "", 1},
        {4, 10, kGate, "", 1}, {4, 11, 100, "", 1}, {4, 11, 150, "", 1},
        {4, 11, 1, "leavearea 4 1", 0}, {4, 10, kGate, "", 0}});
  EXPECT_EQ(areas.lastSweepMs, seam.clock.Now());
  // A box whose min lies above its max holds nobody (its corners are stored as
  // given); a joined but unspawned player stands at the origin.
  ASSERT_EQ(areas.Add(10, 4, 3, -1, 10, -3), 2);
  EXPECT_EQ(recordbytes::Hex(areas.areas[2]), recordbytes::Hex(AreaRecord{1, 10, 4, 3, -1, 10, -3}));
  ASSERT_EQ(areas.Add(-1, -1, -1, 1, 1, 1), 3);
  ASSERT_TRUE(ConnectPlayer("Idle", &players, 9));
  Walk({{4, 5, kGate, "enterarea 4 1\nenterarea 9 3", 1}});
}

TEST_F(AreaTest, OverlappingAreasAlternateAndMovingAcrossEntersBeforeItLeaves) {
  for (int i = 1; i <= 5; ++i) ASSERT_EQ(areas.Add(0, 0, 0, 10, 10, 10), i);
  for (uint16_t id : {1, 2, 4}) ASSERT_TRUE(areas.Destroy(id));
  // Each comparison uses the area the player had when his step began.
  Walk({{1, 5, kGate, "enterarea 1 3\nenterarea 1 5", 5}, {1, 5, kGate, "enterarea 1 3", 3},
        {1, 5, kGate, "enterarea 1 5", 5}, {1, 50, 0, "", 5}});
  ASSERT_TRUE(areas.Destroy(3) && areas.Destroy(5));
  EXPECT_EQ(seam.events.Take(), "leavearea 1 5");
  ASSERT_EQ(areas.Add(0, 0, 0, 10, 10, 10), 1);
  ASSERT_EQ(areas.Add(20, 0, 0, 30, 10, 10), 2);
  Walk({{6, 25, kGate, "enterarea 6 2", 2}, {6, 5, kGate, "enterarea 6 1\nleavearea 6 2", 0},
        {6, 5, kGate, "enterarea 6 1", 1}});
}

TEST_F(AreaTest, DestroyingAnAreaMakesEveryoneInItLeaveInPlayerOrderEvenWithoutASink) {
  ASSERT_EQ(areas.Add(0, 0, 0, 10, 10, 10), 1);
  ASSERT_EQ(areas.Add(20, 0, 0, 30, 10, 10), 2);
  Place(7, 5);
  Place(3, 5);
  Walk({{5, 25, kGate, "enterarea 3 1\nenterarea 5 2\nenterarea 7 1", 2}});
  EXPECT_TRUE(areas.Destroy(1));
  EXPECT_EQ(seam.events.Take(), "leavearea 3 1\nleavearea 7 1");
  EXPECT_EQ(Values(players.records[3].area, players.records[7].area), Values(0, 0));
  EXPECT_TRUE(recordbytes::Zero(areas.areas[1]));
  Walk({{5, 25, kGate, "", 2}});

  SetScriptEventSink(nullptr);  // the area still follows the player
  ASSERT_EQ(areas.Add(0, 0, 0, 10, 10, 10), 1);
  Walk({{8, 5, kGate, "", 1}});
  EXPECT_TRUE(areas.Destroy(1));
  EXPECT_EQ(+players.records[8].area, 0);
  SetScriptEventSink(&seam.events);
  seam.clock.Set(777777);
  areas.Reset();  // without any event
  EXPECT_EQ(areas.lastSweepMs, 777777u);
  EXPECT_TRUE(recordbytes::Zero(areas.areas[2]));
  EXPECT_EQ(seam.events.Take(), "");
  EXPECT_EQ(areas.Add(1, 1, 1, 2, 2, 2), 1);
}

TEST_F(AreaTest, HandlersMayKickPlayersAndChangeAreasDuringTheSweep) {
  ASSERT_EQ(areas.Add(0, 0, 0, 10, 10, 10), 1);
  ASSERT_EQ(areas.Add(0, 0, 0, 10, 10, 10), 2);
  Place(1, 5);
  Place(2, 5);
  seam.events.onRaise = [](const ScriptEvent& e) {
    if (DescribeEvent(e) == "enterarea 2 1") DisconnectPlayer(kReasonKicked, 2);
  };
  // Player 2 sees no event for area 2 and his freed record is left alone; the
  // players after him are swept as usual.
  Walk({{3, 5, kGate, "enterarea 1 1\nenterarea 1 2\nenterarea 2 1\nenterarea 3 1\nenterarea 3 2", 2}});
  EXPECT_FALSE(players.IsInUse(2));
  EXPECT_EQ(+players.records[2].area, 0);
  EXPECT_NE(seam.Server().ReadFile(kLogFileName).find("[LEAVE] Walker has left the server. [Kicked]"),
            std::string::npos);

  // A leave handler that kicks another player of the area: he gets no leave.
  seam.events.onRaise = [](const ScriptEvent& e) {
    if (DescribeEvent(e) == "leavearea 1 1") DisconnectPlayer(kReasonKicked, 3);
  };
  players.records[1].area = players.records[3].area = 1;
  EXPECT_TRUE(areas.Destroy(1));
  EXPECT_EQ(seam.events.Take(), "leavearea 1 1");
  EXPECT_FALSE(players.IsInUse(3));
  EXPECT_EQ(+players.records[3].area, 0);

  // A handler that destroys an area and makes it again: seen again when the
  // walk gets there.
  ASSERT_EQ(areas.Add(0, 0, 0, 10, 10, 10), 1);
  seam.events.onRaise = [this](const ScriptEvent& e) {
    if (DescribeEvent(e) != "enterarea 1 1") return;
    areas.Destroy(2);
    EXPECT_EQ(areas.Add(0, 0, 0, 10, 10, 10), 2);
  };
  Place(2, 5);
  Walk({{1, 5, kGate, "enterarea 1 1\nenterarea 1 2\nenterarea 2 1\nenterarea 2 2", 2}});
  seam.events.onRaise = nullptr;
}

}  // namespace
