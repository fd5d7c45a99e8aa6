// A flood from one client reaches nobody: every call and movement packet the
// server passes on draws on its sender's budget of that kind, charged by its
// arrival; what is beyond it is dropped before it is relayed or raised
// (unreliable) or ends the connection (reliable), the budget refills with
// time, and the log counts the drops once a second and when the flooder
// leaves. (Chat's own figures: clientcalls_test.cpp.)
#include "core/budget.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/log.h"
#include "core/vehiclepool.h"
#include "support/count.h"
#include "support/seam.h"

namespace {

using support::CountOccurrences;
using support::Want;

std::vector<uint8_t> OnFootPacket(float x) {
  std::vector<uint8_t> p(55, 0);
  p[0] = 92;
  std::memcpy(&p[1 + 2], &x, sizeof x);
  return p;
}

void OnFoot(support::Seam& seam, int from, float x, bool reliable = false) {
  const std::vector<uint8_t> p = OnFootPacket(x);
  seam.Packet(from, net::BitStream(p.data(), static_cast<uint32_t>(p.size() * 8)), reliable);
}

struct Flood {
  const char* kind;
  std::function<void(support::Seam&)> send;  // one message from Alpha (0)
  std::vector<const char*> effects;          // what one message that gets through does
  uint32_t burst;
  uint32_t costMs;  // how long the budget takes to allow one more
  const char* logged;
};

TEST(Budgets, AFloodBeyondTheBudgetIsDroppedBeforeItIsRelayedOrRaised) {
  const Flood floods[] = {
      {"relayed call",
       [](support::Seam& s) {
         s.Call(0, "NewSpawn", Want().c16(1).c16(2).f32(1).f32(2).f32(3).f32(4).c8(7), false);
       },
       {"NewSpawn>1 ", "spawn 0"}, 10, 500,
       "[FLOOD] Dropped 7 NewSpawn calls from Alpha (id 0): more than 2 a second"},
      {"raised call",
       [](support::Seam& s) { s.Call(0, "OnPlayerKeyPress", Want().c32(65), false); },
       {"keypress 0 65"}, 80, 50,
       "[FLOOD] Dropped 7 OnPlayerKeyPress calls from Alpha (id 0): more than 20 a second"},
      {"movement", [](support::Seam& s) { OnFoot(s, 0, 0); }, {"#92>1 "}, 100, 10,
       "[FLOOD] Dropped 7 on-foot packets (92) from Alpha (id 0): more than 100 a second"},
      {"vehicle deaths, each of another vehicle",
       [](support::Seam& s) {
         const int car = GetVehiclePool()->Add(150, 0, 0, 0, 0, 1, 1);
         s.Call(0, "VehicleDeath", Want().c16(static_cast<uint16_t>(car)).bit(true), false);
       },
       {"Respawn_ExplodeVehicle>0,1 "}, 50, 200,
       "[FLOOD] Dropped 7 VehicleDeath calls from Alpha (id 0): more than 5 a second"},
  };
  for (const Flood& f : floods) {
    SCOPED_TRACE(f.kind);
    support::Seam seam;
    seam.Join("Alpha");
    seam.Join("Bravo");
    OnFoot(seam, 1, 5);  // Bravo is in the world, near Alpha
    seam.Take();
    auto happened = [&] { return seam.Take() + "\n" + seam.events.Take(); };

    for (uint32_t i = 0; i < f.burst + 5; ++i) f.send(seam);
    std::string seen = happened();
    for (const char* effect : f.effects) EXPECT_EQ(CountOccurrences(seen, effect), f.burst);
    std::string log = seam.Server().ReadFile(kLogFileName);
    EXPECT_EQ(CountOccurrences(log, "Dropped"), 0u);  // within the first second

    // The budget gives one more message after its cost in time, not before.
    seam.clock.Advance(f.costMs - 1);
    f.send(seam);
    seam.clock.Advance(1);
    f.send(seam);
    f.send(seam);
    seen = happened();
    for (const char* effect : f.effects) EXPECT_EQ(CountOccurrences(seen, effect), 1u);

    // The main loop reports the drops once.
    seam.clock.Advance(1000);
    seam.Pump();
    seam.clock.Advance(1000);
    seam.Pump();
    log = seam.Server().ReadFile(kLogFileName);
    EXPECT_EQ(CountOccurrences(log, f.logged), 1u);
    EXPECT_EQ(CountOccurrences(log, "Dropped"), 1u);
    EXPECT_EQ(CountOccurrences(log, "[QUERY]"), 0u);  // no query went unanswered

    // However long the sender was idle, the budget holds no more than its burst.
    seam.clock.Advance(3600 * 1000);
    for (uint32_t i = 0; i < f.burst + 5; ++i) f.send(seam);
    seen = happened();
    for (const char* effect : f.effects) EXPECT_EQ(CountOccurrences(seen, effect), f.burst);
  }
}

// Queries and connects the network library left unanswered are logged with
// the budget they were beyond, once.
TEST(Budgets, UnansweredQueriesAreLoggedWithTheirBudget) {
  support::Seam seam;
  GetSenderBudgets()->unansweredQueries = 3;
  GetSenderBudgets()->unansweredConnects = 2;
  seam.clock.Advance(1000);
  seam.Pump();
  seam.clock.Advance(1000);
  seam.Pump();
  const std::string log = seam.Server().ReadFile(kLogFileName);
  EXPECT_EQ(CountOccurrences(log,
                             "[QUERY] Left 3 server-browser queries unanswered: beyond the reply "
                             "budget (10 at once, then 4 a second from one address; 256 KiB of "
                             "replies a second in all)"),
            1u);
  EXPECT_EQ(CountOccurrences(log, "[QUERY]"), 1u);
  EXPECT_EQ(CountOccurrences(log,
                             "[NET] Left 2 connects unanswered: beyond the connect budget (20 at "
                             "once, then one every 5 s from one address)"),
            1u);
}

// A flooder who leaves within the second is named as it leaves, by any way out.
TEST(Budgets, DropsAreReportedWhenTheFlooderLeaves) {
  const std::pair<const char*, std::function<void(support::Seam&)>> departures[] = {
      {"quit", [](support::Seam& s) { s.Drop(0); }},
      {"kicked", [](support::Seam& s) { s.Lua("kickPlayer(0)"); }},
  };
  for (const auto& [how, leave] : departures) {
    SCOPED_TRACE(how);
    support::Seam seam;
    seam.Join("Alpha");
    seam.Join("Bravo");
    for (int i = 0; i < 43; ++i) {
      seam.Call(0, "PlayerChat", Want().u8(0).u8(2).chars("hi", 2), false);
    }
    for (int i = 0; i < 115; ++i) OnFoot(seam, 0, 0);
    leave(seam);
    const std::string log = seam.Server().ReadFile(kLogFileName);
    const size_t chat =
        log.find("[CHAT] Dropped 3 chat lines from Alpha (id 0): more than 10 a second");
    const size_t moved = log.find(
        "[FLOOD] Dropped 15 on-foot packets (92) from Alpha (id 0): more than 100 a second");
    const size_t left = log.find("[LEAVE] Alpha has left the server.");
    EXPECT_NE(chat, log.npos);
    EXPECT_NE(moved, log.npos);
    EXPECT_NE(left, log.npos);
    EXPECT_LT(chat, left);
    EXPECT_LT(moved, left);
  }
}

// Budgets count by arrival: play that arrived while the main loop was held
// up (a long script call) is handled whole afterwards, however much of it
// waited. Here 10 s of it: 10 key presses and 30 on-foot packets a second.
TEST(Budgets, AHeldUpMainLoopCostsThePlayersNothing) {
  support::Seam seam;
  seam.Join("Alpha");
  seam.Join("Bravo");
  OnFoot(seam, 1, 5);  // Bravo is in the world, near Alpha
  seam.Take();
  const std::vector<uint8_t> onFoot = OnFootPacket(0);
  for (int ms = 0; ms < 10000; ms += 100) {
    seam.Queue(0, "OnPlayerKeyPress", Want().c32(65));
    for (int i = 0; i < 3; ++i) {
      seam.Peer().InjectMessage(0, onFoot.data(), static_cast<uint32_t>(onFoot.size()), false);
    }
    seam.clock.Advance(100);
  }
  seam.Pump(5);
  EXPECT_EQ(CountOccurrences(seam.events.Take(), "keypress 0 65"), 100u);
  EXPECT_EQ(CountOccurrences(seam.Take(), "#92>1 "), 300u);
  seam.clock.Advance(1000);
  seam.Pump();
  const std::string log = seam.Server().ReadFile(kLogFileName);
  EXPECT_EQ(CountOccurrences(log, "Dropped"), 0u);
  EXPECT_EQ(CountOccurrences(log, "Closed"), 0u);
}

// A reliable message is never skipped while its connection goes on: the
// first one beyond its budget closes the connection, with a line naming
// the kind, and the player leaves as one whose connection was lost. What
// follows it from that connection is not handled.
TEST(Budgets, AReliableMessageBeyondItsBudgetClosesTheConnection) {
  const Flood floods[] = {
      {"call", [](support::Seam& s) { s.Queue(0, "OnPlayerKeyPress", Want().c32(65)); },
       {"keypress 0 65"}, 80, 50,
       "[FLOOD] Closed connection 0 (Alpha, 10.0.0.1): it sent more OnPlayerKeyPress calls "
       "than its budget (80 at once, then 20 a second)"},
      {"movement",
       [](support::Seam& s) {
         const std::vector<uint8_t> p = OnFootPacket(0);
         s.Peer().InjectMessage(0, p.data(), static_cast<uint32_t>(p.size()), true);
       },
       {"#92>1 "}, 100, 10,
       "[FLOOD] Closed connection 0 (Alpha, 10.0.0.1): it sent more on-foot packets (92) than "
       "its budget (100 at once, then 100 a second)"},
  };
  for (const Flood& f : floods) {
    SCOPED_TRACE(f.kind);
    support::Seam seam;
    seam.Join("Alpha");
    seam.Join("Bravo");
    OnFoot(seam, 1, 5);
    seam.Take();
    for (uint32_t i = 0; i < f.burst + 20; ++i) f.send(seam);
    seam.clock.Advance(1000);
    f.send(seam);  // within the budget again, but after the one that closed
    seam.Pump(5);
    const std::string sent = seam.Take();
    const std::string events = seam.events.Take();
    EXPECT_EQ(CountOccurrences(sent + events, f.effects[0]), f.burst);
    EXPECT_EQ(CountOccurrences(sent, "close>0"), 1u);
    EXPECT_EQ(CountOccurrences(events, "disconnect 0 0"), 1u);  // lost: "Timed Out"
    const std::string log = seam.Server().ReadFile(kLogFileName);
    EXPECT_EQ(CountOccurrences(log, f.logged), 1u);
    EXPECT_EQ(CountOccurrences(log, "[LEAVE] Alpha has left the server. [Timed Out]"), 1u);
    EXPECT_EQ(CountOccurrences(log, "Dropped"), 0u);
  }
}

// Leaving refills nothing: a player who joins again from the same address
// starts with the budgets it left with, refilled by the time away; another
// address starts full.
TEST(Budgets, JoiningAgainStartsWithTheBudgetsLeftBehind) {
  struct Case {
    const char* what;
    uint32_t ip;
    uint32_t awayMs;
    uint32_t lines;  // of 41 sent, that reach the others
  };
  const Case cases[] = {
      {"the same address at once", 0x0A000001u, 0, 0},
      {"the same address 2 s later", 0x0A000001u, 2000, 20},
      {"another address", 0x0A000063u, 0, 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    support::Seam seam;
    seam.Join("Bravo");
    const int alpha = seam.Connect(0x0A000001u);
    ASSERT_GE(alpha, 0);
    net::BitStream join;
    join.WriteCompressed(static_cast<uint8_t>(5));
    join.WriteBytes("Alpha", 5);
    join.WriteCompressed(support::GoodVersion());
    auto chat = [&](int from) {
      for (int i = 0; i < 41; ++i) {
        seam.Call(from, "PlayerChat", Want().u8(static_cast<uint8_t>(from)).u8(2).chars("hi", 2),
                  false);
      }
    };
    seam.Call(alpha, "ClientJoin", join);
    chat(alpha);  // the whole burst
    seam.Drop(alpha);
    seam.clock.Advance(c.awayMs);
    seam.Take();
    const int again = seam.Connect(c.ip);
    seam.Call(again, "ClientJoin", join);
    seam.Take();
    chat(again);
    EXPECT_EQ(CountOccurrences(seam.Take(), "PlayerChat>"), c.lines);
  }
}

}  // namespace
