// The natives' calling rules through a real Lua state: every native
// registered under its name, its wrong-count result; the number, text and flag
// readers; the guards; the exception boundary.
#include <gtest/gtest.h>

#include <new>
#include <set>
#include <span>
#include <stdexcept>
#include <string>

#include "core/netgame.h"
#include "core/playerpool.h"
#include "core/vehiclepool.h"
#include "core/world.h"
#include "script/commands.h"
#include "script/natives.h"
#include "script/script_host.h"
#include "script/native_test_support.h"

using scripttest::Eval;
using scripttest::RunLua;
using scripttest::ScriptHost;

namespace {

// A call of `name` with `n` nil arguments.
std::string CallWith(const std::string& name, int n) { return name + "(unpack({}, 1, " + std::to_string(n) + "))"; }

// What each WrongCount result reads as, in the enum's order.
const char* const kWrongCountResults[] = {"", "-1", "0", "0,0", "0,0,0", "1", "255", "nil", "false"};

TEST(NativeTable, EveryRowIsRegisteredOnceAndAWrongCountGivesItsResult) {
  ScriptHost host("");
  lua_State* L = GetScriptEngine()->State();
  std::set<std::string> names;
  for (const NativeDescriptor& native : std::span(kNatives, kNativeCount)) {
    EXPECT_TRUE(names.insert(native.name).second) << native.name << " has two rows";
    lua_getglobal(L, native.name);
    EXPECT_EQ(lua_tocfunction(L, -1), native.function) << native.name;
    lua_pop(L, 1);
    // A wrong count gives the row's result whatever the body would do.
    const std::string wrong = kWrongCountResults[static_cast<int>(native.onWrongCount)];
    if (native.count.min > 0) EXPECT_EQ(Eval(CallWith(native.name, native.count.min - 1)), wrong) << native.name;
    if (native.count.max < 20) EXPECT_EQ(Eval(CallWith(native.name, native.count.max + 1)), wrong) << native.name;
  }
  EXPECT_EQ(names.size(), 209u);
}

TEST(NativeTable, ThisHostsNativesActOnlyOnTheRightCountAndSettersReturnNothing) {
  ScriptHost host("function tick() end\n");
  EXPECT_EQ(Eval("createTimer('tick', 100, 1)"), "0");
  EXPECT_EQ(RunLua("createTimer('tick', 100); createTimer('tick', 100, 1, 1); destroyTimer(0, 1); setServerTime(1);"
                   "setServerTime(1, 2, 3); addCommand('/a'); addCommand('/a', 'f', 1, 2); loadExtension('x.lua', 1)"), "");
  EXPECT_EQ(host.Log() + nativetest::Values(GetTimerPool()->FindFreeSlot(), GetTimerPool()->minuteOfDay, PlayerCommandTable().Count()),
            "1,720,0");
  EXPECT_EQ(Eval("select('#', setServerTime(1, 2)) + select('#', destroyTimer(0)) + select('#', addCommand('/a', 'f'))"), "0");
  EXPECT_EQ(nativetest::Values(GetTimerPool()->FindFreeSlot(), GetTimerPool()->minuteOfDay, PlayerCommandTable().Count()), "0,61,1");
}

// What the readers make of the first argument: the 32-bit integer, the 8-bit
// player id and its guard, the unsigned 32 bits through 64, and the vehicle
// guard of the whole 32 bits.
int ProbeBody(lua_State* L) {
  lua_pushnumber(L, script::ArgInt(L, 1));
  lua_pushnumber(L, script::ArgU8(L, 1));
  lua_pushboolean(L, script::IsPlayer(script::ArgU8(L, 1)));
  lua_pushnumber(L, script::ArgU32Via64(L, 1));
  lua_pushboolean(L, script::IsVehicle(script::ArgU32(L, 1)));
  return 5;
}

int TextBody(lua_State* L) {
  size_t length = 0;
  const char* text = script::ArgText(L, 1, &length);
  if (!text) return 0;
  lua_pushlstring(L, text, length);
  lua_pushboolean(L, script::ArgBool(L, 2));
  return 2;
}

int ThrowingBody(lua_State* L) {
  lua_pushnumber(L, 1);  // a partial result the boundary must drop
  const std::string which = lua_tostring(L, 1) ? lua_tostring(L, 1) : "";
  if (which == "alloc") throw std::bad_alloc();
  if (which == "lua") return luaL_error(L, "raised by the native");
  throw std::runtime_error("escaped");
}

TEST(NativeReaders, NumbersTruncateThenCutToTheIdsWidthTextsAndFlagsAndExceptionsStopAtTheBoundary) {
  support::Seam seam;
  lua_State* L = GetScriptEngine()->State();
  lua_register(L, "probe", (&GuardedNative<ProbeBody, Exactly(1), WrongCount::kNothing>));
  lua_register(L, "text", (&GuardedNative<TextBody, Exactly(2), WrongCount::kNothing>));
  lua_register(L, "thrower", (&GuardedNative<ThrowingBody, Exactly(1), WrongCount::kNothing>));
  ASSERT_TRUE(ConnectPlayer("Fortyfour", GetPlayerPool(), 44) && ConnectPlayer("Three", GetPlayerPool(), 3));
  ASSERT_EQ(GetVehiclePool()->Add(130, 0, 0, 0, 0, 0, 0), 1);
  const char* const cases[][2] = {
      {"probe(3.9)", "3,3,true,3,false"}, {"probe(-0.5)", "0,0,false,0,false"}, {"probe(-3.9)", "-3,253,false,4294967293,false"},
      {"probe(300)", "300,44,true,300,false"}, {"probe(-1)", "-1,255,false,4294967295,false"}, {"probe(100)", "100,100,false,100,false"},
      {"probe(1)", "1,1,false,1,true"}, {"probe(65537)", "65537,1,false,65537,false"},  // a vehicle id is not cut to 16 bits
      {"probe(0/0)", "-2147483648,0,false,0,false"}, {"probe(1e10)", "-2147483648,0,false,1410065408,false"},
      {"probe(1e30)", "-2147483648,0,false,0,false"}, {"probe(2147483647.9)", "2147483647,255,false,2147483647,false"},
      {"probe(-2147483648.9)", "-2147483648,0,false,2147483648,false"}, {"probe(2147483648)", "-2147483648,0,false,2147483648,false"},
      {"probe(4294967296 + 5)", "-2147483648,0,false,5,false"}, {"probe('12')", "12,12,false,12,false"},
      {"probe(' 0x10 ')", "16,16,false,16,false"}, {"probe('abc')", "0,0,false,0,false"}, {"probe({})", "0,0,false,0,false"},
      {"text('abc', nil)", "'abc',false"}, {"text(12, false)", "'12',false"}, {"text(1.5, 0)", "'1.5',true"},
      {"text('a\\0b', '')", "'a',true"},  // a text ends at its first NUL
      {"text(nil, true)", ""}, {"text({}, true)", ""}, {"text(true, true)", ""},
      {"select('#', thrower('runtime')), select('#', thrower('alloc'))", "0,0"},
      {"(function() after = 1; thrower('runtime'); after = 2 end)(), after", "nil,2"},
      // Lua's own errors still unwind as errors (the C++ build throws them).
      {"pcall(thrower, 'lua')", "false,'raised by the native'"}};
  for (const auto& c : cases) EXPECT_EQ(seam.Eval(c[0]), c[1]) << c[0];
  EXPECT_EQ(lua_gettop(L), 0);
}

}  // namespace
