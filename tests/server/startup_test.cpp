#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "core/log.h"
#include "core/netgame.h"
#include "core/rpc.h"
#include "core/settings.h"
#include "server/server.h"
#include "support/seam.h"
#include "support/server_fixture.h"
#include "support/test_client.h"

namespace {

TEST(StartupTest, StartupSanitisesTheScriptsTextsListensAndSurvivesABrokenPipe) {
  InProcessServer server;
  testing::internal::CaptureStdout();
  server.Start([] {
    CopyToField(gServerSettings.serverName, sizeof gServerSettings.serverName, "Ab@x,y#z$ \xE9");
    gServerSettings.maxPlayers = 32;
    CopyToField(gServerSettings.modeName, sizeof gServerSettings.modeName, "Mode, One");
    gServerSettings.password = "a b";
  });
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_NE(console.find("] Intiating the server...\n\n"), std::string::npos) << console;
  EXPECT_NE(console.find("\n"
                         "_____________________________________________\n"
                         "Quillmere Server [Linux] Started.\n"
                         "  - Version: QLM (Release RC1 P1)\n"
                         "  - Port Listener: 0\n"
                         "  - Max Players: 32\n"
                         "  - Gamemode(s): Mode_ One\n"
                         "  - Server Name: Ab_x_y_z_ _\n"
                         "  - Password: a_b\n"
                         "_____________________________________________\n"
                         "\n"
                         "\n"),
            std::string::npos)
      << console;
  EXPECT_NE(server.ReadFile(kLogFileName).find("Quillmere Server [Linux] Started.\r\n"),
            std::string::npos);

  // The peer asks for the password as sanitised, not as the script wrote it.
  EXPECT_EQ(GetGamePeer()->GetIncomingPassword(), "a_b");
  // The console's reader went away (`server | tee`, tee ended): a write fails
  // and the server lives on.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_EQ(close(fds[0]), 0);
  EXPECT_EQ(write(fds[1], "x", 1), -1);
  EXPECT_EQ(close(fds[1]), 0);
}

// A network that cannot listen (the port taken, an address this host does not
// have) is logged in one line and ends the start-up before the banner.
TEST(StartupTest, NetworkThatCannotListenStopsTheStartup) {
  net::Peer holder;
  ASSERT_TRUE(holder.Startup(1, 5, 0, "127.0.0.1"));
  struct Case {
    const char* address;
    uint16_t port;
    const char* reason;
  };
  const Case cases[] = {
      {"127.0.0.1", holder.GetBoundPort(), "Address already in use"},
      {"192.0.2.1", 4800, "Cannot assign requested address"},
  };
  for (const Case& c : cases) {
    InProcessServer server;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(server.Start([&] {
      gServerSettings.port = c.port;
      CopyToField(gServerSettings.bindAddress, sizeof gServerSettings.bindAddress, c.address);
    }));
    const std::string console = testing::internal::GetCapturedStdout();
    const std::string refusal = std::string("] [NETWORK] Cannot listen on ") + c.address + ":" +
                                std::to_string(c.port) + " (UDP): " + c.reason + "\n";
    EXPECT_NE(console.find(refusal), std::string::npos) << console;
    EXPECT_EQ(console.find("Started"), std::string::npos) << console;
  }
}

TEST(MainLoopTest, IrcStepNeedsMoreThan200msAcrossTheWrapAndConsoleLinesWaitForTheLoop) {
  support::Seam seam;
  EXPECT_NE(seam.Server().ReadFile(kLogFileName).find("  - Password: [N/A]\r\n"),
            std::string::npos);
  // The step's last stamp, now, and its stamp after a pass.
  struct Case {
    uint32_t last;
    uint32_t now;
    uint32_t after;
  };
  const Case cases[] = {
      {50000, 50200, 50000},
      {50000, 50201, 50201},
      {0xFFFFFF00u, 8, 8},
  };
  for (const Case& c : cases) {
    gLastIrcTickMs = c.last;
    seam.clock.Set(c.now);
    ProcessServerFrame();
    EXPECT_EQ(gLastIrcTickMs, c.after) << c.now;
  }
  // A console line is logged and run at the main loop's hand-off, not before.
  std::thread console([] { HandleConsoleLine("help"); });
  EXPECT_TRUE(support::WaitUntil([] { return MainLoopHandoff().Waiters() == 1; }, 5000));
  EXPECT_EQ(seam.Server().ReadFile(kLogFileName).find("[CONSOLE INPUT]"), std::string::npos);
  seam.Pump();
  console.join();
  EXPECT_NE(seam.Server().ReadFile(kLogFileName).find("[CONSOLE INPUT] help\r\n"),
            std::string::npos);
}

}  // namespace
