#include "core/weaponshops.h"

#include <cstring>

uint8_t gWeaponShopsFlag = 0;

namespace {
const WeaponShopSlot kEmptySlot{};

// Shop by shop, slot by slot: weapon, price, ammunition.
constexpr WeaponShopSlot kDefaultStock[kWeaponShops * kWeaponShopSlots] = {
    {17, 10000, 500}, {25, 12000, 250}, {19, 8000, 250}, {12, 2000, 10}, {31, 15000, 5000},
    {2, 500, 1},      {8, 500, 1},      {9, 500, 1},     {3, 500, 1},    {5, 500, 1},
    {8, 500, 1},      {7, 500, 1},      {14, 500, 1},    {10, 500, 1},   {1, 500, 1},
    {15, 10000, 500}, {26, 8500, 1200}, {24, 12000, 180}, {18, 5680, 360}, {21, 9300, 450},
};

bool IsShopIndex(uint8_t shop, uint8_t slot) {
  return shop >= 1 && shop <= kWeaponShops && slot >= 1 && slot <= kWeaponShopSlots;
}
}  // namespace

WeaponShopTable::WeaponShopTable() {
  Clear();
  std::memcpy(slots, kDefaultStock, sizeof slots);
}

void WeaponShopTable::Clear() { std::memset(slots, 0, sizeof slots); }

bool WeaponShopTable::SetWeaponData(uint8_t shop, uint8_t slot, uint8_t weapon, uint32_t ammo,
                                    uint32_t price) {
  if (!IsShopIndex(shop, slot)) return false;
  if (weapon == 13 || weapon == 16 || weapon == 30 || weapon >= 35) return false;
  WeaponShopSlot& entry = slots[(shop - 1) * kWeaponShopSlots + (slot - 1)];
  entry.weapon = weapon;
  entry.price = price;
  entry.ammo = ammo > kMaxWeaponShopAmmo ? kMaxWeaponShopAmmo : ammo;
  return true;
}

const WeaponShopSlot& WeaponShopTable::Get(uint8_t shop, uint8_t slot) const {
  if (!IsShopIndex(shop, slot)) return kEmptySlot;
  return slots[(shop - 1) * kWeaponShopSlots + (slot - 1)];
}
