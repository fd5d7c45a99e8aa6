// Administration natives: the operator's powers for the game mode.
#include <cstring>

#include "core/admin.h"
#include "core/ban_file.h"
#include "core/playerpool.h"
#include "core/restart_request.h"
#include "script/native_list.h"
#include "script/natives.h"

namespace natives {
namespace {

// An address text of 7 to 15 characters ("1.2.3.4" to "255.255.255.255");
// anything of that length is passed on, address or not.
const char* BanText(lua_State* L) {
  const char* ip = script::ArgText(L, 1);
  if (!ip) return nullptr;
  const size_t length = std::strlen(ip);
  return length >= 7 && length <= 15 ? ip : nullptr;
}

}  // namespace

int KickPlayer(lua_State* L) {
  RemovePlayerFromServer(script::ArgU8(L, 1), kReasonKicked);
  return 0;
}

int BanPlayer(lua_State* L) {
  RemovePlayerFromServer(script::ArgU8(L, 1), kReasonBanned);
  return 0;
}

int AddBanIP(lua_State* L) {
  if (const char* ip = BanText(L)) BanList::AddAddress(ip);
  return 0;
}

int RemoveBanIP(lua_State* L) {
  if (const char* ip = BanText(L)) BanList::RemoveAddress(ip);
  return 0;
}

int ReloadBans(lua_State*) {
  BanList::Load();
  return 0;
}

// The state that runs this call cannot be discarded under it: the main loop
// restarts once the current pass has finished.
int RestartGameMode(lua_State*) {
  RequestRestart();
  return 0;
}

}  // namespace natives
