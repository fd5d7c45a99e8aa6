// The marker natives through a running server.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/markerpool.h"
#include "core/playerpool.h"
#include "core/world.h"
#include "script/native_test_support.h"

namespace {

using nativetest::Want;

class MarkerNativesTest : public nativetest::WorldNativeTest {
 protected:
  uint8_t* Flags(int player) { return GetPlayerPool()->localMarkers[player]; }
};

TEST_F(MarkerNativesTest, CheckpointsAndCoronasShareTheLowestFreeIds) {
  EXPECT_EQ(Call("createGlobalCheckpoint(1, 2, 3, 4), createGlobalCorona(5, 6, 7, 300, -1, 255)"),
            "0,1");
  const MarkerRecord& corona = gMarkerPool->records[1];
  EXPECT_EQ(+gMarkerPool->records[0].radius, 4.0f);
  EXPECT_EQ(+corona.radius, 5.5f);
  EXPECT_EQ(corona.red, 44);
  EXPECT_EQ(corona.green, 255);
  // The id keeps 8 bits; ids past the pool are free.
  EXPECT_EQ(Call("getGlobalMarkerType(0), getGlobalMarkerType(257), getGlobalMarkerType(60)"),
            "1,2,0");
  Flush();
  ExpectBoth("CreateCheckpoint", Want().f32(1).f32(2).f32(3).f32(4));
  ExpectBoth("CreateCorona", Want().f32(5).f32(6).f32(7).c8(44).c8(255).c8(255));

  ASSERT_EQ(Do("destroyGlobalCheckpoint(0)"), "");
  EXPECT_EQ(Call("getGlobalMarkerType(0), createGlobalCorona(0, 0, 0, 1, 2, 3)"), "0,0");
  ASSERT_EQ(Do("destroyGlobalCorona(1)"), "");
  EXPECT_EQ(Call("getGlobalMarkerType(1), createGlobalCheckpoint(0, 0, 0, 1)"), "0,1");
  Flush();
  ExpectBoth("DestroyCheckpoint", Want().c8(0));
  ExpectBoth("DestroyCorona", Want().c8(1));

  // The 51st marker is refused and nothing is sent.
  while (gMarkerPool->FindFreeSlot() >= 0) gMarkerPool->AddCheckpoint(0, 0, 0, 1);
  EXPECT_EQ(Call("createGlobalCorona(0, 0, 0, 1, 1, 1), createGlobalCheckpoint(0, 0, 0, 1)"),
            "-1,-1");
  Flush();
  EXPECT_EQ(alpha_->Count("CreateCorona") + alpha_->Count("CreateCheckpoint"), 4u);
}

TEST_F(MarkerNativesTest, GlobalChangesNeedTheirOwnKind) {
  ASSERT_EQ(Call("createGlobalCheckpoint(0, 0, 0, 2), createGlobalCorona(0, 0, 0, 9, 9, 9)"),
            "0,1");
  const MarkerRecord checkpoint = gMarkerPool->records[0], corona = gMarkerPool->records[1];
  ExpectQuiet({"destroyGlobalCorona(0)", "setGlobalCoronaRGB(0, 1, 1, 1)",
               "setGlobalCoronaPos(0, 1, 1, 1)", "destroyGlobalCheckpoint(1)",
               "setGlobalCheckpointRadius(1, 8)", "setGlobalCheckpointPos(1, 1, 1, 1)",
               "setGlobalCheckpointRadius(50, 8)", "destroyGlobalCheckpoint(2)"});
  EXPECT_EQ(std::memcmp(&gMarkerPool->records[0], &checkpoint, sizeof checkpoint), 0);
  EXPECT_EQ(std::memcmp(&gMarkerPool->records[1], &corona, sizeof corona), 0);

  ASSERT_EQ(Do("setGlobalCheckpointRadius(256, 8); setGlobalCheckpointPos(0, 1, 2, 3);"
               "setGlobalCoronaRGB(1, 300, -1, 255); setGlobalCoronaPos(1, 4, 5, 6)"),
            "");
  EXPECT_EQ(+gMarkerPool->records[0].radius, 8.0f);
  EXPECT_EQ(+gMarkerPool->records[0].z, 3.0f);
  EXPECT_EQ(gMarkerPool->records[1].red, 44);
  EXPECT_EQ(+gMarkerPool->records[1].x, 4.0f);
  Flush();
  ExpectBoth("SetCheckpointRadius", Want().c8(0).f32(8));
  ExpectBoth("SetCheckpointPos", Want().c8(0).f32(1).f32(2).f32(3));
  ExpectBoth("SetCoronaRGB", Want().c8(1).c8(44).c8(255).c8(255));
  ExpectBoth("SetCoronaPos", Want().c8(1).f32(4).f32(5).f32(6));
}

TEST_F(MarkerNativesTest, LocalMarkersKeepOnlyFlagsAndGoToTheirPlayer) {
  EXPECT_EQ(Call("createLocalCheckpoint(A, 1, 2, 3, 4), createLocalCorona(A, 5, 6, 7, 20, 1, 300)"),
            "0,1");
  EXPECT_EQ(Flags(a_)[1], 1);
  EXPECT_EQ(Flags(a_)[2], 0);
  // No kind is kept for a local slot: either family's natives accept it.
  ASSERT_EQ(Do("setLocalCheckpointRadius(A, 1, 9); setLocalCheckpointPos(A, 1, 1, 2, 3);"
               "setLocalCoronaRGB(A, 0, 1, 2, 3); setLocalCoronaPos(A, 0, 4, 5, 6);"
               "destroyLocalCorona(A, 0)"),
            "");
  EXPECT_EQ(Flags(a_)[0], 0);
  // The freed slot is the next one given out.
  EXPECT_EQ(Call("createLocalCheckpoint(A, 0, 0, 0, 1)"), "0");
  ASSERT_EQ(Do("destroyLocalCheckpoint(A, 1)"), "");
  EXPECT_EQ(Flags(a_)[1], 0);
  Flush();
  EXPECT_EQ(Sent(*bravo_), 0u);
  EXPECT_TRUE(GotFirst(*alpha_, "CreateLocalCheckpoint", Want().f32(1).f32(2).f32(3).f32(4)));
  EXPECT_TRUE(Got(*alpha_, "CreateLocalCorona", Want().f32(5).f32(6).f32(7).c8(20).c8(1).c8(44)));
  EXPECT_TRUE(Got(*alpha_, "SetLocalCheckpointRadius", Want().c8(1).f32(9)));
  EXPECT_TRUE(Got(*alpha_, "SetLocalCheckpointPos", Want().c8(1).f32(1).f32(2).f32(3)));
  EXPECT_TRUE(Got(*alpha_, "SetLocalCoronaRGB", Want().c8(0).c8(1).c8(2).c8(3)));
  EXPECT_TRUE(Got(*alpha_, "SetLocalCoronaPos", Want().c8(0).f32(4).f32(5).f32(6)));
  EXPECT_TRUE(Got(*alpha_, "DestroyLocalCorona", Want().c8(0)));
  EXPECT_TRUE(Got(*alpha_, "DestroyLocalCheckpoint", Want().c8(1)));
}

TEST_F(MarkerNativesTest, LocalMarkerRefusals) {
  ASSERT_EQ(Call("createLocalCheckpoint(A, 0, 0, 0, 1)"), "0");
  // Players not connected get no results; free slots, slot 25, a wrong count.
  ExpectQuiet({"createLocalCorona(77, 0, 0, 0, 1, 1, 1)", "createLocalCheckpoint(100, 0, 0, 0, 1)",
               "destroyLocalCheckpoint(A, 1)", "destroyLocalCheckpoint(A, 25)",
               "setLocalCoronaRGB(A, 255, 1, 1, 1)", "setLocalCheckpointRadius(B, 0, 3)",
               "destroyLocalCorona(A)"});
  EXPECT_EQ(Flags(77)[0], 0);
  EXPECT_EQ(Flags(a_)[0], 1);

  // Player ids keep their low 8 bits; a player with 25 markers gets -1.
  EXPECT_EQ(Call("createLocalCheckpoint(A + 256, 0, 0, 0, 1)"), "1");
  for (int s = 0; s < kLocalMarkersPerPlayer; ++s) Flags(a_)[s] = 1;
  EXPECT_EQ(Call("createLocalCorona(A, 0, 0, 0, 1, 1, 1), createLocalCheckpoint(A, 0, 0, 0, 1)"),
            "-1,-1");
  Flush();
  EXPECT_EQ(alpha_->Count("CreateLocalCorona") + alpha_->Count("CreateLocalCheckpoint"), 2u);
}

TEST_F(MarkerNativesTest, ANewPlayerInASlotStartsWithNoLocalMarkers) {
  bravo_->Disconnect();
  ASSERT_TRUE(PumpUntil([&] { return !GetPlayerPool()->IsInUse(b_); }));
  // Whatever slot the newcomer gets, leftovers there must not count.
  for (int p = 0; p < kMaxPlayers; ++p) {
    if (!GetPlayerPool()->IsInUse(p)) std::memset(Flags(p), 1, kLocalMarkersPerPlayer);
  }
  support::TestClient& charlie = ConnectAndJoin("Charlie");
  EXPECT_EQ(Call("createLocalCheckpoint(" + std::to_string(charlie.Index()) + ", 0, 0, 0, 1)"),
            "0");
}

}  // namespace
