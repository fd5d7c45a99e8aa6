// Natives that give a player a new name and set a player's team, wanted
// level, phone status, clock, animation and colour. The name and the team are
// kept on the server; the rest only command the player's client, and what
// the client does comes back through its own reports.
#include <cstdint>
#include <cstring>

#include "core/playerpool.h"
#include "core/query.h"
#include "core/rpc.h"
#include "core/settings.h"
#include "script/native_list.h"
#include "script/natives.h"

namespace natives {
namespace {

constexpr size_t kMaxScriptNameLength = 16;
constexpr uint8_t kMaxWantedLevel = 6;
constexpr int8_t kNoTeam = -1;
constexpr int8_t kMaxTeam = 100;

// Only 1 to 16 bytes, and no control byte: the name ends up on the console
// and in the log ("[LEAVE]", "[CHAT]"), where a line break would forge lines.
bool IsAcceptableScriptName(const char* name, size_t length) {
  if (length < 1 || length > kMaxScriptNameLength) return false;
  for (size_t i = 0; i < length; ++i) {
    if (IsControlByte(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

// A command whose only payload is one compressed byte.
int SendCompressedByte(lua_State* L, const char* rpc, uint8_t value) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  Rpc(rpc).c8(value).ToPlayer(player);
  return 0;
}

int SendWantedLevel(lua_State* L, const char* rpc) {
  const uint8_t level = script::ArgU8(L, 2);
  return SendCompressedByte(L, rpc, level > kMaxWantedLevel ? kMaxWantedLevel : level);
}

}  // namespace

int SetPlayerName(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  const char* name = script::ArgText(L, 2);
  PlayerPool* pool = GetPlayerPool();
  if (!pool || !pool->IsInUse(player)) return 0;
  if (!name) return 0;
  // The name ends at its first NUL, as the name field will keep it.
  const size_t length = strnlen(name, kMaxScriptNameLength + 1);
  if (!IsAcceptableScriptName(name, length)) return 0;
  // The player's own name counts too: a rename to it, in any case, is refused.
  if (IsNicknameInUse(name)) return 0;

  std::memcpy(pool->names[player], name, length);
  std::memset(pool->names[player] + length, 0, kPlayerNameSize - length);

  Rpc("SetPlayerName").u8(player).u32(static_cast<uint32_t>(length)).chars(name, length).ToAll();
  UpdateServerQueryReply();
  return 0;
}

int SetPlayerTeam(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  // The low byte read as signed, then kept within -1..100.
  int8_t team = static_cast<int8_t>(script::ArgU8(L, 2));
  if (team < kNoTeam) team = kNoTeam;
  if (team > kMaxTeam) team = kMaxTeam;
  PlayerPool* pool = GetPlayerPool();
  PlayerRecord* r = pool ? pool->Get(player) : nullptr;
  if (!r) return 0;
  r->team = team;
  Rpc("SetPlayerTeam").c8(static_cast<uint8_t>(team)).ToPlayer(player);
  return 0;
}

int SetPlayerWantedLevel(lua_State* L) { return SendWantedLevel(L, "SetPlayerWantedLevel"); }

int SetPlayerFixedWantedLevel(lua_State* L) {
  return SendWantedLevel(L, "SetPlayerFixedWantedLevel");
}

int SetPlayerStaticWantedLevel(lua_State* L) {
  return SendWantedLevel(L, "SetPlayerStaticWantedLevel");
}

int SetPlayerCellPhoneStatus(lua_State* L) {
  const uint8_t status = script::ArgU8(L, 2);
  return SendCompressedByte(L, "SetPlayerCellPhoneStatus", status > 1 ? 1 : status);
}

int TogglePlayerClock(lua_State* L) {
  return SendCompressedByte(L, "TogglePlayerClock", script::ArgU8(L, 2));
}

int SetPlayerAnimation(lua_State* L) {
  return SendCompressedByte(L, "SetPlayerAnimation", script::ArgU8(L, 2));
}

int SetPlayerColor(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  const uint8_t red = script::ArgU8(L, 2);
  const uint8_t green = script::ArgU8(L, 3);
  const uint8_t blue = script::ArgU8(L, 4);
  // Only the player's own client hears of it.
  Rpc("SetPlayerColor").c8(red).c8(green).c8(blue).ToPlayer(player);
  return 0;
}

}  // namespace natives
