// A script-event sink that ignores everything: test sinks derive from it and
// override only the events they record.
#pragma once

#include "core/events.h"

class NullEventSink : public ScriptEventSink {
 public:
  void OnPlayerConnect(uint8_t) override {}
  void OnPlayerDisconnect(uint8_t, uint8_t) override {}
  void OnPlayerSpawn(uint8_t) override {}
  void OnPlayerDeath(uint8_t, uint8_t, uint8_t) override {}
  void OnPlayerChat(uint8_t, const char*) override {}
  void OnPlayerKeyPress(uint8_t, uint8_t) override {}
  void OnPlayerEnterVehicle(uint8_t, uint32_t, uint8_t) override {}
  void OnPlayerExitVehicle(uint8_t, int16_t) override {}
  void OnPlayerEnterGlobalMarker(uint8_t, uint8_t, uint8_t) override {}
  void OnPlayerExitGlobalMarker(uint8_t, uint8_t, uint8_t) override {}
  void OnPlayerEnterLocalMarker(uint8_t, uint8_t, uint8_t) override {}
  void OnPlayerExitLocalMarker(uint8_t, uint8_t, uint8_t) override {}
  void OnPlayerEnterGlobalPickup(uint8_t, uint8_t) override {}
  void OnPlayerEnterLocalPickup(uint8_t, uint8_t) override {}
  void OnPlayerEnterArea(uint8_t, int16_t) override {}
  void OnPlayerLeaveArea(uint8_t, int16_t) override {}
  void OnIRCUserJoin(uint8_t, const char*, const char*) override {}
  void OnIRCUserLeave(uint8_t, const char*, const char*, uint8_t) override {}
  void DispatchPlayerCommand(uint8_t, const char*) override {}
  void DispatchIRCCommand(uint8_t, const char*, const char*, const char*) override {}
};
