#include "server/gamemode.h"

#include "script/engine.h"
#include "script/timers.h"

// The IRC and SQL layers join here as they land.
void CreateScriptEngine() { PublishNewScriptEngine(); }
void CreateTimerPool() { ReplaceTimerPool(); }
void CreateIrcBotTable() {}
void CreateSqlManager() {}
void RunGameModeScript() { RegisterScriptNatives(); }
void DiscardScriptEngine() { DestroyScriptEngine(); }

void ProcessScriptTimers() {
  if (TimerPool* pool = GetTimerPool()) pool->Process();
}

void ReceiveIrcBots() {}

void DestroyGameModeLayers() {
  DestroyTimerPool();
  DestroyScriptEngine();
}
