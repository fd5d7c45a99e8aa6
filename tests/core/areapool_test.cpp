#include "core/areapool.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "core/clock.h"
#include "core/events.h"
#include "support/null_event_sink.h"
#include "core/log.h"
#include "core/playerpool.h"
#include "core/world.h"
#include "support/server_fixture.h"

namespace {

uint32_t fakeNow = 0;
uint32_t FakeClock() { return fakeNow; }

struct AreaEvent {
  bool enter;
  uint8_t player;
  int16_t area;
  bool operator==(const AreaEvent&) const = default;
};
AreaEvent Enter(uint8_t player, int16_t area) { return {true, player, area}; }
AreaEvent Leave(uint8_t player, int16_t area) { return {false, player, area}; }

std::ostream& operator<<(std::ostream& out, const AreaEvent& e) {
  return out << (e.enter ? "enter(" : "leave(") << int(e.player) << ", " << e.area << ")";
}

// Records the area events; `onEvent` runs inside the raise, as a script would.
class AreaSink : public NullEventSink {
 public:
  std::vector<AreaEvent> events;
  std::function<void(const AreaEvent&)> onEvent;

  void Raise(const ScriptEvent& e) override {
    const bool enter = e.kind == ScriptEventKind::kPlayerEnterArea;
    if (!enter && e.kind != ScriptEventKind::kPlayerLeaveArea) return;
    const AreaEvent area{enter, static_cast<uint8_t>(e.args[0].number),
                         static_cast<int16_t>(e.args[1].number)};
    events.push_back(area);
    if (onEvent) onEvent(area);
  }
};

class AreaPoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeNow = 1000;
    core::SetClockForTesting(FakeClock);
    testing::internal::CaptureStdout();
    server_.Start();
    previousSink_ = GetScriptEventSink();
    SetScriptEventSink(&sink_);
    areas_ = gAreaPool;
    players_ = GetPlayerPool();
  }
  void TearDown() override {
    SetScriptEventSink(previousSink_);
    testing::internal::GetCapturedStdout();
    core::SetClockForTesting(nullptr);
  }

  void Place(uint8_t player, float x, float y, float z) {
    if (!players_->IsInUse(player)) {
      ASSERT_TRUE(ConnectPlayer("Walker", players_, player));
    }
    players_->records[player].x = x;
    players_->records[player].y = y;
    players_->records[player].z = z;
  }
  // One sweep through the main loop: the gate has opened.
  void Sweep() {
    fakeNow += kAreaSweepIntervalMs + 1;
    server_.Pump();
  }
  std::vector<AreaEvent> Take() {
    std::vector<AreaEvent> out;
    out.swap(sink_.events);
    return out;
  }
  int16_t AreaOf(uint8_t player) { return players_->records[player].area; }

  InProcessServer server_;
  AreaSink sink_;
  ScriptEventSink* previousSink_ = nullptr;
  AreaPool* areas_ = nullptr;
  PlayerPool* players_ = nullptr;
};

using Events = std::vector<AreaEvent>;

TEST_F(AreaPoolTest, IdsRunFromOneTo1999AndTheLowestFreeIsReused) {
  for (int expected = 1; expected < kMaxAreas; ++expected) {
    ASSERT_EQ(areas_->Add(0, 0, 0, 1, 1, 1), expected);
  }
  EXPECT_EQ(areas_->Add(0, 0, 0, 1, 1, 1), -1);
  EXPECT_TRUE(areas_->Destroy(7));
  EXPECT_FALSE(areas_->Destroy(7));
  EXPECT_FALSE(areas_->Destroy(0));
  EXPECT_FALSE(areas_->Destroy(2000));
  EXPECT_FALSE(areas_->Destroy(0xFFFF));
  EXPECT_EQ(areas_->Add(5, 4, 3, -1, -2, -3), 7);  // corners stored as given
  EXPECT_EQ(+areas_->areas[7].minX, 5.0f);
  EXPECT_EQ(+areas_->areas[7].maxZ, -3.0f);
  EXPECT_EQ(areas_->areas[0].inUse, 0);
}

TEST_F(AreaPoolTest, EnterOnceLeaveOnceAndNothingOnAFace) {
  ASSERT_EQ(areas_->Add(0, 0, 0, 10, 10, 10), 1);
  Place(4, 5, 5, 5);
  Sweep();
  EXPECT_EQ(Take(), (Events{Enter(4, 1)}));
  EXPECT_EQ(AreaOf(4), 1);
  Sweep();
  EXPECT_EQ(Take(), Events{});

  Place(4, 10, 5, 5);  // on the face: neither inside nor outside
  Sweep();
  EXPECT_EQ(Take(), Events{});
  EXPECT_EQ(AreaOf(4), 1);

  Place(4, 11, 5, 5);
  Sweep();
  EXPECT_EQ(Take(), (Events{Leave(4, 1)}));
  EXPECT_EQ(AreaOf(4), 0);

  Place(4, 10, 5, 5);  // back on the face from outside: still nothing
  Sweep();
  EXPECT_EQ(Take(), Events{});
  EXPECT_EQ(AreaOf(4), 0);

  // A box whose min lies above its max holds nobody; a joined but unspawned
  // player stands at the origin.
  ASSERT_EQ(areas_->Add(10, 0, 0, 0, 10, 10), 2);
  ASSERT_EQ(areas_->Add(-1, -1, -1, 1, 1, 1), 3);
  Place(4, 5, 5, 5);
  ASSERT_TRUE(ConnectPlayer("Idle", players_, 9));
  Sweep();
  EXPECT_EQ(Take(), (Events{Enter(4, 1), Enter(9, 3)}));
}

TEST_F(AreaPoolTest, TheSweepRunsOnlyMoreThan250MsAfterTheLast) {
  ASSERT_EQ(areas_->Add(0, 0, 0, 10, 10, 10), 1);
  Place(2, 5, 5, 5);
  fakeNow += kAreaSweepIntervalMs;  // 250 ms after the pool was made
  server_.Pump();
  EXPECT_EQ(Take(), Events{});
  EXPECT_EQ(AreaOf(2), 0);
  fakeNow += 1;
  server_.Pump();
  EXPECT_EQ(Take(), (Events{Enter(2, 1)}));
  EXPECT_EQ(areas_->lastSweepMs, fakeNow);

  Place(2, 50, 5, 5);
  fakeNow += 100;
  server_.Pump();
  fakeNow += 150;
  server_.Pump();
  EXPECT_EQ(Take(), Events{});
  fakeNow += 1;
  server_.Pump();
  EXPECT_EQ(Take(), (Events{Leave(2, 1)}));
}

TEST_F(AreaPoolTest, OverlappingAreasAlternateFromSweepToSweep) {
  for (int i = 1; i <= 5; ++i) ASSERT_EQ(areas_->Add(0, 0, 0, 10, 10, 10), i);
  for (uint16_t id : {1, 2, 4}) ASSERT_TRUE(areas_->Destroy(id));
  Place(1, 5, 5, 5);

  Sweep();
  EXPECT_EQ(Take(), (Events{Enter(1, 3), Enter(1, 5)}));
  EXPECT_EQ(AreaOf(1), 5);
  Sweep();
  EXPECT_EQ(Take(), (Events{Enter(1, 3)}));
  EXPECT_EQ(AreaOf(1), 3);
  Sweep();
  EXPECT_EQ(Take(), (Events{Enter(1, 5)}));
  EXPECT_EQ(AreaOf(1), 5);
}

TEST_F(AreaPoolTest, MovingFromOneAreaIntoAnotherEntersThenLeaves) {
  ASSERT_EQ(areas_->Add(0, 0, 0, 10, 10, 10), 1);    // "area 3" of the example
  ASSERT_EQ(areas_->Add(20, 0, 0, 30, 10, 10), 2);   // "area 5"
  Place(6, 25, 5, 5);
  Sweep();
  EXPECT_EQ(Take(), (Events{Enter(6, 2)}));

  Place(6, 5, 5, 5);
  Sweep();
  EXPECT_EQ(Take(), (Events{Enter(6, 1), Leave(6, 2)}));
  EXPECT_EQ(AreaOf(6), 0);  // the leave compared against the start value
  Sweep();
  EXPECT_EQ(Take(), (Events{Enter(6, 1)}));
  EXPECT_EQ(AreaOf(6), 1);
}

TEST_F(AreaPoolTest, DestroyingAnAreaMakesEveryoneInItLeaveInPlayerOrder) {
  ASSERT_EQ(areas_->Add(0, 0, 0, 10, 10, 10), 1);
  ASSERT_EQ(areas_->Add(20, 0, 0, 30, 10, 10), 2);
  Place(7, 5, 5, 5);
  Place(3, 5, 5, 5);
  Place(5, 25, 5, 5);
  Sweep();
  EXPECT_EQ(Take(), (Events{Enter(3, 1), Enter(5, 2), Enter(7, 1)}));

  EXPECT_TRUE(areas_->Destroy(1));
  EXPECT_EQ(Take(), (Events{Leave(3, 1), Leave(7, 1)}));
  EXPECT_EQ(AreaOf(3), 0);
  EXPECT_EQ(AreaOf(7), 0);
  EXPECT_EQ(AreaOf(5), 2);
  EXPECT_EQ(areas_->areas[1].inUse, 0);
  EXPECT_EQ(+areas_->areas[1].maxX, 0.0f);
  Sweep();
  EXPECT_EQ(Take(), Events{});
}

TEST_F(AreaPoolTest, AHandlerThatKicksThePlayerEndsThatPlayersStep) {
  ASSERT_EQ(areas_->Add(0, 0, 0, 10, 10, 10), 1);
  ASSERT_EQ(areas_->Add(0, 0, 0, 10, 10, 10), 2);  // overlaps area 1
  Place(1, 5, 5, 5);
  Place(2, 5, 5, 5);
  Place(3, 5, 5, 5);
  sink_.onEvent = [](const AreaEvent& e) {
    if (e.enter && e.player == 2 && e.area == 1) DisconnectPlayer(kReasonKicked, 2);
  };
  Sweep();
  // Player 2 sees no event for area 2 and his freed record is left alone;
  // the players after him are swept as usual.
  EXPECT_EQ(Take(), (Events{Enter(1, 1), Enter(1, 2), Enter(2, 1), Enter(3, 1), Enter(3, 2)}));
  EXPECT_FALSE(players_->IsInUse(2));
  EXPECT_EQ(AreaOf(2), 0);
  EXPECT_NE(server_.ReadFile(kLogFileName).find("[LEAVE] Walker has left the server. [Kicked]"),
            std::string::npos);

  // A leave handler that kicks another player in the same area: he gets no
  // leave event, being gone.
  sink_.onEvent = [](const AreaEvent& e) {
    if (!e.enter && e.player == 1) DisconnectPlayer(kReasonKicked, 3);
  };
  players_->records[1].area = 1;
  players_->records[3].area = 1;
  EXPECT_TRUE(areas_->Destroy(1));
  EXPECT_EQ(Take(), (Events{Leave(1, 1)}));
  EXPECT_FALSE(players_->IsInUse(3));
  EXPECT_EQ(AreaOf(3), 0);
}

TEST_F(AreaPoolTest, AHandlerMayDestroyAndCreateAreasDuringTheSweep) {
  ASSERT_EQ(areas_->Add(0, 0, 0, 10, 10, 10), 1);
  ASSERT_EQ(areas_->Add(0, 0, 0, 10, 10, 10), 2);
  Place(1, 5, 5, 5);
  Place(2, 5, 5, 5);
  sink_.onEvent = [this](const AreaEvent& e) {
    if (e.enter && e.player == 1 && e.area == 1) {
      areas_->Destroy(2);                         // skipped from now on
      EXPECT_EQ(areas_->Add(0, 0, 0, 10, 10, 10), 2);  // seen when the walk gets there
    }
  };
  Sweep();
  EXPECT_EQ(Take(), (Events{Enter(1, 1), Enter(1, 2), Enter(2, 1), Enter(2, 2)}));
}

TEST_F(AreaPoolTest, WithoutASinkTheAreaStillFollowsThePlayerAndResetRaisesNothing) {
  SetScriptEventSink(nullptr);
  ASSERT_EQ(areas_->Add(0, 0, 0, 10, 10, 10), 1);
  Place(8, 5, 5, 5);
  Sweep();
  EXPECT_EQ(AreaOf(8), 1);
  EXPECT_TRUE(areas_->Destroy(1));
  EXPECT_EQ(AreaOf(8), 0);

  SetScriptEventSink(&sink_);
  ASSERT_EQ(areas_->Add(0, 0, 0, 10, 10, 10), 1);
  Sweep();
  EXPECT_EQ(Take(), (Events{Enter(8, 1)}));
  fakeNow = 777777;
  areas_->Reset();
  EXPECT_EQ(areas_->lastSweepMs, 777777u);
  EXPECT_EQ(areas_->areas[1].inUse, 0);
  EXPECT_EQ(Take(), Events{});
  EXPECT_EQ(areas_->Add(1, 1, 1, 2, 2, 2), 1);
}

}  // namespace
