// The bodies of the natives, by family. Each family lives in its own file
// (natives_<family>.cpp); the native table (native_table.cpp) wraps every body
// with its argument-count rule. A native whose family has not landed yet is
// registered with the placeholder NotBuilt.
#pragma once

#include <lua.hpp>

namespace natives {

// Does nothing and returns no results.
int NotBuilt(lua_State* L);

// Script engine (engine.cpp).
int LoadExtension(lua_State* L);

// Script commands (commands.cpp).
int AddCommand(lua_State* L);

// Timers and the game clock (natives_timers.cpp).
int CreateTimer(lua_State* L);
int DestroyTimer(lua_State* L);
int SetServerTime(lua_State* L);
int GetServerTime(lua_State* L);

}  // namespace natives
