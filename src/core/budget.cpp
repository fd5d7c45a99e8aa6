#include "core/budget.h"

#include <algorithm>
#include <utility>

#include "core/clock.h"
#include "core/log.h"
#include "core/netgame.h"
#include "core/packets.h"
#include "core/rpc.h"
#include "core/world.h"
#include "net/query_budget.h"

namespace {

// Logs the player's drops, one line per kind, and clears them.
void LogDrops(SenderBudgets& budgets, const PlayerPool& pool, int playerId) {
  if (budgets.overShare[playerId] != 0) {
    LogPrint(1,
             "[NET] Dropped %u unreliable messages from %s (id %d): more than %zu messages or "
             "%zu MiB waiting to be handled",
             budgets.overShare[playerId], pool.Name(playerId), playerId,
             net::Peer::kMaxQueuedPerConnection, net::Peer::kMaxQueuedBytesPerConnection >> 20);
    budgets.overShare[playerId] = 0;
  }
  for (int kind = 0; kind < kBudgetKindCount; ++kind) {
    Allowance& a = budgets.allowances[playerId][kind];
    if (a.dropped == 0) continue;
    const BudgetRow& row = kBudgets[kind];
    LogPrint(1, "%s Dropped %u %s from %s (id %d): more than %u a second", row.tag, a.dropped,
             row.what, pool.Name(playerId), playerId, row.perSecond);
    a.dropped = 0;
  }
}

// Whether a count of what went unanswered is to be logged now (at most once a
// second); if so, the report's time is taken.
bool DueReport(uint32_t count, uint32_t& reportedMs, uint32_t now) {
  if (count == 0 || !core::HasElapsed(now, reportedMs, 999)) return false;
  reportedMs = now;
  return true;
}

bool HasDrops(const SenderBudgets& budgets, int playerId) {
  if (budgets.overShare[playerId] != 0) return true;
  for (const Allowance& a : budgets.allowances[playerId])
    if (a.dropped != 0) return true;
  return false;
}

}  // namespace

BudgetKind PacketBudget(uint8_t id) {
  switch (id) {
    case kPacketOnFootSync:
      return kBudgetOnFoot;
    case kPacketDriverSync:
      return kBudgetDriver;
    case kPacketPassengerSync:
      return kBudgetPassenger;
    case kPacket95:
      return kBudgetPacket95;
    case kPacketStatus:
      return kBudgetStatus;
    case kPacket98:
      return kBudgetPacket98;
    default:
      return kNoBudget;
  }
}

SenderBudgets* GetSenderBudgets() { return gNetGame ? &gNetGame->budgets : nullptr; }

bool AdmitMessage(int playerId, BudgetKind kind, uint32_t arrivalMs, bool reliable) {
  SenderBudgets* budgets = GetSenderBudgets();
  if (kind >= kBudgetKindCount || !budgets || playerId < 0 || playerId >= kMaxPlayers) return true;
  if (budgets->closed[playerId]) return false;  // only its departure is still to come
  const BudgetRow& row = kBudgets[kind];
  net::TokenBucket& bucket = budgets->allowances[playerId][kind].bucket;
  // Stamps come from the network thread in arrival order; one from before
  // the budget was last brought up to date (a join handled late) adds nothing.
  bucket.Refill(arrivalMs, row.capMs);
  if (bucket.Take(row.costMs)) return true;
  if (!reliable) {
    ++budgets->allowances[playerId][kind].dropped;
    return false;
  }
  budgets->closed[playerId] = true;
  net::Peer* peer = GetGamePeer();
  PlayerPool* pool = GetPlayerPool();
  const net::SystemAddress address =
      peer ? peer->GetSystemAddressFromIndex(playerId) : net::UNASSIGNED_SYSTEM_ADDRESS;
  if (address == net::UNASSIGNED_SYSTEM_ADDRESS || !pool) return false;  // closing already
  LogPrint(1, "%s Closed connection %d (%s, %s): it sent more %s than its budget (%u at once, "
           "then %u a second)", row.tag, playerId, pool->Name(playerId),
           address.ToString(false).c_str(), row.what, row.burst, row.perSecond);
  peer->DropConnection(playerId);
  return false;
}

void ResetBudgets(int playerId) {
  SenderBudgets* budgets = GetSenderBudgets();
  if (!budgets || playerId < 0 || playerId >= kMaxPlayers) return;
  const uint32_t now = core::NowMs();
  net::Peer* peer = GetGamePeer();
  const uint32_t address = peer ? peer->GetSystemAddressFromIndex(playerId).binaryAddress : 0;
  budgets->address[playerId] = address;
  DepartedBudgets* kept = nullptr;
  for (DepartedBudgets& d : budgets->departed) {
    if (d.used && d.address == address && !core::HasElapsed(now, d.leftMs, kDepartedBudgetsKeptMs) &&
        (!kept || static_cast<int32_t>(d.leftMs - kept->leftMs) < 0)) {
      kept = &d;  // the earliest to leave: the most refilled
    }
  }
  for (int kind = 0; kind < kBudgetKindCount; ++kind) {
    Allowance& a = budgets->allowances[playerId][kind];
    if (kept) {
      a.bucket = kept->allowances[kind].bucket;
    } else {
      a.bucket.Fill(kBudgets[kind].capMs, now);
    }
    a.dropped = 0;
  }
  if (kept) kept->used = false;
  budgets->closed[playerId] = false;
  budgets->reportedMs[playerId] = now;
  budgets->overShare[playerId] = 0;
  if (peer) peer->TakeDroppedMessages(playerId);  // not this player's
}

void RememberBudgets(int playerId) {
  SenderBudgets* budgets = GetSenderBudgets();
  if (!budgets || playerId < 0 || playerId >= kMaxPlayers) return;
  const uint32_t now = core::NowMs();
  DepartedBudgets* slot = &budgets->departed[0];
  for (DepartedBudgets& d : budgets->departed) {
    if (!d.used || core::HasElapsed(now, d.leftMs, kDepartedBudgetsKeptMs)) {
      slot = &d;
      break;
    }
    if (static_cast<int32_t>(d.leftMs - slot->leftMs) < 0) slot = &d;  // the oldest
  }
  DepartedBudgets& d = *slot;
  d.used = true;
  d.address = budgets->address[playerId];
  d.leftMs = now;
  std::copy(std::begin(budgets->allowances[playerId]), std::end(budgets->allowances[playerId]),
            std::begin(d.allowances));
}

void ReportDroppedMessages() {
  SenderBudgets* budgets = GetSenderBudgets();
  PlayerPool* pool = GetPlayerPool();
  if (!budgets || !pool) return;
  const uint32_t now = core::NowMs();
  net::Peer* peer = GetGamePeer();
  for (int id = 0; id < kMaxPlayers; ++id) {
    if (!pool->IsInUse(id)) continue;
    if (peer) budgets->overShare[id] += peer->TakeDroppedMessages(id);
    if (!core::HasElapsed(now, budgets->reportedMs[id], 999) || !HasDrops(*budgets, id)) continue;
    LogDrops(*budgets, *pool, id);
    budgets->reportedMs[id] = now;
  }
  if (peer) {
    budgets->unansweredQueries += peer->TakeUnansweredQueries();
    budgets->unansweredConnects += peer->TakeUnansweredConnects();
  }
  if (DueReport(budgets->unansweredQueries, budgets->queriesReportedMs, now)) {
    using net::QueryBudget;
    LogPrint(1,
             "[QUERY] Left %u server-browser queries unanswered: beyond the reply budget (%u "
             "at once, then %u a second from one address; %u KiB of replies a second in all)",
             std::exchange(budgets->unansweredQueries, 0u), QueryBudget::kBurstPerAddress,
             QueryBudget::kPerAddressPerSecond, QueryBudget::kBytesPerSecond >> 10);
  }
  if (DueReport(budgets->unansweredConnects, budgets->connectsReportedMs, now)) {
    LogPrint(1,
             "[NET] Left %u connects unanswered: beyond the connect budget (%u at once, then "
             "one every %u s from one address)",
             std::exchange(budgets->unansweredConnects, 0u), net::Peer::kConnectBurstPerAddress,
             net::Peer::kConnectEachMs / 1000);
  }
}

void ReportDroppedMessagesNow(int playerId) {
  SenderBudgets* budgets = GetSenderBudgets();
  PlayerPool* pool = GetPlayerPool();
  if (!budgets || !pool || playerId < 0 || playerId >= kMaxPlayers) return;
  if (net::Peer* peer = GetGamePeer())
    budgets->overShare[playerId] += peer->TakeDroppedMessages(playerId);
  LogDrops(*budgets, *pool, playerId);
}
