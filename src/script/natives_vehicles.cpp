// Natives of the vehicles: creation and destruction, the state setters and
// getters, players and vehicles, the respawn delay and the model names.
//
// Setters that the clients carry out on their own (speed, tyres, lights,
// repair, explosion) leave the server's record alone: the driver's sync
// reports the outcome.
#include <cstring>
#include <string_view>

#include "core/names.h"
#include "core/netgame.h"
#include "core/playerpool.h"
#include "core/rpc.h"
#include "core/vehiclepool.h"
#include "core/world.h"
#include "script/native_list.h"
#include "script/natives.h"

namespace {

// The record of an existing vehicle (ids as the vehicle guard takes them), or
// null.
VehicleRecord* VehicleArg(lua_State* L, int index) {
  VehiclePool* pool = GetVehiclePool();
  return pool ? pool->Get(script::ArgU32(L, index)) : nullptr;
}

// The record of an in-use player, or null.
PlayerRecord* PlayerArg(lua_State* L, int index) {
  PlayerPool* pool = GetPlayerPool();
  return pool ? pool->Get(script::ArgU8(L, index)) : nullptr;
}

// A colour byte from the script, read as signed.
int8_t Signed(uint8_t byte) { return static_cast<int8_t>(byte); }

}  // namespace

namespace natives {

// --- creation, destruction and respawn ---

int CreateVehicle(lua_State* L) {
  VehiclePool* pool = GetVehiclePool();
  if (!pool) return 0;
  uint8_t colours[2] = {script::ArgU8(L, 6), script::ArgU8(L, 7)};
  // Bytes 101..127 are no colour of the host game; the high half stays as it is.
  for (uint8_t& colour : colours) {
    if (Signed(colour) > 100) colour = 0;
  }
  const int id = pool->Add(script::ArgU32(L, 1), script::ArgFloat(L, 2), script::ArgFloat(L, 3),
                           script::ArgFloat(L, 4), script::ArgFloat(L, 5), colours[0], colours[1]);
  if (id < 0) return 0;
  SpawnVehicleForAll(static_cast<uint32_t>(id));
  lua_pushnumber(L, id);
  return 1;
}

int DestroyVehicle(lua_State* L) {
  VehiclePool* pool = GetVehiclePool();
  const uint16_t id = script::ArgU16(L, 1);
  // Freed first: a later createVehicle may take the id at once.
  if (!pool || !pool->Delete(id)) return 0;
  Rpc("DestroyVehicle").c16(id).ToAll();
  return 0;
}

int SetVehicleToRespawn(lua_State* L) {
  VehicleRecord* v = VehicleArg(L, 1);
  if (!v) return 0;
  v->x = v->spawnX;
  v->y = v->spawnY;
  v->z = v->spawnZ;
  v->angle = v->spawnAngle;
  // Back at its spawn it counts as not driven, so the idle respawn waits for
  // the next driver.
  v->lastUsedMs = 0;
  v->used = 0;
  Rpc("SetVehicleToRespawn").u32(script::ArgU32(L, 1)).ToAll();
  return 0;
}

int SetVehicleSpawnInfo(lua_State* L) {
  VehicleRecord* v = VehicleArg(L, 1);
  if (!v) return 0;
  v->spawnX = script::ArgFloat(L, 2);
  v->spawnY = script::ArgFloat(L, 3);
  v->spawnZ = script::ArgFloat(L, 4);
  v->spawnAngle = script::ArgFloat(L, 5);
  Rpc("SetVehicleSpawnInfo")
      .u32(script::ArgU32(L, 1))
      .f32(v->spawnX).f32(v->spawnY).f32(v->spawnZ).f32(v->spawnAngle)
      .ToAll();
  return 0;
}

int SetVehicleRespawnDelay(lua_State* L) {
  gVehicleRespawnDelay = script::ArgU32Via64(L, 1);
  return 0;
}

// --- state setters ---

int SetVehiclePos(lua_State* L) {
  VehicleRecord* v = VehicleArg(L, 1);
  if (!v) return 0;
  v->x = script::ArgFloat(L, 2);
  v->y = script::ArgFloat(L, 3);
  v->z = script::ArgFloat(L, 4);
  Rpc("SetVehiclePos").u32(script::ArgU32(L, 1)).f32(v->x).f32(v->y).f32(v->z).ToAll();
  return 0;
}

int SetVehicleAngle(lua_State* L) {
  VehicleRecord* v = VehicleArg(L, 1);
  if (!v) return 0;
  v->angle = script::ArgFloat(L, 2);
  Rpc("SetVehicleAngle").u32(script::ArgU32(L, 1)).f32(v->angle).ToAll();
  return 0;
}

int SetVehicleHealth(lua_State* L) {
  VehicleRecord* v = VehicleArg(L, 1);
  if (!v) return 0;
  v->health = script::ArgFloat(L, 2);
  Rpc("SetVehicleHealth").u32(script::ArgU32(L, 1)).f32(v->health).ToAll();
  return 0;
}

int SetVehicleSpeed(lua_State* L) {
  if (!VehicleArg(L, 1)) return 0;
  Rpc("SetVehicleSpeed").u32(script::ArgU32(L, 1)).f32(script::ArgFloat(L, 2)).ToAll();
  return 0;
}

int SetVehicleColor(lua_State* L) {
  VehicleRecord* v = VehicleArg(L, 1);
  if (!v) return 0;
  uint8_t colours[2] = {script::ArgU8(L, 2), script::ArgU8(L, 3)};
  // Below -1 read as signed is no colour: those become -1 (255).
  for (uint8_t& colour : colours) {
    if (Signed(colour) < -1) colour = 255;
  }
  v->colour1 = colours[0];
  v->colour2 = colours[1];
  Rpc("SetVehicleColor").u32(script::ArgU32(L, 1)).u8(colours[0]).u8(colours[1]).ToAll();
  return 0;
}

int SetVehicleLockedState(lua_State* L) {
  VehicleRecord* v = VehicleArg(L, 1);
  if (!v) return 0;
  v->locked = script::ArgU8(L, 2);
  Rpc("ToggleVehicleLocked").u32(script::ArgU32(L, 1)).u8(v->locked).ToAll();
  return 0;
}

int SetVehicleTireState(lua_State* L) {
  VehiclePool* pool = GetVehiclePool();
  const uint8_t id = script::ArgU8(L, 1);
  const uint8_t tyre = script::ArgU8(L, 2);
  const uint8_t state = script::ArgU8(L, 3);
  if (!pool || !pool->Exists(id) || tyre < 1 || tyre > 4 || state > 1) return 0;
  Rpc("SetVehicleTireState").u8(id).u8(tyre).u8(state).ToAll();
  return 0;
}

int ToggleVehicleLights(lua_State* L) {
  VehiclePool* pool = GetVehiclePool();
  const uint16_t id = script::ArgU16(L, 1);
  if (!pool || !pool->Exists(id)) return 0;
  const uint8_t on = script::ArgU8(L, 2) > 1 ? 1 : script::ArgU8(L, 2);
  Rpc("ToggleVehicleLights").c16(id).c8(on).ToAll();
  return 0;
}

int RepairVehicle(lua_State* L) {
  if (!VehicleArg(L, 1)) return 0;
  Rpc("RepairVehicle").c32(script::ArgU32(L, 1)).ToAll();
  return 0;
}

int ExplodeVehicle(lua_State* L) {
  if (!VehicleArg(L, 1)) return 0;
  Rpc("ExplodeVehicle").u32(script::ArgU32(L, 1)).ToAll();
  return 0;
}

// --- getters ---

int GetVehicleModel(lua_State* L) {
  const VehicleRecord* v = VehicleArg(L, 1);
  lua_pushnumber(L, v ? v->model : 0);
  return 1;
}

int GetVehiclePos(lua_State* L) {
  const VehicleRecord* v = VehicleArg(L, 1);
  lua_pushnumber(L, v ? v->x : 0);
  lua_pushnumber(L, v ? v->y : 0);
  lua_pushnumber(L, v ? v->z : 0);
  return 3;
}

int GetVehicleAngle(lua_State* L) {
  const VehicleRecord* v = VehicleArg(L, 1);
  lua_pushnumber(L, v ? v->angle : 0);
  return 1;
}

int GetVehicleHealth(lua_State* L) {
  const VehicleRecord* v = VehicleArg(L, 1);
  lua_pushnumber(L, v ? v->health : 0);
  return 1;
}

int GetVehicleSpeed(lua_State* L) {
  const VehicleRecord* v = VehicleArg(L, 1);
  lua_pushnumber(L, v ? v->speed : 0);
  return 1;
}

int GetVehicleColor(lua_State* L) {
  const VehicleRecord* v = VehicleArg(L, 1);
  lua_pushnumber(L, v ? Signed(v->colour1) : -1);
  lua_pushnumber(L, v ? Signed(v->colour2) : -1);
  return 2;
}

int GetVehicleLockedState(lua_State* L) {
  const VehicleRecord* v = VehicleArg(L, 1);
  lua_pushnumber(L, v ? v->locked : 0);
  return 1;
}

int GetVehicleTireState(lua_State* L) {
  const VehiclePool* pool = GetVehiclePool();
  const VehicleRecord* v = pool ? pool->Get(script::ArgU8(L, 1)) : nullptr;
  const uint8_t tyre = script::ArgU8(L, 2);
  if (!v || tyre < 1 || tyre > 4) return 0;
  lua_pushnumber(L, v->tyres[tyre - 1]);
  return 1;
}

// --- players and vehicles ---

int IsPlayerInAnyVehicle(lua_State* L) {
  const PlayerRecord* p = PlayerArg(L, 1);
  lua_pushnumber(L, p && p->vehicle != 0 ? 1 : 0);
  return 1;
}

int IsPlayerInVehicle(lua_State* L) {
  const PlayerRecord* p = PlayerArg(L, 1);
  const uint32_t vehicle = script::ArgU32(L, 2);
  lua_pushnumber(L, p && script::IsVehicle(vehicle) && p->vehicle == vehicle ? 1 : 0);
  return 1;
}

int GetPlayerVehicleID(lua_State* L) {
  const PlayerRecord* p = PlayerArg(L, 1);
  if (!p) return 0;
  lua_pushnumber(L, p->vehicle);
  return 1;
}

int PutPlayerInVehicle(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  const uint32_t vehicle = script::ArgU32(L, 2);
  if (!script::IsPlayer(player) || !script::IsVehicle(vehicle)) return 0;
  Rpc("PutPlayerInVehicle").u32(vehicle).u8(script::ArgU8(L, 3)).ToPlayer(player);
  return 0;
}

int RemovePlayerFromVehicle(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  const PlayerRecord* p = PlayerArg(L, 1);
  if (!p || p->vehicle == 0) return 0;
  Rpc("RemovePlayerFromVehicle").ToPlayer(player);
  return 0;
}

// --- model names ---

int GetVehicleNameFromModelID(lua_State* L) {
  const int model = script::ArgU16(L, 1);
  if (!IsValidVehicleModel(model)) {
    lua_pushnil(L);
    return 1;
  }
  lua_pushstring(L, VehicleNameOfModel(model));
  return 1;
}

int GetVehicleModelIDFromName(lua_State* L) {
  const char* text = script::ArgText(L, 1);
  // The text ends at its first NUL, as every text the server compares.
  lua_pushnumber(L, text ? FindVehicleModelByName(std::string_view(text, std::strlen(text))) : -1);
  return 1;
}

}  // namespace natives
