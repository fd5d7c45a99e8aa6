// The "IRC" script library over the real bot table, with a loopback peer in
// the role of the IRC server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "irc/bot.h"
#include "irc/irc_test_support.h"
#include "script/script_host.h"

using namespace scripttest;

namespace {

using Lines = std::vector<std::string>;

struct IrcHost {
  IrcHost() { ReplaceIrcBotTable(); }
  ~IrcHost() { DestroyIrcBotTable(); }
  ScriptHost host{R"(seen = {}
function onSeen(nick, ...) seen[#seen + 1] = nick .. ':' .. table.concat({...}, ',') end
IRC.addCommand('seen', 'onSeen', -1)
)"};
};

TEST(IrcLibrary, BotSlotsAndArgumentChecks) {
  // An argument makes no bot; destroyBot cuts the id to 8 bits (260: slot 4)
  // and an empty slot is fine. Then an unconnected bot, wrong counts, bad ids
  // and missing texts.
  IrcHost h;
  ExpectLua(R"(
    eq('-1', IRC.createBot(1))
    eq('0', IRC.createBot())
    eq('1', IRC.createBot())
    eq('2', IRC.createBot())
    eq('3', IRC.createBot())
    eq('4', IRC.createBot())
    eq('-1', IRC.createBot())
    eq('true', IRC.destroyBot(260))
    eq('true', IRC.destroyBot(4))
    eq('false', IRC.destroyBot(5))
    eq('false', IRC.destroyBot())
    eq('false', IRC.destroyBot(1, 2))
    eq('4', IRC.createBot())
    eq('0', IRC.send(0, '#c', 'hi'))
    eq('0', IRC.privateMessage(0, 'a'))
    eq('0', IRC.notice(9, 'a', 'b'))
    eq('0', IRC.send(0, {}, 'b'))
    eq('-', IRC.getUserLevel(0, '#c', 'nick'))
    eq('0', IRC.getUserLevel(0, '#c'))
    eq('0', IRC.getUserLevel(7, '#c', 'nick'))
    eq('0', IRC.getUserLevel(0, '#c', nil))
    eq('0', select('#', IRC.connect(0, '127.0.0.1', 1)))
    eq('0', select('#', IRC.joinChannel(0, '#c')))
    eq('0', select('#', IRC.leaveChannel(0)))
    eq('0', select('#', IRC.disconnect(0))))");
  EXPECT_FALSE(GetIrcBotTable()->Bot(0)->Channel().has_value());
}

TEST(IrcLibrary, ScriptDrivesABotAndHearsItsChannel) {
  // The port is cut to 16 bits. Already in a channel: the second join does
  // nothing. Events, "!" commands and levels come through the main loop's
  // receive step.
  IrcHost h;
  irctest::FakeIrcServer server;
  const std::string portOver16Bits = std::to_string(65536 + server.Port());
  ExpectLua("eq('0', IRC.createBot())");
  ExpectLua("IRC.connect(0, '127.0.0.1', " + portOver16Bits + ", 'luabot')");
  irctest::LinePeer s = server.Accept();
  ExpectLua(R"(
    IRC.joinChannel(0, '#main')
    IRC.joinChannel(0, '#other')
    eq('1', IRC.send(0, '#main', 'hello'))
    eq('1', IRC.privateMessage(0, 'bob', 'hi'))
    eq('1', IRC.notice(0, 'bob', 5))
    function onIRCUserJoin(bot, nick, channel) joined = bot .. ' ' .. nick .. ' ' .. channel end)");
  // clang-format off
  const Lines sent = {
      "NICK luabot",
      "USER luabot * 0 :IRCPlugin",
      "JOIN #main",
      "PRIVMSG #main :hello",
      "PRIVMSG bob :hi",
      "NOTICE bob :5",
  };
  // clang-format on
  EXPECT_EQ(s.ReadUntil("NOTICE"), sent);
  s.Send(
      ":srv 353 luabot = #main :@op +v x\r\n"
      ":a!u@h JOIN :#main\r\n"
      ":srv 353 luabot = #main :@op\r\n"
      ":op!u@h PRIVMSG #main :!seen  bob  now\r\n");
  EXPECT_TRUE(irctest::WaitFor([&] {
    GetIrcBotTable()->ReceiveAll();
    return Eval("#seen") == "1";
  }));
  ExpectLua(R"(
    eq('0 a #main', joined)
    eq('op:bob,now', seen[1])
    eq('@', IRC.getUserLevel(0, '#main', 'op'))
    eq('-', IRC.getUserLevel(0, '#main', 'x'))
    IRC.leaveChannel(0, '#main'))");
  EXPECT_EQ(s.ReadUntil("PART").back(), "PART #main");
  ExpectLua("IRC.disconnect(0)");
  EXPECT_EQ(s.ReadLine(), "QUIT");
  EXPECT_EQ(Eval("IRC.send(0, '#main', 'gone')"), "0");
}

}  // namespace
