// A flood from one client reaches nobody: every call and movement packet the
// server passes on draws on its sender's budget of that kind, what is beyond
// it is dropped before it is relayed or raised, the budget refills with time,
// and the log counts the drops once a second and when the flooder leaves.
// (Chat's own figures: clientcalls_test.cpp.)
#include "core/budget.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/log.h"
#include "support/count.h"
#include "support/seam.h"

namespace {

using support::CountOccurrences;
using support::Want;

void OnFoot(support::Seam& seam, int from, float x) {
  std::vector<uint8_t> p(55, 0);
  p[0] = 92;
  std::memcpy(&p[1 + 2], &x, sizeof x);
  seam.Packet(from, net::BitStream(p.data(), static_cast<uint32_t>(p.size() * 8)));
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
         s.Call(0, "NewSpawn", Want().c16(1).c16(2).f32(1).f32(2).f32(3).f32(4).c8(7));
       },
       {"NewSpawn>1 ", "spawn 0"}, 10, 500,
       "[FLOOD] Dropped 7 NewSpawn calls from Alpha (id 0): more than 2 a second"},
      {"raised call", [](support::Seam& s) { s.Call(0, "OnPlayerKeyPress", Want().c32(65)); },
       {"keypress 0 65"}, 20, 50,
       "[FLOOD] Dropped 7 OnPlayerKeyPress calls from Alpha (id 0): more than 20 a second"},
      {"movement", [](support::Seam& s) { OnFoot(s, 0, 0); }, {"#92>1 "}, 50, 20,
       "[FLOOD] Dropped 7 on-foot packets (92) from Alpha (id 0): more than 50 a second"},
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
  }
}

// Queries the network library left unanswered are logged with the budget
// they were beyond, once.
TEST(Budgets, UnansweredQueriesAreLoggedWithTheirBudget) {
  support::Seam seam;
  GetSenderBudgets()->unansweredQueries = 3;
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
    for (int i = 0; i < 23; ++i) seam.Call(0, "PlayerChat", Want().u8(0).u8(2).chars("hi", 2));
    for (int i = 0; i < 65; ++i) OnFoot(seam, 0, 0);
    leave(seam);
    const std::string log = seam.Server().ReadFile(kLogFileName);
    const size_t chat =
        log.find("[CHAT] Dropped 3 chat lines from Alpha (id 0): more than 10 a second");
    const size_t moved = log.find(
        "[FLOOD] Dropped 15 on-foot packets (92) from Alpha (id 0): more than 50 a second");
    const size_t left = log.find("[LEAVE] Alpha has left the server.");
    EXPECT_NE(chat, log.npos);
    EXPECT_NE(moved, log.npos);
    EXPECT_NE(left, log.npos);
    EXPECT_LT(chat, left);
    EXPECT_LT(moved, left);
  }
}

}  // namespace
