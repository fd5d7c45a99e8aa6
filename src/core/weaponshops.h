// What the four weapon shops sell: 5 slots each, with built-in defaults the
// game mode may change. The table travels to every joining player.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kWeaponShops = 4;
inline constexpr int kWeaponShopSlots = 5;
inline constexpr uint32_t kMaxWeaponShopAmmo = 10000;

#pragma pack(push, 1)
struct WeaponShopSlot {
  uint8_t weapon;
  uint32_t price;
  uint32_t ammo;
};
#pragma pack(pop)
static_assert(sizeof(WeaponShopSlot) == 9, "WeaponShopSlot is a wire format");
static_assert(offsetof(WeaponShopSlot, price) == 1 && offsetof(WeaponShopSlot, ammo) == 5,
              "WeaponShopSlot is a wire format");

// Whether the clients' weapon shops are open ("toggleAmmunations"); 0 at
// process start, kept across a restart.
extern uint8_t gWeaponShopsFlag;

class WeaponShopTable {
 public:
  // The default stock.
  WeaponShopTable();
  void Clear();

  // Shop 1..4, slot 1..5. Refuses the ids without a shop weapon (13, 16, 30,
  // 35 and above); ammunition above 10000 is stored as 10000.
  bool SetWeaponData(uint8_t shop, uint8_t slot, uint8_t weapon, uint32_t ammo, uint32_t price);
  // The entry of shop 1..4, slot 1..5; any other reads as weapon 0, price 0,
  // ammunition 0.
  const WeaponShopSlot& Get(uint8_t shop, uint8_t slot) const;

  WeaponShopSlot slots[kWeaponShops * kWeaponShopSlots];
};
static_assert(sizeof(WeaponShopSlot) * kWeaponShops * kWeaponShopSlots == 180);
