// A bot against the real IRC server that the test script starts (ngircd),
// with raw TCP clients in the role of channel users.
#include <unistd.h>

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "irc/bot.h"
#include "irc_test_support.h"
#include "support/services.h"

namespace {

using irctest::LinePeer;

TEST(NgircdTest, BotJoinsTalksHearsCommandsAndSeesUsersComeAndGo) {
  const auto service = support::IrcFromEnv();
  if (!service) GTEST_SKIP() << "QLM_IRC_HOST / QLM_IRC_PORT not set (scripts/start-ngircd.sh)";
  const std::string id = std::to_string(getpid() % 100000), channel = "#qlm" + id;
  const std::string botNick = "qbot" + id, opNick = "op" + id, guestNick = "guest" + id;
  irctest::Sink sink;
  IrcBotTable table;
  // Reads the peer's lines until one contains `needle`.
  auto expect = [](LinePeer& peer, const std::string& needle) {
    for (std::string line; (line = peer.ReadLine()) != "<timeout>" && line != "<eof>";) {
      if (line.find(needle) != std::string::npos) return true;
    }
    return false;
  };
  auto user = [&](const std::string& nick) {
    char ip[64];
    EXPECT_TRUE(platform::ResolveHostIPv4(service->host.c_str(), ip, sizeof ip));
    LinePeer peer(platform::TcpConnect(ip, service->port, 5000));
    peer.SendLine("NICK " + nick);
    peer.SendLine("USER " + nick + " * 0 :test user");
    EXPECT_TRUE(expect(peer, " 001 " + nick));
    peer.SendLine("JOIN " + channel);
    EXPECT_TRUE(expect(peer, " 366 "));
    return peer;
  };
  // Runs the bots' receive step until the bot reports `level` for `nick`, or
  // the event has been raised.
  std::string events;
  auto level = [&](const std::string& nick, const char* want) {
    return irctest::WaitFor([&] { table.ReceiveAll(); return std::string(table.Bot(0)->GetUserLevel(channel, nick)) == want; });
  };
  auto event = [&](const std::string& want) {
    return irctest::WaitFor([&] { table.ReceiveAll(); return (events += sink.Take() + "\n").find(want + "\n") != std::string::npos; });
  };

  // The operator is in the channel first, so it holds "@". The bot connects
  // and joins at once, as a game mode does.
  LinePeer op = user(opNick);
  ASSERT_EQ(table.CreateBot(), 0);
  IrcBot* bot = table.Bot(0);
  ASSERT_TRUE(bot->Connect(service->host.c_str(), service->port, botNick.c_str()));
  ASSERT_TRUE(bot->JoinChannel(channel.c_str()));
  EXPECT_TRUE(expect(op, ":" + botNick + "!~" + botNick + "@127.0.0.1 JOIN :" + channel));
  EXPECT_TRUE(event("join 0 " + botNick + " " + channel));
  EXPECT_TRUE(level(opNick, "@"));
  EXPECT_STREQ(bot->GetUserLevel(channel, botNick), "-");

  EXPECT_TRUE(bot->Send(channel.c_str(), "hello from the server"));
  EXPECT_TRUE(expect(op, "PRIVMSG " + channel + " :hello from the server"));
  op.SendLine("PRIVMSG " + channel + " :!give b 5");
  EXPECT_TRUE(event("irccommand 0 " + opNick + " " + channel + " give b 5"));
  // Levels follow MODE changes through the NAMES the bot asks for.
  op.SendLine("MODE " + channel + " +v " + botNick);
  EXPECT_TRUE(level(botNick, "+"));

  // A guest comes and goes; the server's KICK names the kicker.
  LinePeer guest = user(guestNick);
  EXPECT_TRUE(event("join 0 " + guestNick + " " + channel));
  op.SendLine("KICK " + channel + " " + guestNick + " :out");
  EXPECT_TRUE(event("leave 0 " + opNick + " " + channel + " 2"));
  guest.SendLine("JOIN " + channel);
  EXPECT_TRUE(expect(guest, " 366 "));
  guest.SendLine("QUIT :bye");
  EXPECT_TRUE(event("leave 0 " + guestNick + " " + channel + " 1"));

  EXPECT_TRUE(table.DestroyBot(0));
  EXPECT_TRUE(expect(op, ":" + botNick + "!~" + botNick + "@127.0.0.1 QUIT"));
}

}  // namespace
