// Natives of the spawn classes and the weapon shops. Classes and members tell
// no client (they travel in the world download of each joining player); the
// weapon shop changes go to all players at once.
#include "core/rpc.h"
#include "core/spawnclasspool.h"
#include "core/weaponshops.h"
#include "core/world.h"
#include "script/native_list.h"
#include "script/natives.h"

namespace natives {
namespace {

// Ids without a weapon a class member can carry become 0 (36 stays).
uint8_t MemberWeaponRule(uint8_t weapon) {
  return weapon == 13 || weapon == 16 || weapon == 35 || weapon > 36 ? 0 : weapon;
}

}  // namespace

int AddSpawnClass(lua_State* L) {
  const int id = gSpawnClassPool ? gSpawnClassPool->FindFreeClass() : -1;
  if (id < 0) return 0;
  const char* name = script::ArgText(L, 1);
  if (!name) return 0;
  const uint8_t interior = SpawnInteriorRule(script::ArgU8(L, 12));
  // The pool may still refuse the class on its coordinates; the script is
  // told the id it would have taken all the same.
  gSpawnClassPool->AddClass(name, script::ArgU8(L, 2), script::ArgU8(L, 3), script::ArgU8(L, 4),
                            script::ArgFloat(L, 5), script::ArgFloat(L, 6),
                            script::ArgFloat(L, 7), script::ArgFloat(L, 8),
                            script::ArgFloat(L, 9), script::ArgFloat(L, 10),
                            script::ArgFloat(L, 11), interior);
  lua_pushnumber(L, id);
  return 1;
}

int AddClassMember(lua_State* L) {
  const uint8_t classId = script::ArgU8(L, 1);
  if (!gSpawnClassPool || classId >= kMaxSpawnClasses) return 0;
  const int slot = gSpawnClassPool->FindFreeMember(classId);
  if (slot < 0) return 0;
  gSpawnClassPool->AddMember(classId, script::ArgU16(L, 2), script::ArgFloat(L, 3),
                             script::ArgFloat(L, 4), script::ArgFloat(L, 5),
                             script::ArgFloat(L, 6), MemberWeaponRule(script::ArgU8(L, 7)),
                             script::ArgU32Via64(L, 8), MemberWeaponRule(script::ArgU8(L, 9)),
                             script::ArgU32Via64(L, 10), MemberWeaponRule(script::ArgU8(L, 11)),
                             script::ArgU32Via64(L, 12));
  lua_pushnumber(L, slot);
  return 1;
}

int SetAmmunationWeaponData(lua_State* L) {
  const uint8_t shop = script::ArgU8(L, 1);
  const uint8_t slot = script::ArgU8(L, 2);
  const uint8_t weapon = script::ArgU8(L, 3);
  const uint32_t ammo = script::ArgU32Via64(L, 4);
  const uint32_t price = script::ArgU32Via64(L, 5);
  if (!gWeaponShopTable || !gWeaponShopTable->SetWeaponData(shop, slot, weapon, ammo, price)) {
    return 0;
  }
  // The clients get the ammunition as the script gave it, before the cap.
  Rpc("SetAmmunationWeaponData").c8(shop).c8(slot).c8(weapon).c32(ammo).c32(price).ToAll();
  return 0;
}

int GetAmmunationWeaponData(lua_State* L) {
  const uint8_t shop = script::ArgU8(L, 1);
  const uint8_t slot = script::ArgU8(L, 2);
  // Shops and slots out of range read as weapon 0, ammunition 0, price 0.
  const WeaponShopSlot entry = gWeaponShopTable ? gWeaponShopTable->Get(shop, slot)
                                                : WeaponShopSlot{};
  lua_pushnumber(L, entry.weapon);
  lua_pushnumber(L, entry.ammo);
  lua_pushnumber(L, entry.price);
  return 3;
}

int ToggleAmmunations(lua_State* L) {
  const uint8_t on = script::ArgU8(L, 1) > 1 ? 1 : script::ArgU8(L, 1);
  gWeaponShopsFlag = on;
  Rpc("ToggleAmmunations").c8(on).ToAll();
  return 0;
}

}  // namespace natives
