#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

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
  // A temporary guard holds `m` to the end of its expression.
  auto count = [&] { return std::lock_guard(m), order.size(); };
  auto released = [&](size_t n) { return WaitUntil([&] { return count() == n; }, 5000); };
  for (int i = 0; i < 5; ++i) {
    threads.emplace_back([&, i] { h.Wait(), std::lock_guard(m), order.push_back(i); });
    // The next starts only once this one is queued, so the queue order is known.
    ASSERT_TRUE(WaitUntil([&] { return h.Waiters() == (i == 0 ? 1 : i); }, 5000));
    if (i > 0) continue;
    EXPECT_EQ(count(), 0u) << "a fresh hand-off let a waiter through";
    ASSERT_TRUE((h.Signal(), released(1)));
    h.Signal(), h.Signal();  // signals given while nobody waits collapse into one
    h.Wait();                // takes the spare without blocking
  }
  EXPECT_EQ(count(), 1u) << "a second spare signal was kept";
  // Two signals back to back, before the first waiter has woken: neither is
  // lost nor goes to the same waiter twice.
  h.Signal(), h.Signal();
  ASSERT_TRUE(released(3));
  for (size_t n = 4; n <= 5; ++n) {
    h.Signal();
    ASSERT_TRUE(released(n) && h.Waiters() == 5 - static_cast<int>(n)) << n;
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(order[1] + order[2] + order[3] * 100 + order[4] * 1000, 4303);
}

// The main loop and the console thread as the server runs them: a pass, then
// "Signal(); Wait();" and a short sleep; the console runs each command between
// Wait() and Signal(). A command never runs during a pass, and a waiting one
// runs at the very next hand-off.
TEST(Handoff, ConsoleCommandsRunBetweenPassesAndNeverStarve) {
  constexpr int kCommands = 2000;
  Handoff h;
  std::atomic<bool> inPass{false}, stop{false}, finished{false};
  std::atomic<int> done{0}, duringPass{0};
  std::thread console([&] {
    for (int i = 0; i < kCommands && !stop; ++i) h.Wait(), duringPass += inPass, ++done, h.Signal();
    finished = true;
  });
  int skipped = 0;
  for (const uint64_t deadline = platform::MonotonicUs() + 120000000; done < kCommands && platform::MonotonicUs() < deadline;
       platform::SleepMs(1)) {
    inPass = true;
    const int before = done;
    std::this_thread::yield();
    duringPass += done != before;
    inPass = false;
    const bool consoleWaiting = h.Waiters() > 0;
    h.Signal(), h.Wait();
    skipped += consoleWaiting && done == before;
  }
  for (stop = true; !finished; platform::SleepMs(1)) h.Signal();  // release it should the loop give up
  console.join();
  EXPECT_EQ(done * 10 + duringPass + skipped, kCommands * 10);
}

TEST(Time, ClockIsMonotonicAndSleepWaitsAtLeastAsAsked) {
  uint64_t a = platform::MonotonicUs(), b = (platform::SleepMs(20), platform::MonotonicUs());
  EXPECT_GE(b - a, 20000u);
  for (int i = 0; i < 1000; ++i, b = a) ASSERT_GE(a = platform::MonotonicUs(), b);
}

}  // namespace
