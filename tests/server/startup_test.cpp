#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>

#include "core/clock.h"
#include "core/log.h"
#include "core/netgame.h"
#include "core/settings.h"
#include "server/server.h"
#include "support/server_fixture.h"
#include "support/test_client.h"

namespace {

const char* kBannerNoPassword =
    "_____________________________________________\n"
    "Quillmere Server [Linux] Started.\n"
    "  - Version: QLM (Release RC1 P1)\n"
    "  - Port Listener: 7777\n"
    "  - Max Players: 32\n"
    "  - Gamemode(s): Race\n"
    "  - Server Name: Night Run\n"
    "  - Password: [N/A]\n"
    "_____________________________________________\n\n\n";

TEST(StartupTest, BannerShowsSettingsAndNAWithoutPassword) {
  InProcessServer dir;
  SetDefaultServerSettings();
  gServerSettings.port = 7777;
  gServerSettings.maxPlayers = 32;
  CopyToField(gServerSettings.modeName, sizeof gServerSettings.modeName, "Race");
  CopyToField(gServerSettings.serverName, sizeof gServerSettings.serverName, "Night Run");
  testing::internal::CaptureStdout();
  LogStartupBanner();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), kBannerNoPassword);

  gServerSettings.password = "pw";
  testing::internal::CaptureStdout();
  LogStartupBanner();
  std::string withPassword = kBannerNoPassword;
  withPassword.replace(withPassword.find("[N/A]"), 5, "pw");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), withPassword);
}

TEST(StartupTest, StartupSanitisesTheScriptsTextsAndListens) {
  InProcessServer server;
  testing::internal::CaptureStdout();
  server.Start([] {
    CopyToField(gServerSettings.serverName, sizeof gServerSettings.serverName, "Ab@x,y#z$ \xE9");
    CopyToField(gServerSettings.modeName, sizeof gServerSettings.modeName, "Mode, One");
    gServerSettings.password = "a b";
  });
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_STREQ(gServerSettings.serverName, "Ab_x_y_z_ _");
  EXPECT_STREQ(gServerSettings.modeName, "Mode_ One");
  EXPECT_EQ(*gServerSettings.password, "a_b");
  EXPECT_NE(console.find("Intiating the server...\n\n"), std::string::npos);
  EXPECT_NE(console.find("  - Password: a_b\n"), std::string::npos);
  EXPECT_NE(server.ReadFile(kLogFileName).find("Quillmere Server [Linux] Started.\r\n"),
            std::string::npos);

  // The peer listens and asks for the password as sanitised, not as the
  // script wrote it.
  support::TestClient asWritten;
  EXPECT_FALSE(asWritten.Connect(server.Port(), "a b"));
  EXPECT_EQ(asWritten.LastRefusal(), net::ID_INVALID_PASSWORD);
  support::TestClient sanitised;
  EXPECT_TRUE(sanitised.Connect(server.Port(), "a_b"));

  // The console's reader went away (`server | tee`, tee ended): a write fails
  // and the server lives on.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  EXPECT_EQ(write(fds[1], "x", 1), -1);
  close(fds[1]);
}

// A network that cannot listen (the port taken, an address this host does not
// have) is logged in one line and ends the start-up before the banner.
TEST(StartupTest, NetworkThatCannotListenStopsTheStartup) {
  net::Peer holder;
  ASSERT_TRUE(holder.Startup(1, 5, 0, "127.0.0.1"));
  const uint16_t taken = holder.GetBoundPort();
  for (const auto& [address, port, reason] :
       {std::tuple<const char*, uint16_t, const char*>{"127.0.0.1", taken, "Address already in use"},
        {"192.0.2.1", 4800, "Cannot assign requested address"}}) {
    InProcessServer server;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(server.Start([&] {
      gServerSettings.port = port;
      CopyToField(gServerSettings.bindAddress, sizeof gServerSettings.bindAddress, address);
    }));
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_NE(console.find("] [NETWORK] Cannot listen on " + std::string(address) + ":" +
                           std::to_string(port) + " (UDP): " + reason + "\n"),
              std::string::npos) << console;
    EXPECT_EQ(console.find("Started"), std::string::npos);
  }
}

std::atomic<uint32_t> fakeNow{0};
uint32_t FakeClock() { return fakeNow.load(); }

class DrivenClock : public ::testing::Test {
 protected:
  void SetUp() override { core::SetClockForTesting(FakeClock); }
  void TearDown() override { core::SetClockForTesting(nullptr); }
};

TEST_F(DrivenClock, TwoHundredMsStepRunsOnlyWhenMoreThan200msPassedAcrossTheWrap) {
  InProcessServer server;
  fakeNow = 50000;
  server.Start();
  gLastIrcTickMs = 50000;
  fakeNow = 50200;
  ProcessServerFrame();
  EXPECT_EQ(gLastIrcTickMs, 50000u);
  fakeNow = 50201;
  ProcessServerFrame();
  EXPECT_EQ(gLastIrcTickMs, 50201u);

  gLastIrcTickMs = 0xFFFFFF00u;
  fakeNow = 0x00000008u;  // 264 ms later, across the wrap of the count
  ProcessServerFrame();
  EXPECT_EQ(gLastIrcTickMs, 8u);
}

// A console line waits for the hand-off: it is executed between two
// iterations of the main loop, never while a pass runs, and every one of many
// lines gets its turn.
TEST(ConsoleHandoffTest, LinesRunBetweenPassesAndNeverStarve) {
  InProcessServer server;
  testing::internal::CaptureStdout();
  server.Start();
  constexpr int kLines = 200;
  std::atomic<int> done{0};
  std::thread console([&] {
    for (int i = 0; i < kLines; ++i) {
      HandleConsoleLine(("line " + std::to_string(i)).c_str());
      done = i + 1;
    }
  });
  auto executed = [&] {
    const std::string log = server.ReadFile(kLogFileName);
    size_t count = 0;
    for (size_t at = log.find("[CONSOLE INPUT]"); at != std::string::npos;
         at = log.find("[CONSOLE INPUT]", at + 1)) {
      ++count;
    }
    return count;
  };
  int iterations = 0;
  while (done < kLines && iterations < 100000) {
    const size_t before = executed();
    ProcessServerFrame();
    // Nothing executes while the pass runs: the console thread needs the token.
    EXPECT_EQ(executed(), before);
    RunMainLoopIteration();
    ++iterations;
  }
  console.join();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(done.load(), kLines);
  const std::string log = server.ReadFile(kLogFileName);
  EXPECT_NE(log.find("[CONSOLE INPUT] line 0\r\n"), std::string::npos);
  EXPECT_NE(log.find("[CONSOLE INPUT] line 199\r\n"), std::string::npos);
}

}  // namespace
