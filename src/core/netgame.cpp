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

const ClientRpc kClientRpcs[kClientRpcCount] = {
    {"ClientJoin", HandleClientJoin, false},
    {"NewSpawn", HandleNewSpawn, true},
    {"CommandSend", HandleCommandSend, true},
    {"PlayerDeath", HandlePlayerDeath, true},
    {"PlayerChat", HandlePlayerChat, true},
    {"OnPlayerEnterGlobalPickup", HandleEnterGlobalPickup, true},
    {"OnPlayerEnterLocalPickup", HandleEnterLocalPickup, true},
    {"OnPlayerEnterGlobalMarker", HandleEnterGlobalMarker, true},
    {"OnPlayerExitGlobalMarker", HandleExitGlobalMarker, true},
    {"OnPlayerEnterLocalMarker", HandleEnterLocalMarker, true},
    {"OnPlayerExitLocalMarker", HandleExitLocalMarker, true},
    {"OnPlayerEnterVehicle", HandleEnterVehicle, true},
    {"OnPlayerExitVehicle", HandleExitVehicle, true},
    {"OnPlayerKeyPress", HandleKeyPress, true},
    {"SendVehicleEntry", HandleSendVehicleEntry, true},
    {"VehicleDeath", HandleVehicleDeath, true},
};

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
      // Calls that act for a player are dropped unless their sender has joined.
      if (entry->senderMustBeJoined && GetJoinedSender(params) < 0) return;
      entry->handler(params);
    });
  }
}

void UnregisterRPCs(net::Peer* peer) {
  for (const ClientRpc& rpc : kClientRpcs) peer->UnregisterAsRemoteProcedureCall(rpc.name);
}
