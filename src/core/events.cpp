#include "core/events.h"

namespace {
ScriptEventSink* sink = nullptr;
}  // namespace

void SetScriptEventSink(ScriptEventSink* s) { sink = s; }
ScriptEventSink* GetScriptEventSink() { return sink; }

void DispatchPlayerCommand(uint8_t playerId, const char* line) {
  if (sink) sink->DispatchPlayerCommand(playerId, line);
}

void DispatchIRCCommand(uint8_t botId, const char* nick, const char* channel, const char* line) {
  if (sink) sink->DispatchIRCCommand(botId, nick, channel, line);
}
