// The budget of server-browser replies, on a clock the test sets.
#include "net/query_budget.h"

#include <gtest/gtest.h>

namespace net {
namespace {

const HashKey kKey = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// Replies granted of `count` asked for by `host` at `nowMs`, `bytes` each.
int Granted(QueryBudget& budget, uint32_t host, int count, uint32_t nowMs, size_t bytes = 100) {
  int granted = 0;
  for (int i = 0; i < count; ++i) granted += budget.Take(host, bytes, nowMs);
  return granted;
}

TEST(QueryBudgetTest, EachAddressHasABurstOfTenThenFourASecond) {
  QueryBudget budget(kKey);  // under which these two addresses do not collide
  const uint32_t browser = 0x0100007F, other = 0x0200007F;
  struct Row {
    uint32_t host;
    uint32_t atMs;
    int asked;
    int granted;
  };
  const Row rows[] = {
      {browser, 1000, 30, 10},   // the burst
      {other, 1000, 3, 3},       // another address has its own
      {browser, 1100, 5, 0},     // less than a reply's worth later
      {browser, 1250, 5, 1},     // a quarter of a second: one
      {browser, 2250, 9, 4},     // a second: four
      {browser, 60000, 30, 10},  // long after: the burst again, no more
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Granted(budget, r.host, r.asked, r.atMs), r.granted) << "at " << r.atMs;
  }
}

TEST(QueryBudgetTest, AllAddressesTogetherHave256KiBOfRepliesASecond) {
  QueryBudget budget(kKey);
  // 1 KiB replies from 1000 addresses, one query each: a second's worth.
  int granted = 0;
  for (uint32_t host = 1; host <= 1000; ++host) granted += Granted(budget, host, 1, 5000, 1024);
  EXPECT_EQ(granted, 256);
  EXPECT_EQ(Granted(budget, 5000, 1, 5000, 1024), 0);
  // A tenth of a second earns 25.6 KiB: 25 more replies.
  granted = 0;
  for (uint32_t host = 2001; host <= 2100; ++host) granted += Granted(budget, host, 1, 5100, 1024);
  EXPECT_EQ(granted, 25);
}

// Forged queries that alternate a victim's address with one that shares its
// budget get the victim no more than its own address would.
TEST(QueryBudgetTest, ACollidingAddressHandsTheVictimNoFreshBurst) {
  QueryBudget budget(kKey);
  const uint32_t victim = 0x0100007F;
  uint32_t colliding = victim + 1;
  while (budget.BudgetOf(colliding) != budget.BudgetOf(victim)) ++colliding;
  int granted = 0;
  for (uint32_t ms = 1000; ms < 11000; ms += 5) {  // ten seconds, 200 of each a second
    granted += budget.Take(victim, 100, ms);
    budget.Take(colliding, 100, ms);
  }
  EXPECT_LE(granted, 10 + 4 * 10);
}

TEST(QueryBudgetTest, EachBudgetPlacesAddressesByAKeyOfItsOwn) {
  const QueryBudget a, b;
  int placedAlike = 0;
  for (uint32_t host = 1; host <= 1000; ++host) placedAlike += a.BudgetOf(host) == b.BudgetOf(host);
  EXPECT_LT(placedAlike, 10);  // 1000 / 4096 by chance
}

TEST(TokenBucketTest, TimeOnlyMovesForwardAndWrapsAround) {
  TokenBucket bucket;
  bucket.Fill(1000, 0xFFFFFF00);
  ASSERT_TRUE(bucket.Take(1000));
  struct Row {
    uint32_t atMs;
    uint32_t credit;
    uint32_t stampMs;
  };
  const Row rows[] = {
      {0xFFFFFF64, 100, 0xFFFFFF64},   // 100 ms on
      {0xFFFFFF00, 100, 0xFFFFFF64},   // earlier: no time, and the stamp stays
      {0x00000064, 356, 0x00000064},   // past the wrap: 256 ms on
      {0x00100000, 1000, 0x00100000},  // long after: the cap
      {0x80100000, 1000, 0x80100000},  // 24.9 days on
      {0x80000000, 0, 0x80100000},     // 17 minutes earlier: no time
  };
  for (const Row& r : rows) {
    bucket.Take(bucket.credit == 1000 ? 1000 : 0);  // from the cap, empty again
    bucket.Refill(r.atMs, 1000);
    EXPECT_EQ(bucket.credit, r.credit) << "at " << r.atMs;
    EXPECT_EQ(bucket.stampMs, r.stampMs) << "at " << r.atMs;
  }
}

}  // namespace
}  // namespace net
