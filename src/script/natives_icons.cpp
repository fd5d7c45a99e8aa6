// Natives of the radar icons: global ones every player sees and 25 local ones
// per player slot. The creation calls carry no id: clients take the first free
// record as the pools do. The local natives apply no player guard: the player
// id only selects the records and the address, and the record's used byte is
// the one test.
#include <cstdint>

#include "core/iconpool.h"
#include "core/playerpool.h"
#include "core/rpc.h"
#include "core/world.h"
#include "script/native_list.h"
#include "script/natives.h"

namespace natives {
namespace {

// The player of a local icon native: the low 16 bits as a signed number. The
// pool has records for players 0..99 only; -1 means "no such player".
int ArgIconPlayer(lua_State* L, int index) {
  const int player = static_cast<int16_t>(script::ArgU16(L, index));
  return player >= 0 && player < kMaxPlayers ? player : -1;
}

// A flashing value above 1 is sent and stored as 1.
uint8_t ArgFlashing(lua_State* L, int index) {
  const uint8_t on = script::ArgU8(L, index);
  return on > 1 ? 1 : on;
}

}  // namespace

// --- global icons ---

int CreateGlobalIcon(lua_State* L) {
  const float x = script::ArgFloat(L, 1), y = script::ArgFloat(L, 2), z = script::ArgFloat(L, 3);
  const uint8_t type = script::ArgU8(L, 4), size = script::ArgU8(L, 5), flag = script::ArgU8(L, 6);
  const int id = gGlobalIconPool ? gGlobalIconPool->FindFreeSlot() : -1;
  if (id < 0 || !gGlobalIconPool->Add(x, y, z, type, size, flag)) return script::PushNumber(L, -1);
  // The flag byte goes out as given; the record keeps only whether it was set.
  Rpc("CreateGlobalIcon").vec3(x, y, z).c8(type).c8(size).c8(flag).ToAll();
  return script::PushNumber(L, id);
}

int DestroyGlobalIcon(lua_State* L) {
  const uint16_t id = script::ArgU16(L, 1);
  if (!gGlobalIconPool || !gGlobalIconPool->Destroy(id)) return 0;
  Rpc("DestroyGlobalIcon").c16(id).ToAll();
  return 0;
}

int SetGlobalIconPosition(lua_State* L) {
  const uint16_t id = script::ArgU16(L, 1);
  const float x = script::ArgFloat(L, 2), y = script::ArgFloat(L, 3), z = script::ArgFloat(L, 4);
  if (!gGlobalIconPool || !gGlobalIconPool->SetPosition(id, x, y, z)) return 0;
  Rpc("SetGlobalIconPosition").c16(id).vec3(x, y, z).ToAll();
  return 0;
}

int SetGlobalIconSize(lua_State* L) {
  const uint16_t id = script::ArgU16(L, 1);
  const uint8_t size = script::ArgU8(L, 2);
  if (!gGlobalIconPool || !gGlobalIconPool->SetSize(id, size)) return 0;
  Rpc("SetGlobalIconSize").c16(id).c8(size).ToAll();
  return 0;
}

int SetGlobalIconColor(lua_State* L) {
  const uint16_t id = script::ArgU16(L, 1);
  const uint8_t c0 = script::ArgU8(L, 2), c1 = script::ArgU8(L, 3);
  const uint8_t c2 = script::ArgU8(L, 4), c3 = script::ArgU8(L, 5);
  if (!gGlobalIconPool || !gGlobalIconPool->SetColor(id, c0, c1, c2, c3)) return 0;
  Rpc("SetGlobalIconColor").c16(id).c8(c0).c8(c1).c8(c2).c8(c3).ToAll();
  return 0;
}

int ToggleGlobalIconFlashing(lua_State* L) {
  const uint16_t id = script::ArgU16(L, 1);
  const uint8_t on = ArgFlashing(L, 2);
  if (!gGlobalIconPool || !gGlobalIconPool->SetFlashing(id, on)) return 0;
  Rpc("ToggleGlobalIconFlashing").c16(id).c8(on).ToAll();
  return 0;
}

// --- local icons ---
// The payloads carry the slot only: the receiving client knows the icon is
// its own.

int CreateLocalIcon(lua_State* L) {
  const int player = ArgIconPlayer(L, 1);
  const float x = script::ArgFloat(L, 2), y = script::ArgFloat(L, 3), z = script::ArgFloat(L, 4);
  const uint8_t type = script::ArgU8(L, 5), size = script::ArgU8(L, 6), flag = script::ArgU8(L, 7);
  if (player < 0 || !gLocalIconPool) return script::PushNumber(L, -1);
  const int slot = gLocalIconPool->FindFreeSlot(static_cast<uint16_t>(player));
  if (slot < 0 || !gLocalIconPool->Add(static_cast<uint16_t>(player), x, y, z, type, size, flag)) {
    return script::PushNumber(L, -1);
  }
  Rpc("CreateLocalIcon").vec3(x, y, z).c8(type).c8(size).c8(flag)
      .ToPlayer(static_cast<uint8_t>(player));
  return script::PushNumber(L, slot);
}

int DestroyLocalIcon(lua_State* L) {
  const int player = ArgIconPlayer(L, 1);
  const uint16_t slot = script::ArgU16(L, 2);
  if (player < 0 || !gLocalIconPool) return 0;
  if (!gLocalIconPool->Destroy(static_cast<uint16_t>(player), slot)) return 0;
  Rpc("DestroyLocalIcon").c16(slot).ToPlayer(static_cast<uint8_t>(player));
  return 0;
}

int SetLocalIconPosition(lua_State* L) {
  const int player = ArgIconPlayer(L, 1);
  const uint16_t slot = script::ArgU16(L, 2);
  const float x = script::ArgFloat(L, 3), y = script::ArgFloat(L, 4), z = script::ArgFloat(L, 5);
  if (player < 0 || !gLocalIconPool) return 0;
  if (!gLocalIconPool->SetPosition(static_cast<uint16_t>(player), slot, x, y, z)) return 0;
  Rpc("SetLocalIconPosition").c16(slot).vec3(x, y, z).ToPlayer(static_cast<uint8_t>(player));
  return 0;
}

int SetLocalIconSize(lua_State* L) {
  const int player = ArgIconPlayer(L, 1);
  const uint16_t slot = script::ArgU16(L, 2);
  const uint8_t size = script::ArgU8(L, 3);
  if (player < 0 || !gLocalIconPool) return 0;
  if (!gLocalIconPool->SetSize(static_cast<uint16_t>(player), slot, size)) return 0;
  Rpc("SetLocalIconSize").c16(slot).c8(size).ToPlayer(static_cast<uint8_t>(player));
  return 0;
}

int SetLocalIconColor(lua_State* L) {
  const int player = ArgIconPlayer(L, 1);
  const uint16_t slot = script::ArgU16(L, 2);
  const uint8_t c0 = script::ArgU8(L, 3), c1 = script::ArgU8(L, 4);
  const uint8_t c2 = script::ArgU8(L, 5), c3 = script::ArgU8(L, 6);
  if (player < 0 || !gLocalIconPool) return 0;
  if (!gLocalIconPool->SetColor(static_cast<uint16_t>(player), slot, c0, c1, c2, c3)) return 0;
  Rpc("SetLocalIconColor").c16(slot).c8(c0).c8(c1).c8(c2).c8(c3)
      .ToPlayer(static_cast<uint8_t>(player));
  return 0;
}

int ToggleLocalIconFlashing(lua_State* L) {
  const int player = ArgIconPlayer(L, 1);
  const uint16_t slot = script::ArgU16(L, 2);
  const uint8_t on = ArgFlashing(L, 3);
  if (player < 0 || !gLocalIconPool) return 0;
  if (!gLocalIconPool->SetFlashing(static_cast<uint16_t>(player), slot, on)) return 0;
  Rpc("ToggleLocalIconFlashing").c16(slot).c8(on).ToPlayer(static_cast<uint8_t>(player));
  return 0;
}

}  // namespace natives
