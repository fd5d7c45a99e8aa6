#include "core/rpc.h"

namespace {
net::Peer* registeredPeer = nullptr;
}

net::Peer* GetRegisteredPeer() { return registeredPeer; }
void SetRegisteredPeer(net::Peer* peer) { registeredPeer = peer; }

net::SystemAddress GetPlayerAddress(uint8_t playerId) {
  if (!registeredPeer) return net::UNASSIGNED_SYSTEM_ADDRESS;
  return registeredPeer->GetSystemAddressFromIndex(playerId);
}

void ClosePlayerConnection(uint8_t playerId) {
  const net::SystemAddress address = GetPlayerAddress(playerId);
  if (address != net::UNASSIGNED_SYSTEM_ADDRESS) registeredPeer->CloseConnection(address, false, 0);
}

bool Rpc::To(const net::SystemAddress& target, bool broadcast) {
  if (!registeredPeer) return false;
  return registeredPeer->RPC(name_, &stream_, net::HIGH_PRIORITY, net::RELIABLE, 0, target,
                             broadcast);
}

bool Rpc::ToPlayer(uint8_t playerId) {
  const net::SystemAddress address = GetPlayerAddress(playerId);
  if (address == net::UNASSIGNED_SYSTEM_ADDRESS) return false;
  return To(address, false);
}

bool Rpc::ToPlayers(std::span<const uint16_t> playerIds) {
  // Player ids are connection indices.
  return registeredPeer && registeredPeer->RPC(name_, &stream_, net::HIGH_PRIORITY, net::RELIABLE,
                                               0, playerIds) > 0;
}

bool Rpc::ToAll() { return To(net::UNASSIGNED_SYSTEM_ADDRESS, true); }

bool Rpc::ToAllBut(uint8_t playerId) {
  const net::SystemAddress address = GetPlayerAddress(playerId);
  // With no connection for that player, "all but" is everyone.
  return To(address, true);
}
