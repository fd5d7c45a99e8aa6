// Natives of the areas: boxes that exist on the server only (no client hears
// of them); the sweep raises the enter and leave events.
#include "core/areapool.h"
#include "core/playerpool.h"
#include "core/world.h"
#include "script/native_list.h"
#include "script/natives.h"

namespace natives {

int CreateArea(lua_State* L) {
  const int16_t id = gAreaPool ? gAreaPool->Add(script::ArgFloat(L, 1), script::ArgFloat(L, 2),
                                                script::ArgFloat(L, 3), script::ArgFloat(L, 4),
                                                script::ArgFloat(L, 5), script::ArgFloat(L, 6))
                               : -1;
  lua_pushnumber(L, id);
  return 1;
}

int DestroyArea(lua_State* L) {
  const uint16_t id = script::ArgU16(L, 1);
  lua_pushboolean(L, gAreaPool && gAreaPool->Destroy(id));
  return 1;
}

int GetPlayerArea(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  lua_pushnumber(L, GetPlayerPool()->records[player].area);
  return 1;
}

}  // namespace natives
