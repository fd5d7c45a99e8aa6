// The area sweep as the game mode sees it: its enter and leave events.
#include "core/areapool.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "core/log.h"
#include "core/playerpool.h"
#include "core/world.h"
#include "record_bytes.h"
#include "support/seam.h"

namespace {

constexpr uint32_t kGate = kAreaSweepIntervalMs + 1;

class AreaTest : public ::testing::Test {
 protected:
  // Where the player stands (y and z are 5), the time before the next
  // main-loop pass, the events that pass raises and his area after it.
  struct Step {
    uint8_t player;
    float x;
    uint32_t advance;
    const char* events;
    int area;
  };
  void Place(uint8_t player, float x) {
    if (!players.IsInUse(player)) {
      EXPECT_TRUE(ConnectPlayer("Walker", &players, player));
    }
    players.records[player].x = x;
    players.records[player].y = 5;
    players.records[player].z = 5;
  }
  void Walk(std::initializer_list<Step> steps) {
    for (const Step& s : steps) {
      SCOPED_TRACE(std::to_string(s.player) + " at " + std::to_string(s.x));
      Place(s.player, s.x);
      seam.clock.Advance(s.advance);
      seam.Pump();
      EXPECT_EQ(seam.events.Take(), s.events);
      EXPECT_EQ(+players.records[s.player].area, s.area);
    }
  }
  // Areas all from 0,0,0 to 10,10,10 (x from `x`), taking the ids given.
  struct Box {
    float x;
    int id;
  };
  void Boxes(std::initializer_list<Box> boxes) {
    for (const Box& box : boxes) ASSERT_EQ(areas.Add(box.x, 0, 0, box.x + 10, 10, 10), box.id);
  }
  support::Seam seam;
  AreaPool& areas = *gAreaPool;
  PlayerPool& players = *GetPlayerPool();
};

TEST_F(AreaTest, EnterOnceLeaveOnceNothingOnAFaceAndSweepsMoreThan250MsApart) {
  Boxes({{0, 1}});
  // The first pass is 250 ms after the pool was made; on a face the player
  // is neither inside nor outside, from either side.
  Walk({{4, 5, 250, "", 0},
        {4, 5, 1, "enterarea 4 1", 1},
        {4, 5, kGate, "", 1},
        {4, 10, kGate, "", 1},
        {4, 11, 100, "", 1},
        {4, 11, 150, "", 1},
        {4, 11, 1, "leavearea 4 1", 0},
        {4, 10, kGate, "", 0}});
  EXPECT_EQ(areas.lastSweepMs, seam.clock.Now());
  // A box whose min lies above its max holds nobody (its corners are stored as
  // given); a joined but unspawned player stands at the origin.
  ASSERT_EQ(areas.Add(10, 4, 3, -1, 10, -3), 2);
  EXPECT_EQ(Hex(areas.areas[2]), Hex(AreaRecord{1, 10, 4, 3, -1, 10, -3}));
  ASSERT_EQ(areas.Add(-1, -1, -1, 1, 1, 1), 3);
  ASSERT_TRUE(ConnectPlayer("Idle", &players, 9));
  Walk({{4, 5, kGate, "enterarea 4 1\nenterarea 9 3", 1}});
}

TEST_F(AreaTest, OverlappingAreasAlternateAndMovingAcrossEntersBeforeItLeaves) {
  Boxes({{0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}});
  ASSERT_TRUE(areas.Destroy(1));
  ASSERT_TRUE(areas.Destroy(2));
  ASSERT_TRUE(areas.Destroy(4));
  // Each comparison uses the area the player had when his step began.
  Walk({{1, 5, kGate, "enterarea 1 3\nenterarea 1 5", 5},
        {1, 5, kGate, "enterarea 1 3", 3},
        {1, 5, kGate, "enterarea 1 5", 5},
        {1, 50, 0, "", 5}});
  ASSERT_TRUE(areas.Destroy(3));
  ASSERT_TRUE(areas.Destroy(5));
  EXPECT_EQ(seam.events.Take(), "leavearea 1 5");
  Boxes({{0, 1}, {20, 2}});
  Walk({{6, 25, kGate, "enterarea 6 2", 2},
        {6, 5, kGate, "enterarea 6 1\nleavearea 6 2", 0},
        {6, 5, kGate, "enterarea 6 1", 1}});
}

TEST_F(AreaTest, DestroyingAnAreaMakesEveryoneInItLeaveInPlayerOrderEvenWithoutASink) {
  Boxes({{0, 1}, {20, 2}});
  Place(7, 5);
  Place(3, 5);
  Walk({{5, 25, kGate, "enterarea 3 1\nenterarea 5 2\nenterarea 7 1", 2}});
  EXPECT_TRUE(areas.Destroy(1));
  EXPECT_EQ(seam.events.Take(), "leavearea 3 1\nleavearea 7 1");
  EXPECT_EQ(+players.records[3].area, 0);
  EXPECT_EQ(+players.records[7].area, 0);
  EXPECT_TRUE(Zero(areas.areas[1]));
  Walk({{5, 25, kGate, "", 2}});
  SetScriptEventSink(nullptr);  // the area still follows the player
  Boxes({{0, 1}});
  Walk({{8, 5, kGate, "", 1}});
  EXPECT_TRUE(areas.Destroy(1));
  EXPECT_EQ(+players.records[8].area, 0);
  SetScriptEventSink(&seam.events);
  seam.clock.Set(777777);
  areas.Reset();  // without any event
  EXPECT_EQ(areas.lastSweepMs, 777777u);
  EXPECT_TRUE(Zero(areas.areas[2]));
  EXPECT_EQ(seam.events.Take(), "");
  EXPECT_EQ(areas.Add(1, 1, 1, 2, 2, 2), 1);
}

TEST_F(AreaTest, HandlersMayKickPlayersAndChangeAreasDuringTheSweep) {
  Boxes({{0, 1}, {0, 2}});
  Place(1, 5);
  Place(2, 5);
  seam.events.onRaise = [](const ScriptEvent& e) {
    if (DescribeEvent(e) == "enterarea 2 1") DisconnectPlayer(kReasonKicked, 2);
  };
  // Player 2 sees no event for area 2 and his freed record is left alone; the
  // players after him are swept as usual.
  Walk({{3, 5, kGate, "enterarea 1 1\nenterarea 1 2\nenterarea 2 1\nenterarea 3 1\nenterarea 3 2",
         2}});
  EXPECT_FALSE(players.IsInUse(2));
  EXPECT_EQ(+players.records[2].area, 0);
  // A leave handler that kicks another player of the area: he gets no leave.
  seam.events.onRaise = [](const ScriptEvent& e) {
    if (DescribeEvent(e) == "leavearea 1 1") DisconnectPlayer(kReasonKicked, 3);
  };
  players.records[1].area = 1;
  players.records[3].area = 1;
  EXPECT_TRUE(areas.Destroy(1));
  EXPECT_EQ(seam.events.Take(), "leavearea 1 1");
  EXPECT_FALSE(players.IsInUse(3));
  EXPECT_EQ(+players.records[3].area, 0);
  // A handler that destroys an area and makes it again: seen again when the walk gets there.
  Boxes({{0, 1}});
  seam.events.onRaise = [this](const ScriptEvent& e) {
    if (DescribeEvent(e) != "enterarea 1 1") return;
    areas.Destroy(2);
    Boxes({{0, 2}});
  };
  Place(2, 5);
  Walk({{1, 5, kGate, "enterarea 1 1\nenterarea 1 2\nenterarea 2 1\nenterarea 2 2", 2}});
  seam.events.onRaise = nullptr;
}

}  // namespace
