// The pickup natives through a running server: the records keep the values
// after the pool's rules while the calls carry the script's own.
#include <gtest/gtest.h>

#include <string>

#include "core/pickuppool.h"
#include "core/world.h"
#include "script/native_test_support.h"

namespace {

using nativetest::Want;

class PickupNativesTest : public nativetest::WorldNativeTest {};

TEST_F(PickupNativesTest, GlobalCreationStoresTheRulesAndSendsTheScriptsValues) {
  EXPECT_EQ(Call("createGlobalWeaponPickup(16, 2000000000, 1.5, -2.25, 3), "
                 "createGlobalCashPickup(-1, 4, 5, 6),"
                 "createGlobalGenericPickup(4000000000, 99, 7, 8, 9), "
                 "createGlobalGenericPickup(1240, 300, 0, 0, 0)"),
            "0,1,2,3");
  const PickupRecord* p = gGlobalPickupPool->records;
  EXPECT_EQ(+p[0].model, 0u);  // weapon 16 is no pickup weapon
  EXPECT_EQ(+p[0].amount, 1000000000u);
  EXPECT_EQ(+p[1].amount, 1000000000u);
  EXPECT_EQ(+p[2].model, 4000000000u);
  EXPECT_EQ(p[2].pickupType, 50);
  EXPECT_EQ(p[3].pickupType, 44);
  // Ids are bytes (256 is 0); ids past the pool read as free.
  EXPECT_EQ(Call("getGlobalPickupType(0), getGlobalPickupType(1), getGlobalPickupType(2), "
                 "getGlobalPickupType(256),"
                 "getGlobalPickupType(4), getGlobalPickupType(100), getGlobalPickupType(255)"),
            "2,3,1,2,0,0,0");
  Flush();
  ExpectBoth("CreateGlobalWeaponPickup",
             Want().c32(16).c32(2000000000).f32(1.5f).f32(-2.25f).f32(3));
  ExpectBoth("CreateGlobalCashPickup", Want().c32(4294967295u).f32(4).f32(5).f32(6));
  EXPECT_TRUE(GotFirst(*alpha_, "CreateGlobalGenericPickup",
                       Want().c32(4000000000u).c8(99).f32(7).f32(8).f32(9)));

  // A full pool gives -1 and sends nothing; only a used pickup is destroyed.
  while (gGlobalPickupPool->FindFreeSlot() >= 0) gGlobalPickupPool->AddCashPickup(1, 0, 0, 0);
  EXPECT_EQ(Call("createGlobalCashPickup(1, 0, 0, 0), createGlobalWeaponPickup(22, 1, 0, 0, 0),"
                 "createGlobalGenericPickup(1240, 1, 0, 0, 0)"),
            "-1,-1,-1");
  ASSERT_EQ(Do("destroyGlobalPickup(42); destroyGlobalPickup(42); destroyGlobalPickup(142); "
               "destroyGlobalPickup(298)"),
            "");
  EXPECT_EQ(Call("getGlobalPickupType(42), createGlobalGenericPickup(1240, 1, 0, 0, 0)"), "0,42");
  Flush();
  EXPECT_EQ(Sent(*alpha_), 6u);
  ExpectBoth("DestroyGlobalPickup", Want().c8(42));
}

TEST_F(PickupNativesTest, LocalPickupsBelongToOnePlayerAndReachOnlyHim) {
  EXPECT_EQ(Call("createLocalWeaponPickup(A, 30, -1, 1, 2, 3), createLocalCashPickup(A + 256, "
                 "2000000000, 4, 5, 6),"
                 "createLocalGenericPickup(A, 1240, 99, 7, 8, 9)"),
            "0,1,2");
  EXPECT_EQ(+gLocalPickupPool->Get(a_, 0).amount, 1000000000u);
  EXPECT_EQ(+gLocalPickupPool->Get(a_, 1).amount, 1000000000u);
  EXPECT_EQ(gLocalPickupPool->Get(a_, 2).pickupType, 50);
  EXPECT_EQ(Call("getLocalPickupType(A, 0), getLocalPickupType(A, 1), getLocalPickupType(A, 2),"
                 "getLocalPickupType(A, 25), getLocalPickupType(B, 0)"),
            "2,3,1,0,0");
  Flush();
  EXPECT_EQ(Sent(*bravo_), 0u);
  EXPECT_TRUE(Got(*alpha_, "CreateLocalWeaponPickup",
                  Want().c32(30).c32(4294967295u).f32(1).f32(2).f32(3)));
  EXPECT_TRUE(Got(*alpha_, "CreateLocalCashPickup", Want().c32(2000000000).f32(4).f32(5).f32(6)));
  EXPECT_TRUE(
      Got(*alpha_, "CreateLocalGenericPickup", Want().c32(1240).c8(99).f32(7).f32(8).f32(9)));

  // A full player gets -1 while the other still has room.
  while (gLocalPickupPool->FindFreeSlot(a_) >= 0) gLocalPickupPool->AddCashPickup(a_, 1, 0, 0, 0);
  EXPECT_EQ(
      Call("createLocalCashPickup(A, 1, 0, 0, 0), createLocalWeaponPickup(A, 22, 1, 0, 0, 0),"
           "createLocalGenericPickup(A, 1240, 1, 0, 0, 0), createLocalCashPickup(B, 1, 0, 0, 0)"),
      "-1,-1,-1,0");

  // Destroying tells the player whatever the slot held; only a used slot changes.
  ASSERT_EQ(Do("destroyLocalPickup(A, 30)"), "");
  Flush();
  EXPECT_TRUE(Got(*alpha_, "DestroyLocalPickup", Want().c8(30)));
  ASSERT_EQ(Do("destroyLocalPickup(A, 1)"), "");
  EXPECT_EQ(Call("getLocalPickupType(A, 1), createLocalCashPickup(A, 1, 0, 0, 0)"), "0,1");
  Flush();
  EXPECT_EQ(Sent(*alpha_), 3u + 2u + 1u);
  EXPECT_EQ(Sent(*bravo_), 1u);
}

TEST_F(PickupNativesTest, PlayerGuardRefusesSlotsNotInUse) {
  for (const std::string p : {"7", "100", "255", "-1"}) {
    EXPECT_EQ(Call("createLocalCashPickup(" + p + ", 1, 0, 0, 0)"), "") << p;
    EXPECT_EQ(Call("createLocalWeaponPickup(" + p + ", 22, 1, 0, 0, 0)"), "") << p;
    EXPECT_EQ(Call("createLocalGenericPickup(" + p + ", 1240, 1, 0, 0, 0)"), "") << p;
    EXPECT_EQ(Call("destroyLocalPickup(" + p + ", 0)"), "") << p;
    EXPECT_EQ(Call("getLocalPickupType(" + p + ", 0)"), "0") << p;
  }
  EXPECT_EQ(Call("createLocalGenericPickup(A, 1240, 1, 0, 0)"), "-1");  // wrong count
  for (const PickupRecord& r : gLocalPickupPool->records) ASSERT_EQ(r.kind, kPickupFree);
  Flush();
  EXPECT_EQ(Sent(*alpha_) + Sent(*bravo_), 0u);
}

}  // namespace
