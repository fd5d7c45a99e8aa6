#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

using platform::Handoff;

// Polls `cond` until it holds or five seconds pass.
template <typename F>
bool WaitFor(F cond) {
  uint64_t deadline = platform::MonotonicUs() + 5000000;
  while (!cond()) {
    if (platform::MonotonicUs() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(Handoff, StartsUnsignalledAndKeepsOneSpareSignal) {
  Handoff h;
  std::atomic<int> passed{0};
  std::thread t([&] {
    h.Wait();
    ++passed;
    h.Wait();
    ++passed;
  });
  ASSERT_TRUE(WaitFor([&] { return h.Waiters() == 1; })) << "a fresh hand-off let a waiter through";
  EXPECT_EQ(passed, 0);
  h.Signal();
  ASSERT_TRUE(WaitFor([&] { return passed == 1 && h.Waiters() == 1; }));
  h.Signal();
  t.join();

  // Signals given while nobody waits collapse into one.
  h.Signal();
  h.Signal();
  h.Wait();  // takes the spare without blocking
  std::thread u([&] {
    h.Wait();
    ++passed;
  });
  ASSERT_TRUE(WaitFor([&] { return h.Waiters() == 1; })) << "a second spare signal was kept";
  EXPECT_EQ(passed, 2);
  h.Signal();
  u.join();
  EXPECT_EQ(h.Waiters(), 0);
}

TEST(Handoff, EachSignalReleasesExactlyOneWaiterOldestFirst) {
  Handoff h;
  std::mutex m;
  std::vector<int> order;
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      h.Wait();
      std::lock_guard<std::mutex> lock(m);
      order.push_back(i);
    });
    // Start the next only once this one is queued, so the queue order is known.
    ASSERT_TRUE(WaitFor([&] { return h.Waiters() == i + 1; }));
  }
  for (int released = 1; released <= 4; ++released) {
    h.Signal();
    // Waiters() drops only when the released thread has picked its grant up,
    // so the others are seen still queued.
    ASSERT_TRUE(WaitFor([&] { return h.Waiters() == 4 - released; }));
    ASSERT_TRUE(WaitFor([&] {
      std::lock_guard<std::mutex> lock(m);
      return (int)order.size() == released;
    }));
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
}

TEST(Handoff, BackToBackSignalsReachTwoWaiters) {
  // The second signal arrives before the first waiter has woken; it must not
  // be lost, nor go to the first waiter twice.
  Handoff h;
  std::atomic<int> passed{0};
  std::thread a([&] { h.Wait(); ++passed; });
  ASSERT_TRUE(WaitFor([&] { return h.Waiters() == 1; }));
  std::thread b([&] { h.Wait(); ++passed; });
  ASSERT_TRUE(WaitFor([&] { return h.Waiters() == 2; }));
  h.Signal();
  h.Signal();
  a.join();
  b.join();
  EXPECT_EQ(passed, 2);
  EXPECT_EQ(h.Waiters(), 0);
}

// The main loop and the console thread as the server runs them: the main
// loop does a pass, then "Signal(); Wait();" and a short sleep; the console
// thread runs each command between Wait() and Signal(). Every command must
// run between two passes, never during one, and a waiting command must run at
// the very next hand-off.
TEST(Handoff, ConsoleCommandsRunBetweenPassesAndNeverStarve) {
  constexpr int kCommands = 2000;
  Handoff h;
  std::atomic<bool> inPass{false};
  std::atomic<bool> stop{false};
  std::atomic<int> done{0};
  std::atomic<int> duringPass{0};
  std::atomic<bool> finished{false};

  std::thread console([&] {
    for (int i = 0; i < kCommands && !stop; ++i) {
      h.Wait();
      if (inPass) ++duringPass;
      ++done;
      h.Signal();
    }
    finished = true;
  });

  int skipped = 0;  // hand-offs where a waiting command did not run
  uint64_t deadline = platform::MonotonicUs() + 120000000;
  while (done < kCommands && platform::MonotonicUs() < deadline) {
    inPass = true;
    int before = done;
    std::this_thread::yield();
    if (done != before) ++duringPass;
    inPass = false;
    bool consoleWaiting = h.Waiters() > 0;
    h.Signal();
    h.Wait();
    if (consoleWaiting && done == before) ++skipped;
    platform::SleepMs(1);
  }
  stop = true;
  // Release the console thread should the loop have given up.
  while (!finished) {
    h.Signal();
    platform::SleepMs(1);
  }
  console.join();
  EXPECT_EQ(done, kCommands);
  EXPECT_EQ(duringPass, 0);
  EXPECT_EQ(skipped, 0);
}

TEST(Time, ClockIsMonotonicAndSleepWaitsAtLeastAsAsked) {
  uint64_t a = platform::MonotonicUs();
  platform::SleepMs(20);
  uint64_t b = platform::MonotonicUs();
  EXPECT_GE(b - a, 20000u);
  for (int i = 0; i < 1000; ++i) {
    uint64_t c = platform::MonotonicUs();
    ASSERT_GE(c, b);
    b = c;
  }
}

}  // namespace
