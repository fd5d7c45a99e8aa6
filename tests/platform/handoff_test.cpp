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
  const uint64_t deadline = platform::MonotonicUs() + 5000000;
  while (!cond()) {
    if (platform::MonotonicUs() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(Handoff, StartsUnsignalledAndKeepsOneSpareSignal) {
  Handoff h;
  std::atomic<int> passed{0};
  auto waiter = [&] {
    h.Wait();
    ++passed;
  };
  std::thread t(waiter);
  ASSERT_TRUE(WaitFor([&] { return h.Waiters() == 1; }));
  EXPECT_EQ(passed, 0) << "a fresh hand-off let a waiter through";
  h.Signal();
  t.join();

  // Signals given while nobody waits collapse into one.
  h.Signal();
  h.Signal();
  h.Wait();  // takes the spare without blocking
  std::thread u(waiter);
  ASSERT_TRUE(WaitFor([&] { return h.Waiters() == 1; }));
  EXPECT_EQ(passed, 1) << "a second spare signal was kept";
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
    // The next starts only once this one is queued, so the queue order is known.
    ASSERT_TRUE(WaitFor([&] { return h.Waiters() == i + 1; }));
  }
  auto released = [&](size_t n) {
    return WaitFor([&] {
      std::lock_guard<std::mutex> lock(m);
      return order.size() == n;
    });
  };
  // Two signals back to back, before the first waiter has woken: neither is
  // lost nor goes to the same waiter twice.
  h.Signal();
  h.Signal();
  ASSERT_TRUE(released(2));
  EXPECT_EQ(order[0] + order[1], 1);
  for (size_t n = 3; n <= 4; ++n) {
    h.Signal();
    ASSERT_TRUE(released(n));
    EXPECT_EQ(h.Waiters(), 4 - static_cast<int>(n));
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(order[2], 2);
  EXPECT_EQ(order[3], 3);
}

// The main loop and the console thread as the server runs them: the main
// loop does a pass, then "Signal(); Wait();" and a short sleep; the console
// thread runs each command between Wait() and Signal(). Every command must
// run between two passes, never during one, and a waiting command must run at
// the very next hand-off.
TEST(Handoff, ConsoleCommandsRunBetweenPassesAndNeverStarve) {
  constexpr int kCommands = 2000;
  Handoff h;
  std::atomic<bool> inPass{false}, stop{false}, finished{false};
  std::atomic<int> done{0}, duringPass{0};
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
  stop = true;
  while (!finished) {  // release the console thread should the loop have given up
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
    const uint64_t c = platform::MonotonicUs();
    ASSERT_GE(c, b);
    b = c;
  }
}

}  // namespace
