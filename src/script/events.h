// The script events: the core and the IRC client raise them through
// core/events.h; while an engine exists this sink is installed there and
// calls the game mode's function of the event's name, if it has one.
#pragma once

#include "core/events.h"

class ScriptEventRaiser final : public ScriptEventSink {
 public:
  void Raise(const ScriptEvent& event) override;
  void DispatchPlayerCommand(uint8_t playerId, const char* line) override;
  void DispatchIRCCommand(uint8_t botId, const char* nick, const char* channel,
                          const char* line) override;
};

ScriptEventRaiser& GetScriptEventRaiser();
