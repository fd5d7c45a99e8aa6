#include "script/natives.h"

#include <cmath>
#include <cstring>

#include "core/netgame.h"
#include "core/playerpool.h"
#include "core/vehiclepool.h"

int PushWrongCountResult(lua_State* L, WrongCount result) {
  switch (result) {
    case WrongCount::kNothing:
      return 0;
    case WrongCount::kMinusOne:
      lua_pushnumber(L, -1);
      return 1;
    case WrongCount::kZero:
      lua_pushnumber(L, 0);
      return 1;
    case WrongCount::kZeroZero:
      lua_pushnumber(L, 0);
      lua_pushnumber(L, 0);
      return 2;
    case WrongCount::kZeroZeroZero:
      lua_pushnumber(L, 0);
      lua_pushnumber(L, 0);
      lua_pushnumber(L, 0);
      return 3;
    case WrongCount::kOne:
      lua_pushnumber(L, 1);
      return 1;
    case WrongCount::kTwoFiftyFive:
      lua_pushnumber(L, 255);
      return 1;
    case WrongCount::kNil:
      lua_pushnil(L);
      return 1;
    case WrongCount::kFalse:
      lua_pushboolean(L, 0);
      return 1;
  }
  return 0;
}

namespace script {

int32_t ToInt32(double value) {
  // Written as "inside the range" so that NaN fails the test too. Fractions
  // just beyond either end truncate into the range.
  if (value > -2147483649.0 && value < 2147483648.0) return static_cast<int32_t>(value);
  return INT32_MIN;
}

int64_t ToInt64(double value) {
  if (value >= -9223372036854775808.0 && value < 9223372036854775808.0) {
    return static_cast<int64_t>(value);
  }
  return INT64_MIN;
}

double ArgNumber(lua_State* L, int index) { return lua_tonumber(L, index); }

int32_t ArgInt(lua_State* L, int index) { return ToInt32(lua_tonumber(L, index)); }

uint32_t ArgU32Via64(lua_State* L, int index) {
  return static_cast<uint32_t>(static_cast<uint64_t>(ToInt64(lua_tonumber(L, index))));
}

float ArgFloat(lua_State* L, int index) { return static_cast<float>(lua_tonumber(L, index)); }

const char* ArgText(lua_State* L, int index, size_t* length) {
  const int type = lua_type(L, index);
  if (type != LUA_TSTRING && type != LUA_TNUMBER) {
    if (length) *length = 0;
    return nullptr;
  }
  size_t n = 0;
  const char* text = lua_tolstring(L, index, &n);
  // A text ends at its first NUL, for every native alike: the rest of a Lua
  // string would otherwise reach a client, a log line or the database.
  if (length) *length = text ? strnlen(text, n) : 0;
  return text;
}

bool ArgBool(lua_State* L, int index) { return lua_toboolean(L, index) != 0; }

bool IsPlayer(int playerId) {
  const PlayerPool* pool = GetPlayerPool();
  return pool && pool->IsInUse(playerId);
}

bool IsVehicle(uint32_t vehicleId) {
  const VehiclePool* vehicles = GetVehiclePool();
  return vehicles && vehicles->Exists(vehicleId);
}

}  // namespace script
