// Kicking and banning a player: the sequence the console and the script's
// administration natives share.
#pragma once

#include <cstdint>

// For an in-use player and reason 2 (banned) or 3 (kicked): a ban puts the
// player's address in the ban list; then "BanPlayer" or "KickPlayer" goes to
// the player, 100 ms later its connection is closed silently, the script hears
// "onPlayerDisconnect" while the slot still exists, the slot is freed and the
// query reply rebuilt. False (nothing done) for a player not in use or one
// whose departure is already under way.
bool RemovePlayerFromServer(uint8_t playerId, uint8_t reason);
