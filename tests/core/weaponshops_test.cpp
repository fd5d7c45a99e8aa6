#include "core/weaponshops.h"

#include <gtest/gtest.h>

#include "record_bytes.h"

namespace {

using namespace recordbytes;

TEST(WeaponShopTableTest, SlotBytesAndTheDefaultStock) {
  WeaponShopTable table;
  EXPECT_EQ(Bytes(table.slots[0]), PlainBytes(17_u8, 10000u, 500u));

  const WeaponShopSlot& s44 = table.Get(4, 4);
  EXPECT_EQ(s44.weapon, 18);
  EXPECT_EQ(+s44.price, 5680u);
  EXPECT_EQ(+s44.ammo, 360u);
  EXPECT_EQ(&s44, &table.slots[3 * 5 + 3]);
  EXPECT_EQ(+table.Get(1, 5).ammo, 5000u);
  EXPECT_EQ(table.Get(3, 3).weapon, 14);
  EXPECT_EQ(+table.Get(4, 5).price, 9300u);

  table.Clear();
  EXPECT_EQ(table.Get(4, 4).weapon, 0);
}

TEST(WeaponShopTableTest, SetWeaponDataRefusesBadIndicesAndWeaponsAndCapsAmmunition) {
  WeaponShopTable table;
  EXPECT_FALSE(table.SetWeaponData(2, 3, 30, 1, 1));
  EXPECT_FALSE(table.SetWeaponData(2, 3, 35, 1, 1));
  EXPECT_FALSE(table.SetWeaponData(2, 3, 13, 1, 1));
  EXPECT_FALSE(table.SetWeaponData(2, 3, 16, 1, 1));
  EXPECT_FALSE(table.SetWeaponData(2, 3, 255, 1, 1));
  EXPECT_EQ(table.Get(2, 3).weapon, 9);  // unchanged default
  EXPECT_TRUE(table.SetWeaponData(2, 3, 34, 1, 1));
  EXPECT_EQ(table.Get(2, 3).weapon, 34);

  EXPECT_TRUE(table.SetWeaponData(1, 1, 24, 20000, 4000000000u));
  EXPECT_EQ(+table.Get(1, 1).ammo, 10000u);
  EXPECT_EQ(+table.Get(1, 1).price, 4000000000u);
  EXPECT_TRUE(table.SetWeaponData(1, 2, 24, 10000, 0));
  EXPECT_EQ(+table.Get(1, 2).ammo, 10000u);
  EXPECT_TRUE(table.SetWeaponData(1, 3, 0, 0xFFFFFFFF, 0));
  EXPECT_EQ(+table.Get(1, 3).ammo, 10000u);

  for (auto [shop, slot] : {std::pair{0, 1}, {5, 1}, {1, 0}, {1, 6}, {255, 255}}) {
    EXPECT_FALSE(table.SetWeaponData(shop, slot, 22, 1, 1)) << shop << "/" << slot;
    const WeaponShopSlot& s = table.Get(shop, slot);
    EXPECT_EQ(s.weapon + s.price + s.ammo, 0u);
  }
}

}  // namespace
