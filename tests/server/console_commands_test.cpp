#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "core/gameclock.h"
#include "core/log.h"
#include "core/netgame.h"
#include "core/restart_request.h"
#include "core/settings.h"
#include "core/vehiclepool.h"
#include "server/server.h"
#include "support/seam.h"

namespace {

using namespace support;

// A log line without its time stamp "[Mon-dd-yy HH:MM:SS] ", when it has one.
std::string Unstamped(const std::string& line) {
  const bool stamped = line.size() > 21 && line[4] == '-' && line[19] == ']';
  return stamped ? line.substr(21) : line;
}

// What one console line wrote to the log, without the time stamps.
std::string Console(support::Seam& seam, const std::string& line) {
  const size_t before = seam.Server().ReadFile(kLogFileName).size();
  ExecuteConsoleCommand(line.c_str());
  std::istringstream log(seam.Server().ReadFile(kLogFileName).substr(before));
  std::string out;
  for (std::string l; std::getline(log, l);) {
    out += Unstamped(l) + "\n";
  }
  return out;
}

const std::string kUnknown =
    "[CONSOLE] >> ERROR: Unknown command.\r\n"
    "          >> Type 'help' for a full list of console commands.\r\n";
const std::string kAbsent = "[CONSOLE] >> ERROR: That player is not connected.\r\n";

// Each row on the same server, in order: the line, what it logs, what it
// sends and the script events it raises.
TEST(ConsoleTest, EachCommandLogsItsAnswerAndSendsItsCalls) {
  support::Seam seam;
  for (const char* name : {"Zero", "Five", "Watcher"}) {
    seam.Join(name);
  }
  // A said text is cut to 255 bytes with its prefix.
  const std::string cut = "Console Admin: " + std::string(240, 'x');
  struct Case {
    std::string line;
    std::string log;
    std::string sent = "";
    std::string events = "";
  };
  const Case cases[] = {
      {"Exit", kUnknown},
      {"HELP", kUnknown},
      {"kick5", kUnknown},
      {"restart!", kUnknown},
      {"bogus words", kUnknown},
      {"help", "[CONSOLE] List of commands:\r\ngmx\trestart\tsay\r\nkick\tban\texit\r\nquit\r\n"},
      {"   ", ""},
      {"kick", "[CONSOLE] >> SYNTAX: /KICK <PLAYER ID>\r\n"},
      {"ban ", "[CONSOLE] >> SYNTAX: /BAN <PLAYER ID>\r\n"},
      {"say ", "[CONSOLE] >> SYNTAX: /SAY <TEXT>\r\n"},
      {"kick 7", kAbsent},
      {"kick 300", kAbsent},  // player 44
      {"reloadbans now", "[CONSOLE] The bans file has been reloaded successfully.\r\n"},
      // The text keeps its blanks; its length byte, then the colour.
      {"say  hi", "[ADMIN] Console Admin:  hi\r\n",
       Line("OutputChatBox", {0, 1, 2},
            Want().u8(18).chars("Console Admin:  hi", 18).u8(0).u8(255).u8(255).u8(255))},
      {"say " + std::string(400, 'x'), "[ADMIN] " + cut + "\r\n",
       Line("OutputChatBox", {0, 1, 2},
            Want().u8(255).chars(cut.data(), 255).u8(0).u8(255).u8(255).u8(255))},
      // "x" reads no number: player 0.
      {"kick x",
       "[CONSOLE] Player Zero [ID: 0] has successfully been kicked.\r\n"
       "[LEAVE] Zero has left the server. [Kicked]\r\n",
       "KickPlayer>0 /0\n"
       "close>0\n"
       "PlayerDisconnect>1,2 84c0/10",
       "disconnect 0 3"},
      // The low byte of 257: player 1.
      {"ban 257",
       "[CONSOLE] Player Five [ID: 1] has successfully been banned.\r\n"
       "[LEAVE] Five has left the server. [Banned]\r\n",
       "BanPlayer>1 /0\n"
       "close>1\n"
       "PlayerDisconnect>2 8c80/10",
       "disconnect 1 2"},
      // The low byte of -254: player 2.
      {"kick -254",
       "[CONSOLE] Player Watcher [ID: 2] has successfully been kicked.\r\n"
       "[LEAVE] Watcher has left the server. [Kicked]\r\n",
       "KickPlayer>2 /0\n"
       "close>2",
       "disconnect 2 3"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Console(seam, c.line), c.log) << c.line;
    EXPECT_EQ(seam.Take(), c.sent) << c.line;
    EXPECT_EQ(seam.events.Take(), c.events) << c.line;
  }
  EXPECT_FALSE(GetPlayerPool()->IsInUse(1));
  EXPECT_NE(seam.Server().ReadFile("server_bans.xml").find("10.0.0.2"), std::string::npos);
  std::filesystem::remove(seam.Server().Dir() + "/server_bans.xml");
  std::filesystem::create_directory(seam.Server().Dir() + "/server_bans.xml");
  EXPECT_EQ(Console(seam, "reloadbans"),
            "[BANS] server_bans.xml cannot be read (it is not a regular file): the bans in "
            "memory stay as they are and the file is left untouched.\r\n"
            "[CONSOLE] >> ERROR: The bans file could not be read; the bans are unchanged.\r\n");
}

TEST(ConsoleTest, RestartEmptiesTheWorldAndCompletesAfterFiveSeconds) {
  support::Seam seam;
  // The request of the completion's own run of Main.lua is ignored.
  seam.Server().WriteFile("Main.lua", "restartGameMode() setServerName('A@B')");
  // The new run sets no password: the network keeps the one it had, and the
  // query reply says that a join needs one.
  GetGamePeer()->SetIncomingPassword("old", 3);
  seam.Join("Alice");
  ASSERT_GT(GetVehiclePool()->Add(150, 1, 2, 3, 0, 1, 1), 0);
  SetGameClock(18, 30);
  CopyToField(gServerSettings.serverName, sizeof gServerSettings.serverName, "Changed");
  gServerSettings.maxPlayers = 7;  // the new run leaves it alone
  const uint32_t started = seam.clock.Now();

  // No onPlayerDisconnect for a restart; a second one while pending does nothing.
  ExecuteConsoleCommand("restart");
  uint8_t hour = 0;
  uint8_t minute = 0;
  GetGameClock(hour, minute);
  EXPECT_FALSE(GetPlayerPool()->IsInUse(0));
  EXPECT_FALSE(GetVehiclePool()->Exists(1));
  EXPECT_EQ(hour, 12);
  EXPECT_EQ(minute, 0);
  EXPECT_EQ(gNetGame->restartPending, 1);
  EXPECT_EQ(gNetGame->restartStartMs, started);
  EXPECT_EQ(seam.events.Take(), "");
  EXPECT_EQ(seam.Take(), "Internal_RestartTheGame>0 /0\nclose>0");
  EXPECT_EQ(Console(seam, "gmx"), "");

  seam.clock.Set(started + 5000);
  seam.Pump();
  EXPECT_EQ(gNetGame->restartPending, 1);
  EXPECT_EQ(gNetGame->restartStartMs, started);
  // The operator edits the ban file while the restart waits.
  seam.Server().WriteFile("server_bans.xml",
                          "<BanInformation>\n    <9.8.7.6 />\n</BanInformation>\n");
  seam.clock.Set(started + 5001);
  seam.Pump();
  EXPECT_TRUE(GetGamePeer()->IsBanned("9.8.7.6"));
  EXPECT_EQ(gServerSettings.maxPlayers, 50);  // back to the default
  EXPECT_EQ(gNetGame->restartPending, 0);
  EXPECT_EQ(gNetGame->restartStartMs, 0u);
  EXPECT_STREQ(gServerSettings.serverName, "A_B");
  EXPECT_EQ(GetGamePeer()->GetIncomingPassword(), "old");
  EXPECT_EQ(GetGamePeer()->GetOfflinePingResponse().substr(0, 2), "1,");
  EXPECT_NE(
      seam.Server().ReadFile(kLogFileName).find("[RESTART] Success!  Players can now re-connect"),
      std::string::npos);
  EXPECT_GE(seam.Join("Carol"), 0);

  // A script's request waits for the end of the pass, and is taken once.
  RequestRestart();
  EXPECT_EQ(gNetGame->restartPending, 0);
  EXPECT_EQ(gNetGame->restartStartMs, 0u);
  seam.Pump();
  EXPECT_EQ(gNetGame->restartPending, 1);
  EXPECT_EQ(gNetGame->restartStartMs, started + 5001);
  EXPECT_FALSE(TakeRestartRequest());
}

}  // namespace
