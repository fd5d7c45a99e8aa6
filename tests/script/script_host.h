// A script host without a network: a temporary working directory with a
// "Main.lua", a timer pool and an engine that has run it, torn down at the
// end. Plus helpers that run Lua in the current engine and read its results.
// (The clock is support::TestClock, support/seam.h.)
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <lua.hpp>
#include <string>
#include <string_view>

#include "script/engine.h"
#include "script/timers.h"
#include "support/count.h"
#include "support/temp_dir.h"

namespace scripttest {

// One value on the Lua stack as Run shows it.
inline std::string ShowValue(lua_State* L, int i) {
  if (lua_type(L, i) == LUA_TNUMBER) {
    char number[64];
    std::snprintf(number, sizeof number, "%.17g", lua_tonumber(L, i));
    return number;
  }
  if (lua_type(L, i) == LUA_TSTRING) {
    size_t length = 0;
    const char* text = lua_tolstring(L, i, &length);
    return "'" + std::string(text, length) + "'";
  }
  if (lua_isboolean(L, i)) return lua_toboolean(L, i) ? "true" : "false";
  return luaL_typename(L, i);
}

// Runs `chunk` in the current engine's state and returns "error: <text>", or
// every result joined by ",": numbers as %.17g, strings in single quotes,
// nil, true, false ("" for no results).
inline std::string Run(const std::string& chunk) {
  if (!GetScriptEngine()) return "no engine";
  lua_State* L = GetScriptEngine()->State();
  const int top = lua_gettop(L);
  std::string out;
  bool failed = luaL_loadstring(L, chunk.c_str()) != 0;
  if (!failed) failed = lua_pcall(L, 0, LUA_MULTRET, 0) != 0;
  if (failed) {
    out = "error: ";
    out += lua_isstring(L, -1) ? lua_tostring(L, -1) : "?";
  } else {
    for (int i = top + 1; i <= lua_gettop(L); ++i) {
      if (i > top + 1) out += ",";
      out += ShowValue(L, i);
    }
  }
  lua_settop(L, top);
  return out;
}

// A statement: its error text, or "" when it ran.
inline std::string RunLua(const std::string& chunk) {
  const std::string out = Run(chunk);
  if (out.rfind("error: ", 0) != 0) return "";
  return out.substr(7);
}
// The values of an expression (see Run).
inline std::string Eval(const std::string& expression) { return Run("return " + expression); }

// Runs `chunk` with a local eq(want, ...): the values, each through tostring
// and joined by ",", must be the text `want`. Every mismatch fails the test
// with its line in the chunk. (The helpers stay on the chunk's first line so
// that the line numbers are the chunk's own.)
inline void ExpectLua(const std::string& chunk) {
  const std::string eq =
      "local eqFailed = {} "
      "local function eq(want, ...) "
      "local got = {} "
      "for i = 1, select('#', ...) do got[i] = tostring((select(i, ...))) end "
      "got = table.concat(got, ',') "
      "if got ~= want then "
      "eqFailed[#eqFailed + 1] = "
      "'line ' .. debug.getinfo(2, 'l').currentline .. ': ' .. got .. ', want ' .. want "
      "end "
      "end ";
  const std::string failures = Run(eq + chunk + "\nreturn table.concat(eqFailed, '; ')");
  EXPECT_EQ(failures, "''") << chunk;
}

using support::CountOccurrences;

// Timer pool and engine over a temporary working directory.
class ScriptHost {
 public:
  explicit ScriptHost(const std::string& mainLua) : chdir_(dir_.Path()) {
    dir_.Write("Main.lua", mainLua);
    ReplaceTimerPool();
    PublishNewScriptEngine();
    RegisterScriptNatives();
  }
  ~ScriptHost() {
    DestroyTimerPool();
    DestroyScriptEngine();
  }

  lua_State* L() const { return GetScriptEngine() ? GetScriptEngine()->State() : nullptr; }
  std::string Log() const { return dir_.Read("server_log.txt").value_or(""); }
  size_t LogCount(std::string_view needle) const { return CountOccurrences(Log(), needle); }
  void Write(const std::string& name, const std::string& contents) const {
    dir_.Write(name, contents);
  }

 private:
  support::TempDir dir_;
  support::ScopedChdir chdir_;
};

}  // namespace scripttest
