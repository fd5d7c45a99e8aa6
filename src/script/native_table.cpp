// The registration table, built from the rows of native_list.h.
#include <cstddef>
#include <iterator>

#include "script/native_list.h"
#include "script/natives.h"

namespace {

// A body's name with a lower-case first letter, as a constant that outlives
// the table.
template <size_t N>
struct LuaName {
  char text[N];
  constexpr LuaName(const char (&body)[N]) {
    for (size_t i = 0; i < N; ++i) text[i] = body[i];
    if (text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
  }
};
template <LuaName Name>
inline constexpr auto kLuaName = Name;

}  // namespace

const NativeDescriptor kNatives[] = {
#define QLM_NATIVE(Body, count, wrong) \
  Native<natives::Body, count, WrongCount::wrong>(kLuaName<#Body>.text),
#include "script/native_list.h"
#undef QLM_NATIVE
};
static_assert(std::size(kNatives) == kNativeCount, "the game mode sees exactly 209 natives");

void RegisterNatives(lua_State* L) {
  for (const NativeDescriptor& native : kNatives) {
    lua_pushcfunction(L, native.function);
    lua_setfield(L, LUA_GLOBALSINDEX, native.name);
  }
}
