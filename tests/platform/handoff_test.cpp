#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/test_client.h"

namespace {

using platform::Handoff;
using support::WaitUntil;

TEST(Handoff, StartsUnsignalledKeepsOneSpareAndReleasesOldestFirst) {
  Handoff h;
  std::mutex m;
  std::vector<int> order;
  std::vector<std::thread> threads;
  auto count = [&] {
    std::lock_guard lock(m);
    return order.size();
  };
  auto released = [&](size_t n) { return WaitUntil([&] { return count() == n; }, 5000); };
  for (int i = 0; i < 5; ++i) {
    threads.emplace_back([&, i] {
      h.Wait();
      std::lock_guard lock(m);
      order.push_back(i);
    });
    // The next starts only once this one is queued, so the queue order is known.
    const int queued = i == 0 ? 1 : i;
    ASSERT_TRUE(WaitUntil([&] { return h.Waiters() == queued; }, 5000)) << "waiter " << i;
    if (i > 0) continue;
    EXPECT_EQ(count(), 0u) << "a fresh hand-off let a waiter through";
    h.Signal();
    ASSERT_TRUE(released(1));
    // Signals given while nobody waits collapse into one.
    h.Signal();
    h.Signal();
    h.Wait();  // takes the spare without blocking
  }
  EXPECT_EQ(count(), 1u) << "a second spare signal was kept";
  // Two signals back to back, before the first waiter has woken: neither is
  // lost nor goes to the same waiter twice.
  h.Signal();
  h.Signal();
  ASSERT_TRUE(released(3));
  for (size_t n = 4; n <= 5; ++n) {
    h.Signal();
    ASSERT_TRUE(released(n)) << n;
    EXPECT_EQ(h.Waiters(), 5 - static_cast<int>(n)) << n;
  }
  for (auto& t : threads) t.join();
  ASSERT_EQ(order.size(), 5u);
  EXPECT_EQ(order[0], 0);
  // The two released together may wake in either order.
  EXPECT_EQ((std::set<int>{order[1], order[2]}), (std::set<int>{1, 2}));
  EXPECT_EQ(order[3], 3);
  EXPECT_EQ(order[4], 4);
}

// The main loop and the console thread as the server runs them: a pass, then
// "Signal(); Wait();" and a short sleep; the console runs each command between
// Wait() and Signal(). A command never runs during a pass, and a waiting one
// runs at the very next hand-off.
TEST(Handoff, ConsoleCommandsRunBetweenPassesAndNeverStarve) {
  constexpr int kCommands = 2000;
  Handoff h;
  std::atomic<bool> inPass{false};
  std::atomic<bool> stop{false};
  std::atomic<bool> finished{false};
  std::atomic<int> done{0};
  std::atomic<int> duringPass{0};
  std::thread console([&] {
    for (int i = 0; i < kCommands && !stop; ++i) {
      h.Wait();
      if (inPass) ++duringPass;
      ++done;
      h.Signal();
    }
    finished = true;
  });
  int skipped = 0;
  const uint64_t deadline = platform::MonotonicUs() + 120000000;
  while (done < kCommands && platform::MonotonicUs() < deadline) {
    inPass = true;
    const int before = done;
    std::this_thread::yield();
    if (done != before) ++duringPass;
    inPass = false;
    const bool consoleWaiting = h.Waiters() > 0;
    h.Signal();
    h.Wait();
    if (consoleWaiting && done == before) ++skipped;
    platform::SleepMs(1);
  }
  // Release the console should the loop have given up.
  stop = true;
  while (!finished) {
    h.Signal();
    platform::SleepMs(1);
  }
  console.join();
  EXPECT_EQ(done, 2000) << "the console stopped short";
  EXPECT_EQ(duringPass, 0) << "commands ran during a pass";
  EXPECT_EQ(skipped, 0) << "a waiting command missed a hand-off";
}

TEST(Time, ClockIsMonotonicAndSleepWaitsAtLeastAsAsked) {
  const uint64_t start = platform::MonotonicUs();
  platform::SleepMs(20);
  EXPECT_GE(platform::MonotonicUs() - start, 20000u);
  uint64_t previous = platform::MonotonicUs();
  for (int i = 0; i < 1000; ++i) {
    const uint64_t now = platform::MonotonicUs();
    ASSERT_GE(now, previous) << "reading " << i;
    previous = now;
  }
}

}  // namespace
