#include <cerrno>
#include <cstring>
#include <string>

#include "core/areapool.h"
#include "core/ban_file.h"
#include "core/budget.h"
#include "core/clock.h"
#include "core/join.h"
#include "core/log.h"
#include "core/netgame.h"
#include "core/packets.h"
#include "core/query.h"
#include "core/rpc.h"
#include "core/restart_request.h"
#include "core/settings.h"
#include "core/world.h"
#include "server/gamemode.h"
#include "server/server.h"

uint32_t gLastIrcTickMs = 0;

namespace {

// Respawns and script timers count whole milliseconds, and a busy server's
// passes come far more often: a second pass within the same millisecond has
// nothing new to find.
constexpr uint64_t kNoPass = UINT64_MAX;
uint64_t gLastRespawnPassMs = kNoPass;
uint64_t gLastTimerPassMs = kNoPass;

bool FirstPassThisMillisecond(uint64_t& last) {
  const uint32_t now = core::NowMs();
  if (last == now) return false;
  last = now;
  return true;
}

}  // namespace

platform::Handoff& MainLoopHandoff() {
  static platform::Handoff handoff;
  return handoff;
}

bool StartNetwork(const char* bindAddress, const char* password, int passwordLength,
                  uint16_t maxPlayers, uint16_t port) {
  // The bans are in place before the peer accepts anyone.
  BanList::Load();
  errno = 0;  // what the ban file's reading left is no reason for a failed start below
  net::Peer* peer = GetGamePeer();
  if (password) peer->SetIncomingPassword(password, passwordLength);
  peer->SetTimeoutTime(3000, net::UNASSIGNED_SYSTEM_ADDRESS);
  peer->SetJoinDeadline(kJoinDeadlineMs);
  // Player ids are connection indices 0..99, so the peer never admits more
  // than 100 connections whatever the script asked for; the setting itself
  // keeps the script's value for the query reply.
  const uint16_t limit = maxPlayers < kMaxPlayers ? maxPlayers : kMaxPlayers;
  peer->SetMaximumIncomingConnections(limit);
  if (!peer->Startup(limit, 5, port, bindAddress)) {
    const int error = errno;
    LogPrint(1, "[NETWORK] Cannot listen on %s:%u (UDP): %s",
             bindAddress && *bindAddress ? bindAddress : "0.0.0.0", static_cast<unsigned>(port),
             error ? std::strerror(error) : "the network library did not start");
    return false;
  }
  RegisterRPCs(peer);
  return true;
}

void LogStartupBanner() {
  const ServerSettings& s = gServerSettings;
  LogPrint(0,
           "_____________________________________________\n"
           "Quillmere Server [Linux] Started.\n"
           "  - Version: %s\n"
           "  - Port Listener: %i\n"
           "  - Max Players: %d\n"
           "  - Gamemode(s): %s\n"
           "  - Server Name: %s\n"
           "  - Password: %s\n"
           "_____________________________________________\n\n",
           kServerVersion, s.port, s.maxPlayers, s.modeName, s.serverName,
           s.password ? s.password->c_str() : "[N/A]");
}

void SanitizeScriptSettings() {
  ServerSettings& s = gServerSettings;
  if (s.password) SanitizeString(*s.password, true);
  SanitizeString(s.serverName, false);
  SanitizeString(s.modeName, false);
}

bool StartServer(const std::function<void()>& afterScript) {
  platform::IgnoreBrokenPipe();
  LogPrint(1, "Intiating the server...\n");
  WorldLayerHooks hooks;
  hooks.createScriptEngine = CreateScriptEngine;
  hooks.createTimerPool = CreateTimerPool;
  hooks.createIrcBotTable = CreateIrcBotTable;
  hooks.createSqlManager = CreateSqlManager;
  AllocateWorld(hooks);
  SetDefaultServerSettings();
  RunGameModeScript();
  if (afterScript) afterScript();

  SanitizeScriptSettings();
  ServerSettings& s = gServerSettings;
  if (!StartNetwork(s.bindAddress, s.password ? s.password->data() : nullptr,
                    s.password ? static_cast<int>(s.password->size()) : 0, s.maxPlayers, s.port)) {
    return false;
  }
  LogStartupBanner();
  platform::SetConsoleTitle(kConsoleTitle);
  UpdateServerQueryReply();
  if (s.announce) StartMasterList();
  return true;
}

void ProcessServerFrame() {
  ProcessPackets();

  if (core::HasElapsed(core::NowMs(), gLastIrcTickMs, 200)) {
    ReceiveIrcBots();
    BroadcastWorldTime();
    ReportDroppedMessages();
    gLastIrcTickMs = core::NowMs();
  }

  CompleteRestartIfDue();

  if (gAreaPool) gAreaPool->Process();
  VehiclePool* vehicles = GetVehiclePool();
  if (vehicles && (vehicles->reportWaiting || FirstPassThisMillisecond(gLastRespawnPassMs))) {
    vehicles->CheckRespawns();
  }

  if (gServerSettings.announce && core::HasElapsed(core::NowMs(), gLastMasterListMs, 500)) {
    ProcessMasterList();
    gLastMasterListMs = core::NowMs();
  }
}

void RunMainLoopIteration() {
  ProcessServerFrame();
  if (FirstPassThisMillisecond(gLastTimerPassMs)) ProcessScriptTimers();
  // A restart the script asked for runs now that no script call is under way.
  if (TakeRestartRequest()) RestartServer();
  platform::Handoff& handoff = MainLoopHandoff();
  handoff.Signal();
  handoff.Wait();
  // The pass's millisecond of rest ends early when a client's message comes
  // in, so a movement packet waits for the next pass no longer than it must.
  net::Peer* peer = GetGamePeer();
  if (!peer || !peer->IsActive()) {
    platform::SleepMs(1);
  } else {
    peer->WaitForMessage(1);
  }
}

void RunMainLoop() {
  for (;;) RunMainLoopIteration();
}

void StopServerForTesting() {
  if (gNetGame) {
    if (net::Peer* peer = GetGamePeer()) UnregisterRPCs(peer);
    delete gNetGame;
    gNetGame = nullptr;
  }
  DestroyGameModeLayers();
  FreeWorld();
  StopMasterList();
  gLastIrcTickMs = 0;
  gLastRespawnPassMs = kNoPass;
  gLastTimerPassMs = kNoPass;
}
