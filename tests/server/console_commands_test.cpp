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
using Ints = std::vector<int>;
using Lines = std::vector<std::string>;

// What one console line wrote to the log, without the time stamps.
std::string Console(support::Seam& seam, const std::string& line) {
  const size_t before = seam.Server().ReadFile(kLogFileName).size();
  std::istringstream log((ExecuteConsoleCommand(line.c_str()), seam.Server().ReadFile(kLogFileName).substr(before)));
  std::string out;
  for (std::string l; std::getline(log, l);) out += (l.size() > 21 && l[4] == '-' && l[19] == ']' ? l.substr(21) : l) + "\n";
  return out;
}

const std::string kUnknown = "[CONSOLE] >> ERROR: Unknown command.\r\n          >> Type 'help' for a full list of console commands.\r\n";
const std::string kAbsent = "[CONSOLE] >> ERROR: That player is not connected.\r\n";

// Each row on the same server, in order: the line, what it logs, what it
// sends and the script events it raises.
TEST(ConsoleTest, EachCommandLogsItsAnswerAndSendsItsCalls) {
  support::Seam seam;
  for (const char* name : {"Zero", "Five", "Watcher"}) seam.Join(name);
  const std::string cut = ("Console Admin: " + std::string(400, 'x')).substr(0, 255);
  const struct {
    std::string line, log, sent = "", events = "";
  } cases[] = {
      {"Exit", kUnknown}, {"HELP", kUnknown}, {"kick5", kUnknown}, {"restart!", kUnknown}, {"bogus words", kUnknown},
      {"help", "[CONSOLE] List of commands:\r\ngmx\trestart\tsay\r\nkick\tban\texit\r\nquit\r\n"},
      {"   ", ""},
      {"kick", "[CONSOLE] >> SYNTAX: /KICK <PLAYER ID>\r\n"}, {"ban ", "[CONSOLE] >> SYNTAX: /BAN <PLAYER ID>\r\n"},
      {"say ", "[CONSOLE] >> SYNTAX: /SAY <TEXT>\r\n"}, {"kick 7", kAbsent}, {"kick 300", kAbsent} /* player 44 */,
      {"reloadbans now", "[CONSOLE] The bans file has been reloaded successfully.\r\n"},
      // The text keeps its blanks; its length byte, then the colour.
      {"say  hi", "[ADMIN] Console Admin:  hi\r\n",
       Line("OutputChatBox", {0, 1, 2}, Want().u8(18).chars("Console Admin:  hi", 18).u8(0).u8(255).u8(255).u8(255))},
      {"say " + std::string(400, 'x'), "[ADMIN] " + cut + "\r\n",
       Line("OutputChatBox", {0, 1, 2}, Want().u8(255).chars(cut.data(), 255).u8(0).u8(255).u8(255).u8(255))},
      // "x" reads no number: player 0.
      {"kick x", "[CONSOLE] Player Zero [ID: 0] has successfully been kicked.\r\n[LEAVE] Zero has left the server. [Kicked]\r\n",
       "KickPlayer>0 /0\nclose>0\nPlayerDisconnect>1,2 84c0/10", "disconnect 0 3"},
      // The low byte of 257: player 1.
      {"ban 257", "[CONSOLE] Player Five [ID: 1] has successfully been banned.\r\n[LEAVE] Five has left the server. [Banned]\r\n",
       "BanPlayer>1 /0\nclose>1\nPlayerDisconnect>2 8c80/10", "disconnect 1 2"},
      {"kick -254", "[CONSOLE] Player Watcher [ID: 2] has successfully been kicked.\r\n[LEAVE] Watcher has left the server. [Kicked]\r\n",
       "KickPlayer>2 /0\nclose>2", "disconnect 2 3"},  // the low byte of -254: player 2
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Lines({Console(seam, c.line), seam.Take(), seam.events.Take()}), Lines({c.log, c.sent, c.events})) << c.line;
  }
  EXPECT_TRUE(!GetPlayerPool()->IsInUse(1) && seam.Server().ReadFile("server_bans.xml").find("10.0.0.2") != std::string::npos);
  std::filesystem::remove(seam.Server().Dir() + "/server_bans.xml");
  std::filesystem::create_directory(seam.Server().Dir() + "/server_bans.xml");
  EXPECT_EQ(Console(seam, "reloadbans"), "[BANS] server_bans.xml cannot be read (it is not a regular file): the bans in memory stay "
            "as they are and the file is left untouched.\r\n[CONSOLE] >> ERROR: The bans file could not be read; the bans are unchanged.\r\n");
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
  const uint32_t started = seam.clock.Now();
  uint8_t hour = 0, minute = 0;
  auto state = [&] { return std::to_string(gNetGame->restartPending) + " " + std::to_string(gNetGame->restartStartMs); };
  auto at = [&](uint32_t ms) { return seam.clock.Set(started + ms), seam.Pump(), state(); };

  // No onPlayerDisconnect for a restart; a second one while pending does nothing.
  ExecuteConsoleCommand("restart");
  GetGameClock(hour, minute);
  EXPECT_EQ((Ints{GetPlayerPool()->IsInUse(0), GetVehiclePool()->Exists(1), hour * 100 + minute}), (Ints{0, 0, 1200}));
  EXPECT_EQ(state() + "|" + seam.events.Take() + "|" + seam.Take(), "1 " + std::to_string(started) + "||Internal_RestartTheGame>0 /0\nclose>0");
  EXPECT_EQ(Console(seam, "gmx"), "");

  EXPECT_EQ((Lines{at(5000), at(5001)}), (Lines{"1 " + std::to_string(started), "0 0"}));
  EXPECT_EQ(gServerSettings.serverName, std::string("A_B"));
  EXPECT_EQ(GetGamePeer()->GetIncomingPassword(), "old");
  EXPECT_EQ(GetGamePeer()->GetOfflinePingResponse().substr(0, 2), "1,");
  EXPECT_NE(seam.Server().ReadFile(kLogFileName).find("[RESTART] Success!  Players can now re-connect"), std::string::npos);
  EXPECT_GE(seam.Join("Carol"), 0);

  // A script's request waits for the end of the pass, and is taken once.
  EXPECT_EQ((Lines{(RequestRestart(), state()), (seam.Pump(), state() + (TakeRestartRequest() ? " again" : ""))}),
            (Lines{"0 0", "1 " + std::to_string(started + 5001)}));
}

}  // namespace
