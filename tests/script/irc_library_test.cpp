// The "IRC" script library over the real bot table, with a loopback peer in
// the role of the IRC server.
#include <gtest/gtest.h>

#include <string>

#include "irc/bot.h"
#include "irc/irc_test_support.h"
#include "script/script_host.h"

using irctest::FakeIrcServer;
using irctest::LinePeer;
using irctest::WaitFor;
using scripttest::Eval;
using scripttest::RunLua;
using scripttest::ScriptHost;

namespace {

struct IrcHost {
  IrcHost() { ReplaceIrcBotTable(); }
  ~IrcHost() { DestroyIrcBotTable(); }
  ScriptHost host{R"(
seen = {}
function onSeen(nick, ...) seen[#seen + 1] = nick .. ':' .. table.concat({...}, ',') end
IRC.addCommand('seen', 'onSeen', -1)
)"};
};

TEST(IrcLibrary, BotSlotsAndArgumentChecks) {
  IrcHost h;
  EXPECT_EQ(Eval("IRC.createBot(1)"), "-1");
  EXPECT_EQ(GetIrcBotTable()->LowestUsedSlot(), -1) << "an argument makes no bot";
  EXPECT_EQ(Eval("IRC.createBot(), IRC.createBot(), IRC.createBot(), IRC.createBot(), "
                 "IRC.createBot()"),
            "0,1,2,3,4");
  EXPECT_EQ(Eval("IRC.createBot()"), "-1");

  EXPECT_EQ(Eval("IRC.destroyBot(260)"), "true") << "cut to 8 bits: slot 4";
  EXPECT_EQ(GetIrcBotTable()->Bot(4), nullptr);
  EXPECT_EQ(Eval("IRC.destroyBot(4)"), "true") << "an empty slot";
  EXPECT_EQ(Eval("IRC.destroyBot(5)"), "false");
  EXPECT_EQ(Eval("IRC.destroyBot()"), "false");
  EXPECT_EQ(Eval("IRC.destroyBot(1, 2)"), "false");
  EXPECT_EQ(Eval("IRC.createBot()"), "4");

  // Unconnected bot, wrong counts, bad ids and missing texts.
  EXPECT_EQ(Eval("IRC.send(0, '#c', 'hi')"), "0");
  EXPECT_EQ(Eval("IRC.privateMessage(0, 'a')"), "0");
  EXPECT_EQ(Eval("IRC.notice(9, 'a', 'b')"), "0");
  EXPECT_EQ(Eval("IRC.send(0, {}, 'b')"), "0");
  EXPECT_EQ(Eval("IRC.getUserLevel(0, '#c', 'nick')"), "'-'");
  EXPECT_EQ(Eval("IRC.getUserLevel(0, '#c')"), "0");
  EXPECT_EQ(Eval("IRC.getUserLevel(7, '#c', 'nick')"), "0");
  EXPECT_EQ(Eval("IRC.getUserLevel(0, '#c', nil)"), "0");
  EXPECT_EQ(Eval("IRC.connect(0, '127.0.0.1', 1)"), "");
  EXPECT_EQ(Eval("IRC.joinChannel(0, '#c')"), "");
  EXPECT_EQ(Eval("IRC.leaveChannel(0)"), "");
  EXPECT_EQ(Eval("IRC.disconnect(0)"), "");
  EXPECT_FALSE(GetIrcBotTable()->Bot(0)->Channel().has_value());
}

TEST(IrcLibrary, ScriptDrivesABotAndHearsItsChannel) {
  IrcHost h;
  FakeIrcServer server;
  ASSERT_EQ(Eval("IRC.createBot()"), "0");
  // The port is cut to 16 bits.
  ASSERT_EQ(RunLua("IRC.connect(0, '127.0.0.1', " + std::to_string(65536 + server.Port()) +
                   ", 'luabot')"),
            "");
  LinePeer s = server.Accept();
  EXPECT_EQ(s.ReadLine(), "NICK luabot");
  EXPECT_EQ(s.ReadLine(), "USER luabot * 0 :IRCPlugin");

  EXPECT_EQ(RunLua("IRC.joinChannel(0, '#main')"), "");
  EXPECT_EQ(RunLua("IRC.joinChannel(0, '#other')"), "") << "already in a channel: nothing";
  EXPECT_EQ(Eval("IRC.send(0, '#main', 'hello'), IRC.privateMessage(0, 'bob', 'hi'), "
                 "IRC.notice(0, 'bob', 5)"),
            "1,1,1");
  EXPECT_EQ(s.ReadLine(), "JOIN #main");
  EXPECT_EQ(s.ReadLine(), "PRIVMSG #main :hello");
  EXPECT_EQ(s.ReadLine(), "PRIVMSG bob :hi");
  EXPECT_EQ(s.ReadLine(), "NOTICE bob :5");

  // Events, "!" commands and levels through the main loop's receive step.
  ASSERT_EQ(RunLua("function onIRCUserJoin(b, n, c) joined = b .. n .. c end"), "");
  s.Send(":srv 353 luabot = #main :@op +v x\r\n:a!u@h JOIN :#main\r\n"
         ":srv 353 luabot = #main :@op\r\n:op!u@h PRIVMSG #main :!seen  bob  now\r\n");
  EXPECT_TRUE(WaitFor([&] {
    GetIrcBotTable()->ReceiveAll();
    return Eval("#seen") == "1";
  }));
  EXPECT_EQ(Eval("joined, seen[1]"), "'0a#main','op:bob,now'");
  EXPECT_EQ(Eval("IRC.getUserLevel(0, '#main', 'op'), IRC.getUserLevel(0, '#main', 'x')"),
            "'@','-'");

  EXPECT_EQ(RunLua("IRC.leaveChannel(0, '#main')"), "");
  EXPECT_EQ(s.ReadUntil("PART").back(), "PART #main");
  EXPECT_EQ(RunLua("IRC.disconnect(0)"), "");
  EXPECT_EQ(s.ReadLine(), "QUIT");
  EXPECT_EQ(Eval("IRC.send(0, '#main', 'gone')"), "0");
}

}  // namespace
