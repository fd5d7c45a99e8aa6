// The packet loop of the game peer: departures and movement packets.
#pragma once

struct NetGame;

// Takes every waiting packet of the game peer and handles it.
void ProcessPackets(NetGame* netGame);
// Sends the world-time packet to every spawned player.
void BroadcastWorldTime();
