#include "irc/bot.h"

#include <dirent.h>
#include <sys/socket.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "irc_test_support.h"

namespace {

using irctest::FakeIrcServer;
using irctest::LinePeer;
using irctest::RecordingSink;
using irctest::WaitFor;
using Lines = std::vector<std::string>;

// Bots of one table connected to a fake server; peers[i] is the server's end
// of the i-th bot connected.
struct Rig {
  FakeIrcServer server;
  RecordingSink sink;
  IrcBotTable table;
  std::vector<LinePeer> peers;

  IrcBot* ConnectedBot(const std::string& nick) {
    const int8_t id = table.CreateBot();
    EXPECT_GE(id, 0);
    IrcBot* bot = table.Bot(static_cast<uint8_t>(id));
    EXPECT_TRUE(bot->Connect("127.0.0.1", server.Port(), nick.c_str()));
    peers.push_back(server.Accept());
    EXPECT_EQ(peers.back().ReadLine(), "NICK " + nick);
    EXPECT_EQ(peers.back().ReadLine(), "USER " + nick + " * 0 :IRCPlugin");
    return bot;
  }
  IrcBot* BotInChannel(const std::string& nick, const char* channel) {
    IrcBot* bot = ConnectedBot(nick);
    EXPECT_TRUE(bot->JoinChannel(channel));
    EXPECT_EQ(peers.back().ReadLine(), std::string("JOIN ") + channel);
    return bot;
  }
  static void Feed(IrcBot* bot, const std::string& text) {
    bot->ProcessReceived(text.data(), text.size());
  }
  // What the bot sent before a marker line that we make it send now.
  static Lines SentBefore(IrcBot* bot, LinePeer& peer) {
    EXPECT_TRUE(bot->PrivateMessage("marker", "end"));
    Lines lines = peer.ReadUntil("PRIVMSG marker :end");
    if (lines.back() == "PRIVMSG marker :end") lines.pop_back();
    return lines;
  }
};

size_t OpenDescriptors() {
  size_t n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

TEST(IrcBotTable, SlotsAreReusedLowestFirst) {
  IrcBotTable table;
  for (int i = 0; i < kMaxIrcBots; ++i) EXPECT_EQ(table.CreateBot(), i);
  EXPECT_EQ(table.CreateBot(), -1);
  EXPECT_TRUE(table.DestroyBot(2));
  EXPECT_EQ(table.Bot(2), nullptr);
  EXPECT_EQ(table.CreateBot(), 2);
  EXPECT_EQ(table.Bot(2)->Id(), 2);
  EXPECT_FALSE(table.DestroyBot(7));
  table.DestroyAllBots();
  EXPECT_EQ(table.LowestUsedSlot(), -1);
  EXPECT_EQ(table.Bot(200), nullptr);

  ReplaceIrcBotTable();
  ASSERT_NE(GetIrcBotTable(), nullptr);
  EXPECT_EQ(GetIrcBotTable()->CreateBot(), 0);
  ReplaceIrcBotTable();
  EXPECT_EQ(GetIrcBotTable()->LowestUsedSlot(), -1) << "a new table is empty";
  DestroyIrcBotTable();
  EXPECT_EQ(GetIrcBotTable(), nullptr);
}

TEST(IrcBot, ConnectRegistersOnceAndDisconnectQuits) {
  Rig r;
  IrcBot* bot = r.ConnectedBot("qbot");
  EXPECT_TRUE(bot->IsConnected());
  EXPECT_EQ(bot->Nick(), "qbot");
  EXPECT_FALSE(bot->Connect("127.0.0.1", r.server.Port(), "other")) << "already connected";
  EXPECT_EQ(bot->Nick(), "qbot");

  ASSERT_TRUE(bot->JoinChannel("#main"));
  EXPECT_EQ(r.peers[0].ReadLine(), "JOIN #main");
  bot->Disconnect();
  EXPECT_FALSE(bot->IsConnected());
  EXPECT_EQ(r.peers[0].ReadLine(), "QUIT");
  EXPECT_TRUE(r.peers[0].WaitForEof());
  EXPECT_EQ(bot->Channel(), "#main") << "a disconnect keeps the channel";
  EXPECT_FALSE(bot->Send("#main", "x"));

  // The next connection starts in no channel.
  ASSERT_TRUE(bot->Connect("localhost", r.server.Port(), "qbot2"));
  LinePeer again = r.server.Accept();
  EXPECT_EQ(again.ReadLine(), "NICK qbot2");
  EXPECT_FALSE(bot->Channel().has_value());
}

TEST(IrcBot, ConnectFailuresLeaveTheBotUnconnected) {
  uint16_t closedPort;
  {
    FakeIrcServer gone;
    closedPort = gone.Port();
  }
  IrcBot bot(0, nullptr);
  EXPECT_FALSE(bot.Connect("127.0.0.1", closedPort, "n"));
  EXPECT_FALSE(bot.Connect("no-such-host.invalid", 6667, "n"));
  EXPECT_FALSE(bot.Connect(nullptr, 6667, "n"));
  EXPECT_FALSE(bot.Connect("127.0.0.1", 6667, nullptr));
  FakeIrcServer server;
  // A nick whose registration lines the server would refuse.
  EXPECT_FALSE(bot.Connect("127.0.0.1", server.Port(), std::string(600, 'n').c_str()));
  EXPECT_FALSE(bot.IsConnected());
  EXPECT_TRUE(bot.Nick().empty());
}

TEST(IrcBot, OutgoingLinesFollowTheChannelState) {
  Rig r;
  IrcBot unconnected(4, nullptr);
  EXPECT_FALSE(unconnected.JoinChannel("#a"));
  EXPECT_FALSE(unconnected.PrivateMessage("a", "b"));
  EXPECT_FALSE(unconnected.Notice("a", "b"));

  IrcBot* bot = r.ConnectedBot("qbot");
  LinePeer& s = r.peers[0];
  EXPECT_FALSE(bot->LeaveChannel("#a")) << "in no channel";
  EXPECT_TRUE(bot->JoinChannel("#a"));
  EXPECT_FALSE(bot->JoinChannel("#b")) << "already in a channel";
  EXPECT_EQ(bot->Channel(), "#a");
  EXPECT_TRUE(bot->LeaveChannel("#other"));
  EXPECT_FALSE(bot->Channel().has_value());
  EXPECT_FALSE(bot->LeaveChannel("#a"));
  EXPECT_TRUE(bot->PrivateMessage("bob", "hello there"));
  EXPECT_TRUE(bot->Send("#a", "to all"));
  EXPECT_TRUE(bot->Notice("bob", "psst"));
  bot->RequestNames(std::string(50, 'c'));
  bot->RequestNames(std::string(51, 'd'));
  // A script text with a line break cannot inject a command; an overlong
  // message is refused rather than getting the bot thrown off the server.
  EXPECT_TRUE(bot->Send("#a", "hi\r\nQUIT :pwned"));
  EXPECT_FALSE(bot->Send("#a", std::string(600, 'x').c_str()));
  EXPECT_EQ(Rig::SentBefore(bot, s),
            (Lines{"JOIN #a", "PART #other", "PRIVMSG bob :hello there", "PRIVMSG #a :to all",
                   "NOTICE bob :psst", "NAMES " + std::string(50, 'c'), "PRIVMSG #a :hi"}));
}

TEST(IrcBot, PingIsAnsweredOnlyInAChannel) {
  Rig r;
  IrcBot* bot = r.ConnectedBot("qbot");
  LinePeer& s = r.peers[0];
  Rig::Feed(bot, "PING :one\r\n");
  EXPECT_EQ(Rig::SentBefore(bot, s), Lines{});

  ASSERT_TRUE(bot->JoinChannel("#a"));
  Rig::Feed(bot, "PING :two\r\nPING three\r\nPING :\r\nPING\r\nping :x\r\nPING :" +
                     std::string(600, 'p') + "\r\n");
  EXPECT_EQ(Rig::SentBefore(bot, s), (Lines{"JOIN #a", "PONG two", "PONG three", "PONG "}));
}

TEST(IrcBot, ChannelEventsRebuildTheUserList) {
  Rig r;
  IrcBot* bot = r.BotInChannel("qbot", "#main");
  LinePeer& s = r.peers[0];

  // The server's echo of our own JOIN.
  Rig::Feed(bot, ":qbot!~qbot@127.0.0.1 JOIN :#main\r\n");
  EXPECT_EQ(r.sink.events, Lines{"join 0 qbot #main"});
  EXPECT_EQ(s.ReadLine(), "NAMES #main");

  Rig::Feed(bot, ":srv 353 qbot = #main :@op +voice plain ~owner\r\n"
                 ":srv 353 qbot = #main :%half &adm @+both\r\n:srv 366 qbot #main :End\r\n");
  const std::pair<const char*, const char*> levels[] = {
      {"op", "@"},   {"voice", "+"}, {"plain", "-"}, {"owner", "~"}, {"half", "%"},
      {"adm", "&"},  {"+both", "@"}, {"OP", "-"},    {"nobody", "-"}};
  for (auto [nick, level] : levels) EXPECT_STREQ(bot->GetUserLevel("#main", nick), level) << nick;
  EXPECT_STREQ(bot->GetUserLevel("#other", "op"), "-");

  // MODE clears the list and asks again for the channel it names.
  Rig::Feed(bot, ":op!~op@h MODE #main +o plain\r\n");
  EXPECT_STREQ(bot->GetUserLevel("#main", "op"), "-");
  EXPECT_EQ(s.ReadLine(), "NAMES #main");
  Rig::Feed(bot, ":srv 353 qbot = #main :@op @plain\r\n");
  EXPECT_STREQ(bot->GetUserLevel("#main", "plain"), "@");

  // Leaves name the bot's channel whatever the line says; a KICK names the
  // kicker.
  Rig::Feed(bot, ":alice!a@h PART #elsewhere :bye\r\n:bob!b@h QUIT :gone\r\n"
                 ":op!o@h KICK #main victim :out\r\n:carol!c@h NICK :caroline\r\n");
  EXPECT_EQ(r.sink.events, (Lines{"join 0 qbot #main", "leave 0 alice #main 0",
                                  "leave 0 bob #main 1", "leave 0 op #main 2"}));
  EXPECT_TRUE(bot->Users().empty());
  // A MODE with nothing after it asks for nothing.
  Rig::Feed(bot, ":x MODE\r\n:x MODE  +i\r\n");
  EXPECT_EQ(Rig::SentBefore(bot, s), Lines(4, "NAMES #main"));

  // Our own PART's echo arrives after we left: ignored, as is all else.
  ASSERT_TRUE(bot->LeaveChannel("#main"));
  Rig::Feed(bot, ":qbot!~qbot@h PART #main\r\n:a!u@h JOIN :#main\r\n:srv 353 qbot = #main :@z\r\n");
  EXPECT_EQ(r.sink.events.size(), 4u);
  EXPECT_TRUE(bot->Users().empty());
}

TEST(IrcBot, NamesRepliesCannotGrowTheListWithoutBound) {
  Rig r;
  IrcBot* bot = r.BotInChannel("qbot", "#main");
  std::string names = ":srv 353 qbot = #main :";
  for (int i = 0; i < 40; ++i) names += "@u" + std::to_string(i) + " ";
  names += "\r\n";
  for (size_t i = 0; i < kMaxIrcChannelUsers / 40 + 20; ++i) Rig::Feed(bot, names);
  EXPECT_EQ(bot->Users().size(), kMaxIrcChannelUsers);
  EXPECT_STREQ(bot->GetUserLevel("#main", "u39"), "@");
}

TEST(IrcBot, OnlyTheLowestBotHandsOverBangCommands) {
  Rig r;
  IrcBot* low = r.BotInChannel("b0", "#main");
  IrcBot* high = r.BotInChannel("b1", "#main");
  const std::string line = ":a!~a@h PRIVMSG #main :!give b 5\r\n";
  Rig::Feed(low, line);
  Rig::Feed(high, line);
  EXPECT_EQ(r.sink.events, Lines{"cmd 0 a #main give b 5"});

  // Sent to the bot privately: the same. The "!" must be the message's
  // second character, whatever its first (normally the ':').
  Rig::Feed(low, ":a!~a@h PRIVMSG b0 :!seen bob\r\n:a!~a@h PRIVMSG #main :hi !x\r\n"
                 ":a!~a@h PRIVMSG #main\r\n:a!~a@h PRIVMSG #main :!\r\n"
                 ":a!~a@h PRIVMSG #main !x\r\n:a!~a@h PRIVMSG #main y!z\r\n");
  EXPECT_EQ(r.sink.events, (Lines{"cmd 0 a #main give b 5", "cmd 0 a #main seen bob",
                                  "cmd 0 a #main ", "cmd 0 a #main z"}));

  // The lowest bot out of its channel: nobody dispatches.
  ASSERT_TRUE(low->LeaveChannel("#main"));
  r.sink.events.clear();
  Rig::Feed(low, line);
  Rig::Feed(high, line);
  EXPECT_TRUE(r.sink.events.empty());

  // Once it is gone, the next one does.
  ASSERT_TRUE(r.table.DestroyBot(0));
  EXPECT_EQ(r.peers[0].ReadUntil("QUIT").back(), "QUIT");
  EXPECT_TRUE(r.peers[0].WaitForEof());
  Rig::Feed(high, line);
  EXPECT_EQ(r.sink.events, Lines{"cmd 1 a #main give b 5"});
}

TEST(IrcBot, HostileServerLinesThroughTheSocket) {
  Rig r;
  IrcBot* bot = r.BotInChannel("qbot", "#main");
  LinePeer& s = r.peers[0];

  // Nothing pending: the receive step returns with nothing to do.
  r.table.ReceiveAll();
  EXPECT_TRUE(r.sink.events.empty());

  // A line split over two reads is handled once, whole.
  Rig::Feed(bot, ":a!u@h PRIVMSG #main :!say hel");
  Rig::Feed(bot, "lo world\r\n");
  EXPECT_EQ(r.sink.events, Lines{"cmd 0 a #main say hello world"});
  r.sink.events.clear();

  std::mt19937 rng(7);
  std::string junk(64 * 1024, '\0');
  for (char& c : junk) c = static_cast<char>(rng());
  s.Send(std::string(9000, 'A') + "\r\n");                // overlong
  s.Send(std::string("PING :a\0b\r\n:x JOIN\0\r\n", 21));  // NUL bytes
  s.Send(":\r\n: \r\n:x\r\n\r\n \r\n:::: :: ::\r\n353\r\n:s 353\r\n:s 353 :#\r\n:s 353 # :\r\n");
  s.Send(junk);
  s.Send("\r\n:x PRIVMSG #main :!say one\r\n");
  EXPECT_TRUE(WaitFor([&] {
    r.table.ReceiveAll();
    return !r.sink.events.empty() && r.sink.events.back() == "cmd 0 x #main say one";
  })) << "the line after the junk was never handled";

  s.Send(":x PRIVMSG #main :!say h");
  for (int i = 0; i < 5; ++i) r.table.ReceiveAll();
  s.Send("i\r\n");
  EXPECT_TRUE(WaitFor([&] {
    r.table.ReceiveAll();
    return r.sink.events.back() == "cmd 0 x #main say hi";
  }));
}

TEST(IrcBot, AServerThatGoesAwayLeavesTheBotConnectedUntilDisconnected) {
  const size_t before = OpenDescriptors();
  {
    Rig r;
    IrcBot* bot = r.BotInChannel("qbot", "#main");
    // Reset the connection, so the bot's QUIT cannot be sent any more.
    linger hard{1, 0};
    ASSERT_EQ(setsockopt(r.peers[0].Fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
    r.peers[0].Close();
    for (int i = 0; i < 3; ++i) r.table.ReceiveAll();
    EXPECT_TRUE(bot->IsConnected());
    EXPECT_FALSE(bot->Connect("127.0.0.1", r.server.Port(), "qbot"));
    bot->Disconnect();
    EXPECT_FALSE(bot->IsConnected()) << "closed although its QUIT failed";
    EXPECT_TRUE(bot->Connect("127.0.0.1", r.server.Port(), "qbot"));
    EXPECT_TRUE(r.table.DestroyBot(0));
  }
  EXPECT_EQ(OpenDescriptors(), before) << "a destroyed bot closes its socket";
}

TEST(IrcBot, AServerThatStopsReadingStallsOneSendOnly) {
  Rig r;
  IrcBot* bot = r.BotInChannel("qbot", "#main");
  const int small = 4096;
  ASSERT_EQ(setsockopt(r.peers[0].Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
  // Far more than the socket buffers hold: once a send has given up, the
  // rest must not each wait again (that would take hours here).
  const std::string text(480, 'x');
  int refused = 0;
  for (int i = 0; i < 20000; ++i) refused += bot->Send("#main", text.c_str()) ? 0 : 1;
  EXPECT_GT(refused, 0) << "lines that were not written are not reported as sent";
  EXPECT_GT(r.peers[0].Drain(500).size(), 0u);
  EXPECT_FALSE(bot->Send("marker", "after"));
  EXPECT_EQ(r.peers[0].Drain(500), "") << "a broken stream takes no more lines";
  bot->Disconnect();
  EXPECT_FALSE(bot->IsConnected()) << "closed although its QUIT could not be sent";
}

TEST(IrcBot, ScriptHandlersMayDestroyOrDisconnectTheBotMidLine) {
  Rig r;
  r.BotInChannel("qbot", "#main");
  LinePeer& s = r.peers[0];
  // The handler destroys the very bot that raised it and reuses the slot.
  r.sink.onEvent = [&](const std::string& e) {
    if (e.rfind("join", 0) == 0) {
      EXPECT_TRUE(r.table.DestroyBot(0));
      EXPECT_EQ(r.table.CreateBot(), 0);
    }
  };
  s.Send(":a!u@h JOIN :#main\r\n:b!u@h JOIN :#main\r\n");
  EXPECT_TRUE(WaitFor([&] {
    r.table.ReceiveAll();
    return !r.sink.events.empty();
  }));
  r.table.ReceiveAll();
  EXPECT_EQ(r.sink.events, Lines{"join 0 a #main"});
  EXPECT_EQ(s.ReadUntil("QUIT"), Lines{"QUIT"}) << "no NAMES from a destroyed bot";
  EXPECT_TRUE(s.WaitForEof());
  ASSERT_NE(r.table.Bot(0), nullptr);
  EXPECT_FALSE(r.table.Bot(0)->IsConnected());

  // Leaving the channel from the handler: no NAMES for a channel it left.
  IrcBot* bot = r.BotInChannel("qbot2", "#main");
  LinePeer& s2 = r.peers[1];
  r.sink.events.clear();
  r.sink.onEvent = [&](const std::string&) { bot->LeaveChannel("#main"); };
  Rig::Feed(bot, ":a!u@h PART #main\r\n:b!u@h PART #main\r\n");
  EXPECT_EQ(r.sink.events, Lines{"leave 1 a #main 0"});
  EXPECT_EQ(Rig::SentBefore(bot, s2), Lines{"PART #main"});

  // Disconnecting from the handler: the rest of that read is not handled.
  ASSERT_TRUE(bot->JoinChannel("#main"));
  r.sink.events.clear();
  r.sink.onEvent = [&](const std::string&) { bot->Disconnect(); };
  Rig::Feed(bot, ":a!u@h JOIN :#main\r\n:b!u@h JOIN :#main\r\n");
  EXPECT_EQ(r.sink.events, Lines{"join 1 a #main"});
  EXPECT_EQ(s2.ReadUntil("QUIT"), (Lines{"JOIN #main", "QUIT"}));
}

TEST(IrcBot, DestroyingTheTableQuitsEveryConnectedBot) {
  FakeIrcServer server;
  auto table = std::make_unique<IrcBotTable>();
  std::vector<LinePeer> peers;
  for (const char* nick : {"a1", "a2"}) {
    IrcBot* bot = table->Bot(static_cast<uint8_t>(table->CreateBot()));
    ASSERT_TRUE(bot->Connect("127.0.0.1", server.Port(), nick));
    peers.push_back(server.Accept());
  }
  table->CreateBot();  // never connected: sends nothing
  table.reset();
  for (LinePeer& p : peers) {
    EXPECT_EQ(p.ReadUntil("QUIT").back(), "QUIT");
    EXPECT_TRUE(p.WaitForEof());
  }
}

}  // namespace
