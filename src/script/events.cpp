#include "script/events.h"

#include <initializer_list>

#include "script/commands.h"
#include "script/engine.h"

namespace {

ScriptArg Num(double value) { return ScriptArg::Number(value); }
// A missing text reaches the script as the empty string.
ScriptArg Text(const char* text) { return ScriptArg::Text(text ? text : ""); }

void Raise(const char* event, std::initializer_list<ScriptArg> args) {
  ScriptEngine* engine = GetScriptEngine();
  if (!engine) return;
  CallScriptFunction(*engine, event, args.begin(), args.size(), CallLabel{"event", event});
}

}  // namespace

ScriptEventRaiser& GetScriptEventRaiser() {
  static ScriptEventRaiser raiser;
  return raiser;
}

void ScriptEventRaiser::OnPlayerConnect(uint8_t playerId) {
  Raise("onPlayerConnect", {Num(playerId)});
}

void ScriptEventRaiser::OnPlayerDisconnect(uint8_t playerId, uint8_t reason) {
  Raise("onPlayerDisconnect", {Num(playerId), Num(reason)});
}

void ScriptEventRaiser::OnPlayerSpawn(uint8_t playerId) {
  Raise("onPlayerSpawn", {Num(playerId)});
}

void ScriptEventRaiser::OnPlayerDeath(uint8_t playerId, uint8_t killer, uint8_t reason) {
  Raise("onPlayerDeath", {Num(playerId), Num(killer), Num(reason)});
}

void ScriptEventRaiser::OnPlayerChat(uint8_t playerId, const char* text) {
  Raise("onPlayerChat", {Num(playerId), Text(text)});
}

void ScriptEventRaiser::OnPlayerKeyPress(uint8_t playerId, uint8_t key) {
  Raise("onPlayerKeyPress", {Num(playerId), Num(key)});
}

void ScriptEventRaiser::OnPlayerEnterVehicle(uint8_t playerId, uint32_t vehicleId, uint8_t seat) {
  Raise("onPlayerEnterVehicle", {Num(playerId), Num(vehicleId), Num(seat)});
}

void ScriptEventRaiser::OnPlayerExitVehicle(uint8_t playerId, int16_t vehicleId) {
  Raise("onPlayerExitVehicle", {Num(playerId), Num(vehicleId)});
}

void ScriptEventRaiser::OnPlayerEnterGlobalMarker(uint8_t playerId, uint8_t markerId,
                                                  uint8_t third) {
  Raise("onPlayerEnterGlobalMarker", {Num(playerId), Num(markerId), Num(third)});
}

void ScriptEventRaiser::OnPlayerExitGlobalMarker(uint8_t playerId, uint8_t markerId,
                                                 uint8_t third) {
  Raise("onPlayerExitGlobalMarker", {Num(playerId), Num(markerId), Num(third)});
}

void ScriptEventRaiser::OnPlayerEnterLocalMarker(uint8_t playerId, uint8_t markerId,
                                                 uint8_t third) {
  Raise("onPlayerEnterLocalMarker", {Num(playerId), Num(markerId), Num(third)});
}

void ScriptEventRaiser::OnPlayerExitLocalMarker(uint8_t playerId, uint8_t markerId,
                                                uint8_t third) {
  Raise("onPlayerExitLocalMarker", {Num(playerId), Num(markerId), Num(third)});
}

void ScriptEventRaiser::OnPlayerEnterGlobalPickup(uint8_t playerId, uint8_t pickupId) {
  Raise("onPlayerEnterGlobalPickup", {Num(playerId), Num(pickupId)});
}

void ScriptEventRaiser::OnPlayerEnterLocalPickup(uint8_t playerId, uint8_t pickupId) {
  Raise("onPlayerEnterLocalPickup", {Num(playerId), Num(pickupId)});
}

void ScriptEventRaiser::OnPlayerEnterArea(uint8_t playerId, int16_t areaId) {
  Raise("onPlayerEnterArea", {Num(playerId), Num(areaId)});
}

void ScriptEventRaiser::OnPlayerLeaveArea(uint8_t playerId, int16_t areaId) {
  Raise("onPlayerLeaveArea", {Num(playerId), Num(areaId)});
}

void ScriptEventRaiser::OnIRCUserJoin(uint8_t botId, const char* nick, const char* channel) {
  Raise("onIRCUserJoin", {Num(botId), Text(nick), Text(channel)});
}

void ScriptEventRaiser::OnIRCUserLeave(uint8_t botId, const char* nick, const char* channel,
                                       uint8_t how) {
  Raise("onIRCUserLeave", {Num(botId), Text(nick), Text(channel), Num(how)});
}

void ScriptEventRaiser::DispatchPlayerCommand(uint8_t playerId, const char* line) {
  script::DispatchPlayerCommand(line, playerId);
}

void ScriptEventRaiser::DispatchIRCCommand(uint8_t botId, const char* nick, const char* channel,
                                           const char* line) {
  script::DispatchIRCCommand(line, nick);
}
