// The budget of server-browser replies, on a clock the test sets.
#include "net/query_budget.h"

#include <gtest/gtest.h>

namespace net {
namespace {

// Replies granted of `count` asked for by `host` at `nowMs`, `bytes` each.
int Granted(QueryBudget& budget, uint32_t host, int count, uint32_t nowMs, size_t bytes = 100) {
  int granted = 0;
  for (int i = 0; i < count; ++i) granted += budget.Take(host, bytes, nowMs);
  return granted;
}

TEST(QueryBudgetTest, EachAddressHasABurstOfTenThenFourASecond) {
  QueryBudget budget;
  const uint32_t browser = 0x0100007F, other = 0x0200007F;
  struct Row {
    uint32_t host;
    uint32_t atMs;
    int asked;
    int granted;
  };
  const Row rows[] = {
      {browser, 1000, 30, 10},  // the burst
      {other, 1000, 3, 3},      // another address has its own
      {browser, 1100, 5, 0},    // less than a reply's worth later
      {browser, 1250, 5, 1},    // a quarter of a second: one
      {browser, 2250, 9, 4},    // a second: four
      {browser, 60000, 30, 10}, // long after: the burst again, no more
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Granted(budget, r.host, r.asked, r.atMs), r.granted) << "at " << r.atMs;
  }
}

TEST(QueryBudgetTest, AllAddressesTogetherHave256KiBOfRepliesASecond) {
  QueryBudget budget;
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

}  // namespace
}  // namespace net
