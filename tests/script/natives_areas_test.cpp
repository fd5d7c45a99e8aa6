// The area natives over a running server: ids, limits, the leave events of a
// destroyed area and the area the sweep gives a player.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/areapool.h"
#include "core/game_fixture.h"
#include "core/playerpool.h"
#include "core/world.h"
#include "script/script_host.h"

using scripttest::Eval;

namespace {

class AreaNativesTest : public gametest::GameTest {
 protected:
  void TearDown() override {
    gametest::frozenNowMs = startMs_;
    GameTest::TearDown();
  }
  // A player in slot `id` standing at (x, y, z), as his client reported.
  void Place(uint8_t id, float x, float y, float z) {
    if (!GetPlayerPool()->IsInUse(id)) {
      ASSERT_TRUE(ConnectPlayer(("Walker" + std::to_string(id)).c_str(), GetPlayerPool(), id));
    }
    Record(id).x = x;
    Record(id).y = y;
    Record(id).z = z;
  }
  // Lets the 250-ms gate open and runs the sweep.
  void Sweep() {
    gametest::frozenNowMs += kAreaSweepIntervalMs + 1;
    gAreaPool->Process();
  }

  const uint32_t startMs_ = gametest::frozenNowMs;
};

TEST_F(AreaNativesTest, IdsLimitsAndWrongCounts) {
  EXPECT_EQ(Eval("createArea(0, 0, 0, 10, 10, 10)"), "1");
  EXPECT_EQ(Eval("createArea(-1.5, -2.5, -3.5, '4', 5, 6)"), "2");
  const AreaRecord second = gAreaPool->areas[2];
  EXPECT_EQ(std::vector<float>({second.minX, second.minY, second.minZ, second.maxX, second.maxY, second.maxZ}),
            std::vector<float>({-1.5f, -2.5f, -3.5f, 4, 5, 6}));
  EXPECT_EQ(Eval("destroyArea(1)"), "true");
  const std::pair<const char*, const char*> calls[] = {
      {"createArea(0, 0, 0, 1, 1, 1)", "1"}, {"createArea(0, 0, 0, 1, 1)", "-1"},
      {"createArea(0, 0, 0, 1, 1, 1, 1)", "-1"}, {"destroyArea(0)", "false"},
      {"destroyArea(2000)", "false"}, {"destroyArea(3)", "false"}, {"destroyArea()", "false"},
      {"destroyArea(2, 2)", "false"}, {"destroyArea(65536 + 2)", "true"}};
  for (const auto& [call, result] : calls) EXPECT_EQ(Eval(call), result) << call;
  EXPECT_FALSE(gAreaPool->areas[2].inUse);
  EXPECT_FALSE(gAreaPool->areas[3].inUse);
}

TEST_F(AreaNativesTest, PlayersLearnTheirAreaFromTheSweepAndLeaveADestroyedOne) {
  Place(7, 5, 5, 5);
  Place(8, 50, 50, 50);
  ASSERT_EQ(Eval("createArea(0, 0, 0, 10, 10, 10)"), "1");
  ASSERT_EQ(Eval("createArea(40, 40, 40, 60, 60, 60)"), "2");
  ASSERT_EQ(Eval("createArea(10, 0, 0, 0, 10, 10)"), "3");  // min x above max x
  EXPECT_EQ(Eval("getPlayerArea(7)"), "0");  // not before the sweep has seen him
  Sweep();
  EXPECT_EQ(Eval("getPlayerArea(7)"), "1");
  EXPECT_EQ(Eval("getPlayerArea(7 + 256)"), "1");
  EXPECT_EQ(Eval("getPlayerArea(8)"), "2");
  Sweep();  // the inverted box never takes him in
  EXPECT_EQ(Eval("getPlayerArea(7)"), "1");

  sink_.events.clear();
  EXPECT_EQ(Eval("destroyArea(1)"), "true");
  EXPECT_EQ(sink_.events, std::vector<std::string>{"leavearea 7 1"});
  EXPECT_EQ(Eval("getPlayerArea(7)"), "0");
  EXPECT_EQ(Eval("getPlayerArea(8)"), "2");

  // The guard: a free slot and an id beyond the pool give nothing.
  EXPECT_EQ(Eval("select('#', getPlayerArea(9)) + select('#', getPlayerArea(100))"), "0");
}

}  // namespace
