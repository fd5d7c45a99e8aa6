// The ban list: the game peer's own list of banned addresses, mirrored in
// "server_bans.xml" in the working directory so bans survive a restart.
#pragma once

namespace BanList {

// Replaces the game peer's ban list with the file's entries, all at once.
// False, with the list left as it was, when the file is there but cannot be
// read (it is logged).
bool Load();
// Bans the address in the peer and records it in the file, unless the peer
// already bans it (a wildcard included).
void AddAddress(const char* address);
// Lifts the exact ban in the peer and removes its entry from the file.
void RemoveAddress(const char* address);

}  // namespace BanList
