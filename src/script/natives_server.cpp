// Natives that configure the server, write to the console and the players'
// screens, and a few utilities. The configuration natives are meant for the
// game mode's top level, which runs before the network starts; later calls
// change the settings and the query reply but not the running peer (the
// password excepted).
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/log.h"
#include "core/names.h"
#include "core/query.h"
#include "core/rpc.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "script/native_list.h"
#include "script/natives.h"

namespace natives {

namespace {

constexpr size_t kMaxNameLength = 50;
constexpr size_t kMaxPasswordLength = 30;
constexpr size_t kMaxBindAddressLength = 15;
constexpr size_t kMaxGameTextLength = 128;
constexpr uint8_t kMaxWeather = 5;

// A text of 1..50 characters names the server (or the mode); any other text
// restores the default. A missing text changes nothing.
int SetNameField(lua_State* L, char* field, size_t fieldSize, const char* fallback) {
  size_t length = 0;
  const char* text = script::ArgText(L, 1, &length);
  if (!text) return 0;
  CopyToField(field, fieldSize, length >= 1 && length <= kMaxNameLength ? text : fallback);
  UpdateServerQueryReply();
  return 0;
}

// text, first, second, third, fourth from `index` on.
void SendChatBox(lua_State* L, int index, int playerId) {
  size_t length = 0;
  const char* text = script::ArgText(L, index, &length);
  if (!text) return;
  // The length travels in one byte: a longer text is cut to 255 characters.
  const uint8_t sent = static_cast<uint8_t>(std::min<size_t>(length, 255));
  Rpc rpc("OutputChatBox");
  rpc.u8(sent).chars(text, sent);
  for (int i = 1; i <= 4; ++i) rpc.u8(script::ArgU8(L, index + i));
  if (playerId < 0) {
    rpc.ToAll();
  } else {
    rpc.ToPlayer(static_cast<uint8_t>(playerId));
  }
}

// text, a, b from `index` on; the numbers travel last argument first.
void SendGameText(lua_State* L, int index, int playerId) {
  size_t length = 0;
  const char* text = script::ArgText(L, index, &length);
  if (!text || length > kMaxGameTextLength) return;
  Rpc rpc("GameTextForPlayer");
  rpc.c32(script::ArgU32Via64(L, index + 2))
      .c32(script::ArgU32Via64(L, index + 1))
      .c8(static_cast<uint8_t>(length))
      .chars(text, length);
  if (playerId < 0) {
    rpc.ToAll();
  } else {
    rpc.ToPlayer(static_cast<uint8_t>(playerId));
  }
}

}  // namespace

// ---- configuration ----------------------------------------------------------

int SetServerPort(lua_State* L) {
  gServerSettings.port = script::ArgU16(L, 1);
  return 0;
}

int SetMaxPlayers(lua_State* L) {
  const uint16_t limit = script::ArgU16(L, 1);
  gServerSettings.maxPlayers = limit;
  UpdateServerQueryReply();
  Rpc("Server_SetMaxPlayers").c16(limit).ToAll();
  return 0;
}

int Announce(lua_State* L) {
  gServerSettings.announce = script::ArgBool(L, 1) ? 1 : 0;
  return 0;
}

int SetServerName(lua_State* L) {
  return SetNameField(L, gServerSettings.serverName, sizeof gServerSettings.serverName,
                      kDefaultServerName);
}

int SetModeName(lua_State* L) {
  return SetNameField(L, gServerSettings.modeName, sizeof gServerSettings.modeName,
                      kDefaultModeName);
}

int SetServerPassword(lua_State* L) {
  size_t length = 0;
  const char* text = script::ArgText(L, 1, &length);
  if (text && length >= 1 && length <= kMaxPasswordLength) {
    gServerSettings.password = std::string(text, length);
  } else {
    gServerSettings.password.reset();
  }
  // Clients must type the password as the start-up would have sanitised it.
  if (gServerSettings.password) SanitizeString(*gServerSettings.password, true);
  ApplyPasswordSetting();
  UpdateServerQueryReply();  // its flag follows the network's password
  return 0;
}

int BindToIP(lua_State* L) {
  size_t length = 0;
  const char* text = script::ArgText(L, 1, &length);
  if (!text || length < 1 || length > kMaxBindAddressLength) return 0;
  CopyToField(gServerSettings.bindAddress, sizeof gServerSettings.bindAddress, text);
  return 0;
}

int SetServerWeather(lua_State* L) {
  uint8_t weather = script::ArgU8(L, 1);
  if (weather > kMaxWeather) weather = 0;
  gServerWeather = weather;
  Rpc("SetServerWeather").u8(weather).ToAll();
  return 0;
}

int ToggleStaticInitialWantedLevel(lua_State* L) {
  const uint8_t on = script::ArgU8(L, 1);
  gStaticInitialWantedLevel = on > 1 ? 1 : on;
  return 0;
}

int GetMaxPlayers(lua_State* L) {
  lua_pushnumber(L, gServerSettings.maxPlayers);
  return 1;
}

// ---- output -------------------------------------------------------------------

int OutputConsole(lua_State* L) {
  const char* text = script::ArgText(L, 1);
  if (text) LogPrint(1, "[CONSOLE] %s", text);
  return 0;
}

int OutputChatBox(lua_State* L) {
  if (lua_gettop(L) == 5) {
    SendChatBox(L, 1, -1);
    return 0;
  }
  const uint8_t player = script::ArgU8(L, 1);
  if (script::IsPlayer(player)) SendChatBox(L, 2, player);
  return 0;
}

int GameTextForAll(lua_State* L) {
  SendGameText(L, 1, -1);
  return 0;
}

int GameTextForPlayer(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (script::IsPlayer(player)) SendGameText(L, 2, player);
  return 0;
}

int ClearGameTextForAll(lua_State*) {
  Rpc("ClearGameText").ToAll();
  return 0;
}

int ClearGameTextForPlayer(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (script::IsPlayer(player)) Rpc("ClearGameText").ToPlayer(player);
  return 0;
}

// ---- utilities ------------------------------------------------------------------

int Strval(lua_State* L) {
  // atoi's reading, but a number beyond the int range saturates instead of
  // being undefined. Neither a string nor a number reads as 0.
  const char* text = script::ArgText(L, 1);
  long value = 0;
  if (text) value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  lua_pushnumber(L, static_cast<int>(value));
  return 1;
}

int Delay(lua_State* L) {
  // A negative count would be an almost endless stop of the whole server (-1
  // is about 49 days as unsigned): it does not wait at all.
  const int64_t wanted = script::ToInt64(script::ArgNumber(L, 1));
  if (wanted > 0) platform::SleepMs(static_cast<uint32_t>(static_cast<uint64_t>(wanted)));
  return 0;
}

int Random(lua_State* L) {
  const int64_t base = script::ArgInt(L, 1);
  const int64_t range = script::ArgInt(L, 2);
  // A range of 0 has no remainder: the base itself. The sum is taken wide so
  // that a base near the top of the range cannot overflow. Draws are 0..32767
  // whatever the C library's RAND_MAX, as game modes were written for.
  const int64_t draw = std::rand() & 0x7FFF;
  lua_pushnumber(L, static_cast<double>(range == 0 ? base : base + draw % range));
  return 1;
}

int HostToIP(lua_State* L) {
  const char* host = script::ArgText(L, 1);
  char address[16];
  if (!host || !platform::ResolveHostIPv4(host, address, sizeof address)) return 0;
  lua_pushstring(L, address);
  return 1;
}

int GetWeaponName(lua_State* L) {
  lua_pushstring(L, LookupWeaponName(script::ArgU8(L, 1)));
  return 1;
}

int ExitServer(lua_State*) {
  // The network and console threads are still running: end without running
  // static destructors under them (as the console's "exit" does).
  std::fflush(nullptr);
  std::_Exit(0);
}

}  // namespace natives
