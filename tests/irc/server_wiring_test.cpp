// The bots inside a whole server: the game mode creates them, the main loop's
// 200-ms step reads them, and a restart destroys them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "irc/bot.h"
#include "irc_test_support.h"
#include "server/server.h"
#include "support/server_fixture.h"

namespace {

TEST(IrcInServer, MainLoopReadsTheBotsAndARestartQuitsThem) {
  irctest::FakeIrcServer irc;
  InProcessServer server("IRC.createBot()\nIRC.connect(0, '127.0.0.1', " + std::to_string(irc.Port()) +
                         ", 'srvbot')\nIRC.joinChannel(0, '#game')\n"
                         "function onPing(nick) IRC.send(0, '#game', 'pong for ' .. nick) end\n"
                         "IRC.addCommand('ping', 'onPing', -1)\n");
  server.Start();
  irctest::LinePeer peer = irc.Accept();
  EXPECT_EQ(peer.ReadUntil("JOIN"), (std::vector<std::string>{"NICK srvbot", "USER srvbot * 0 :IRCPlugin", "JOIN #game"}));
  peer.SendLine(":u!~u@h PRIVMSG #game :!ping");
  std::string reply;
  EXPECT_TRUE(server.PumpUntil([&] { return (reply = peer.ReadLine(0)) != "<timeout>"; }));
  EXPECT_EQ(reply, "PRIVMSG #game :pong for u");

  RestartServer();
  EXPECT_EQ(peer.ReadUntil("<eof>"), (std::vector<std::string>{"QUIT", "<eof>"}));
  ASSERT_NE(GetIrcBotTable(), nullptr);
  EXPECT_EQ(GetIrcBotTable()->LowestUsedSlot(), -1);
}

}  // namespace
