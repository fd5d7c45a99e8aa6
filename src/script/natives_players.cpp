// Natives that read what the server knows of a player and command a player's
// client. A command leaves the PlayerRecord alone: the record follows the
// client's own reports, so a getter shows a new value only once the client
// has acted on it. Only the score, the muted flag and the spawned flag are
// written here, as no client report carries them back.
//
// PlayerRecord is packed: its fields are copied into locals before use.
#include <cstdint>
#include <cstring>
#include <string>

#include "core/playerpool.h"
#include "core/rpc.h"
#include "script/native_list.h"
#include "script/natives.h"

namespace natives {
namespace {

// The record of the player named by argument 1, or null when the guard fails.
PlayerRecord* GuardedRecord(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  PlayerPool* pool = GetPlayerPool();
  return pool ? pool->Get(player) : nullptr;
}

// A command whose only payload is one f32 argument.
int SendFloat(lua_State* L, const char* rpc) {
  const uint8_t player = script::ArgU8(L, 1);
  const float value = script::ArgFloat(L, 2);
  if (!script::IsPlayer(player)) return 0;
  Rpc(rpc).f32(value).ToPlayer(player);
  return 0;
}

// A command whose only payload is one i32 argument.
int SendInt(lua_State* L, const char* rpc) {
  const uint8_t player = script::ArgU8(L, 1);
  const int32_t value = script::ArgInt(L, 2);
  if (!script::IsPlayer(player)) return 0;
  Rpc(rpc).i32(value).ToPlayer(player);
  return 0;
}

// A command whose only payload is the low byte of argument 2, unchanged.
int SendByte(lua_State* L, const char* rpc) {
  const uint8_t player = script::ArgU8(L, 1);
  const uint8_t value = script::ArgU8(L, 2);
  if (!script::IsPlayer(player)) return 0;
  Rpc(rpc).u8(value).ToPlayer(player);
  return 0;
}

// These two accept extra arguments, but the first two must read as numbers.
bool FirstTwoAreNumbers(lua_State* L) { return lua_isnumber(L, 1) && lua_isnumber(L, 2); }

// Weapon ids the client has no weapon for.
bool IsUnusableWeapon(int32_t weapon) {
  return weapon < 0 || weapon == 13 || weapon == 16 || weapon == 35 || weapon >= 37;
}

constexpr int32_t kMaxWeaponAmmo = 10000;
constexpr uint8_t kMaxSkin = 172;
constexpr uint8_t kMaxInterior = 18;
constexpr uint8_t kMissingInterior = 13;

}  // namespace

// Queries.

int IsPlayerConnected(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  const PlayerPool* pool = GetPlayerPool();
  return script::PushNumber(L, pool && pool->IsInUse(player) ? 1 : 0);
}

int IsPlayerSpawned(lua_State* L) {
  const PlayerPool* pool = GetPlayerPool();
  return script::PushNumber(L, pool && pool->IsInWorld(script::ArgU8(L, 1)) ? 1 : 0);
}

int IsPlayerMuted(lua_State* L) {
  const PlayerRecord* r = GuardedRecord(L);
  const uint8_t muted = r ? r->muted : 0;
  return script::PushNumber(L, muted);
}

int GetPlayerName(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  const PlayerPool* pool = GetPlayerPool();
  if (!pool || !pool->IsInUse(player)) {
    lua_pushstring(L, "");
    return 1;
  }
  // The field always keeps its terminator, but never read beyond it anyway.
  lua_pushlstring(L, pool->names[player], strnlen(pool->names[player], kPlayerNameSize));
  return 1;
}

int GetPlayerIP(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  std::string ip;
  if (script::IsPlayer(player)) {
    const net::SystemAddress address = GetPlayerAddress(player);
    if (address != net::UNASSIGNED_SYSTEM_ADDRESS) ip = address.ToString(false);
  }
  lua_pushlstring(L, ip.data(), ip.size());
  return 1;
}

int GetPlayerPing(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  int ping = -1;
  net::Peer* peer = GetGamePeer();
  if (script::IsPlayer(player) && peer) ping = peer->GetLastPing(GetPlayerAddress(player));
  return script::PushNumber(L, ping);
}

int GetPlayerSkin(lua_State* L) {
  const PlayerRecord* r = GuardedRecord(L);
  const int32_t skin = r ? r->skin : -1;
  return script::PushNumber(L, skin);
}

int GetPlayerScore(lua_State* L) {
  const PlayerRecord* r = GuardedRecord(L);
  const int32_t score = r ? r->score : -1;
  return script::PushNumber(L, score);
}

int GetPlayerTeam(lua_State* L) {
  const PlayerRecord* r = GuardedRecord(L);
  const int8_t team = r ? r->team : int8_t{-1};
  return script::PushNumber(L, team);
}

int GetPlayerWeaponID(lua_State* L) {
  const PlayerRecord* r = GuardedRecord(L);
  const uint8_t weapon = r ? r->weapon : 0;
  return script::PushNumber(L, weapon);
}

int GetPlayerCellPhoneStatus(lua_State* L) {
  const PlayerRecord* r = GuardedRecord(L);
  const int8_t status = r ? r->phoneStatus : int8_t{0};
  return script::PushNumber(L, status);
}

int GetPlayerSeatID(lua_State* L) {
  const PlayerRecord* r = GuardedRecord(L);
  const uint8_t seat = r ? r->seat : 0;
  return script::PushNumber(L, seat);
}

int GetPlayerClassInfo(lua_State* L) {
  const PlayerRecord* r = GuardedRecord(L);
  const int16_t first = r ? r->classInfo[0] : int16_t{0};
  const int16_t second = r ? r->classInfo[1] : int16_t{0};
  lua_pushnumber(L, first);
  lua_pushnumber(L, second);
  return 2;
}

int GetPlayerHealth(lua_State* L) {
  const PlayerRecord* r = GuardedRecord(L);
  if (!r) return 0;
  const float health = r->health;
  return script::PushNumber(L, health);
}

int GetPlayerArmour(lua_State* L) {
  const PlayerRecord* r = GuardedRecord(L);
  if (!r) return 0;
  const float armour = r->armour;
  return script::PushNumber(L, armour);
}

int GetPlayerAngle(lua_State* L) {
  const PlayerRecord* r = GuardedRecord(L);
  if (!r) return 0;
  const float angle = r->angle;
  return script::PushNumber(L, angle);
}

int GetPlayerInterior(lua_State* L) {
  const PlayerRecord* r = GuardedRecord(L);
  if (!r) return 0;
  const uint8_t interior = r->interior;
  return script::PushNumber(L, interior);
}

int GetPlayerCash(lua_State* L) {
  const PlayerRecord* r = GuardedRecord(L);
  if (!r) return 0;
  // Unsigned: a negative amount the client reported reads as 2^32 + amount.
  const uint32_t cash = r->cash;
  return script::PushNumber(L, cash);
}

int GetPlayerWantedLevel(lua_State* L) {
  const PlayerRecord* r = GuardedRecord(L);
  if (!r) return 0;
  const uint8_t level = r->wantedLevel;
  return script::PushNumber(L, level);
}

int GetPlayerPos(lua_State* L) {
  const PlayerRecord* r = GuardedRecord(L);
  if (!r) return 0;
  const float x = r->x, y = r->y, z = r->z;
  lua_pushnumber(L, x);
  lua_pushnumber(L, y);
  lua_pushnumber(L, z);
  return 3;
}

// Commands.

int SetPlayerHealth(lua_State* L) { return SendFloat(L, "SetPlayerHealth"); }
int SetPlayerArmour(lua_State* L) { return SendFloat(L, "SetPlayerArmour"); }
int SetPlayerAngle(lua_State* L) { return SendFloat(L, "SetPlayerAngle"); }

int SetPlayerPos(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  const float x = script::ArgFloat(L, 2);
  const float y = script::ArgFloat(L, 3);
  const float z = script::ArgFloat(L, 4);
  if (!script::IsPlayer(player)) return 0;
  Rpc("SetPlayerPos").f32(x).f32(y).f32(z).ToPlayer(player);
  return 0;
}

int SetPlayerBoundaries(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  const float a = script::ArgFloat(L, 2);
  const float b = script::ArgFloat(L, 3);
  const float c = script::ArgFloat(L, 4);
  const float d = script::ArgFloat(L, 5);
  if (!script::IsPlayer(player)) return 0;
  Rpc("SetPlayerBoundaries").f32(a).f32(b).f32(c).f32(d).ToPlayer(player);
  return 0;
}

int SetPlayerGravity(lua_State* L) {
  if (!FirstTwoAreNumbers(L)) return 0;
  return SendFloat(L, "SetGravity");
}

int SetPlayerCash(lua_State* L) { return SendInt(L, "SetPlayerCash"); }
int GivePlayerCash(lua_State* L) { return SendInt(L, "GivePlayerCash"); }

int GivePlayerWeapon(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  int32_t weapon = script::ArgInt(L, 2);
  int32_t ammo = script::ArgInt(L, 3);
  if (IsUnusableWeapon(weapon)) weapon = 0;
  if (ammo < 0) ammo = 0;
  if (ammo > kMaxWeaponAmmo) ammo = kMaxWeaponAmmo;
  if (!script::IsPlayer(player)) return 0;
  Rpc("GivePlayerWeapon").i32(weapon).i32(ammo).ToPlayer(player);
  return 0;
}

int ClearPlayerWeapons(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  Rpc("ClearPlayerWeapons").ToPlayer(player);
  return 0;
}

int SetPlayerSkin(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  const uint8_t skin = script::ArgU8(L, 2);
  if (!script::IsPlayer(player)) return 0;
  if (skin > kMaxSkin) return 0;
  // Everyone draws the player, so everyone hears of the new skin.
  Rpc("SetPlayerSkin").u8(player).u8(skin).ToAll();
  return 0;
}

int SetPlayerInterior(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  uint8_t interior = script::ArgU8(L, 2);
  if (interior > kMaxInterior || interior == kMissingInterior) interior = 0;
  if (!script::IsPlayer(player)) return 0;
  Rpc("SetPlayerInterior").u8(interior).ToPlayer(player);
  return 0;
}

int SetPlayerScore(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  const int32_t score = script::ArgInt(L, 2);
  PlayerRecord* r = GuardedRecord(L);
  if (!r) return 0;
  r->score = score;
  // The compressed form of the 32-bit pattern: a negative score takes all
  // four bytes.
  Rpc("SetPlayerScore").c32(static_cast<uint32_t>(score)).ToPlayer(player);
  return 0;
}

int TogglePlayerControllable(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  const uint8_t controllable = script::ArgU8(L, 2);
  if (!script::IsPlayer(player)) return 0;
  Rpc("TogglePlayerControllable").u8(player).u8(controllable).ToPlayer(player);
  return 0;
}

int ToggleFlyingCar(lua_State* L) { return SendByte(L, "ToggleFlyingCar"); }

int ToggleDriveOnWater(lua_State* L) {
  if (!FirstTwoAreNumbers(L)) return 0;
  return SendByte(L, "DriveOnWater");
}

int TogglePlayerMuted(lua_State* L) {
  const uint8_t flag = script::ArgU8(L, 2);
  const uint8_t muted = flag > 1 ? 1 : flag;
  PlayerRecord* r = GuardedRecord(L);
  if (!r) return 0;
  r->muted = muted;
  return 0;
}

int ForceToClassSelection(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  PlayerRecord* r = GuardedRecord(L);
  if (!r) return 0;
  r->spawned = 0;
  Rpc("ForceToClassSelection").ToPlayer(player);
  return 0;
}

}  // namespace natives
