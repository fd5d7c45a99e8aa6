// A bot against the real IRC server that the test script starts (ngircd),
// with raw TCP clients in the role of channel users.
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "irc/bot.h"
#include "irc_test_support.h"
#include "support/services.h"

namespace {

using irctest::LinePeer;
using irctest::RecordingSink;
using irctest::WaitFor;

class NgircdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto service = support::IrcFromEnv();
    if (!service) GTEST_SKIP() << "QLM_IRC_HOST / QLM_IRC_PORT not set (scripts/start-ngircd.sh)";
    host_ = service->host;
    port_ = service->port;
    suffix_ = std::to_string(getpid() % 100000) + std::to_string(++serial_);
  }

  // A registered user on the server.
  LinePeer User(const std::string& nick) {
    char ip[64];
    EXPECT_TRUE(platform::ResolveHostIPv4(host_.c_str(), ip, sizeof ip));
    LinePeer user(platform::TcpConnect(ip, port_, 5000));
    EXPECT_TRUE(user.Valid());
    user.SendLine("NICK " + nick);
    user.SendLine("USER " + nick + " * 0 :test user");
    EXPECT_TRUE(Expect(user, " 001 " + nick));
    return user;
  }
  // Reads the peer's lines until one contains `needle`.
  static bool Expect(LinePeer& peer, const std::string& needle) {
    for (;;) {
      const std::string line = peer.ReadLine();
      if (line.find(needle) != std::string::npos) return true;
      if (line == "<timeout>" || line == "<eof>") {
        ADD_FAILURE() << "never saw: " << needle;
        return false;
      }
    }
  }
  // Runs the bots' receive step until `cond` holds.
  template <typename F>
  bool Pump(F cond) {
    return WaitFor([&] {
      table_.ReceiveAll();
      return cond();
    });
  }
  bool PumpForEvent(const std::string& event) {
    const bool seen = Pump([&] {
      return std::find(sink_.events.begin(), sink_.events.end(), event) != sink_.events.end();
    });
    EXPECT_TRUE(seen) << "no event: " << event;
    return seen;
  }

  std::string host_;
  uint16_t port_ = 0;
  std::string suffix_;
  static inline int serial_ = 0;
  RecordingSink sink_;
  IrcBotTable table_;
};

TEST_F(NgircdTest, BotTalksTracksLevelsAndSeesTheChannel) {
  const std::string channel = "#qlm" + suffix_;
  const std::string botNick = "qbot" + suffix_;
  const std::string opNick = "op" + suffix_;
  const std::string guestNick = "guest" + suffix_;

  // The operator is in the channel first, so it holds "@".
  LinePeer op = User(opNick);
  op.SendLine("JOIN " + channel);
  ASSERT_TRUE(Expect(op, " 366 "));

  // The bot connects and joins at once, as a game mode does.
  const int8_t id = table_.CreateBot();
  ASSERT_EQ(id, 0);
  IrcBot* bot = table_.Bot(0);
  ASSERT_TRUE(bot->Connect(host_.c_str(), port_, botNick.c_str()));
  ASSERT_TRUE(bot->JoinChannel(channel.c_str()));
  ASSERT_TRUE(Expect(op, ":" + botNick + "!~" + botNick + "@127.0.0.1 JOIN :" + channel));
  PumpForEvent("join 0 " + botNick + " " + channel);
  EXPECT_TRUE(Pump([&] { return std::string(bot->GetUserLevel(channel, opNick)) == "@"; }));
  EXPECT_STREQ(bot->GetUserLevel(channel, botNick), "-");

  // The bot speaks; an overlong text is refused and does not cost the
  // connection.
  EXPECT_TRUE(bot->Send(channel.c_str(), "hello from the server"));
  EXPECT_TRUE(Expect(op, "PRIVMSG " + channel + " :hello from the server"));
  EXPECT_FALSE(bot->Send(channel.c_str(), std::string(600, 'x').c_str()));
  EXPECT_TRUE(bot->Notice(opNick.c_str(), "still here"));
  EXPECT_TRUE(Expect(op, "NOTICE " + opNick + " :still here"));

  // "!" lines in the channel and in private reach the command dispatch.
  op.SendLine("PRIVMSG " + channel + " :!give b 5");
  PumpForEvent("cmd 0 " + opNick + " " + channel + " give b 5");
  op.SendLine("PRIVMSG " + botNick + " :!seen bob");
  PumpForEvent("cmd 0 " + opNick + " " + channel + " seen bob");

  // Levels follow MODE changes through the NAMES the bot asks for.
  op.SendLine("MODE " + channel + " +v " + botNick);
  EXPECT_TRUE(Pump([&] { return std::string(bot->GetUserLevel(channel, botNick)) == "+"; }));
  op.SendLine("MODE " + channel + " +o " + botNick);
  EXPECT_TRUE(Pump([&] { return std::string(bot->GetUserLevel(channel, botNick)) == "@"; }));
  EXPECT_STREQ(bot->GetUserLevel(channel, opNick), "@");

  // A guest comes and goes; the server's KICK names the kicker.
  LinePeer guest = User(guestNick);
  guest.SendLine("JOIN " + channel);
  PumpForEvent("join 0 " + guestNick + " " + channel);
  op.SendLine("KICK " + channel + " " + guestNick + " :out");
  PumpForEvent("leave 0 " + opNick + " " + channel + " 2");
  guest.SendLine("JOIN " + channel);
  ASSERT_TRUE(Expect(guest, " 366 "));
  EXPECT_TRUE(Pump([&] { return bot->Users().size() == 3; }));
  guest.SendLine("QUIT :bye");
  PumpForEvent("leave 0 " + guestNick + " " + channel + " 1");
  EXPECT_TRUE(Pump([&] { return bot->Users().size() == 2; }));

  // The bot leaves the channel and then the server.
  EXPECT_TRUE(bot->LeaveChannel(channel.c_str()));
  EXPECT_TRUE(Expect(op, ":" + botNick + "!~" + botNick + "@127.0.0.1 PART " + channel));
  ASSERT_TRUE(bot->JoinChannel(channel.c_str()));
  ASSERT_TRUE(Expect(op, " JOIN :" + channel));
  EXPECT_TRUE(table_.DestroyBot(0));
  EXPECT_TRUE(Expect(op, ":" + botNick + "!~" + botNick + "@127.0.0.1 QUIT"));
}

}  // namespace
