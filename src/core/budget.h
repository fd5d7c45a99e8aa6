// What a joined client may send: every client call and movement packet that
// the server relays, stores or raises to the game mode draws on a per-player
// budget of its kind (a token bucket: a burst, then a steady rate), charged
// by the time the message arrived, so a main loop that was held up costs
// nobody anything. Beyond its budget an unreliable message is dropped before
// it is read, and the log counts what was dropped; a reliable one ends the
// connection (skipping it would leave a hole in what the client and the game
// mode take to have happened). A client at the pace of play never comes near
// a budget, so only a flood costs anything, and it costs the other players
// nothing.
#pragma once

#include <cstdint>
#include <iterator>

#include "core/playerpool.h"
#include "net/token_bucket.h"

enum BudgetKind : uint8_t {
  kBudgetChat,
  kBudgetCommand,
  kBudgetSpawn,
  kBudgetDeath,
  kBudgetVehicleEntry,
  kBudgetEnterVehicle,
  kBudgetExitVehicle,
  kBudgetKeyPress,
  kBudgetEnterGlobalMarker,
  kBudgetExitGlobalMarker,
  kBudgetEnterLocalMarker,
  kBudgetExitLocalMarker,
  kBudgetEnterGlobalPickup,
  kBudgetEnterLocalPickup,
  kBudgetOnFoot,
  kBudgetDriver,
  kBudgetPassenger,
  kBudgetPacket95,
  kBudgetStatus,
  kBudgetPacket98,
  kBudgetVehicleDeath,
  kBudgetKindCount,
  // Messages drawn on no budget: the join (the network library bounds
  // connections that have not joined).
  kNoBudget = kBudgetKindCount,
};

struct BudgetRow {
  const char* tag;     // the log line's tag
  const char* what;    // what the log line says was dropped
  uint32_t burst;      // messages that may come at once
  uint32_t perSecond;  // and then, steadily
  uint32_t costMs;     // the time one message takes out of the budget
  uint32_t capMs;      // a full budget
  constexpr BudgetRow(const char* t, const char* w, uint32_t b, uint32_t rate)
      : tag(t), what(w), burst(b), perSecond(rate), costMs(1000 / rate), capMs(b * (1000 / rate)) {}
};

// In play a client sends each movement packet at most once a frame (60 a
// second on a fast machine), a spawn, a death or a vehicle entry a few times
// a minute; people type and press keys at most about ten a second. Every
// steady rate lies well above that. The burst of a call takes what a client
// sends at its steady rate in the longest gap a connection survives (3000 ms
// of silence, then ENet's resend: 4 s), all of which may arrive at once; a
// movement packet is never resent, so its burst is a second's worth
// (docs/protocol.md, section 3.5).
// clang-format off
inline constexpr BudgetRow kBudgets[] = {
    {"[CHAT]",  "chat lines",                       40,  10},  // typed by a person
    {"[FLOOD]", "CommandSend calls",                40,  10},  // typed in the same chat box
    {"[FLOOD]", "NewSpawn calls",                   10,   2},  // one a life
    {"[FLOOD]", "PlayerDeath calls",                10,   2},  // one a life
    {"[FLOOD]", "SendVehicleEntry calls",           20,   5},  // one a try at a door
    {"[FLOOD]", "OnPlayerEnterVehicle calls",       20,   5},  // one a seat taken
    {"[FLOOD]", "OnPlayerExitVehicle calls",        20,   5},  // one a seat left
    {"[FLOOD]", "OnPlayerKeyPress calls",           80,  20},  // fingers on keys
    {"[FLOOD]", "OnPlayerEnterGlobalMarker calls",  40,  10},  // markers passed on the way
    {"[FLOOD]", "OnPlayerExitGlobalMarker calls",   40,  10},
    {"[FLOOD]", "OnPlayerEnterLocalMarker calls",   40,  10},
    {"[FLOOD]", "OnPlayerExitLocalMarker calls",    40,  10},
    {"[FLOOD]", "OnPlayerEnterGlobalPickup calls",  40,  10},  // a pile walked into
    {"[FLOOD]", "OnPlayerEnterLocalPickup calls",   40,  10},
    {"[FLOOD]", "on-foot packets (92)",            100, 100},  // once a frame at most
    {"[FLOOD]", "driver packets (93)",             100, 100},
    {"[FLOOD]", "passenger packets (94)",          100, 100},
    {"[FLOOD]", "packets 95",                      100, 100},
    {"[FLOOD]", "status packets (96)",             100, 100},
    {"[FLOOD]", "packets 98",                      100, 100},
    // Each vehicle's death is taken once until it respawns, but every one
    // explodes in every client's world: the burst is a chain explosion's.
    {"[FLOOD]", "VehicleDeath calls",               50,   5},
};
// clang-format on
static_assert(std::size(kBudgets) == kBudgetKindCount, "one row per kind");
constexpr bool RatesDivideASecond() {
  for (const BudgetRow& row : kBudgets)
    if (row.perSecond == 0 || 1000 % row.perSecond != 0) return false;
  return true;
}
static_assert(RatesDivideASecond(), "a message's cost is a whole number of milliseconds");

// The budget a raw packet with this id draws on (kNoBudget for the network
// library's notices and anything the loop ignores).
BudgetKind PacketBudget(uint8_t id);

// One player's budget of one kind: time's worth of messages left.
struct Allowance {
  net::TokenBucket bucket;
  uint32_t dropped = 0;  // dropped since the last report
};

// Every player's budgets (kept beside the player pool, which holds what the
// game knows of a player).
// The budgets a player left with, kept for a while for its address: a
// player who leaves and joins again starts with them, so leaving refills
// nothing (players behind one address still join, each with one of them).
struct DepartedBudgets {
  bool used = false;
  uint32_t address = 0;  // IPv4, as net::SystemAddress keeps it
  uint32_t leftMs = 0;
  Allowance allowances[kBudgetKindCount];
};
inline constexpr uint32_t kDepartedBudgetsKeptMs = 60000;
inline constexpr size_t kDepartedBudgetsKept = 256;  // beyond, the oldest goes

struct SenderBudgets {
  Allowance allowances[kMaxPlayers][kBudgetKindCount];
  uint32_t address[kMaxPlayers] = {};  // each player's IPv4 address, as it joined
  // Closed for a reliable message beyond its budget: nothing more of the
  // player's is handled until its departure.
  bool closed[kMaxPlayers] = {};
  DepartedBudgets departed[kDepartedBudgetsKept];
  uint32_t reportedMs[kMaxPlayers] = {};  // when the log last reported this player's drops
  // Unreliable messages the network library dropped over the player's queue
  // share (taken from it each step), not yet reported.
  uint32_t overShare[kMaxPlayers] = {};
  // What the network library left unanswered beyond its per-address budgets
  // (taken from it each step), not yet reported, and when the log last did.
  uint32_t unansweredQueries = 0;
  uint32_t queriesReportedMs = 0;
  uint32_t unansweredConnects = 0;
  uint32_t connectsReportedMs = 0;
};

// The budgets of the network game (null before start-up).
SenderBudgets* GetSenderBudgets();

// Whether a message of this kind from the player (0..99) that arrived at
// `arrivalMs` may be handled: within the budget, yes, and it is taken from
// it (always for kNoBudget). Beyond it, no: an unreliable one is counted as
// dropped, and a reliable one ends the player's connection, with a log line
// naming the kind (the player then leaves as one whose connection was lost).
bool AdmitMessage(int playerId, BudgetKind kind, uint32_t arrivalMs, bool reliable);
// A joining player's budgets: the ones a player from the same address left
// with in the last minute, else full.
void ResetBudgets(int playerId);
// Keeps the leaving player's budgets for its address.
void RememberBudgets(int playerId);
// Logs, for every player whose last report is more than a second old, how many
// messages of each kind were dropped, by their budgets or over their queue
// share, and how many server-browser queries went unanswered (a step of the
// main loop).
void ReportDroppedMessages();
// Logs the player's drops not yet reported, whenever the last report was:
// called as the player leaves, so a flooder who quits at once is still named.
void ReportDroppedMessagesNow(int playerId);
