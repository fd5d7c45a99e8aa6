// The object natives through a running server.
#include <gtest/gtest.h>

#include <string>

#include "core/objectpool.h"
#include "core/playerpool.h"
#include "core/world.h"
#include "script/native_test_support.h"

namespace {

using nativetest::Want;

class ObjectNativesTest : public nativetest::WorldNativeTest {};

TEST_F(ObjectNativesTest, GlobalCreateTakesTheLowestFreeIdAndSendsTheValues) {
  EXPECT_EQ(Call("createGlobalObject(1337, 1.5, -2, 3, 90, 0.25, 180, 259)"), "0");
  EXPECT_EQ(Call("createGlobalObject(2000, 0, 0, 0, 0, 0, 0, 0)"), "1");
  EXPECT_EQ(Call("getGlobalObjectModel(0), getGlobalObjectInterior(0)"), "1337,3");
  EXPECT_EQ(Call("getGlobalObjectPos(0)"), "1.5,-2,3");
  EXPECT_EQ(Call("getGlobalObjectRotation(0)"), "90,0.25,180");
  Flush();
  ASSERT_EQ(bravo_->Count("CreateGlobalObject"), 2u);
  EXPECT_TRUE(
      GotFirst(*bravo_, "CreateGlobalObject",
               Want().c32(1337).f32(1.5f).f32(-2).f32(3).f32(90).f32(0.25f).f32(180).c8(3)));

  // The freed index comes first again; models keep all 32 unsigned bits.
  EXPECT_EQ(Call("destroyGlobalObject(0)"), "");
  EXPECT_EQ(Call("createGlobalObject(4294967295, 0, 0, 0, 0, 0, 0, 0)"), "0");
  EXPECT_EQ(Call("getGlobalObjectModel(0)"), "4294967295");
  // Model 0 is announced, but the record stays free and the index is reused.
  EXPECT_EQ(Call("createGlobalObject(0, 7, 7, 7, 0, 0, 0, 0)"), "2");
  EXPECT_EQ(Call("getGlobalObjectModel(2)"), "0");
  EXPECT_EQ(Call("createGlobalObject(5, 0, 0, 0, 0, 0, 0, 0)"), "2");
  Flush();
  ExpectBoth("DestroyGlobalObject", Want().c16(0));
  EXPECT_EQ(alpha_->Count("CreateGlobalObject"), 5u);

  // A full pool: -1 and nothing sent.
  while (gGlobalObjectPool->FindFreeSlot() != kNoObject)
    gGlobalObjectPool->Add(1, 0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(Call("createGlobalObject(100, 0, 0, 0, 0, 0, 0, 0)"), "-1");
  Flush();
  EXPECT_EQ(alpha_->Count("CreateGlobalObject"), 5u);
}

TEST_F(ObjectNativesTest, GlobalSettersStoreAndSendOnlyForUsedIds) {
  ASSERT_EQ(Call("createGlobalObject(10, 0, 0, 0, 0, 0, 0, 0), createGlobalObject(11, 0, 0, 0, 0, "
                 "0, 0, 0)"),
            "0,1");
  ASSERT_EQ(Do("destroyGlobalObject(1)"), "");
  ExpectQuiet({"setGlobalObjectPos(1000, 1, 2, 3)", "setGlobalObjectPos(1, 1, 2, 3)",
               "setGlobalObjectRotation(1, 1, 2, 3)", "setGlobalObjectInterior(-1, 4)",
               "moveGlobalObject(1, 1, 2, 3, 4)", "moveGlobalObjectAngles(1000, 1, 2, 3, 4)",
               "destroyGlobalObject(1)", "setGlobalObjectPos(0, 1, 2)"});
  EXPECT_EQ(Call("getGlobalObjectModel(1), getGlobalObjectPos(0)"), "0,0,0,0");

  // Ids keep their low 16 bits, the interior its low 8.
  ASSERT_EQ(Do("setGlobalObjectPos(65536, 4, 5, 6); setGlobalObjectRotation(0, 7, 8, 9);"
               "setGlobalObjectInterior(0, 260)"),
            "");
  EXPECT_EQ(Call("getGlobalObjectPos(0)"), "4,5,6");
  EXPECT_EQ(Call("getGlobalObjectRotation(0)"), "7,8,9");
  EXPECT_EQ(Call("getGlobalObjectInterior(0)"), "4");
  Flush();
  ExpectBoth("SetGlobalObjectPos", Want().c16(0).f32(4).f32(5).f32(6));
  ExpectBoth("SetGlobalObjectRotation", Want().c16(0).f32(7).f32(8).f32(9));
  ExpectBoth("SetGlobalObjectInterior", Want().c16(0).c8(4));

  // The getters check nothing and stay inside the pool.
  EXPECT_EQ(Call("getGlobalObjectPos(999)"), "0,0,0");
  EXPECT_EQ(Call("getGlobalObjectRotation(1000)"), "0,0,0");
  EXPECT_EQ(Call("getGlobalObjectModel(-1), getGlobalObjectInterior(40000)"), "0,0");
}

TEST_F(ObjectNativesTest, MovesStoreTheTargetAtOnceAndStopChangesNothing) {
  ASSERT_EQ(Do("for i = 0, 5 do createGlobalObject(20 + i, 0, 0, 0, 0, 0, 0, 0) end"), "");
  ASSERT_EQ(Do("moveGlobalObject(5, 10, 20, 30, 2); moveGlobalObjectAngles(300, 1, 2, 3, 0.5);"
               "moveGlobalObjectAngles(4, 45, 90, 135, 0.5); stopGlobalObject(5)"),
            "");
  EXPECT_EQ(Call("getGlobalObjectPos(5)"), "10,20,30");
  EXPECT_EQ(Call("getGlobalObjectRotation(4)"), "45,90,135");
  // Stop checks nothing: the clients hear of ids that hold no object too.
  EXPECT_EQ(Call("stopGlobalObject(300)"), "");
  Flush();
  ExpectBoth("MoveGlobalObject", Want().c16(5).f32(10).f32(20).f32(30).f32(2));
  ExpectBoth("MoveGlobalObjectAngles", Want().c16(4).f32(45).f32(90).f32(135).f32(0.5f));
  EXPECT_EQ(alpha_->Count("MoveGlobalObjectAngles"), 1u);
  EXPECT_EQ(bravo_->Count("StopGlobalObject"), 2u);
  ExpectBoth("StopGlobalObject", Want().c16(300));
}

TEST_F(ObjectNativesTest, LocalObjectsBelongToOnePlayer) {
  EXPECT_EQ(Call("createLocalObject(A, 1500, 1, 2, 3, 4, 5, 6, 20)"), "0");
  EXPECT_EQ(Call("createLocalObject(A, 1501, 0, 0, 0, 0, 0, 0, 0)"), "1");
  EXPECT_EQ(Call("getLocalObjectModel(A, 0), getLocalObjectModel(B, 0)"), "1500,0");
  ASSERT_EQ(Do("setLocalObjectPos(A, 1, 7, 8, 9); setLocalObjectRotation(A, 1, 10, 11, 12);"
               "setLocalObjectInterior(A, 1, 258); destroyLocalObject(A, 0)"),
            "");
  EXPECT_EQ(Call("getLocalObjectPos(A, 1)"), "7,8,9");
  EXPECT_EQ(Call("getLocalObjectRotation(A, 1)"), "10,11,12");
  EXPECT_EQ(Call("getLocalObjectInterior(A, 1), getLocalObjectModel(A, 0)"), "2,0");
  Flush();
  EXPECT_EQ(Sent(*bravo_), 0u);
  ASSERT_EQ(alpha_->Count("CreateLocalObject"), 2u);
  EXPECT_TRUE(GotFirst(*alpha_, "CreateLocalObject",
                       Want().c32(1500).f32(1).f32(2).f32(3).f32(4).f32(5).f32(6).c8(20)));
  EXPECT_TRUE(Got(*alpha_, "SetLocalObjectPos", Want().c16(1).f32(7).f32(8).f32(9)));
  EXPECT_TRUE(Got(*alpha_, "SetLocalObjectRotation", Want().c16(1).f32(10).f32(11).f32(12)));
  EXPECT_TRUE(Got(*alpha_, "SetLocalObjectInterior", Want().c16(1).c8(2)));
  EXPECT_TRUE(Got(*alpha_, "DestroyLocalObject", Want().c16(0)));
}

TEST_F(ObjectNativesTest, LocalNativesGuardThePlayerOnSixteenBits) {
  ASSERT_FALSE(GetPlayerPool()->IsInUse(77));
  ASSERT_EQ(Call("createLocalObject(A, 1500, 0, 0, 0, 0, 0, 0, 0)"), "0");
  // Not connected; A + 256 (not read as A); slot 100; a free slot.
  ExpectQuiet({"createLocalObject(77, 1, 0, 0, 0, 0, 0, 0, 0)",
               "createLocalObject(A + 256, 1, 0, 0, 0, 0, 0, 0, 0)"},
              "-1");
  ExpectQuiet({"setLocalObjectPos(A + 256, 0, 1, 1, 1)", "destroyLocalObject(A + 256, 0)",
               "setLocalObjectInterior(A, 100, 1)", "setLocalObjectRotation(A, 1, 1, 1, 1)"});
  EXPECT_EQ(Call("getLocalObjectModel(A, 0), getLocalObjectPos(A, 0)"), "1500,0,0,0");
  EXPECT_EQ(Do("setLocalObjectPos(A + 65536, 0, 3, 3, 3)"), "");
  EXPECT_EQ(Call("getLocalObjectPos(A, 0)"), "3,3,3");

  // The getters check nothing and stay inside the pool.
  EXPECT_EQ(Call("getLocalObjectModel(100, 0)"), "0");
  EXPECT_EQ(Call("getLocalObjectPos(-1, -1)"), "0,0,0");
  EXPECT_EQ(Call("getLocalObjectRotation(A, 100)"), "0,0,0");

  // A player's 101st local object is refused; the other player is untouched.
  for (int i = 1; i < kLocalObjectsPerPlayer; ++i)
    gLocalObjectPool->Add(a_, 9, 0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(Call("createLocalObject(A, 1, 0, 0, 0, 0, 0, 0, 0), createLocalObject(B, 1, 0, 0, 0, "
                 "0, 0, 0, 0)"),
            "-1,0");
  Flush();
  EXPECT_EQ(alpha_->Count("CreateLocalObject"), 1u);

  // A player's row is empty once they leave.
  bravo_->Disconnect();
  ASSERT_TRUE(PumpUntil([&] { return !GetPlayerPool()->IsInUse(b_); }));
  EXPECT_EQ(Call("getLocalObjectModel(B, 0)"), "0");
}

}  // namespace
