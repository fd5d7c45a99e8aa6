// Natives of the pickups: 100 global ones every player sees and 25 local ones
// per player. The clients file a new pickup under the first free id, as the
// pool does, so the creation calls carry no id; they carry the script's own
// values, while the record keeps them after the pool's value rules.
#include "core/pickuppool.h"
#include "core/rpc.h"
#include "core/world.h"
#include "script/native_list.h"
#include "script/natives.h"

namespace natives {
namespace {

struct Position {
  float x, y, z;
};

Position ArgPosition(lua_State* L, int first) {
  return {script::ArgFloat(L, first), script::ArgFloat(L, first + 1),
          script::ArgFloat(L, first + 2)};
}

// The id the next global creation takes, or -1.
int FreeGlobalPickup() { return gGlobalPickupPool ? gGlobalPickupPool->FindFreeSlot() : -1; }

// The player's next free slot, or -1. Call after the player guard.
int FreeLocalPickup(uint8_t player) {
  return gLocalPickupPool ? gLocalPickupPool->FindFreeSlot(player) : -1;
}

}  // namespace

// --- global ---

int CreateGlobalCashPickup(lua_State* L) {
  const uint32_t amount = script::ArgU32Via64(L, 1);
  const Position p = ArgPosition(L, 2);
  const int id = FreeGlobalPickup();
  if (id < 0) return script::PushNumber(L, -1);
  gGlobalPickupPool->AddCashPickup(amount, p.x, p.y, p.z);
  Rpc("CreateGlobalCashPickup").c32(amount).f32(p.x).f32(p.y).f32(p.z).ToAll();
  return script::PushNumber(L, id);
}

int CreateGlobalWeaponPickup(lua_State* L) {
  const uint32_t weapon = script::ArgU32Via64(L, 1);
  const uint32_t ammo = script::ArgU32Via64(L, 2);
  const Position p = ArgPosition(L, 3);
  const int id = FreeGlobalPickup();
  if (id < 0) return script::PushNumber(L, -1);
  gGlobalPickupPool->AddWeaponPickup(weapon, ammo, p.x, p.y, p.z);
  Rpc("CreateGlobalWeaponPickup").c32(weapon).c32(ammo).f32(p.x).f32(p.y).f32(p.z).ToAll();
  return script::PushNumber(L, id);
}

int CreateGlobalGenericPickup(lua_State* L) {
  const uint32_t model = script::ArgU32Via64(L, 1);
  const uint8_t type = script::ArgU8(L, 2);
  const Position p = ArgPosition(L, 3);
  const int id = FreeGlobalPickup();
  if (id < 0) return script::PushNumber(L, -1);
  gGlobalPickupPool->AddGenericPickup(model, type, p.x, p.y, p.z);
  Rpc("CreateGlobalGenericPickup").c32(model).c8(type).f32(p.x).f32(p.y).f32(p.z).ToAll();
  return script::PushNumber(L, id);
}

int DestroyGlobalPickup(lua_State* L) {
  const uint8_t id = script::ArgU8(L, 1);
  // Only a pickup that existed is removed on the clients.
  if (gGlobalPickupPool && gGlobalPickupPool->Destroy(id)) {
    Rpc("DestroyGlobalPickup").c8(id).ToAll();
  }
  return 0;
}

int GetGlobalPickupType(lua_State* L) {
  const uint8_t id = script::ArgU8(L, 1);
  return script::PushNumber(L, gGlobalPickupPool ? gGlobalPickupPool->Get(id).kind : 0);
}

// --- local ---

int CreateLocalCashPickup(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  const uint32_t amount = script::ArgU32Via64(L, 2);
  const Position p = ArgPosition(L, 3);
  const int slot = FreeLocalPickup(player);
  if (slot < 0) return script::PushNumber(L, -1);
  gLocalPickupPool->AddCashPickup(player, amount, p.x, p.y, p.z);
  Rpc("CreateLocalCashPickup").c32(amount).f32(p.x).f32(p.y).f32(p.z).ToPlayer(player);
  return script::PushNumber(L, slot);
}

int CreateLocalWeaponPickup(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  const uint32_t weapon = script::ArgU32Via64(L, 2);
  const uint32_t ammo = script::ArgU32Via64(L, 3);
  const Position p = ArgPosition(L, 4);
  const int slot = FreeLocalPickup(player);
  if (slot < 0) return script::PushNumber(L, -1);
  gLocalPickupPool->AddWeaponPickup(player, weapon, ammo, p.x, p.y, p.z);
  Rpc("CreateLocalWeaponPickup").c32(weapon).c32(ammo).f32(p.x).f32(p.y).f32(p.z).ToPlayer(player);
  return script::PushNumber(L, slot);
}

int CreateLocalGenericPickup(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  const uint32_t model = script::ArgU32Via64(L, 2);
  const uint8_t type = script::ArgU8(L, 3);
  const Position p = ArgPosition(L, 4);
  const int slot = FreeLocalPickup(player);
  if (slot < 0) return script::PushNumber(L, -1);
  gLocalPickupPool->AddGenericPickup(player, model, type, p.x, p.y, p.z);
  Rpc("CreateLocalGenericPickup").c32(model).c8(type).f32(p.x).f32(p.y).f32(p.z).ToPlayer(player);
  return script::PushNumber(L, slot);
}

int DestroyLocalPickup(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  const uint8_t slot = script::ArgU8(L, 2);
  if (gLocalPickupPool) gLocalPickupPool->Destroy(player, slot);
  // Sent whenever the guard passes, also for a free slot or one above 24
  // (unlike the global destroy, which tells only of a removed pickup).
  Rpc("DestroyLocalPickup").c8(slot).ToPlayer(player);
  return 0;
}

int GetLocalPickupType(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  const uint8_t slot = script::ArgU8(L, 2);
  if (!script::IsPlayer(player) || !gLocalPickupPool) return script::PushNumber(L, 0);
  // Slots above 24 read as a free record.
  return script::PushNumber(L, gLocalPickupPool->Get(player, slot).kind);
}

}  // namespace natives
