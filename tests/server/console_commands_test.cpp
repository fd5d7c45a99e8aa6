#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/game_fixture.h"
#include "core/gameclock.h"
#include "core/log.h"
#include "core/query.h"
#include "core/restart_request.h"
#include "core/settings.h"
#include "core/vehiclepool.h"
#include "server/server.h"

namespace {

using gametest::GameTest;

class ConsoleTest : public GameTest {
 protected:
  // What one console line printed.
  std::string Run(const char* line) {
    const std::string before = server_.ReadFile(kLogFileName);
    ExecuteConsoleCommand(line);
    return server_.ReadFile(kLogFileName).substr(before.size());
  }
};

const char* kUnknown =
    "[CONSOLE] >> ERROR: Unknown command.\r\n"
    "          >> Type 'help' for a full list of console commands.\r\n";

TEST_F(ConsoleTest, WordsAreExactAndRefusalsExplainThemselves) {
  for (const char* line : {"Exit", "HELP", "kick5", "restart!", "bogus words"}) {
    EXPECT_EQ(Run(line), kUnknown) << line;
  }
  EXPECT_EQ(Run("help"), "[CONSOLE] List of commands:\r\ngmx\trestart\tsay\r\nkick\tban\texit\r\nquit\r\n");
  EXPECT_EQ(Run("   "), "");
  EXPECT_EQ(Run("kick"), "[CONSOLE] >> SYNTAX: /KICK <PLAYER ID>\r\n");
  EXPECT_EQ(Run("ban "), "[CONSOLE] >> SYNTAX: /BAN <PLAYER ID>\r\n");
  EXPECT_EQ(Run("say "), "[CONSOLE] >> SYNTAX: /SAY <TEXT>\r\n");
  EXPECT_EQ(Run("kick 7"), "[CONSOLE] >> ERROR: That player is not connected.\r\n");
  EXPECT_EQ(Run("reloadbans now"), "[CONSOLE] The bans file has been reloaded successfully.\r\n");
  std::filesystem::create_directory(server_.Dir() + "/server_bans.xml");
  EXPECT_NE(Run("reloadbans").find("[CONSOLE] >> ERROR: The bans file could not be read; the bans "
                                   "are unchanged.\r\n"),
            std::string::npos);
}

TEST_F(ConsoleTest, SayKeepsTheBlanksOfItsTextAndIsCutToOneLengthByte) {
  support::TestClient& a = ConnectAndJoin("Alice");
  a.Watch("OutputChatBox");
  const std::string said = Run("say  hi");
  EXPECT_NE(said.find("[ADMIN] Console Admin:  hi\r\n"), std::string::npos) << said;
  ASSERT_TRUE(PumpUntil([&] { return a.Count("OutputChatBox") == 1; }));
  // u8 length, the text, then the colour: u8 0 and three 255s.
  const std::string text = "Console Admin:  hi";
  std::vector<uint8_t> want = {static_cast<uint8_t>(text.size())};
  want.insert(want.end(), text.begin(), text.end());
  want.insert(want.end(), {0, 255, 255, 255});
  EXPECT_EQ(a.LastRpc("OutputChatBox")->data, want);

  Run(("say " + std::string(400, 'x')).c_str());
  ASSERT_TRUE(PumpUntil([&] { return a.Count("OutputChatBox") == 2; }));
  EXPECT_EQ(a.LastRpc("OutputChatBox")->data[0], 255);
}

TEST_F(ConsoleTest, KickTakesTheLowByteAndBanRunsItsSequenceInOrder) {
  support::TestClient& zero = ConnectAndJoin("Zero");
  support::TestClient& five = ConnectAndJoin("Five");
  support::TestClient& watcher = ConnectAndJoin("Watcher");
  zero.Watch("KickPlayer");
  five.Watch("BanPlayer");
  ASSERT_EQ(zero.Index(), 0);

  // 300 is player 44 (not connected); "x" reads no number: player 0.
  EXPECT_EQ(Run("kick 300"), "[CONSOLE] >> ERROR: That player is not connected.\r\n");
  const std::string kicked = Run("kick x");
  EXPECT_NE(kicked.find("[CONSOLE] Player Zero [ID: 0] has successfully been kicked."), std::string::npos);
  EXPECT_NE(kicked.find("[LEAVE] Zero has left the server. [Kicked]"), std::string::npos);
  EXPECT_TRUE(zero.WaitForRpc("KickPlayer"));

  sink_.events.clear();
  const uint8_t fiveId = static_cast<uint8_t>(five.Index());
  const std::string banned = Run(("ban " + std::to_string(fiveId + 256)).c_str());
  const size_t success = banned.find("has successfully been banned.");
  const size_t leave = banned.find("[LEAVE] Five has left the server. [Banned]");
  ASSERT_NE(success, std::string::npos);
  ASSERT_NE(leave, std::string::npos);
  EXPECT_LT(success, leave);
  ASSERT_EQ(sink_.events.size(), 1u);
  EXPECT_EQ(sink_.events[0], "disconnect " + std::to_string(fiveId) + " 2");
  EXPECT_FALSE(GetPlayerPool()->IsInUse(fiveId));
  EXPECT_NE(server_.ReadFile("server_bans.xml").find("127.0.0.1"), std::string::npos);
  EXPECT_TRUE(five.WaitForRpc("BanPlayer"));
  ASSERT_TRUE(PumpUntil([&] { return watcher.Count("PlayerDisconnect") == 2; }));
}

class RestartTest : public GameTest {};

TEST_F(RestartTest, RestartEmptiesTheWorldRefusesJoinsAndCompletesAfterFiveSeconds) {
  // The request of the completion's own run of Main.lua is ignored.
  server_.WriteFile("Main.lua", "restartGameMode()");
  support::TestClient& alice = ConnectAndJoin("Alice");
  ASSERT_GT(GetVehiclePool()->Add(150, 1, 2, 3, 0, 1, 1), 0);
  SetGameClock(18, 30);
  CopyToField(gServerSettings.serverName, sizeof gServerSettings.serverName, "Changed");
  sink_.events.clear();

  ExecuteConsoleCommand("restart");
  const uint32_t started = gametest::frozenNowMs;
  EXPECT_EQ(gNetGame->restartPending, 1);
  EXPECT_EQ(gNetGame->restartStartMs, started);
  EXPECT_FALSE(GetPlayerPool()->IsInUse(0));
  EXPECT_FALSE(GetVehiclePool()->Exists(1));
  uint8_t hour = 0, minute = 0;
  GetGameClock(hour, minute);
  EXPECT_EQ(hour, 12);
  EXPECT_EQ(minute, 0);
  EXPECT_TRUE(sink_.events.empty());  // no onPlayerDisconnect for a restart
  ASSERT_TRUE(alice.WaitForRpc("Internal_RestartTheGame"));
  ASSERT_TRUE(alice.WaitForPacket(net::ID_DISCONNECTION_NOTIFICATION));

  // A second restart while pending does nothing.
  const std::string log = server_.ReadFile(kLogFileName);
  ExecuteConsoleCommand("gmx");
  EXPECT_EQ(server_.ReadFile(kLogFileName), log);

  // Joining is refused while pending.
  support::TestClient& bob = Connect();
  SendJoin(bob, "Bob", gametest::GoodVersion());
  ASSERT_TRUE(PumpUntil([&] { return bob.Count("Internal_RestartTheGame") == 1; }));

  gametest::frozenNowMs = started + 5000;
  server_.Pump();
  EXPECT_EQ(gNetGame->restartPending, 1);
  gametest::frozenNowMs = started + 5001;
  server_.Pump();
  EXPECT_EQ(gNetGame->restartPending, 0);
  EXPECT_EQ(gNetGame->restartStartMs, 0u);
  EXPECT_STREQ(gServerSettings.serverName, kDefaultServerName);
  EXPECT_NE(server_.ReadFile(kLogFileName).find(
                "[RESTART] Success!  Players can now re-connect to the server.\r\n"),
            std::string::npos);

  support::TestClient& carol = Connect();
  EXPECT_EQ(Join(carol, "Carol"), carol.Index());
}

TEST_F(RestartTest, AScriptsRequestWaitsForTheEndOfThePass) {
  RequestRestart();
  EXPECT_EQ(gNetGame->restartPending, 0);
  server_.Pump();
  EXPECT_EQ(gNetGame->restartPending, 1);
  EXPECT_FALSE(TakeRestartRequest());
}

}  // namespace
