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

struct IrcHost {
  IrcHost() { ReplaceIrcBotTable(); }
  ~IrcHost() { DestroyIrcBotTable(); }
  ScriptHost host{"seen = {}\n"
                  "function onSeen(nick, ...) seen[#seen + 1] = nick .. ':' .. table.concat({...}, ',') end\n"
                  "IRC.addCommand('seen', 'onSeen', -1)\n"};
};

TEST(IrcLibrary, BotSlotsAndArgumentChecks) {
  // An argument makes no bot; destroyBot cuts the id to 8 bits (260: slot 4)
  // and an empty slot is fine. Then an unconnected bot, wrong counts, bad ids
  // and missing texts.
  IrcHost h;
  ExpectLua(R"(local c = IRC.createBot eq('-1,0,1,2,3,4,-1', c(1), c(), c(), c(), c(), c(), c())
    local d = IRC.destroyBot eq('true,true,false,false,false,4', d(260), d(4), d(5), d(), d(1, 2), c())
    eq('0,0,0,0,-,0,0,0', IRC.send(0, '#c', 'hi'), IRC.privateMessage(0, 'a'), IRC.notice(9, 'a', 'b'),
       IRC.send(0, {}, 'b'), IRC.getUserLevel(0, '#c', 'nick'), IRC.getUserLevel(0, '#c'),
       IRC.getUserLevel(7, '#c', 'nick'), IRC.getUserLevel(0, '#c', nil))
    eq('0,0,0,0', select('#', IRC.connect(0, '127.0.0.1', 1)), select('#', IRC.joinChannel(0, '#c')),
       select('#', IRC.leaveChannel(0)), select('#', IRC.disconnect(0))))");
  EXPECT_FALSE(GetIrcBotTable()->Bot(0)->Channel().has_value());
}

TEST(IrcLibrary, ScriptDrivesABotAndHearsItsChannel) {
  // The port is cut to 16 bits. Already in a channel: the second join does
  // nothing. Events, "!" commands and levels come through the main loop's
  // receive step.
  IrcHost h;
  irctest::FakeIrcServer server;
  ExpectLua("eq('0', IRC.createBot()) IRC.connect(0, '127.0.0.1', " + std::to_string(65536 + server.Port()) +
            ", 'luabot')");
  irctest::LinePeer s = server.Accept();
  ExpectLua("IRC.joinChannel(0, '#main') IRC.joinChannel(0, '#other') eq('1,1,1', "
            "IRC.send(0, '#main', 'hello'), IRC.privateMessage(0, 'bob', 'hi'), IRC.notice(0, 'bob', 5)) "
            "function onIRCUserJoin(b, n, c) joined = b .. n .. c end");
  EXPECT_EQ(s.ReadUntil("NOTICE"), (std::vector<std::string>{"NICK luabot", "USER luabot * 0 :IRCPlugin",
                                    "JOIN #main", "PRIVMSG #main :hello", "PRIVMSG bob :hi",
                                    "NOTICE bob :5"}));
  s.Send(":srv 353 luabot = #main :@op +v x\r\n:a!u@h JOIN :#main\r\n"
         ":srv 353 luabot = #main :@op\r\n:op!u@h PRIVMSG #main :!seen  bob  now\r\n");
  EXPECT_TRUE(irctest::WaitFor([&] { return GetIrcBotTable()->ReceiveAll(), Eval("#seen") == "1"; }));
  ExpectLua("eq('0a#main,op:bob,now,@,-', joined, seen[1], IRC.getUserLevel(0, '#main', 'op'), "
            "IRC.getUserLevel(0, '#main', 'x')) IRC.leaveChannel(0, '#main')");
  EXPECT_EQ(s.ReadUntil("PART").back(), "PART #main");
  ExpectLua("IRC.disconnect(0)");
  EXPECT_EQ(s.ReadLine() + Eval("IRC.send(0, '#main', 'gone')"), "QUIT0");
}

}  // namespace
