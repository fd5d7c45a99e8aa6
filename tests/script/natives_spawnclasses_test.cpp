// The spawn class and weapon shop natives on a running server: classes and
// members take the first free index (also when the coordinate limit refuses
// them), the interior and weapon rules, and the weapon shop calls to every
// player decoded bit for bit.
#include <gtest/gtest.h>

#include <string>

#include "core/game_fixture.h"
#include "core/spawnclasspool.h"
#include "core/weaponshops.h"
#include "core/world.h"
#include "script/script_host.h"

namespace {

using gametest::Comp;
using scripttest::Eval;
using scripttest::RunLua;

class SpawnClassNativesTest : public gametest::GameTest {
 protected:
  void TearDown() override {
    gWeaponShopsFlag = 0;  // kept across restarts, so across tests too
    GameTest::TearDown();
  }
  const SpawnClassRecord& Class(int id) { return gSpawnClassPool->classes[id]; }
};

// addSpawnClass with this name, position x and interior (the rest fixed).
std::string AddClass(const std::string& name, const std::string& x, int interior) {
  return "addSpawnClass(" + name + ", 10, 20, 30, " + x + ", 2, 3, 45, 4, 5, 6, " +
         std::to_string(interior) + ")";
}

TEST_F(SpawnClassNativesTest, ClassesTakeTheFirstFreeIdAlsoWhenTheLimitRefusesThem) {
  EXPECT_EQ(Eval(AddClass("'Cops'", "1", 13)), "0");
  EXPECT_EQ(Eval(AddClass("''", "1", 18)), "1");
  EXPECT_EQ(Eval(AddClass("'Gang'", "1", 19)), "2");
  EXPECT_EQ(Class(0).interior, 0);
  EXPECT_EQ(Class(1).interior, 18);
  EXPECT_EQ(Class(2).interior, 0);
  EXPECT_STREQ(Class(0).name, "Cops");
  EXPECT_STREQ(Class(1).name, " ");
  EXPECT_EQ(Class(0).colour[0], 10);
  EXPECT_EQ(Class(0).colour[2], 30);
  EXPECT_EQ(+Class(0).angle, 45.0f);
  EXPECT_EQ(+Class(0).secondZ, 6.0f);

  // Refused on the coordinates: the script still hears the id, which stays free.
  EXPECT_EQ(Eval(AddClass("'Far'", "20000", 0)), "3");
  EXPECT_EQ(Class(3).used, 0);
  EXPECT_EQ(Eval("addSpawnClass('Deep', 0, 0, 0, 0, 0, 0, 0, 0, 0, 10000.5, 0)"), "3");
  EXPECT_EQ(Class(3).used, 0);
  EXPECT_EQ(Eval("addSpawnClass('Edge', 0, 0, 0, 0, 0, 0, 0, 0, 0, -10000, 0)"), "3");
  EXPECT_EQ(Class(3).used, 1);

  // No name at all is refused; a long one is cut to the field.
  EXPECT_EQ(Eval(AddClass("nil", "1", 0)), "");
  EXPECT_EQ(Eval(AddClass("string.rep('n', 150)", "1", 0)), "4");
  EXPECT_EQ(std::string(Class(4).name), std::string(99, 'n'));
  // Colours are bytes.
  EXPECT_EQ(Eval("addSpawnClass(12, 256, 257, -1, 0, 0, 0, 0, 0, 0, 0, 0)"), "5");
  EXPECT_STREQ(Class(5).name, "12");
  EXPECT_EQ(Class(5).colour[0], 0);
  EXPECT_EQ(Class(5).colour[1], 1);
  EXPECT_EQ(Class(5).colour[2], 255);

  EXPECT_EQ(scripttest::Run("local last; for i = 1, 4 do last = " + AddClass("'More'", "1", 0) +
                " end; return last"),
            "9");
  EXPECT_EQ(Eval(AddClass("'Eleventh'", "1", 0)), "");
}

TEST_F(SpawnClassNativesTest, MembersFollowTheWeaponRuleAndMayJoinAFreeClass) {
  EXPECT_EQ(Eval("addClassMember(3, 70000, 1, 2, 3, 90, 36, -1, 37, 5, 16, 4000000000)"), "0");
  const ClassMemberRecord& m = Class(3).members[0];
  EXPECT_EQ(Class(3).used, 0);  // the class itself need not exist
  EXPECT_EQ(m.used, 1);
  EXPECT_EQ(m.classId, 3);
  EXPECT_EQ(+m.skin, 70000 & 0xFFFF);
  EXPECT_EQ(+m.angle, 90.0f);
  EXPECT_EQ(m.weapon[0], 36);
  EXPECT_EQ(m.weapon[1], 0);
  EXPECT_EQ(m.weapon[2], 0);
  EXPECT_EQ(+m.ammo[0], 4294967295u);
  EXPECT_EQ(+m.ammo[1], 5u);
  EXPECT_EQ(+m.ammo[2], 4000000000u);

  EXPECT_EQ(Eval("addClassMember(3, 1, 0, 0, 0, 0, 13, 1, 35, 1, 290, 1)"), "1");  // 290: 34
  EXPECT_EQ(Class(3).members[1].weapon[0], 0);
  EXPECT_EQ(Class(3).members[1].weapon[1], 0);
  EXPECT_EQ(Class(3).members[1].weapon[2], 34);

  // Refused on the coordinates: the slot found is reported and stays free.
  EXPECT_EQ(Eval("addClassMember(3, 1, 0, 0, 0, 10000.5, 1, 1, 1, 1, 1, 1)"), "2");
  EXPECT_EQ(Class(3).members[2].used, 0);
  EXPECT_EQ(Eval("addClassMember(3, 1, -10000, 0, 0, 0, 1, 1, 1, 1, 1, 1)"), "2");
  EXPECT_EQ(Class(3).members[2].used, 1);

  EXPECT_EQ(Eval("addClassMember(10, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1)"), "");
  EXPECT_EQ(Eval("addClassMember(-1, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1)"), "");
  EXPECT_EQ(Eval("addClassMember(259, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1)"), "3");  // class 3

  EXPECT_EQ(scripttest::Run("local last; for i = 1, 176 do last = addClassMember(3, 1, 0, 0, 0, 0, 1, 1, 1,"
                " 1, 1, 1) end; return last"),
            "179");
  EXPECT_EQ(Eval("addClassMember(3, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1)"), "");
  EXPECT_EQ(Eval("addClassMember(4, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1)"), "0");
}

TEST_F(SpawnClassNativesTest, WeaponShopDataIsStoredCappedAndSentAsGiven) {
  support::TestClient& a = ConnectAndJoin("Alice");
  support::TestClient& b = ConnectAndJoin("Bobby");
  for (support::TestClient* c : {&a, &b}) c->Watch({"SetAmmunationWeaponData", "ToggleAmmunations"});

  EXPECT_EQ(Eval("setAmmunationWeaponData(1, 1, 24, 50000, 3000)"), "");
  EXPECT_EQ(Eval("getAmmunationWeaponData(1, 1)"), "24,10000,3000");
  EXPECT_EQ(RunLua("setAmmunationWeaponData(2, 3, 34, -1, 4000000000)"), "");
  EXPECT_EQ(Eval("getAmmunationWeaponData(2, 3)"), "34,10000,4000000000");

  // Refused entries change nothing and are not sent.
  for (const char* refused : {"1, 1, 30, 100, 100", "1, 1, 35, 1, 1", "1, 1, 291, 1, 1",
                              "0, 1, 22, 1, 1", "5, 1, 22, 1, 1", "1, 0, 22, 1, 1",
                              "1, 6, 22, 1, 1"}) {
    EXPECT_EQ(Eval(std::string("setAmmunationWeaponData(") + refused + ")"), "") << refused;
  }
  EXPECT_EQ(Eval("getAmmunationWeaponData(1, 1)"), "24,10000,3000");
  EXPECT_EQ(Eval("getAmmunationWeaponData(4, 4)"), "18,360,5680");  // a default
  EXPECT_EQ(Eval("getAmmunationWeaponData(0, 1)"), "0,0,0");
  EXPECT_EQ(Eval("getAmmunationWeaponData(4, 6)"), "0,0,0");
  EXPECT_EQ(Eval("getAmmunationWeaponData(260, 260)"), "18,360,5680");  // bytes: 4, 4

  EXPECT_EQ(Eval("toggleAmmunations(5)"), "");
  EXPECT_EQ(gWeaponShopsFlag, 1);
  EXPECT_EQ(RunLua("toggleAmmunations(256)"), "");
  EXPECT_EQ(gWeaponShopsFlag, 0);

  for (support::TestClient* c : {&a, &b}) {
    ASSERT_TRUE(PumpUntil([&] { return c->Count("ToggleAmmunations") >= 2; }));
    EXPECT_EQ(c->Count("SetAmmunationWeaponData"), 2u);
  }
  const auto sent = a.Rpcs("SetAmmunationWeaponData");
  auto first = sent[0].Reader();
  EXPECT_EQ(Comp<uint8_t>(*first), 1);
  EXPECT_EQ(Comp<uint8_t>(*first), 1);
  EXPECT_EQ(Comp<uint8_t>(*first), 24);
  EXPECT_EQ(Comp<uint32_t>(*first), 50000u);  // before the cap
  EXPECT_EQ(Comp<uint32_t>(*first), 3000u);
  EXPECT_EQ(first->GetNumberOfUnreadBits(), 0u);
  auto second = sent[1].Reader();
  EXPECT_EQ(Comp<uint8_t>(*second), 2);
  EXPECT_EQ(Comp<uint8_t>(*second), 3);
  EXPECT_EQ(Comp<uint8_t>(*second), 34);
  EXPECT_EQ(Comp<uint32_t>(*second), 4294967295u);
  EXPECT_EQ(Comp<uint32_t>(*second), 4000000000u);
  EXPECT_EQ(second->GetNumberOfUnreadBits(), 0u);

  const auto toggles = b.Rpcs("ToggleAmmunations");
  auto on = toggles[0].Reader();
  EXPECT_EQ(Comp<uint8_t>(*on), 1);
  EXPECT_EQ(on->GetNumberOfUnreadBits(), 0u);
  auto off = toggles[1].Reader();
  EXPECT_EQ(Comp<uint8_t>(*off), 0);
  EXPECT_EQ(off->GetNumberOfUnreadBits(), 0u);
}

}  // namespace
