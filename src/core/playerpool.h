// The 100 player slots: in-use flags, one record per slot, names and each
// player's local-marker flags. A player's id is its slot and equals the
// system index of its connection.
#pragma once

#include <cstdint>

inline constexpr int kMaxPlayers = 100;
inline constexpr int kPlayerNameSize = 25;  // 24 characters and the terminator
inline constexpr int kLocalMarkersPerPlayer = 25;
inline constexpr int kOnFootBlockSize = 54;

enum DisconnectReason : uint8_t {
  kReasonTimedOut = 0,
  kReasonQuit = 1,
  kReasonBanned = 2,
  kReasonKicked = 3,
  kReasonRestart = 4,  // closed silently
};
// "Timed Out", "Quit", "Banned", "Kicked"; null for the restart.
const char* DisconnectReasonText(uint8_t reason);

// A player's liveness, and who sets and clears each flag:
//
//   flag       means                                   set by               cleared by
//   inUse      the slot holds a joined player: the     ConnectPlayer        DisconnectPlayer
//              player guard of every native and call
//   present    the player takes part in the game: its  ConnectPlayer, a     DisconnectPlayer
//              movement is taken and relayed, the      spawn ("NewSpawn")   (record reset)
//              query counts it
//   connected  the player's chat is relayed and logged ConnectPlayer        DisconnectPlayer
//                                                                           (record reset)
//   spawned    the player is in the world: it gets     a spawn, an on-foot  its death, "force
//              the others' movement and the time       movement packet      to class selection",
//                                                                           DisconnectPlayer
//   leaving    its departure is under way (from        BeginLeaving         DisconnectPlayer
//              "onPlayerDisconnect" until the slot     (a departure, kick   (and ConnectPlayer)
//              is freed)                               or ban)
//
// The code asks these through PlayerPool's predicates (IsInUse, IsPresent,
// IsChatting, IsInWorld, BeginLeaving), never through the fields themselves.
#pragma pack(push, 1)
struct PlayerRecord {
  uint8_t present;
  float x, y, z;
  uint8_t interior;
  float angle;
  float health;
  float armour;
  uint32_t cash;
  uint8_t wantedLevel;
  uint32_t vehicle;
  uint8_t seat;
  uint8_t spawned;
  int32_t skin;
  int8_t team;
  int32_t score;
  uint8_t connected;
  int16_t area;
  int8_t phoneStatus;
  uint8_t weapon;
  uint8_t onFootBlock[kOnFootBlockSize];
  int16_t classInfo[2];
  uint8_t muted;

  void Reset();
  void ResetOnConnect();
  void ResetOnDisconnect();
};
#pragma pack(pop)
static_assert(sizeof(PlayerRecord) == 110, "PlayerRecord is packed");

class PlayerPool {
 public:
  PlayerPool();

  uint32_t inUse[kMaxPlayers];
  PlayerRecord records[kMaxPlayers];  // inline: a record is never absent
  char names[kMaxPlayers][kPlayerNameSize];
  uint8_t localMarkers[kMaxPlayers][kLocalMarkersPerPlayer];
  // Set while a departure runs (from its "onPlayerDisconnect" until the slot
  // is freed), so a handler that kicks or bans the leaving player cannot
  // start the departure again under itself.
  uint8_t leaving[kMaxPlayers];

  // True for ids 0..99 whose slot is in use: the one test of the player guard.
  bool IsInUse(int playerId) const {
    return playerId >= 0 && playerId < kMaxPlayers && inUse[playerId] != 0;
  }
  // In use, and present: its movement is taken and relayed, the query counts it.
  bool IsPresent(int playerId) const { return IsInUse(playerId) && records[playerId].present; }
  // In use, and its chat is relayed.
  bool IsChatting(int playerId) const { return IsInUse(playerId) && records[playerId].connected; }
  // Present and spawned: it receives the others' movement and the world time.
  bool IsInWorld(int playerId) const { return IsPresent(playerId) && records[playerId].spawned; }
  // The record of an in-use player, or null.
  PlayerRecord* Get(int playerId) { return IsInUse(playerId) ? &records[playerId] : nullptr; }
  const char* Name(int playerId) const {
    return playerId >= 0 && playerId < kMaxPlayers ? names[playerId] : "";
  }
  // Marks an in-use player as leaving; false when not in use or already leaving.
  bool BeginLeaving(int playerId) {
    if (!IsInUse(playerId) || leaving[playerId]) return false;
    leaving[playerId] = 1;
    return true;
  }
  // The lowest free local-marker slot of an in-use player, or -1.
  int FindFreeLocalMarkerSlot(int playerId) const;
};

// The current pool of the network game (null before start-up).
PlayerPool* GetPlayerPool();

// Occupies the slot for a player of that name and tells the others
// ("PlayerConnect"). False (and no effect) when the id is above 99 or the slot
// is taken.
bool ConnectPlayer(const char* name, PlayerPool* pool, uint8_t playerId);
// Frees the slot, after logging what was dropped of the player's messages and
// not yet reported. Reasons 0..3 log "[LEAVE]" and tell the others
// ("PlayerDisconnect"); reason 4 closes the connection silently.
void DisconnectPlayer(uint8_t reason, uint8_t playerId);
void DisconnectAllPlayers();
// A present player's name equal to `name`, case-insensitively over at most 24
// characters.
bool IsNicknameInUse(const char* name);
