// The ban list: the game peer's own list of banned addresses, mirrored in
// "server_bans.xml" in the working directory so bans survive a restart.
#pragma once

namespace BanList {

// Replaces the game peer's ban list with the file's entries.
void Load();
// Bans the address in the peer and records it in the file, unless the peer
// already bans it (a wildcard included).
void AddAddress(const char* address);
// Lifts the exact ban in the peer and removes its entry from the file.
void RemoveAddress(const char* address);

// Simulated faults of the file save, for tests.
enum class SaveFault {
  kNone,
  kStopBeforeRename,  // as if the process died after writing the new file
  kRenameFails,
};
void SetSaveFaultForTesting(SaveFault fault);

}  // namespace BanList
