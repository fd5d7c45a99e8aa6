#include "core/packets.h"

#include "core/events.h"
#include "core/netgame.h"
#include "core/query.h"

void ProcessPackets(NetGame* netGame) {
  if (!netGame || !netGame->gamePeer) return;
  net::Peer* peer = netGame->gamePeer;
  while (net::Packet* packet = peer->Receive()) {
    PlayerPool* pool = netGame->playerPool;
    const int sender = packet->systemIndex;
    // Packets of connections without a joined slot (notices of a refused
    // join, for one) are released unread; the rest of the queue is still taken.
    if (!pool || !pool->IsInUse(sender) || packet->length == 0) {
      peer->DeallocatePacket(packet);
      continue;
    }
    uint8_t id = packet->data[0];
    if (id == net::ID_TIMESTAMP) id = packet->length > 5 ? packet->data[5] : 0;
    const auto player = static_cast<uint8_t>(sender);
    switch (id) {
      case net::ID_DISCONNECTION_NOTIFICATION:
      case net::ID_CONNECTION_LOST: {
        const uint8_t reason = id == net::ID_CONNECTION_LOST ? kReasonTimedOut : kReasonQuit;
        CallOnPlayerDisconnect(player, reason);
        DisconnectPlayer(reason, player);
        UpdateServerQueryReply();
        break;
      }
      default:
        break;
    }
    peer->DeallocatePacket(packet);
  }
}

void BroadcastWorldTime() {}
