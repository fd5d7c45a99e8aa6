#include "core/netgame.h"

#include "core/clientcalls.h"
#include "core/clock.h"
#include "core/rpc.h"

uint32_t gLastMasterListMs = 0;

NetGame::NetGame() {
  playerPool = new PlayerPool();
  vehiclePool = new VehiclePool();
  gLastMasterListMs = core::NowMs();
  creationMs = core::NowMs();
  gamePeer = new net::Peer();
  restartPending = 0;
  restartStartMs = 0;
}

net::Peer* GetGamePeer() { return gNetGame ? gNetGame->gamePeer : nullptr; }

NetGame::~NetGame() {
  delete gamePeer;
  delete vehiclePool;
  delete playerPool;
}

// clang-format off
const ClientRpc kClientRpcs[kClientRpcCount] = {
    {"ClientJoin",                HandleClientJoin,        false, kNoBudget},
    {"NewSpawn",                  HandleNewSpawn,          true,  kBudgetSpawn},
    {"CommandSend",               HandleCommandSend,       true,  kBudgetCommand},
    {"PlayerDeath",               HandlePlayerDeath,       true,  kBudgetDeath},
    {"PlayerChat",                HandlePlayerChat,        true,  kBudgetChat},
    {"OnPlayerEnterGlobalPickup", HandleEnterGlobalPickup, true,  kBudgetEnterGlobalPickup},
    {"OnPlayerEnterLocalPickup",  HandleEnterLocalPickup,  true,  kBudgetEnterLocalPickup},
    {"OnPlayerEnterGlobalMarker", HandleEnterGlobalMarker, true,  kBudgetEnterGlobalMarker},
    {"OnPlayerExitGlobalMarker",  HandleExitGlobalMarker,  true,  kBudgetExitGlobalMarker},
    {"OnPlayerEnterLocalMarker",  HandleEnterLocalMarker,  true,  kBudgetEnterLocalMarker},
    {"OnPlayerExitLocalMarker",   HandleExitLocalMarker,   true,  kBudgetExitLocalMarker},
    {"OnPlayerEnterVehicle",      HandleEnterVehicle,      true,  kBudgetEnterVehicle},
    {"OnPlayerExitVehicle",       HandleExitVehicle,       true,  kBudgetExitVehicle},
    {"OnPlayerKeyPress",          HandleKeyPress,          true,  kBudgetKeyPress},
    {"SendVehicleEntry",          HandleSendVehicleEntry,  true,  kBudgetVehicleEntry},
    {"VehicleDeath",              HandleVehicleDeath,      true,  kBudgetVehicleDeath},
};
// clang-format on

int GetJoinedSender(const net::RPCParameters* params) {
  net::Peer* peer = GetGamePeer();
  PlayerPool* pool = GetPlayerPool();
  if (!peer || !pool || !params) return -1;
  const int index = peer->GetIndexFromSystemAddress(params->sender);
  return pool->IsInUse(index) ? index : -1;
}

void RegisterRPCs(net::Peer* peer) {
  for (const ClientRpc& rpc : kClientRpcs) {
    const ClientRpc* entry = &rpc;
    peer->RegisterAsRemoteProcedureCall(rpc.name, [entry](net::RPCParameters* params) {
      // Calls that act for a player are dropped unless their sender has joined,
      // and before they are read when they are beyond the sender's budget.
      if (entry->senderMustBeJoined) {
        const int sender = GetJoinedSender(params);
        if (sender < 0 ||
            !AdmitMessage(sender, entry->budget, params->receivedMs, params->reliable)) {
          return;
        }
      }
      entry->handler(params);
    });
  }
}

void UnregisterRPCs(net::Peer* peer) {
  for (const ClientRpc& rpc : kClientRpcs) peer->UnregisterAsRemoteProcedureCall(rpc.name);
}
