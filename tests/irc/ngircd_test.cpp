// A bot against the real IRC server that the test script starts (ngircd),
// with raw TCP clients in the role of channel users.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "irc/bot.h"
#include "irc_test_support.h"
#include "support/services.h"

namespace {

using irctest::LinePeer;

// Reads the peer's lines until one contains `needle`: false at a time-out or
// the close.
bool ReadsLineWith(LinePeer& peer, const std::string& needle) {
  for (std::string line = peer.ReadLine(); line != "<timeout>"; line = peer.ReadLine()) {
    if (line == "<eof>") return false;
    if (line.find(needle) != std::string::npos) return true;
  }
  return false;
}

TEST(NgircdTest, BotJoinsTalksHearsCommandsAndSeesUsersComeAndGo) {
  const auto service = support::IrcFromEnv();
  if (!service) GTEST_SKIP() << "QLM_IRC_HOST / QLM_IRC_PORT not set (scripts/start-ngircd.sh)";
  const std::string id = std::to_string(getpid() % 100000);
  const std::string channel = "#qlm" + id;
  const std::string botNick = "qbot" + id;
  irctest::Sink sink;
  IrcBotTable table;
  // A registered user in the channel.
  auto user = [&](const std::string& nick) {
    char ip[64];
    const bool resolved = platform::ResolveHostIPv4(service->host.c_str(), ip, sizeof ip);
    EXPECT_TRUE(resolved) << service->host;
    LinePeer peer(resolved ? platform::TcpConnect(ip, service->port, 5000) : -1);
    peer.Send("NICK " + nick + "\r\nUSER " + nick + " * 0 :test user\r\nJOIN " + channel + "\r\n");
    EXPECT_TRUE(ReadsLineWith(peer, " 366 ")) << nick << " joined";
    return peer;
  };
  // Runs the bots' receive step until `want` has been raised.
  std::string events;
  auto event = [&](const std::string& want) {
    return irctest::WaitFor([&] {
      table.ReceiveAll();
      events += sink.Take() + "\n";
      return events.find(want + "\n") != std::string::npos;
    });
  };
  LinePeer op = user("op" + id);
  IrcBot* bot = table.Bot(table.CreateBot());
  // Joins at once, as a game mode does.
  ASSERT_TRUE(bot->Connect(service->host.c_str(), service->port, botNick.c_str()));
  ASSERT_TRUE(bot->JoinChannel(channel.c_str()));
  EXPECT_TRUE(ReadsLineWith(op, ":" + botNick + "!~" + botNick + "@127.0.0.1 JOIN :" + channel));
  EXPECT_TRUE(event("join 0 " + botNick + " " + channel));
  EXPECT_TRUE(irctest::WaitFor([&] {
    table.ReceiveAll();
    return std::string(bot->GetUserLevel(channel, "op" + id)) == "@";
  }));
  EXPECT_TRUE(bot->Send(channel.c_str(), "hello from the server"));
  EXPECT_TRUE(ReadsLineWith(op, "PRIVMSG " + channel + " :hello from the server"));
  op.Send("PRIVMSG " + channel + " :!give b 5\r\n");
  EXPECT_TRUE(event("irccommand 0 op" + id + " " + channel + " give b 5"));
  user("guest" + id).Send("QUIT :bye\r\n");
  EXPECT_TRUE(event("join 0 guest" + id + " " + channel));
  EXPECT_TRUE(event("leave 0 guest" + id + " " + channel + " 1"));
  EXPECT_TRUE(table.DestroyBot(0));
  EXPECT_TRUE(ReadsLineWith(op, ":" + botNick + "!~" + botNick + "@127.0.0.1 QUIT"));
}

}  // namespace
