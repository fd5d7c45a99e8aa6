// The machinery every native and script-library function shares: the
// argument-count rule and what a wrong count returns, the boundary that keeps
// C++ exceptions out of Lua, the argument readers and the player and vehicle
// guards. A native body is then a few lines:
//
//   int SetPlayerHealth(lua_State* L) {
//     const uint8_t player = script::ArgU8(L, 1);
//     if (!script::IsPlayer(player)) return 0;
//     Rpc("SetPlayerHealth").f32(script::ArgFloat(L, 2)).ToPlayer(player);
//     return 0;
//   }
//
// and its row in native_list.h says how many arguments it takes: the count is
// checked before the body runs.
#pragma once

#include <lua.hpp>

#include <climits>
#include <cstddef>
#include <cstdint>

// How many arguments a native accepts.
struct ArgCount {
  int min;
  int max;
  constexpr bool Accepts(int n) const { return n >= min && n <= max; }
};
constexpr ArgCount Exactly(int n) { return {n, n}; }
constexpr ArgCount Between(int low, int high) { return {low, high}; }
constexpr ArgCount AtLeast(int n) { return {n, INT_MAX}; }
inline constexpr ArgCount kAnyCount{0, INT_MAX};

// What a native returns when the argument count is wrong.
enum class WrongCount : uint8_t {
  kNothing,         // no results (the common rule)
  kMinusOne,        // the number -1
  kZero,            // the number 0
  kZeroZero,        // the numbers 0, 0
  kZeroZeroZero,    // the numbers 0, 0, 0
  kOne,             // the number 1
  kTwoFiftyFive,    // the number 255
  kNil,             // nil
  kFalse,           // false
};

// Pushes the results of a wrong argument count; returns their number.
int PushWrongCountResult(lua_State* L, WrongCount result);

// A native as Lua calls it: checks the argument count, then runs the body. A
// C++ exception from the body ends the call with no results; Lua's own error
// unwinding (a thrown pointer in the C++ build of Lua) passes through.
template <lua_CFunction Body, ArgCount Count, WrongCount Wrong>
int GuardedNative(lua_State* L) {
  const int top = lua_gettop(L);
  if (!Count.Accepts(top)) return PushWrongCountResult(L, Wrong);
  try {
    return Body(L);
  } catch (void*) {
    throw;
  } catch (...) {
    lua_settop(L, top);
    return 0;
  }
}

struct NativeDescriptor {
  const char* name;
  lua_CFunction function;  // as registered: count check and exception boundary included
  ArgCount count;
  WrongCount onWrongCount;
};

template <lua_CFunction Body, ArgCount Count, WrongCount Wrong = WrongCount::kNothing>
constexpr NativeDescriptor Native(const char* name) {
  return {name, &GuardedNative<Body, Count, Wrong>, Count, Wrong};
}

// The same wrapper for the entries of a script library (luaL_Reg lists).
template <lua_CFunction Body, ArgCount Count, WrongCount Wrong = WrongCount::kNothing>
constexpr luaL_Reg LibraryFunction(const char* name) {
  return {name, &GuardedNative<Body, Count, Wrong>};
}

inline constexpr int kNativeCount = 209;
// Every row of native_list.h, in its order (the definition asserts the count).
extern const NativeDescriptor kNatives[];

// Stores every native as a global of its name, in table order.
void RegisterNatives(lua_State* L);

namespace script {

// A Lua number as a signed 32-bit integer: truncated toward zero; NaN and
// values outside the range become INT32_MIN (what the hardware conversion
// gives, so scripts see the same ids as on the original platform).
int32_t ToInt32(double value);
// The same to 64 bits (NaN and out of range: INT64_MIN).
int64_t ToInt64(double value);

// Argument readers (index 1 is the first argument). A number argument is
// lua_tonumber's value: a numeric string counts, anything else is 0.
double ArgNumber(lua_State* L, int index);
int32_t ArgInt(lua_State* L, int index);
// The low bits of ArgInt: player and marker ids, bytes, colours.
inline uint8_t ArgU8(lua_State* L, int index) { return static_cast<uint8_t>(ArgInt(L, index)); }
// Object, static actor and icon ids.
inline uint16_t ArgU16(lua_State* L, int index) { return static_cast<uint16_t>(ArgInt(L, index)); }
// Vehicle ids: the whole 32 bits.
inline uint32_t ArgU32(lua_State* L, int index) { return static_cast<uint32_t>(ArgInt(L, index)); }
// Truncated to 64 bits and the low 32 taken as unsigned (intervals, counts,
// delays).
uint32_t ArgU32Via64(lua_State* L, int index);
float ArgFloat(lua_State* L, int index);
// A string as it is, a number as its text, anything else null. `length`
// (optional) receives the text's length up to its first NUL, where every
// text argument ends.
const char* ArgText(lua_State* L, int index, size_t* length = nullptr);
// nil and false are false, everything else (0 included) true.
bool ArgBool(lua_State* L, int index);

// Pushes one number as the native's result; returns the result count (1).
inline int PushNumber(lua_State* L, double value) {
  lua_pushnumber(L, value);
  return 1;
}

// The player guard: an id 0..99 whose slot is in use.
bool IsPlayer(int playerId);
// The vehicle guard: an id 1..499 (as unsigned) whose vehicle exists.
bool IsVehicle(uint32_t vehicleId);

}  // namespace script
