// A script host without a network: a temporary working directory with a
// "Main.lua", a timer pool and an engine that has run it, torn down at the
// end. Plus helpers that run Lua in the current engine and read its results.
// (The clock is support::TestClock, support/seam.h.)
#pragma once

#include <gtest/gtest.h>
#include <lua.hpp>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

#include "script/engine.h"
#include "script/timers.h"
#include "support/temp_dir.h"

namespace scripttest {

// Runs `chunk` in the current engine's state and returns "error: <text>", or
// every result joined by ",": numbers as %.17g, strings in single quotes,
// nil, true, false ("" for no results).
inline std::string Run(const std::string& chunk) {
  if (!GetScriptEngine()) return "no engine";
  lua_State* L = GetScriptEngine()->State();
  const int top = lua_gettop(L);
  std::string out;
  const bool failed = luaL_loadstring(L, chunk.c_str()) != 0 || lua_pcall(L, 0, LUA_MULTRET, 0) != 0;
  if (failed) out = std::string("error: ") + (lua_isstring(L, -1) ? lua_tostring(L, -1) : "?");
  for (int i = top + 1; !failed && i <= lua_gettop(L); ++i) {
    char number[64];
    std::snprintf(number, sizeof number, "%.17g", lua_tonumber(L, i));
    size_t length = 0;
    const char* text = lua_type(L, i) == LUA_TSTRING ? lua_tolstring(L, i, &length) : nullptr;
    out += (i > top + 1 ? "," : "") +
           (lua_type(L, i) == LUA_TNUMBER ? number
            : text                        ? "'" + std::string(text, length) + "'"
            : lua_isboolean(L, i)         ? (lua_toboolean(L, i) ? "true" : "false")
                                          : luaL_typename(L, i));
  }
  lua_settop(L, top);
  return out;
}

// A statement: its error text, or "" when it ran.
inline std::string RunLua(const std::string& chunk) {
  const std::string out = Run(chunk);
  return out.rfind("error: ", 0) == 0 ? out.substr(7) : "";
}
// The values of an expression (see Run).
inline std::string Eval(const std::string& expression) { return Run("return " + expression); }

// Runs `chunk` with a local eq(want, ...): the values, each through tostring
// and joined by ",", must be the text `want`. Every mismatch fails the test
// with its line in the chunk.
inline void ExpectLua(const std::string& chunk) {
  EXPECT_EQ(Run("local eqFailed = {} local function eq(want, ...) local got = {} for i = 1, select('#', ...) "
                "do got[i] = tostring((select(i, ...))) end got = table.concat(got, ',') if got ~= want then "
                "eqFailed[#eqFailed + 1] = 'line ' .. debug.getinfo(2, 'l').currentline .. ': ' .. got .. "
                "', want ' .. want end end " + chunk + "\nreturn table.concat(eqFailed, '; ')"),
            "''") << chunk;
}

inline size_t CountOccurrences(std::string_view text, std::string_view needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != text.npos; at = text.find(needle, at + needle.size())) count++;
  return count;
}
// How often each needle is in `text`: "n,n,...".
inline std::string CountEach(std::string_view text, std::initializer_list<std::string_view> needles) {
  std::string out;
  for (auto n : needles) out += (out.empty() ? "" : ",") + std::to_string(CountOccurrences(text, n));
  return out;
}

// Timer pool and engine over a temporary working directory.
class ScriptHost {
 public:
  explicit ScriptHost(const std::string& mainLua) : chdir_(dir_.Path()) {
    dir_.Write("Main.lua", mainLua);
    ReplaceTimerPool();
    PublishNewScriptEngine();
    RegisterScriptNatives();
  }
  ~ScriptHost() { DestroyTimerPool(); DestroyScriptEngine(); }

  lua_State* L() const { return GetScriptEngine() ? GetScriptEngine()->State() : nullptr; }
  std::string Log() const { return dir_.Read("server_log.txt").value_or(""); }
  size_t LogCount(std::string_view needle) const { return CountOccurrences(Log(), needle); }
  void Write(const std::string& name, const std::string& contents) const { dir_.Write(name, contents); }

 private:
  support::TempDir dir_;
  support::ScopedChdir chdir_;
};

}  // namespace scripttest
