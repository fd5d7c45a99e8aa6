// The script events: the core and the IRC client raise them through
// core/events.h; while an engine exists this sink is installed there and
// calls the game mode's function of the event's name, if it has one.
#pragma once

#include "core/events.h"

class ScriptEventRaiser final : public ScriptEventSink {
 public:
  void OnPlayerConnect(uint8_t playerId) override;
  void OnPlayerDisconnect(uint8_t playerId, uint8_t reason) override;
  void OnPlayerSpawn(uint8_t playerId) override;
  void OnPlayerDeath(uint8_t playerId, uint8_t killer, uint8_t reason) override;
  void OnPlayerChat(uint8_t playerId, const char* text) override;
  void OnPlayerKeyPress(uint8_t playerId, uint8_t key) override;
  void OnPlayerEnterVehicle(uint8_t playerId, uint32_t vehicleId, uint8_t seat) override;
  void OnPlayerExitVehicle(uint8_t playerId, int16_t vehicleId) override;
  void OnPlayerEnterGlobalMarker(uint8_t playerId, uint8_t markerId, uint8_t third) override;
  void OnPlayerExitGlobalMarker(uint8_t playerId, uint8_t markerId, uint8_t third) override;
  void OnPlayerEnterLocalMarker(uint8_t playerId, uint8_t markerId, uint8_t third) override;
  void OnPlayerExitLocalMarker(uint8_t playerId, uint8_t markerId, uint8_t third) override;
  void OnPlayerEnterGlobalPickup(uint8_t playerId, uint8_t pickupId) override;
  void OnPlayerEnterLocalPickup(uint8_t playerId, uint8_t pickupId) override;
  void OnPlayerEnterArea(uint8_t playerId, int16_t areaId) override;
  void OnPlayerLeaveArea(uint8_t playerId, int16_t areaId) override;
  void OnIRCUserJoin(uint8_t botId, const char* nick, const char* channel) override;
  void OnIRCUserLeave(uint8_t botId, const char* nick, const char* channel, uint8_t how) override;
  void DispatchPlayerCommand(uint8_t playerId, const char* line) override;
  void DispatchIRCCommand(uint8_t botId, const char* nick, const char* channel,
                          const char* line) override;
};

ScriptEventRaiser& GetScriptEventRaiser();
