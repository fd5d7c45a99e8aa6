// The layers above the core as the start-up and the main loop drive them: the
// script host (engine, natives and "Main.lua", timers), the IRC bots and the
// SQL manager.
#pragma once

void CreateScriptEngine();
void CreateTimerPool();
void CreateIrcBotTable();
void CreateSqlManager();
// Registers the natives and runs "Main.lua".
void RunGameModeScript();
// The script timers and the game clock.
void ProcessScriptTimers();
// Each bot's receive, slot 0 first.
void ReceiveIrcBots();
// Discards the script state (the restart); a call that is still running
// finishes on it first.
void DiscardScriptEngine();
// Tears the layers down again (tests).
void DestroyGameModeLayers();
