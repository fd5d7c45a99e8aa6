// The script events and command hand-over, as the core and the IRC client
// raise them. The script host implements ScriptEventSink and installs it; with
// no sink installed (no script state, or a restart pending) every raise does
// nothing.
#pragma once

#include <cstdint>

class ScriptEventSink {
 public:
  virtual ~ScriptEventSink() = default;
  virtual void OnPlayerConnect(uint8_t playerId) = 0;
  virtual void OnPlayerDisconnect(uint8_t playerId, uint8_t reason) = 0;
  virtual void OnPlayerSpawn(uint8_t playerId) = 0;
  virtual void OnPlayerDeath(uint8_t playerId, uint8_t killer, uint8_t reason) = 0;
  virtual void OnPlayerChat(uint8_t playerId, const char* text) = 0;
  virtual void OnPlayerKeyPress(uint8_t playerId, uint8_t key) = 0;
  virtual void OnPlayerEnterVehicle(uint8_t playerId, uint32_t vehicleId, uint8_t seat) = 0;
  virtual void OnPlayerExitVehicle(uint8_t playerId, int16_t vehicleId) = 0;
  virtual void OnPlayerEnterGlobalMarker(uint8_t playerId, uint8_t markerId, uint8_t third) = 0;
  virtual void OnPlayerExitGlobalMarker(uint8_t playerId, uint8_t markerId, uint8_t third) = 0;
  virtual void OnPlayerEnterLocalMarker(uint8_t playerId, uint8_t markerId, uint8_t third) = 0;
  virtual void OnPlayerExitLocalMarker(uint8_t playerId, uint8_t markerId, uint8_t third) = 0;
  virtual void OnPlayerEnterGlobalPickup(uint8_t playerId, uint8_t pickupId) = 0;
  virtual void OnPlayerEnterLocalPickup(uint8_t playerId, uint8_t pickupId) = 0;
  virtual void OnPlayerEnterArea(uint8_t playerId, int16_t areaId) = 0;
  virtual void OnPlayerLeaveArea(uint8_t playerId, int16_t areaId) = 0;
  virtual void OnIRCUserJoin(uint8_t botId, const char* nick, const char* channel) = 0;
  virtual void OnIRCUserLeave(uint8_t botId, const char* nick, const char* channel, uint8_t how) = 0;
  // A player's command line as the client sent it, and an IRC "!" line.
  virtual void DispatchPlayerCommand(uint8_t playerId, const char* line) = 0;
  virtual void DispatchIRCCommand(uint8_t botId, const char* nick, const char* channel,
                                  const char* line) = 0;
};

// The installed sink, or null.
void SetScriptEventSink(ScriptEventSink* sink);
ScriptEventSink* GetScriptEventSink();

// The raising operations: each forwards to the sink when one is installed.
void CallOnPlayerConnect(uint8_t playerId);
void CallOnPlayerDisconnect(uint8_t playerId, uint8_t reason);
void CallOnPlayerSpawn(uint8_t playerId);
void CallOnPlayerDeath(uint8_t playerId, uint8_t killer, uint8_t reason);
void CallOnPlayerChat(uint8_t playerId, const char* text);
void CallOnPlayerKeyPress(uint8_t playerId, uint8_t key);
void CallOnPlayerEnterVehicle(uint8_t playerId, uint32_t vehicleId, uint8_t seat);
void CallOnPlayerExitVehicle(uint8_t playerId, int16_t vehicleId);
void CallOnPlayerEnterGlobalMarker(uint8_t playerId, uint8_t markerId, uint8_t third);
void CallOnPlayerExitGlobalMarker(uint8_t playerId, uint8_t markerId, uint8_t third);
void CallOnPlayerEnterLocalMarker(uint8_t playerId, uint8_t markerId, uint8_t third);
void CallOnPlayerExitLocalMarker(uint8_t playerId, uint8_t markerId, uint8_t third);
void CallOnPlayerEnterGlobalPickup(uint8_t playerId, uint8_t pickupId);
void CallOnPlayerEnterLocalPickup(uint8_t playerId, uint8_t pickupId);
void CallOnPlayerEnterArea(uint8_t playerId, int16_t areaId);
void CallOnPlayerLeaveArea(uint8_t playerId, int16_t areaId);
void CallOnIRCUserJoin(uint8_t botId, const char* nick, const char* channel);
void CallOnIRCUserLeave(uint8_t botId, const char* nick, const char* channel, uint8_t how);
void DispatchPlayerCommand(uint8_t playerId, const char* line);
void DispatchIRCCommand(uint8_t botId, const char* nick, const char* channel, const char* line);
