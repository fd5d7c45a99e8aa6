// The network game: the player and vehicle pools, the game peer and the
// restart state.
#pragma once

#include <cstdint>

#include "core/budget.h"
#include "core/playerpool.h"
#include "core/vehiclepool.h"
#include "core/world.h"
#include "net/peer.h"

struct NetGame {
  NetGame();
  ~NetGame();
  NetGame(const NetGame&) = delete;
  NetGame& operator=(const NetGame&) = delete;

  PlayerPool* playerPool = nullptr;
  VehiclePool* vehiclePool = nullptr;
  SenderBudgets budgets;
  net::Peer* gamePeer = nullptr;
  uint32_t creationMs = 0;
  uint8_t restartPending = 0;
  uint32_t restartStartMs = 0;
};

// When the master-list pass last ran; the NetGame constructor seeds it.
extern uint32_t gLastMasterListMs;

// One client call: its name, its handler, whether the sender must own a
// joined slot before the handler runs, and the sender's budget it draws on.
struct ClientRpc {
  const char* name;
  void (*handler)(net::RPCParameters* params);
  bool senderMustBeJoined;
  BudgetKind budget;
};
inline constexpr int kClientRpcCount = 16;
extern const ClientRpc kClientRpcs[kClientRpcCount];

// Registers the sixteen client calls on the peer; UnregisterRPCs removes them.
void RegisterRPCs(net::Peer* peer);
void UnregisterRPCs(net::Peer* peer);

// The sender's player id: its connection index when that slot is in use,
// else -1.
int GetJoinedSender(const net::RPCParameters* params);
