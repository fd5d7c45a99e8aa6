#include "core/ban_file.h"
#include "core/clock.h"
#include "core/log.h"
#include "core/netgame.h"
#include "core/query.h"
#include "core/rpc.h"
#include "core/settings.h"
#include "core/world.h"
#include "server/gamemode.h"
#include "server/server.h"

void RestartServer() {
  if (!gNetGame || gNetGame->restartPending) return;
  LogPrint(1, "[RESTART] Initiating the server restart procedure...");
  LogPrint(1, "[RESTART] Disconnecting all players...");
  Rpc("Internal_RestartTheGame").ToAll();
  platform::SleepMs(500);
  LogPrint(1, "[RESTART] Internally restarting the server...");
  ResetGlobalPools();
  LogPrint(1, "[RESTART] Success!  Reinitiating the script... (may take serveral seconds).");
  gNetGame->restartPending = 1;
  gNetGame->restartStartMs = core::NowMs();
}

void ResetGlobalPools() {
  // The same order as at start-up; the script engine is not re-made here but
  // discarded by ResetNetGame, and the NetGame itself survives.
  WorldLayerHooks hooks;
  hooks.createTimerPool = CreateTimerPool;
  hooks.createIrcBotTable = CreateIrcBotTable;
  hooks.createSqlManager = CreateSqlManager;
  AllocateWorld(hooks);
  ResetNetGame();
}

void ResetNetGame() {
  NetGame* game = gNetGame;
  UnregisterRPCs(game->gamePeer);
  RegisterRPCs(game->gamePeer);
  if (game->playerPool) {
    DisconnectAllPlayers();
    delete game->playerPool;
  }
  game->playerPool = new PlayerPool();
  if (game->vehiclePool) {
    game->vehiclePool->DeleteAll();
    delete game->vehiclePool;
  }
  game->vehiclePool = new VehiclePool();
  DiscardScriptEngine();
  UpdateServerQueryReply();
}

void CompleteRestartIfDue() {
  if (!gNetGame || !gNetGame->restartPending) return;
  if (!core::HasElapsed(core::NowMs(), gNetGame->restartStartMs, 5000)) return;
  BanList::Load();
  SetDefaultServerSettings();
  CreateScriptEngine();
  RunGameModeScript();
  SanitizeScriptSettings();
  // The running network keeps its port, limit and password: only
  // "setServerPassword" changes what it demands, so a game mode that fails or
  // no longer sets one does not open a passworded server. The query reply
  // says what the network demands.
  UpdateServerQueryReply();
  gNetGame->restartPending = 0;
  gNetGame->restartStartMs = 0;
  LogPrint(1, "[RESTART] Success!  Players can now re-connect to the server.");
}
