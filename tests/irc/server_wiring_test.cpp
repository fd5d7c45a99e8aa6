// The bots inside a whole server: the game mode creates them, the main loop's
// 200-ms step reads them, and a restart destroys them.
#include <gtest/gtest.h>

#include <string>

#include "irc/bot.h"
#include "irc_test_support.h"
#include "server/server.h"
#include "support/server_fixture.h"

namespace {

using irctest::FakeIrcServer;
using irctest::LinePeer;

TEST(IrcInServer, MainLoopReadsTheBotsAndARestartQuitsThem) {
  FakeIrcServer irc;
  InProcessServer server(R"(
IRC.createBot()
IRC.connect(0, '127.0.0.1', )" + std::to_string(irc.Port()) + R"(, 'srvbot')
IRC.joinChannel(0, '#game')
function onPing(nick) IRC.send(0, '#game', 'pong for ' .. nick) end
IRC.addCommand('ping', 'onPing', -1)
)");
  server.Start();
  LinePeer peer = irc.Accept();
  EXPECT_EQ(peer.ReadUntil("JOIN"), (std::vector<std::string>{"NICK srvbot",
                                                              "USER srvbot * 0 :IRCPlugin",
                                                              "JOIN #game"}));

  peer.SendLine(":u!~u@h PRIVMSG #game :!ping");
  std::string reply;
  EXPECT_TRUE(server.PumpUntil([&] {
    reply = peer.ReadLine(0);
    return reply != "<timeout>";
  }));
  EXPECT_EQ(reply, "PRIVMSG #game :pong for u");

  RestartServer();
  EXPECT_EQ(peer.ReadLine(), "QUIT");
  EXPECT_TRUE(peer.WaitForEof());
  ASSERT_NE(GetIrcBotTable(), nullptr);
  EXPECT_EQ(GetIrcBotTable()->LowestUsedSlot(), -1);
}

}  // namespace
