// Natives of the camera, sounds and screen effects. The server keeps nothing
// of them: each checks its arguments and tells the client(s), which carry the
// effect out.

#include "core/rpc.h"
#include "script/native_list.h"
#include "script/natives.h"

namespace {

inline constexpr size_t kMaxWaveNameLength = 15;

// A flag the clients take as 0 or 1: cut to a byte first, then clamped.
uint8_t Flag(lua_State* L, int index) {
  const uint8_t flag = script::ArgU8(L, index);
  return flag > 1 ? 1 : flag;
}

// The wave name at `index` and its length; false unless it has 1..15
// characters.
bool WaveName(lua_State* L, int index, const char** name, size_t* length) {
  size_t n = 0;
  const char* text = script::ArgText(L, index, &n);
  if (!text) return false;
  if (n < 1 || n > kMaxWaveNameLength) return false;
  *name = text;
  *length = n;
  return true;
}

// The screen-effect toggles differ only in the call's name.
int ToggleEffect(lua_State* L, const char* rpcName) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  Rpc(rpcName).u8(script::ArgU8(L, 2)).ToPlayer(player);
  return 0;
}

// Explosions travel with the script's own 64-bit numbers.
Rpc& Explosion(Rpc& rpc, lua_State* L, int first) {
  net::BitStream& s = rpc.Stream();
  s.Write(script::ArgNumber(L, first));
  s.Write(script::ArgNumber(L, first + 1));
  s.Write(script::ArgNumber(L, first + 2));
  return rpc.u8(script::ArgU8(L, first + 3));
}

}  // namespace

namespace natives {

// --- screen effects ---

int TogglePlayerDrunk(lua_State* L) { return ToggleEffect(L, "TogglePlayerDrunk"); }
int TogglePlayerCameraInterface(lua_State* L) {
  return ToggleEffect(L, "TogglePlayerCamInterface");
}
int TogglePlayerBlackLines(lua_State* L) { return ToggleEffect(L, "TogglePlayerBlackLines"); }
int TogglePlayerScanlines(lua_State* L) { return ToggleEffect(L, "TogglePlayerScanLines"); }

// --- camera ---

int RestorePlayerCamera(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (script::IsPlayer(player)) Rpc("RestorePlayerCamera").ToPlayer(player);
  return 0;
}

int SetCameraBehindPlayer(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (script::IsPlayer(player)) Rpc("SetCameraBehindPlayer").ToPlayer(player);
  return 0;
}

int SetPlayerCameraPos(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  Rpc("SetPlayerCameraPos")
      .vec3(script::ArgFloat(L, 2), script::ArgFloat(L, 3), script::ArgFloat(L, 4))
      .ToPlayer(player);
  return 0;
}

int SetPlayerCameraLookAt(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  Rpc("SetPlayerCameraLookAt")
      .vec3(script::ArgFloat(L, 2), script::ArgFloat(L, 3), script::ArgFloat(L, 4))
      .c8(Flag(L, 5))
      .ToPlayer(player);
  return 0;
}

int FadePlayerCamera(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  Rpc("FadePlayerCamera")
      .c8(script::ArgU8(L, 2))
      .c8(script::ArgU8(L, 3))
      .c8(script::ArgU8(L, 4))
      .c16(script::ArgU16(L, 5))
      .c8(Flag(L, 6))
      .ToPlayer(player);
  return 0;
}

int ShakePlayerCamera(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  Rpc("ShakePlayerCamera").c16(script::ArgU16(L, 2)).ToPlayer(player);
  return 0;
}

// --- sounds ---

int PlayWaveForAll(lua_State* L) {
  const char* name = nullptr;
  size_t length = 0;
  if (!WaveName(L, 1, &name, &length)) return 0;
  Rpc("PlayWaveForPlayer").c8(static_cast<uint8_t>(length)).chars(name, length).ToAll();
  return 0;
}

int PlayWaveForPlayer(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  const char* name = nullptr;
  size_t length = 0;
  if (!WaveName(L, 2, &name, &length) || !script::IsPlayer(player)) return 0;
  Rpc("PlayWaveForPlayer").c8(static_cast<uint8_t>(length)).chars(name, length).ToPlayer(player);
  return 0;
}

int PlayWaveForAllAtPos(lua_State* L) {
  const char* name = nullptr;
  size_t length = 0;
  if (!WaveName(L, 1, &name, &length)) return 0;
  Rpc("PlayWaveForPlayerAtPos")
      .c8(static_cast<uint8_t>(length))
      .chars(name, length)
      .vec3(script::ArgFloat(L, 2), script::ArgFloat(L, 3), script::ArgFloat(L, 4))
      .ToAll();
  return 0;
}

int PlayWaveForPlayerAtPos(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  const char* name = nullptr;
  size_t length = 0;
  if (!WaveName(L, 2, &name, &length) || !script::IsPlayer(player)) return 0;
  Rpc("PlayWaveForPlayerAtPos")
      .c8(static_cast<uint8_t>(length))
      .chars(name, length)
      .vec3(script::ArgFloat(L, 3), script::ArgFloat(L, 4), script::ArgFloat(L, 5))
      .ToPlayer(player);
  return 0;
}

int PlaySoundForPlayer(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  Rpc("PlaySoundForPlayer")
      .c16(script::ArgU16(L, 2))
      .f32(script::ArgFloat(L, 3))
      .f32(script::ArgFloat(L, 4))
      .f32(script::ArgFloat(L, 5))
      .ToPlayer(player);
  return 0;
}

// --- explosions ---

int CreateExplosion(lua_State* L) {
  Rpc rpc("CreatePlayerExplosion");
  Explosion(rpc, L, 1).ToAll();
  return 0;
}

int CreatePlayerExplosion(lua_State* L) {
  const uint8_t player = script::ArgU8(L, 1);
  if (!script::IsPlayer(player)) return 0;
  Rpc rpc("CreatePlayerExplosion");
  Explosion(rpc, L, 2).ToPlayer(player);
  return 0;
}

}  // namespace natives
