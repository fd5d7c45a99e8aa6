// The spawn class and weapon shop natives through a running server.
#include <gtest/gtest.h>

#include <string>

#include "core/spawnclasspool.h"
#include "core/weaponshops.h"
#include "core/world.h"
#include "script/native_test_support.h"

namespace {

using nativetest::Want;

class SpawnClassNativesTest : public nativetest::WorldNativeTest {
 protected:
  void TearDown() override {
    gWeaponShopsFlag = 0;  // kept across restarts, so across tests too
    WorldNativeTest::TearDown();
  }
  const SpawnClassRecord& Class(int id) { return gSpawnClassPool->classes[id]; }
  // addSpawnClass with this name, position x and interior (the rest fixed).
  std::string AddClass(const std::string& name, const std::string& x, int interior) {
    return Call("addSpawnClass(" + name + ", 10, 20, 30, " + x + ", 2, 3, 45, 4, 5, 6, " +
                std::to_string(interior) + ")");
  }
  std::string AddMember(const std::string& args) { return Call("addClassMember(" + args + ")"); }
};

TEST_F(SpawnClassNativesTest, ClassesTakeTheFirstFreeIdAlsoWhenTheLimitRefusesThem) {
  // Interiors above 18 and 13 become 0; an empty name becomes " ".
  EXPECT_EQ(AddClass("'Cops'", "1", 13), "0");
  EXPECT_EQ(AddClass("''", "1", 18), "1");
  EXPECT_EQ(AddClass("'Gang'", "1", 19), "2");
  EXPECT_EQ(Class(0).interior + Class(2).interior, 0);
  EXPECT_EQ(Class(1).interior, 18);
  EXPECT_STREQ(Class(0).name, "Cops");
  EXPECT_STREQ(Class(1).name, " ");
  EXPECT_EQ(Class(0).colour[2], 30);
  EXPECT_EQ(+Class(0).angle, 45.0f);
  EXPECT_EQ(+Class(0).secondZ, 6.0f);

  // Refused on the coordinates: the script still hears the id, which stays free.
  EXPECT_EQ(AddClass("'Far'", "20000", 0), "3");
  EXPECT_EQ(Call("addSpawnClass('Deep', 0, 0, 0, 0, 0, 0, 0, 0, 0, 10000.5, 0)"), "3");
  EXPECT_EQ(Class(3).used, 0);
  EXPECT_EQ(Call("addSpawnClass('Edge', 0, 0, 0, 0, 0, 0, 0, 0, 0, -10000, 0)"), "3");
  EXPECT_EQ(Class(3).used, 1);

  // No name is refused; a long one is cut to the field; colours are bytes.
  EXPECT_EQ(AddClass("nil", "1", 0), "");
  EXPECT_EQ(AddClass("string.rep('n', 150)", "1", 0), "4");
  EXPECT_EQ(std::string(Class(4).name), std::string(99, 'n'));
  EXPECT_EQ(Call("addSpawnClass(12, 256, 257, -1, 0, 0, 0, 0, 0, 0, 0, 0)"), "5");
  EXPECT_STREQ(Class(5).name, "12");
  EXPECT_EQ(Class(5).colour[1], 1);
  EXPECT_EQ(Class(5).colour[2], 255);

  EXPECT_EQ(Do("for i = 1, 4 do addSpawnClass('More', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) end"), "");
  EXPECT_EQ(Class(9).used, 1);
  EXPECT_EQ(AddClass("'Eleventh'", "1", 0), "");
}

TEST_F(SpawnClassNativesTest, MembersFollowTheWeaponRuleAndMayJoinAFreeClass) {
  EXPECT_EQ(AddMember("3, 70000, 1, 2, 3, 90, 36, -1, 37, 5, 16, 4000000000"), "0");
  const ClassMemberRecord& m = Class(3).members[0];
  EXPECT_EQ(Class(3).used, 0);  // the class itself need not exist
  EXPECT_EQ(m.classId, 3);
  EXPECT_EQ(+m.skin, 70000 & 0xFFFF);
  EXPECT_EQ(+m.angle, 90.0f);
  EXPECT_EQ(m.weapon[0], 36);
  EXPECT_EQ(m.weapon[1] + m.weapon[2], 0);
  EXPECT_EQ(+m.ammo[0], 4294967295u);
  EXPECT_EQ(+m.ammo[2], 4000000000u);
  EXPECT_EQ(AddMember("3, 1, 0, 0, 0, 0, 13, 1, 35, 1, 290, 1"), "1");  // 290: 34
  EXPECT_EQ(Class(3).members[1].weapon[0] + Class(3).members[1].weapon[1], 0);
  EXPECT_EQ(Class(3).members[1].weapon[2], 34);

  // Refused on the coordinates: the slot found is reported and stays free.
  EXPECT_EQ(AddMember("3, 1, 0, 0, 0, 10000.5, 1, 1, 1, 1, 1, 1"), "2");
  EXPECT_EQ(Class(3).members[2].used, 0);
  EXPECT_EQ(AddMember("3, 1, -10000, 0, 0, 0, 1, 1, 1, 1, 1, 1"), "2");
  EXPECT_EQ(Class(3).members[2].used, 1);

  EXPECT_EQ(AddMember("10, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1"), "");
  EXPECT_EQ(AddMember("-1, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1"), "");
  EXPECT_EQ(AddMember("259, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1"), "3");  // class 3
  EXPECT_EQ(Do("for i = 1, 176 do addClassMember(3, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1) end"), "");
  EXPECT_EQ(Class(3).members[179].used, 1);
  EXPECT_EQ(AddMember("3, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1"), "");
  EXPECT_EQ(AddMember("4, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1"), "0");
  Flush();
  EXPECT_EQ(Sent(*alpha_), 0u);  // classes reach players only in the download
}

TEST_F(SpawnClassNativesTest, WeaponShopDataIsStoredCappedAndSentAsGiven) {
  ASSERT_EQ(Do("setAmmunationWeaponData(1, 1, 24, 50000, 3000)"), "");
  EXPECT_EQ(Call("getAmmunationWeaponData(1, 1)"), "24,10000,3000");
  Flush();
  ExpectBoth("SetAmmunationWeaponData", Want().c8(1).c8(1).c8(24).c32(50000).c32(3000));
  ASSERT_EQ(Do("setAmmunationWeaponData(2, 3, 34, -1, 4000000000)"), "");
  EXPECT_EQ(Call("getAmmunationWeaponData(2, 3)"), "34,10000,4000000000");

  // Refused entries change nothing and are not sent.
  for (const char* refused :
       {"1, 1, 30, 100, 100", "1, 1, 35, 1, 1", "1, 1, 291, 1, 1", "0, 1, 22, 1, 1",
        "5, 1, 22, 1, 1", "1, 0, 22, 1, 1", "1, 6, 22, 1, 1"}) {
    EXPECT_EQ(Call(std::string("setAmmunationWeaponData(") + refused + ")"), "") << refused;
  }
  EXPECT_EQ(Call("getAmmunationWeaponData(1, 1)"), "24,10000,3000");
  // A default entry; shop and slot are bytes; out of range reads as zeros.
  for (const char* at : {"4, 4", "260, 260"}) {
    EXPECT_EQ(Call(std::string("getAmmunationWeaponData(") + at + ")"), "18,360,5680") << at;
  }
  for (const char* at : {"0, 1", "4, 6"}) {
    EXPECT_EQ(Call(std::string("getAmmunationWeaponData(") + at + ")"), "0,0,0") << at;
  }

  ASSERT_EQ(Do("toggleAmmunations(5)"), "");
  EXPECT_EQ(gWeaponShopsFlag, 1);
  Flush();
  ExpectBoth("SetAmmunationWeaponData",
             Want().c8(2).c8(3).c8(34).c32(4294967295u).c32(4000000000u));
  ExpectBoth("ToggleAmmunations", Want().c8(1));
  ASSERT_EQ(Do("toggleAmmunations(256)"), "");
  EXPECT_EQ(gWeaponShopsFlag, 0);
  Flush();
  ExpectBoth("ToggleAmmunations", Want().c8(0));
  EXPECT_EQ(alpha_->Count("SetAmmunationWeaponData"), 2u);
}

}  // namespace
