// The function lists of the script libraries "XML", "IRC" and "SQL", in
// registration order, each ending in {nullptr, nullptr}. Entries are made with
// LibraryFunction<Body, Count, Wrong>("name") (script/natives.h), which gives
// them the natives' argument-count rule and exception boundary.
#pragma once

#include <lua.hpp>

extern const luaL_Reg kXmlLibrary[];
extern const luaL_Reg kIrcLibrary[];
extern const luaL_Reg kSqlLibrary[];

namespace library {
// "IRC.addCommand": binds a word in the IRC command table (commands.cpp).
int IrcAddCommand(lua_State* L);
}  // namespace library
