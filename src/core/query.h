// The server-browser query reply and the master-list announcer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace net {
class Peer;
}

// The reply never exceeds this many characters (its NUL comes on top).
inline constexpr size_t kMaxQueryReplyLength = 1023;
// The master-list server's port.
inline constexpr uint16_t kMasterListPort = 3724;

// Rebuilds the reply from the settings and the player list and hands it to the
// game peer as its offline-ping response.
void UpdateServerQueryReply();

// Starts the master-list peer and connects it (only when announcing at start-up).
void StartMasterList();
// One pass of the master-list announcer: handles every waiting message.
void ProcessMasterList();
// Closes the master-list peer and frees it (a later StartMasterList starts afresh).
void StopMasterList();

// The master-list peer, null unless StartMasterList ran.
net::Peer* GetMasterListPeer();
// How many times the announcer has called Connect since it was started.
uint32_t GetMasterListConnectAttempts();
// Points the announcer at another master-list server; a null host restores
// the built-in host and port. Takes effect at the next connection attempt.
void SetMasterListTargetForTesting(const char* host, uint16_t port);
