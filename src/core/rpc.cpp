#include "core/rpc.h"

#include "core/settings.h"

net::SystemAddress GetPlayerAddress(uint8_t playerId) {
  net::Peer* peer = GetGamePeer();
  if (!peer) return net::UNASSIGNED_SYSTEM_ADDRESS;
  return peer->GetSystemAddressFromIndex(playerId);
}

void ApplyPasswordSetting() {
  net::Peer* peer = GetGamePeer();
  const auto& password = gServerSettings.password;
  if (peer)
    peer->SetIncomingPassword(password ? password->data() : nullptr,
                              password ? static_cast<int>(password->size()) : 0);
}

void ClosePlayerConnection(uint8_t playerId) {
  const net::SystemAddress address = GetPlayerAddress(playerId);
  if (address != net::UNASSIGNED_SYSTEM_ADDRESS) GetGamePeer()->CloseConnection(address, false, 0);
}

bool Rpc::To(const net::SystemAddress& target, bool broadcast) {
  net::Peer* peer = GetGamePeer();
  if (!peer) return false;
  return peer->RPC(name_, &stream_, net::HIGH_PRIORITY, net::RELIABLE, 0, target,
                             broadcast);
}

bool Rpc::ToPlayer(uint8_t playerId) {
  const net::SystemAddress address = GetPlayerAddress(playerId);
  if (address == net::UNASSIGNED_SYSTEM_ADDRESS) return false;
  return To(address, false);
}

bool Rpc::ToPlayers(std::span<const uint16_t> playerIds) {
  // Player ids are connection indices.
  net::Peer* peer = GetGamePeer();
  return peer && peer->RPC(name_, &stream_, net::HIGH_PRIORITY, net::RELIABLE, 0, playerIds) > 0;
}

bool Rpc::ToAll() { return To(net::UNASSIGNED_SYSTEM_ADDRESS, true); }

bool Rpc::ToAllBut(uint8_t playerId) {
  const net::SystemAddress address = GetPlayerAddress(playerId);
  // With no connection for that player, "all but" is everyone.
  return To(address, true);
}
