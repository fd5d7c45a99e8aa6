#include "server/gamemode.h"

#include "irc/bot.h"
#include "script/engine.h"
#include "script/timers.h"
#include "sql/sqlmanager.h"

void CreateScriptEngine() { PublishNewScriptEngine(); }
void CreateTimerPool() { ReplaceTimerPool(); }
void CreateIrcBotTable() { ReplaceIrcBotTable(); }
void CreateSqlManager() { ReplaceSqlManager(); }
void RunGameModeScript() { RegisterScriptNatives(); }
void DiscardScriptEngine() { DestroyScriptEngine(); }

void ProcessScriptTimers() {
  if (TimerPool* pool = GetTimerPool()) pool->Process();
}

void ReceiveIrcBots() {
  if (IrcBotTable* table = GetIrcBotTable()) table->ReceiveAll();
}

void DestroyGameModeLayers() {
  DestroyIrcBotTable();
  DestroySqlManager();
  DestroyTimerPool();
  DestroyScriptEngine();
}
