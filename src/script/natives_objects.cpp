// Natives of the world objects: global ones every player sees and each
// player's local ones. The create notices carry no id: clients file the new
// object under the lowest free index exactly as the pool does, so the id the
// native returns is the one every later notice carries.
#include <cstdint>

#include "core/objectpool.h"
#include "core/rpc.h"
#include "core/world.h"
#include "script/native_list.h"
#include "script/natives.h"

namespace natives {
namespace {

// A model keeps the low 32 bits of a 64-bit truncation, so every unsigned
// 32-bit model (up to 4294967295) survives the conversion unchanged.
uint32_t ArgModel(lua_State* L, int index) {
  return static_cast<uint32_t>(script::ToInt64(script::ArgNumber(L, index)));
}

// The player of a local object native: cut to 16 bits before the guard, so
// 261 is refused rather than taken as player 5.
uint16_t ArgObjectPlayer(lua_State* L, int index) { return script::ArgU16(L, index); }

int PushPosition(lua_State* L, const ObjectRecord& r) {
  lua_pushnumber(L, r.x);
  lua_pushnumber(L, r.y);
  lua_pushnumber(L, r.z);
  return 3;
}

int PushRotation(lua_State* L, const ObjectRecord& r) {
  lua_pushnumber(L, r.rotationX);
  lua_pushnumber(L, r.rotationY);
  lua_pushnumber(L, r.rotationZ);
  return 3;
}

// The record a global getter reads: any id outside the pool reads as a free
// record (all zero), so a getter never reads beyond it.
const ObjectRecord* GlobalRecord(lua_State* L) {
  return gGlobalObjectPool ? &gGlobalObjectPool->Get(script::ArgU16(L, 1)) : nullptr;
}

const ObjectRecord* LocalRecord(lua_State* L) {
  if (!gLocalObjectPool) return nullptr;
  return &gLocalObjectPool->Get(script::ArgU16(L, 1), script::ArgU16(L, 2));
}

}  // namespace

// --- global objects ---

int CreateGlobalObject(lua_State* L) {
  const uint32_t model = ArgModel(L, 1);
  const float x = script::ArgFloat(L, 2), y = script::ArgFloat(L, 3), z = script::ArgFloat(L, 4);
  const float rx = script::ArgFloat(L, 5), ry = script::ArgFloat(L, 6), rz = script::ArgFloat(L, 7);
  const uint8_t interior = script::ArgU8(L, 8);
  const uint16_t id = gGlobalObjectPool ? gGlobalObjectPool->FindFreeSlot() : kNoObject;
  if (id == kNoObject) {
    lua_pushnumber(L, -1);
    return 1;
  }
  gGlobalObjectPool->Add(model, x, y, z, rx, ry, rz, interior);
  Rpc("CreateGlobalObject").c32(model).f32(x).f32(y).f32(z).f32(rx).f32(ry).f32(rz)
      .c8(interior).ToAll();
  lua_pushnumber(L, id);
  return 1;
}

int DestroyGlobalObject(lua_State* L) {
  const uint16_t id = script::ArgU16(L, 1);
  if (!gGlobalObjectPool || !gGlobalObjectPool->Destroy(id)) return 0;
  Rpc("DestroyGlobalObject").c16(id).ToAll();
  return 0;
}

int SetGlobalObjectPos(lua_State* L) {
  const uint16_t id = script::ArgU16(L, 1);
  const float x = script::ArgFloat(L, 2), y = script::ArgFloat(L, 3), z = script::ArgFloat(L, 4);
  if (!gGlobalObjectPool || !gGlobalObjectPool->SetPosition(id, x, y, z)) return 0;
  Rpc("SetGlobalObjectPos").c16(id).f32(x).f32(y).f32(z).ToAll();
  return 0;
}

int SetGlobalObjectRotation(lua_State* L) {
  const uint16_t id = script::ArgU16(L, 1);
  const float rx = script::ArgFloat(L, 2), ry = script::ArgFloat(L, 3), rz = script::ArgFloat(L, 4);
  if (!gGlobalObjectPool || !gGlobalObjectPool->SetRotation(id, rx, ry, rz)) return 0;
  Rpc("SetGlobalObjectRotation").c16(id).f32(rx).f32(ry).f32(rz).ToAll();
  return 0;
}

int SetGlobalObjectInterior(lua_State* L) {
  const uint16_t id = script::ArgU16(L, 1);
  const uint8_t interior = script::ArgU8(L, 2);
  if (!gGlobalObjectPool || !gGlobalObjectPool->SetInterior(id, interior)) return 0;
  Rpc("SetGlobalObjectInterior").c16(id).c8(interior).ToAll();
  return 0;
}

// The record holds the end of the movement at once, so a player who joins
// while the clients are still moving the object receives its destination.
int MoveGlobalObject(lua_State* L) {
  const uint16_t id = script::ArgU16(L, 1);
  const float x = script::ArgFloat(L, 2), y = script::ArgFloat(L, 3), z = script::ArgFloat(L, 4);
  const float speed = script::ArgFloat(L, 5);
  if (!gGlobalObjectPool || !gGlobalObjectPool->SetPosition(id, x, y, z)) return 0;
  Rpc("MoveGlobalObject").c16(id).f32(x).f32(y).f32(z).f32(speed).ToAll();
  return 0;
}

int MoveGlobalObjectAngles(lua_State* L) {
  const uint16_t id = script::ArgU16(L, 1);
  const float rx = script::ArgFloat(L, 2), ry = script::ArgFloat(L, 3), rz = script::ArgFloat(L, 4);
  const float speed = script::ArgFloat(L, 5);
  if (!gGlobalObjectPool || !gGlobalObjectPool->SetRotation(id, rx, ry, rz)) return 0;
  Rpc("MoveGlobalObjectAngles").c16(id).f32(rx).f32(ry).f32(rz).f32(speed).ToAll();
  return 0;
}

// Changes no record and checks nothing: any id is passed on to the clients.
int StopGlobalObject(lua_State* L) {
  Rpc("StopGlobalObject").c16(script::ArgU16(L, 1)).ToAll();
  return 0;
}

int GetGlobalObjectModel(lua_State* L) {
  const ObjectRecord* r = GlobalRecord(L);
  if (!r) return 0;
  lua_pushnumber(L, r->model);
  return 1;
}

int GetGlobalObjectInterior(lua_State* L) {
  const ObjectRecord* r = GlobalRecord(L);
  if (!r) return 0;
  lua_pushnumber(L, r->interior);
  return 1;
}

int GetGlobalObjectPos(lua_State* L) {
  const ObjectRecord* r = GlobalRecord(L);
  return r ? PushPosition(L, *r) : 0;
}

int GetGlobalObjectRotation(lua_State* L) {
  const ObjectRecord* r = GlobalRecord(L);
  return r ? PushRotation(L, *r) : 0;
}

// --- local objects ---

int CreateLocalObject(lua_State* L) {
  const uint16_t player = ArgObjectPlayer(L, 1);
  const uint32_t model = ArgModel(L, 2);
  const float x = script::ArgFloat(L, 3), y = script::ArgFloat(L, 4), z = script::ArgFloat(L, 5);
  const float rx = script::ArgFloat(L, 6), ry = script::ArgFloat(L, 7), rz = script::ArgFloat(L, 8);
  const uint8_t interior = script::ArgU8(L, 9);
  uint16_t slot = kNoObject;
  if (gLocalObjectPool && script::IsPlayer(player)) slot = gLocalObjectPool->FindFreeSlot(player);
  if (slot == kNoObject || !gLocalObjectPool->Add(player, model, x, y, z, rx, ry, rz, interior)) {
    lua_pushnumber(L, -1);
    return 1;
  }
  Rpc("CreateLocalObject").c32(model).f32(x).f32(y).f32(z).f32(rx).f32(ry).f32(rz)
      .c8(interior).ToPlayer(static_cast<uint8_t>(player));
  lua_pushnumber(L, slot);
  return 1;
}

int DestroyLocalObject(lua_State* L) {
  const uint16_t player = ArgObjectPlayer(L, 1);
  const uint16_t slot = script::ArgU16(L, 2);
  if (!gLocalObjectPool || !script::IsPlayer(player)) return 0;
  if (!gLocalObjectPool->Destroy(player, slot)) return 0;
  Rpc("DestroyLocalObject").c16(slot).ToPlayer(static_cast<uint8_t>(player));
  return 0;
}

int SetLocalObjectPos(lua_State* L) {
  const uint16_t player = ArgObjectPlayer(L, 1);
  const uint16_t slot = script::ArgU16(L, 2);
  const float x = script::ArgFloat(L, 3), y = script::ArgFloat(L, 4), z = script::ArgFloat(L, 5);
  if (!gLocalObjectPool || !script::IsPlayer(player)) return 0;
  if (!gLocalObjectPool->SetPosition(player, slot, x, y, z)) return 0;
  Rpc("SetLocalObjectPos").c16(slot).f32(x).f32(y).f32(z).ToPlayer(static_cast<uint8_t>(player));
  return 0;
}

int SetLocalObjectRotation(lua_State* L) {
  const uint16_t player = ArgObjectPlayer(L, 1);
  const uint16_t slot = script::ArgU16(L, 2);
  const float rx = script::ArgFloat(L, 3), ry = script::ArgFloat(L, 4), rz = script::ArgFloat(L, 5);
  if (!gLocalObjectPool || !script::IsPlayer(player)) return 0;
  if (!gLocalObjectPool->SetRotation(player, slot, rx, ry, rz)) return 0;
  Rpc("SetLocalObjectRotation").c16(slot).f32(rx).f32(ry).f32(rz)
      .ToPlayer(static_cast<uint8_t>(player));
  return 0;
}

int SetLocalObjectInterior(lua_State* L) {
  const uint16_t player = ArgObjectPlayer(L, 1);
  const uint16_t slot = script::ArgU16(L, 2);
  const uint8_t interior = script::ArgU8(L, 3);
  if (!gLocalObjectPool || !script::IsPlayer(player)) return 0;
  if (!gLocalObjectPool->SetInterior(player, slot, interior)) return 0;
  Rpc("SetLocalObjectInterior").c16(slot).c8(interior).ToPlayer(static_cast<uint8_t>(player));
  return 0;
}

// The local getters check nothing: a player or slot outside the pool reads as
// a free record. A player's row is zeroed when the player leaves.
int GetLocalObjectModel(lua_State* L) {
  const ObjectRecord* r = LocalRecord(L);
  if (!r) return 0;
  lua_pushnumber(L, r->model);
  return 1;
}

int GetLocalObjectInterior(lua_State* L) {
  const ObjectRecord* r = LocalRecord(L);
  if (!r) return 0;
  lua_pushnumber(L, r->interior);
  return 1;
}

int GetLocalObjectPos(lua_State* L) {
  const ObjectRecord* r = LocalRecord(L);
  return r ? PushPosition(L, *r) : 0;
}

int GetLocalObjectRotation(lua_State* L) {
  const ObjectRecord* r = LocalRecord(L);
  return r ? PushRotation(L, *r) : 0;
}

}  // namespace natives
