// The pickup natives on a running server with joined clients: the records keep
// the values after the pool's rules while the calls carry the script's own,
// ids and slots come first-free, the player guard, and every payload layout
// decoded bit for bit.
#include <gtest/gtest.h>

#include <string>

#include "core/game_fixture.h"
#include "core/pickuppool.h"
#include "core/world.h"
#include "script/script_host.h"

namespace {

using gametest::Comp;
using gametest::Plain;
using scripttest::Eval;

class PickupNativesTest : public gametest::GameTest {
 protected:
  support::TestClient& JoinWatching(const std::string& name) {
    support::TestClient& c = ConnectAndJoin(name);
    c.Watch({"CreateGlobalCashPickup", "CreateGlobalWeaponPickup", "CreateGlobalGenericPickup",
             "DestroyGlobalPickup", "CreateLocalCashPickup", "CreateLocalWeaponPickup",
             "CreateLocalGenericPickup", "DestroyLocalPickup"});
    return c;
  }
  bool WaitFor(support::TestClient& c, const std::string& name, size_t count) {
    return PumpUntil([&] { return c.Count(name) >= count; });
  }
  static std::string Call(const std::string& native, int first, const std::string& rest) {
    return native + "(" + std::to_string(first) + ", " + rest + ")";
  }
};

// The position at the end of every creation call, then the payload's end.
void ExpectPositionAndEnd(net::BitStream& r, float x, float y, float z) {
  EXPECT_EQ(Plain<float>(r), x);
  EXPECT_EQ(Plain<float>(r), y);
  EXPECT_EQ(Plain<float>(r), z);
  EXPECT_EQ(r.GetNumberOfUnreadBits(), 0u);
}

TEST_F(PickupNativesTest, GlobalCreationStoresTheRulesAndSendsTheScriptsValues) {
  support::TestClient& c = JoinWatching("Alice");
  EXPECT_EQ(Eval("createGlobalWeaponPickup(16, 2000000000, 1.5, -2.25, 3)"), "0");
  EXPECT_EQ(Eval("createGlobalCashPickup(-1, 4, 5, 6)"), "1");
  EXPECT_EQ(Eval("createGlobalGenericPickup(4000000000, 99, 7, 8, 9)"), "2");
  EXPECT_EQ(Eval("createGlobalGenericPickup(1240, 300, 0, 0, 0)"), "3");  // type 300: byte 44

  const PickupRecord* p = gGlobalPickupPool->records;
  EXPECT_EQ(p[0].kind, kPickupWeapon);
  EXPECT_EQ(p[0].pickupType, 3);
  EXPECT_EQ(+p[0].model, 0u);
  EXPECT_EQ(+p[0].amount, 1000000000u);
  EXPECT_EQ(+p[0].y, -2.25f);
  EXPECT_EQ(p[1].kind, kPickupCash);
  EXPECT_EQ(+p[1].amount, 1000000000u);
  EXPECT_EQ(p[2].kind, kPickupGeneric);
  EXPECT_EQ(+p[2].model, 4000000000u);
  EXPECT_EQ(p[2].pickupType, 50);
  EXPECT_EQ(+p[2].amount, 0u);
  EXPECT_EQ(p[3].pickupType, 44);

  EXPECT_EQ(Eval("getGlobalPickupType(0), getGlobalPickupType(1), getGlobalPickupType(2)"),
            "2,3,1");
  // Ids are bytes: 256 is id 0; ids past the pool read as free.
  EXPECT_EQ(Eval("getGlobalPickupType(256), getGlobalPickupType(4), getGlobalPickupType(100),"
                 "getGlobalPickupType(255)"),
            "2,0,0,0");

  ASSERT_TRUE(WaitFor(c, "CreateGlobalGenericPickup", 2));
  auto weapon = c.LastRpc("CreateGlobalWeaponPickup")->Reader();
  EXPECT_EQ(Comp<uint32_t>(*weapon), 16u);
  EXPECT_EQ(Comp<uint32_t>(*weapon), 2000000000u);
  ExpectPositionAndEnd(*weapon, 1.5f, -2.25f, 3.0f);

  auto cash = c.LastRpc("CreateGlobalCashPickup")->Reader();
  EXPECT_EQ(Comp<uint32_t>(*cash), 4294967295u);
  ExpectPositionAndEnd(*cash, 4, 5, 6);

  auto generic = c.Rpcs("CreateGlobalGenericPickup")[0].Reader();
  EXPECT_EQ(Comp<uint32_t>(*generic), 4000000000u);
  EXPECT_EQ(Comp<uint8_t>(*generic), 99);
  ExpectPositionAndEnd(*generic, 7, 8, 9);
}

TEST_F(PickupNativesTest, FullGlobalPoolAndDestroyingOnlyWhatExists) {
  support::TestClient& c = JoinWatching("Alice");
  EXPECT_EQ(scripttest::Run("local last; for i = 1, 100 do last = createGlobalCashPickup(i, 0, 0, 0) end;"
                "return last"),
            "99");
  EXPECT_EQ(Eval("createGlobalCashPickup(1, 0, 0, 0), createGlobalWeaponPickup(22, 1, 0, 0, 0),"
                 "createGlobalGenericPickup(1240, 1, 0, 0, 0)"),
            "-1,-1,-1");

  EXPECT_EQ(Eval("destroyGlobalPickup(42)"), "");
  EXPECT_EQ(gGlobalPickupPool->records[42].kind, kPickupFree);
  EXPECT_EQ(+gGlobalPickupPool->records[42].amount, 0u);
  EXPECT_EQ(Eval("getGlobalPickupType(42)"), "0");
  // Already free, past the pool, and 298 (byte 42) again: nothing is sent.
  EXPECT_EQ(scripttest::Run("destroyGlobalPickup(42); destroyGlobalPickup(142); destroyGlobalPickup(298)"),
            "");
  EXPECT_EQ(Eval("createGlobalGenericPickup(1240, 1, 0, 0, 0)"), "42");

  ASSERT_TRUE(WaitFor(c, "CreateGlobalGenericPickup", 1));
  EXPECT_EQ(c.Count("CreateGlobalCashPickup"), 100u);
  EXPECT_EQ(c.Count("CreateGlobalWeaponPickup"), 0u);
  ASSERT_EQ(c.Count("DestroyGlobalPickup"), 1u);
  auto destroy = c.LastRpc("DestroyGlobalPickup")->Reader();
  EXPECT_EQ(Comp<uint8_t>(*destroy), 42);
  EXPECT_EQ(destroy->GetNumberOfUnreadBits(), 0u);
}

TEST_F(PickupNativesTest, LocalPickupsBelongToOnePlayerAndReachOnlyHim) {
  support::TestClient& a = JoinWatching("Alice");
  support::TestClient& b = JoinWatching("Bobby");
  const int pa = a.Index();
  const int pb = b.Index();

  EXPECT_EQ(Eval(Call("createLocalWeaponPickup", pa, "30, -1, 1, 2, 3")), "0");
  EXPECT_EQ(Eval(Call("createLocalCashPickup", pa + 256, "2000000000, 4, 5, 6")), "1");
  EXPECT_EQ(Eval(Call("createLocalGenericPickup", pa, "1240, 99, 7, 8, 9")), "2");
  const PickupRecord& weapon = gLocalPickupPool->Get(pa, 0);
  EXPECT_EQ(weapon.kind, kPickupWeapon);
  EXPECT_EQ(+weapon.model, 0u);
  EXPECT_EQ(+weapon.amount, 1000000000u);
  EXPECT_EQ(+gLocalPickupPool->Get(pa, 1).amount, 1000000000u);
  EXPECT_EQ(+gLocalPickupPool->Get(pa, 2).pickupType, 50);
  EXPECT_EQ(+gLocalPickupPool->Get(pb, 0).kind, kPickupFree);

  EXPECT_EQ(Eval(Call("getLocalPickupType", pa, "0") + ", " + Call("getLocalPickupType", pa, "1") +
                 ", " + Call("getLocalPickupType", pa, "2") + ", " +
                 Call("getLocalPickupType", pa, "25") + ", " + Call("getLocalPickupType", pb, "0")),
            "2,3,1,0,0");

  // Slots 3..24, then the player is full while the other still has room.
  EXPECT_EQ(scripttest::Run("local last; for i = 3, 24 do last = createLocalCashPickup(" + std::to_string(pa) +
                ", i, 0, 0, 0) end; return last"),
            "24");
  EXPECT_EQ(Eval(Call("createLocalCashPickup", pa, "1, 0, 0, 0") + ", " +
                 Call("createLocalWeaponPickup", pa, "22, 1, 0, 0, 0") + ", " +
                 Call("createLocalGenericPickup", pa, "1240, 1, 0, 0, 0")),
            "-1,-1,-1");
  EXPECT_EQ(Eval(Call("createLocalCashPickup", pb, "1, 0, 0, 0")), "0");

  // Destroying tells the player whatever the slot held; only a used slot
  // changes.
  EXPECT_EQ(Eval(Call("destroyLocalPickup", pa, "30")), "");
  EXPECT_EQ(Eval(Call("destroyLocalPickup", pa, "1")), "");
  EXPECT_EQ(+gLocalPickupPool->Get(pa, 1).kind, kPickupFree);
  EXPECT_EQ(Eval(Call("getLocalPickupType", pa, "1")), "0");
  EXPECT_EQ(Eval(Call("createLocalCashPickup", pa, "1, 0, 0, 0")), "1");

  ASSERT_TRUE(WaitFor(a, "DestroyLocalPickup", 2));
  ASSERT_TRUE(WaitFor(a, "CreateLocalCashPickup", 24));
  ASSERT_TRUE(WaitFor(b, "CreateLocalCashPickup", 1));
  EXPECT_EQ(a.Count("CreateLocalCashPickup"), 24u);  // slot 1, 3..24, and slot 1 again
  EXPECT_EQ(a.Count("CreateLocalWeaponPickup"), 1u);
  EXPECT_EQ(a.Count("CreateLocalGenericPickup"), 1u);
  EXPECT_EQ(b.Count("CreateLocalCashPickup"), 1u);
  EXPECT_EQ(b.Count("CreateLocalWeaponPickup") + b.Count("CreateLocalGenericPickup") +
                b.Count("DestroyLocalPickup"),
            0u);

  auto w = a.LastRpc("CreateLocalWeaponPickup")->Reader();
  EXPECT_EQ(Comp<uint32_t>(*w), 30u);
  EXPECT_EQ(Comp<uint32_t>(*w), 4294967295u);
  ExpectPositionAndEnd(*w, 1, 2, 3);
  auto cash = a.Rpcs("CreateLocalCashPickup")[0].Reader();
  EXPECT_EQ(Comp<uint32_t>(*cash), 2000000000u);
  ExpectPositionAndEnd(*cash, 4, 5, 6);
  auto generic = a.LastRpc("CreateLocalGenericPickup")->Reader();
  EXPECT_EQ(Comp<uint32_t>(*generic), 1240u);
  EXPECT_EQ(Comp<uint8_t>(*generic), 99);
  ExpectPositionAndEnd(*generic, 7, 8, 9);
  auto destroyed = a.Rpcs("DestroyLocalPickup")[0].Reader();
  EXPECT_EQ(Comp<uint8_t>(*destroyed), 30);
  EXPECT_EQ(destroyed->GetNumberOfUnreadBits(), 0u);
}

TEST_F(PickupNativesTest, PlayerGuardRefusesSlotsNotInUse) {
  support::TestClient& a = JoinWatching("Alice");
  const int pa = a.Index();
  for (int player : {7, 100, 255, -1}) {
    SCOPED_TRACE(player);
    EXPECT_EQ(Eval(Call("createLocalCashPickup", player, "1, 0, 0, 0")), "");
    EXPECT_EQ(Eval(Call("createLocalWeaponPickup", player, "22, 1, 0, 0, 0")), "");
    EXPECT_EQ(Eval(Call("createLocalGenericPickup", player, "1240, 1, 0, 0, 0")), "");
    EXPECT_EQ(Eval(Call("destroyLocalPickup", player, "0")), "");
    EXPECT_EQ(Eval(Call("getLocalPickupType", player, "0")), "0");
  }
  for (const PickupRecord& r : gLocalPickupPool->records) ASSERT_EQ(r.kind, kPickupFree);

  // A call the player does get marks the end of whatever was sent.
  EXPECT_EQ(Eval(Call("destroyLocalPickup", pa, "200")), "");
  ASSERT_TRUE(WaitFor(a, "DestroyLocalPickup", 1));
  EXPECT_EQ(a.Count("DestroyLocalPickup"), 1u);
  EXPECT_EQ(a.Count("CreateLocalCashPickup") + a.Count("CreateLocalWeaponPickup") +
                a.Count("CreateLocalGenericPickup"),
            0u);
}

}  // namespace
