#include "core/query.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/netgame.h"
#include "core/playerpool.h"
#include "core/rpc.h"
#include "core/settings.h"
#include "core/world.h"

namespace {

// The length of a NUL-terminated field, never reading past its end.
size_t FieldLength(const char* field, size_t size) { return strnlen(field, size); }

}  // namespace

void UpdateServerQueryReply() {
  net::Peer* peer = GetGamePeer();
  if (!peer) return;
  const ServerSettings& s = gServerSettings;
  const PlayerPool* pool = GetPlayerPool();

  int playerCount = 0;
  if (pool) {
    for (int id = 0; id < kMaxPlayers; ++id)
      if (pool->IsPresent(id)) ++playerCount;
  }

  // The flag says whether a join must bring a password: the network's, which
  // a restart keeps even when the game mode no longer sets one.
  const bool passworded = !peer->GetIncomingPassword().empty();
  char head[512];
  const int headLength = std::snprintf(
      head, sizeof head, "%d,%.*s,%d,%d,%.*s,", passworded ? 1 : 0,
      static_cast<int>(FieldLength(s.serverName, sizeof s.serverName)), s.serverName, playerCount,
      static_cast<int>(s.maxPlayers), static_cast<int>(FieldLength(s.modeName, sizeof s.modeName)),
      s.modeName);
  std::string reply(head, headLength > 0 ? static_cast<size_t>(headLength) : 0);
  if (reply.size() > kMaxQueryReplyLength) reply.resize(kMaxQueryReplyLength);

  // A full server's list does not fit: it ends after the last whole entry that
  // does, so a browser never sees half a name or a wrong id.
  if (pool) {
    for (int id = 0; id < kMaxPlayers; ++id) {
      if (!pool->IsInUse(id)) continue;
      std::string entry = "@";
      entry.append(pool->names[id], FieldLength(pool->names[id], kPlayerNameSize));
      entry += '#';
      entry += std::to_string(id);
      if (reply.size() + entry.size() > kMaxQueryReplyLength) break;
      reply += entry;
    }
  }

  // The response carries the text and its terminating NUL.
  peer->SetOfflinePingResponse(reply.c_str(), static_cast<uint32_t>(reply.size() + 1));
}
