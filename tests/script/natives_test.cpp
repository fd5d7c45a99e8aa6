// The natives' calling rules through a real Lua state: every native
// registered under its name, its wrong-count result; the number, text and flag
// readers; the guards; the exception boundary.
#include <gtest/gtest.h>

#include <new>
#include <set>
#include <stdexcept>
#include <string>

#include "core/netgame.h"
#include "core/playerpool.h"
#include "core/vehiclepool.h"
#include "core/world.h"
#include "script/commands.h"
#include "script/natives.h"
#include "script/script_host.h"
#include "support/server_fixture.h"

using scripttest::Eval;
using scripttest::RunLua;
using scripttest::ScriptHost;

namespace {

// "f(nil, nil)" with `n` arguments.
std::string CallWith(const std::string& name, int n) {
  std::string call = name + "(";
  for (int i = 0; i < n; ++i) call += i ? ", nil" : "nil";
  return call + ")";
}

// What each WrongCount result reads as, in the enum's order.
const char* const kWrongCountResults[] = {"", "-1", "0", "0,0", "0,0,0", "1", "255", "nil", "false"};

TEST(NativeTable, EveryRowIsRegisteredOnceAndAWrongCountGivesItsResult) {
  ScriptHost host("");
  lua_State* L = GetScriptEngine()->State();
  std::set<std::string> names;
  for (int i = 0; i < kNativeCount; ++i) {
    const NativeDescriptor& native = kNatives[i];
    const std::string name = native.name;
    EXPECT_TRUE(names.insert(name).second) << name << " has two rows";
    lua_getglobal(L, native.name);
    EXPECT_EQ(lua_tocfunction(L, -1), native.function) << name;
    lua_pop(L, 1);
    // A wrong count gives the row's result whatever the body would do.
    const std::string wrong = kWrongCountResults[static_cast<int>(native.onWrongCount)];
    if (native.count.min > 0) {
      EXPECT_EQ(Eval(CallWith(name, native.count.min - 1)), wrong) << name;
    }
    if (native.count.max < 20) {
      EXPECT_EQ(Eval(CallWith(name, native.count.max + 1)), wrong) << name;
    }
  }
  EXPECT_EQ(names.size(), 209u);
}

TEST(NativeTable, ThisHostsNativesActOnlyOnTheRightCountAndSettersReturnNothing) {
  ScriptHost host("function tick() end\n");
  EXPECT_EQ(Eval("createTimer('tick', 100, 1)"), "0");
  EXPECT_EQ(RunLua("createTimer('tick', 100); createTimer('tick', 100, 1, 1); destroyTimer(0, 1);"
                   "setServerTime(1); setServerTime(1, 2, 3); addCommand('/a');"
                   "addCommand('/a', 'f', 1, 2); loadExtension('x.lua', 1)"),
            "");
  EXPECT_EQ(GetTimerPool()->FindFreeSlot(), 1);
  EXPECT_EQ(GetTimerPool()->minuteOfDay, 720);
  EXPECT_EQ(PlayerCommandTable().Count(), 0u);
  EXPECT_EQ(host.Log(), "");
  EXPECT_EQ(Eval("setServerTime(1, 2)"), "");
  EXPECT_EQ(Eval("destroyTimer(0)"), "");
  EXPECT_EQ(Eval("addCommand('/a', 'f')"), "");
  EXPECT_EQ(GetTimerPool()->FindFreeSlot(), 0);
  EXPECT_EQ(GetTimerPool()->minuteOfDay, 61);
  EXPECT_EQ(PlayerCommandTable().Count(), 1u);
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

class ReadersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Start();
    lua_State* L = GetScriptEngine()->State();
    lua_register(L, "probe", (&GuardedNative<ProbeBody, Exactly(1), WrongCount::kNothing>));
    lua_register(L, "text", (&GuardedNative<TextBody, Exactly(2), WrongCount::kNothing>));
    lua_register(L, "thrower", (&GuardedNative<ThrowingBody, Exactly(1), WrongCount::kNothing>));
  }
  InProcessServer server_;
};

TEST_F(ReadersTest, NumbersTruncateThenCutToTheIdsWidthAndTheGuardsSeeTheCut) {
  ASSERT_TRUE(ConnectPlayer("Fortyfour", GetPlayerPool(), 44));
  ASSERT_TRUE(ConnectPlayer("Three", GetPlayerPool(), 3));
  ASSERT_EQ(GetVehiclePool()->Add(130, 0, 0, 0, 0, 0, 0), 1);
  const char* const cases[][2] = {
      {"3.9", "3,3,true,3,false"},
      {"-0.5", "0,0,false,0,false"},
      {"-3.9", "-3,253,false,4294967293,false"},
      {"300", "300,44,true,300,false"},
      {"-1", "-1,255,false,4294967295,false"},
      {"100", "100,100,false,100,false"},
      {"1", "1,1,false,1,true"},
      {"65537", "65537,1,false,65537,false"},  // a vehicle id is not cut to 16 bits
      {"0/0", "-2147483648,0,false,0,false"},
      {"1e10", "-2147483648,0,false,1410065408,false"},
      {"1e30", "-2147483648,0,false,0,false"},
      {"2147483647.9", "2147483647,255,false,2147483647,false"},
      {"-2147483648.9", "-2147483648,0,false,2147483648,false"},
      {"2147483648", "-2147483648,0,false,2147483648,false"},
      {"4294967296 + 5", "-2147483648,0,false,5,false"},
      {"'12'", "12,12,false,12,false"},
      {"' 0x10 '", "16,16,false,16,false"},
      {"'abc'", "0,0,false,0,false"},
      {"{}", "0,0,false,0,false"},
  };
  for (const auto& c : cases) EXPECT_EQ(Eval(std::string("probe(") + c[0] + ")"), c[1]) << c[0];
}

TEST_F(ReadersTest, TextsAndFlags) {
  EXPECT_EQ(Eval("text('abc', nil)"), "'abc',false");
  EXPECT_EQ(Eval("text(12, false)"), "'12',false");
  EXPECT_EQ(Eval("text(1.5, 0)"), "'1.5',true");
  EXPECT_EQ(Eval("text('a\\0b', '')"), "'a',true");  // a text ends at its first NUL
  EXPECT_EQ(Eval("text(nil, true)"), "");
  EXPECT_EQ(Eval("text({}, true)"), "");
  EXPECT_EQ(Eval("text(true, true)"), "");
}

TEST_F(ReadersTest, ExceptionsStopAtTheNativesBoundary) {
  EXPECT_EQ(Eval("select('#', thrower('runtime'))"), "0");
  EXPECT_EQ(Eval("select('#', thrower('alloc'))"), "0");
  EXPECT_EQ(RunLua("after = 1; thrower('runtime'); after = 2"), "");
  EXPECT_EQ(Eval("after"), "2");
  // Lua's own errors still unwind as errors (the C++ build throws them).
  EXPECT_EQ(Eval("pcall(thrower, 'lua')"), "false,'raised by the native'");
  EXPECT_EQ(lua_gettop(GetScriptEngine()->State()), 0);
}

}  // namespace
