#include "core/events.h"

namespace {
ScriptEventSink* sink = nullptr;
}  // namespace

void SetScriptEventSink(ScriptEventSink* s) { sink = s; }
ScriptEventSink* GetScriptEventSink() { return sink; }

void CallOnPlayerConnect(uint8_t playerId) {
  if (sink) sink->OnPlayerConnect(playerId);
}

void CallOnPlayerDisconnect(uint8_t playerId, uint8_t reason) {
  if (sink) sink->OnPlayerDisconnect(playerId, reason);
}

void CallOnPlayerSpawn(uint8_t playerId) {
  if (sink) sink->OnPlayerSpawn(playerId);
}

void CallOnPlayerDeath(uint8_t playerId, uint8_t killer, uint8_t reason) {
  if (sink) sink->OnPlayerDeath(playerId, killer, reason);
}

void CallOnPlayerChat(uint8_t playerId, const char* text) {
  if (sink) sink->OnPlayerChat(playerId, text);
}

void CallOnPlayerKeyPress(uint8_t playerId, uint8_t key) {
  if (sink) sink->OnPlayerKeyPress(playerId, key);
}

void CallOnPlayerEnterVehicle(uint8_t playerId, uint32_t vehicleId, uint8_t seat) {
  if (sink) sink->OnPlayerEnterVehicle(playerId, vehicleId, seat);
}

void CallOnPlayerExitVehicle(uint8_t playerId, int16_t vehicleId) {
  if (sink) sink->OnPlayerExitVehicle(playerId, vehicleId);
}

void CallOnPlayerEnterGlobalMarker(uint8_t playerId, uint8_t markerId, uint8_t third) {
  if (sink) sink->OnPlayerEnterGlobalMarker(playerId, markerId, third);
}

void CallOnPlayerExitGlobalMarker(uint8_t playerId, uint8_t markerId, uint8_t third) {
  if (sink) sink->OnPlayerExitGlobalMarker(playerId, markerId, third);
}

void CallOnPlayerEnterLocalMarker(uint8_t playerId, uint8_t markerId, uint8_t third) {
  if (sink) sink->OnPlayerEnterLocalMarker(playerId, markerId, third);
}

void CallOnPlayerExitLocalMarker(uint8_t playerId, uint8_t markerId, uint8_t third) {
  if (sink) sink->OnPlayerExitLocalMarker(playerId, markerId, third);
}

void CallOnPlayerEnterGlobalPickup(uint8_t playerId, uint8_t pickupId) {
  if (sink) sink->OnPlayerEnterGlobalPickup(playerId, pickupId);
}

void CallOnPlayerEnterLocalPickup(uint8_t playerId, uint8_t pickupId) {
  if (sink) sink->OnPlayerEnterLocalPickup(playerId, pickupId);
}

void CallOnPlayerEnterArea(uint8_t playerId, int16_t areaId) {
  if (sink) sink->OnPlayerEnterArea(playerId, areaId);
}

void CallOnPlayerLeaveArea(uint8_t playerId, int16_t areaId) {
  if (sink) sink->OnPlayerLeaveArea(playerId, areaId);
}

void CallOnIRCUserJoin(uint8_t botId, const char* nick, const char* channel) {
  if (sink) sink->OnIRCUserJoin(botId, nick, channel);
}

void CallOnIRCUserLeave(uint8_t botId, const char* nick, const char* channel, uint8_t how) {
  if (sink) sink->OnIRCUserLeave(botId, nick, channel, how);
}

void DispatchPlayerCommand(uint8_t playerId, const char* line) {
  if (sink) sink->DispatchPlayerCommand(playerId, line);
}

void DispatchIRCCommand(uint8_t botId, const char* nick, const char* channel, const char* line) {
  if (sink) sink->DispatchIRCCommand(botId, nick, channel, line);
}
