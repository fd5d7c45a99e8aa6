#include "script/events.h"

#include "script/commands.h"
#include "script/engine.h"

ScriptEventRaiser& GetScriptEventRaiser() {
  static ScriptEventRaiser raiser;
  return raiser;
}

void ScriptEventRaiser::Raise(const ScriptEvent& event) {
  ScriptEngine* engine = GetScriptEngine();
  if (!engine) return;
  const ScriptEventRow& row = RowOf(event.kind);
  ScriptArg args[kMaxScriptEventArgs];
  size_t count = 0;
  for (; row.layout[count]; ++count) {
    const ScriptEventArg& arg = event.args[count];
    args[count] = row.layout[count] == 't' ? ScriptArg::Text(arg.text ? arg.text : "")
                                           : ScriptArg::Number(static_cast<double>(arg.number));
  }
  CallScriptFunction(*engine, row.name, args, count, CallLabel{"event", row.name});
}

void ScriptEventRaiser::DispatchPlayerCommand(uint8_t playerId, const char* line) {
  script::DispatchPlayerCommand(line, playerId);
}

void ScriptEventRaiser::DispatchIRCCommand(uint8_t botId, const char* nick, const char* channel,
                                           const char* line) {
  script::DispatchIRCCommand(line, nick);
}
