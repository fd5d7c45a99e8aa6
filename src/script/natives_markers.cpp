// Natives of the markers: global checkpoints and coronas, kept in the marker
// pool, and each player's local ones, of which the server keeps only the 25
// in-use flags per player (their kind, position and colour live on that
// player's client). Create notices carry no id: clients take the lowest free
// index as the server does.
#include <cstdint>

#include "core/markerpool.h"
#include "core/playerpool.h"
#include "core/rpc.h"
#include "core/world.h"
#include "script/native_list.h"
#include "script/natives.h"

namespace natives {
namespace {

// The in-use flag of a player's local marker slot, or null when the player
// fails the guard or the slot lies outside the player's 25.
uint8_t* LocalMarkerFlag(uint8_t player, uint8_t slot) {
  PlayerPool* players = GetPlayerPool();
  if (!players || !players->IsInUse(player) || slot >= kLocalMarkersPerPlayer) return nullptr;
  return &players->localMarkers[player][slot];
}

// The flag of a slot in use, or null (a refused call).
uint8_t* UsedLocalMarker(lua_State* L) {
  uint8_t* flag = LocalMarkerFlag(script::ArgU8(L, 1), script::ArgU8(L, 2));
  return flag && *flag ? flag : nullptr;
}

}  // namespace

// --- global markers ---

int CreateGlobalCheckpoint(lua_State* L) {
  const float x = script::ArgFloat(L, 1), y = script::ArgFloat(L, 2), z = script::ArgFloat(L, 3);
  const float radius = script::ArgFloat(L, 4);
  const int id = gMarkerPool ? gMarkerPool->FindFreeSlot() : -1;
  if (id < 0 || !gMarkerPool->AddCheckpoint(x, y, z, radius)) return script::PushNumber(L, -1);
  Rpc("CreateCheckpoint").f32(x).f32(y).f32(z).f32(radius).ToAll();
  return script::PushNumber(L, id);
}

int DestroyGlobalCheckpoint(lua_State* L) {
  const uint8_t id = script::ArgU8(L, 1);
  if (!gMarkerPool || !gMarkerPool->DestroyCheckpoint(id)) return 0;
  Rpc("DestroyCheckpoint").c8(id).ToAll();
  return 0;
}

int SetGlobalCheckpointRadius(lua_State* L) {
  const uint8_t id = script::ArgU8(L, 1);
  const float radius = script::ArgFloat(L, 2);
  if (!gMarkerPool || !gMarkerPool->SetCheckpointRadius(id, radius)) return 0;
  Rpc("SetCheckpointRadius").c8(id).f32(radius).ToAll();
  return 0;
}

int SetGlobalCheckpointPos(lua_State* L) {
  const uint8_t id = script::ArgU8(L, 1);
  const float x = script::ArgFloat(L, 2), y = script::ArgFloat(L, 3), z = script::ArgFloat(L, 4);
  if (!gMarkerPool || !gMarkerPool->SetCheckpointPosition(id, x, y, z)) return 0;
  Rpc("SetCheckpointPos").c8(id).f32(x).f32(y).f32(z).ToAll();
  return 0;
}

int CreateGlobalCorona(lua_State* L) {
  const float x = script::ArgFloat(L, 1), y = script::ArgFloat(L, 2), z = script::ArgFloat(L, 3);
  const uint8_t red = script::ArgU8(L, 4), green = script::ArgU8(L, 5), blue = script::ArgU8(L, 6);
  const int id = gMarkerPool ? gMarkerPool->FindFreeSlot() : -1;
  if (id < 0 || !gMarkerPool->AddCorona(red, green, blue, x, y, z)) return script::PushNumber(L, -1);
  Rpc("CreateCorona").f32(x).f32(y).f32(z).c8(red).c8(green).c8(blue).ToAll();
  return script::PushNumber(L, id);
}

int DestroyGlobalCorona(lua_State* L) {
  const uint8_t id = script::ArgU8(L, 1);
  if (!gMarkerPool || !gMarkerPool->DestroyCorona(id)) return 0;
  Rpc("DestroyCorona").c8(id).ToAll();
  return 0;
}

int SetGlobalCoronaRGB(lua_State* L) {
  const uint8_t id = script::ArgU8(L, 1);
  const uint8_t red = script::ArgU8(L, 2), green = script::ArgU8(L, 3), blue = script::ArgU8(L, 4);
  if (!gMarkerPool || !gMarkerPool->SetCoronaColor(id, red, green, blue)) return 0;
  Rpc("SetCoronaRGB").c8(id).c8(red).c8(green).c8(blue).ToAll();
  return 0;
}

int SetGlobalCoronaPos(lua_State* L) {
  const uint8_t id = script::ArgU8(L, 1);
  const float x = script::ArgFloat(L, 2), y = script::ArgFloat(L, 3), z = script::ArgFloat(L, 4);
  if (!gMarkerPool || !gMarkerPool->SetCoronaPosition(id, x, y, z)) return 0;
  Rpc("SetCoronaPos").c8(id).f32(x).f32(y).f32(z).ToAll();
  return 0;
}

int GetGlobalMarkerType(lua_State* L) {
  return script::PushNumber(L, gMarkerPool ? gMarkerPool->GetKind(script::ArgU8(L, 1)) : 0);
}

// --- local markers ---
// The server keeps no kind for a local slot: the checkpoint natives accept any
// slot in use, and so do the corona natives.

int CreateLocalCheckpoint(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  const float x = script::ArgFloat(L, 2), y = script::ArgFloat(L, 3), z = script::ArgFloat(L, 4);
  const float radius = script::ArgFloat(L, 5);
  const int slot = GetPlayerPool()->FindFreeLocalMarkerSlot(player);
  if (slot < 0) return script::PushNumber(L, -1);
  Rpc("CreateLocalCheckpoint").f32(x).f32(y).f32(z).f32(radius).ToPlayer(player);
  GetPlayerPool()->localMarkers[player][slot] = 1;
  return script::PushNumber(L, slot);
}

int DestroyLocalCheckpoint(lua_State* L) {
  uint8_t* flag = UsedLocalMarker(L);
  if (!flag) return 0;
  const uint8_t slot = script::ArgU8(L, 2);
  Rpc("DestroyLocalCheckpoint").c8(slot).ToPlayer(script::ArgU8(L, 1));
  *flag = 0;
  return 0;
}

int SetLocalCheckpointRadius(lua_State* L) {
  if (!UsedLocalMarker(L)) return 0;
  Rpc("SetLocalCheckpointRadius").c8(script::ArgU8(L, 2)).f32(script::ArgFloat(L, 3))
      .ToPlayer(script::ArgU8(L, 1));
  return 0;
}

int SetLocalCheckpointPos(lua_State* L) {
  if (!UsedLocalMarker(L)) return 0;
  Rpc("SetLocalCheckpointPos").c8(script::ArgU8(L, 2)).f32(script::ArgFloat(L, 3))
      .f32(script::ArgFloat(L, 4)).f32(script::ArgFloat(L, 5)).ToPlayer(script::ArgU8(L, 1));
  return 0;
}

int CreateLocalCorona(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  const float x = script::ArgFloat(L, 2), y = script::ArgFloat(L, 3), z = script::ArgFloat(L, 4);
  const uint8_t red = script::ArgU8(L, 5), green = script::ArgU8(L, 6), blue = script::ArgU8(L, 7);
  const int slot = GetPlayerPool()->FindFreeLocalMarkerSlot(player);
  if (slot < 0) return script::PushNumber(L, -1);
  Rpc("CreateLocalCorona").f32(x).f32(y).f32(z).c8(red).c8(green).c8(blue).ToPlayer(player);
  GetPlayerPool()->localMarkers[player][slot] = 1;
  return script::PushNumber(L, slot);
}

int DestroyLocalCorona(lua_State* L) {
  uint8_t* flag = UsedLocalMarker(L);
  if (!flag) return 0;
  Rpc("DestroyLocalCorona").c8(script::ArgU8(L, 2)).ToPlayer(script::ArgU8(L, 1));
  *flag = 0;
  return 0;
}

int SetLocalCoronaRGB(lua_State* L) {
  if (!UsedLocalMarker(L)) return 0;
  Rpc("SetLocalCoronaRGB").c8(script::ArgU8(L, 2)).c8(script::ArgU8(L, 3))
      .c8(script::ArgU8(L, 4)).c8(script::ArgU8(L, 5)).ToPlayer(script::ArgU8(L, 1));
  return 0;
}

int SetLocalCoronaPos(lua_State* L) {
  if (!UsedLocalMarker(L)) return 0;
  Rpc("SetLocalCoronaPos").c8(script::ArgU8(L, 2)).f32(script::ArgFloat(L, 3))
      .f32(script::ArgFloat(L, 4)).f32(script::ArgFloat(L, 5)).ToPlayer(script::ArgU8(L, 1));
  return 0;
}

}  // namespace natives
