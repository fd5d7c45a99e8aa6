#include "core/admin.h"

#include "core/ban_file.h"
#include "core/events.h"
#include "core/playerpool.h"
#include "core/query.h"
#include "core/rpc.h"
#include "platform/platform.h"

bool RemovePlayerFromServer(uint8_t playerId, uint8_t reason) {
  PlayerPool* pool = GetPlayerPool();
  if (!pool || !pool->BeginLeaving(playerId)) return false;
  const bool ban = reason == kReasonBanned;
  const net::SystemAddress address = GetPlayerAddress(playerId);
  if (ban && address != net::UNASSIGNED_SYSTEM_ADDRESS) {
    BanList::AddAddress(address.ToString(false).c_str());
  }
  Rpc(ban ? "BanPlayer" : "KickPlayer").ToPlayer(playerId);
  platform::SleepMs(100);
  ClosePlayerConnection(playerId);
  CallOnPlayerDisconnect(playerId, reason);
  DisconnectPlayer(reason, playerId);
  UpdateServerQueryReply();
  return true;
}
