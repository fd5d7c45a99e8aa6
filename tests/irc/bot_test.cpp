#include "irc/bot.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "irc/line.h"
#include "irc_test_support.h"
#include "server/server.h"
#include "support/server_fixture.h"

namespace {

using namespace irctest;
using Lines = std::vector<std::string>;

// The longest received line a bot handles: one receive of 5003 bytes less its "\r\n".
constexpr size_t kLongest = 5001;

// Bots of one table connected to a fake server; peers[i] is the server's end
// of the i-th bot connected.
struct Rig {
  FakeIrcServer server;
  Sink sink;
  IrcBotTable table;
  std::vector<LinePeer> peers;

  // A new bot connected as `nick` and in `channel` (unless null), with its
  // registration and JOIN read off.
  IrcBot* Bot(const std::string& nick, const char* channel = "#main") {
    IrcBot* bot = table.Bot(static_cast<uint8_t>(table.CreateBot()));
    EXPECT_TRUE(bot->Connect("127.0.0.1", server.Port(), nick.c_str()));
    peers.push_back(server.Accept());
    EXPECT_EQ(peers.back().ReadUntil("USER"),
              (Lines{"NICK " + nick, "USER " + nick + " * 0 :IRCPlugin"}));
    if (channel) {
      EXPECT_TRUE(bot->JoinChannel(channel));
      EXPECT_EQ(peers.back().ReadLine(), std::string("JOIN ") + channel);
    }
    return bot;
  }

  // What peer `i`'s bot sent before a marker line it is made to send now.
  // A marker that never came shows as the "<timeout>" or "<eof>" at the end.
  Lines Sent(IrcBot* bot, size_t i = 0) {
    bot->PrivateMessage("marker", "end");
    Lines lines = peers[i].ReadUntil("PRIVMSG marker");
    if (lines.back() == "PRIVMSG marker :end") lines.pop_back();
    return lines;
  }

  // The events raised since the last call.
  Lines Events() { return std::exchange(sink.lines, {}); }
};

void Feed(IrcBot* bot, const std::string& text) { bot->ProcessReceived(text.data(), text.size()); }

TEST(IrcBotTable, SlotsAreReusedLowestFirstAndDestroyingTheTableQuitsItsBots) {
  FakeIrcServer server;
  ReplaceIrcBotTable();
  IrcBotTable* t = GetIrcBotTable();
  EXPECT_EQ(t->CreateBot(), 0);
  EXPECT_EQ(t->CreateBot(), 1);
  EXPECT_EQ(t->CreateBot(), 2);
  EXPECT_EQ(t->CreateBot(), 3);
  EXPECT_EQ(t->CreateBot(), 4);
  EXPECT_EQ(t->CreateBot(), -1) << "all five slots are in use";
  EXPECT_TRUE(t->DestroyBot(2));
  EXPECT_EQ(t->Bot(2), nullptr);
  EXPECT_EQ(t->CreateBot(), 2) << "the lowest empty slot";
  ASSERT_NE(t->Bot(2), nullptr);
  EXPECT_EQ(t->Bot(2)->Id(), 2);
  EXPECT_FALSE(t->DestroyBot(7));
  EXPECT_EQ(t->Bot(200), nullptr);
  t->DestroyAllBots();
  EXPECT_EQ(t->LowestUsedSlot(), -1);

  std::vector<LinePeer> peers;
  for (const char* nick : {"a1", "a2"}) {
    IrcBot* bot = t->Bot(static_cast<uint8_t>(t->CreateBot()));
    EXPECT_TRUE(bot->Connect("127.0.0.1", server.Port(), nick));
    peers.push_back(server.Accept());
  }
  t->CreateBot();        // never connected: sends nothing
  ReplaceIrcBotTable();  // the old table's bots quit; the new one is empty
  EXPECT_EQ(peers[0].ReadUntil("<eof>"),
            (Lines{"NICK a1", "USER a1 * 0 :IRCPlugin", "QUIT", "<eof>"}));
  EXPECT_EQ(peers[1].ReadUntil("<eof>"),
            (Lines{"NICK a2", "USER a2 * 0 :IRCPlugin", "QUIT", "<eof>"}));
  EXPECT_EQ(GetIrcBotTable()->LowestUsedSlot(), -1);
  DestroyIrcBotTable();
  EXPECT_EQ(GetIrcBotTable(), nullptr);
}

TEST(IrcBot, ConnectsOnceSendsWhatItsStateAllowsAndQuitsOnDisconnect) {
  Rig r;
  // Nothing works unconnected, and nothing connects with a bad host, port or
  // nick (600 bytes: registration lines the server would refuse).
  const uint16_t closedPort = FakeIrcServer().Port();
  const std::string longNick(600, 'n');
  IrcBot lone(4, nullptr);
  EXPECT_FALSE(lone.JoinChannel("#a"));
  EXPECT_FALSE(lone.PrivateMessage("a", "b"));
  EXPECT_FALSE(lone.Notice("a", "b"));
  const struct {
    const char* host;
    uint16_t port;
    const char* nick;
    const char* why;
  } refused[] = {
      {"127.0.0.1", closedPort, "n", "nothing listens"},
      {"no-such-host.invalid", 6667, "n", "no such host"},
      {nullptr, 6667, "n", "no host"},
      {"127.0.0.1", 6667, nullptr, "no nick"},
      {"127.0.0.1", r.server.Port(), longNick.c_str(), "a 600-byte nick"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.why);
    EXPECT_FALSE(lone.Connect(c.host, c.port, c.nick));
  }
  EXPECT_FALSE(lone.IsConnected());
  EXPECT_EQ(lone.Nick(), "");

  // Connected: connect again, leave in no channel, join, join again, leave
  // naming another channel, leave again; messages (a line break cannot inject
  // a command; an overlong one is refused rather than getting the bot thrown
  // off the server); NAMES for channels up to 50 bytes.
  IrcBot* bot = r.Bot("qbot", nullptr);
  EXPECT_TRUE(bot->IsConnected());
  EXPECT_FALSE(bot->Connect("127.0.0.1", r.server.Port(), "other"));
  EXPECT_EQ(bot->Nick(), "qbot");
  EXPECT_FALSE(bot->LeaveChannel("#a"));
  EXPECT_TRUE(bot->JoinChannel("#a"));
  EXPECT_FALSE(bot->JoinChannel("#b"));
  EXPECT_EQ(bot->Channel().value_or("<none>"), "#a");
  EXPECT_TRUE(bot->LeaveChannel("#other"));
  EXPECT_FALSE(bot->Channel().has_value());
  EXPECT_FALSE(bot->LeaveChannel("#a"));
  EXPECT_TRUE(bot->PrivateMessage("bob", "hello there"));
  EXPECT_TRUE(bot->Send("#a", "to all"));
  EXPECT_TRUE(bot->Notice("bob", "psst"));
  EXPECT_TRUE(bot->Send("#a", "hi\r\nQUIT :pwned"));
  EXPECT_FALSE(bot->Send("#a", std::string(600, 'x').c_str()));
  bot->RequestNames(std::string(50, 'c'));
  bot->RequestNames(std::string(51, 'd'));
  const Lines sent = {
      "JOIN #a",          "PART #other",    "PRIVMSG bob :hello there",      "PRIVMSG #a :to all",
      "NOTICE bob :psst", "PRIVMSG #a :hi", "NAMES " + std::string(50, 'c'),
  };
  EXPECT_EQ(r.Sent(bot), sent);

  // A disconnect quits and keeps the channel; the next connection starts in none.
  EXPECT_TRUE(bot->JoinChannel("#main"));
  bot->Disconnect();
  EXPECT_EQ(r.peers[0].ReadUntil("<eof>"), (Lines{"JOIN #main", "QUIT", "<eof>"}));
  EXPECT_FALSE(bot->IsConnected());
  EXPECT_EQ(bot->Channel().value_or("<none>"), "#main");
  EXPECT_FALSE(bot->Send("#main", "x"));
  EXPECT_TRUE(bot->Connect("localhost", r.server.Port(), "qbot2"));
  EXPECT_FALSE(bot->Channel().has_value());
  EXPECT_EQ(r.server.Accept().ReadLine(), "NICK qbot2");
}

Lines Bytes(const std::string& text) {
  Lines bytes;
  for (char c : text) bytes.emplace_back(1, c);
  return bytes;
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// Server lines fed to one bot in "#main" (or never in a channel, or after it
// left): the events it raises, the lines it answers with, and then the levels
// of kLevelNicks in #main, the level of "op" in #other and its number of users.
TEST(IrcBot, ServerLinesGiveEventsAnswersAndLevels) {
  const char* const kLevelNicks[] = {"op",  "voice", "plain", "owner", "half",
                                     "adm", "+both", "OP",    "nobody"};
  const struct {
    std::string channel;  // "#main", "left", or "" for none
    Lines chunks;
    Lines events = {};
    Lines sent = {};
    std::string levels = "---------";  // one per kLevelNicks, in order
    std::string otherOp = "-";
    size_t users = 0;
  } cases[] = {
      // clang-format off
      // How reads are cut into lines: the tail waits for the next read; a bare
      // LF stays in its line; byte by byte; the longest line; one byte longer
      // over several reads and its "\r" and "\n" in two reads is dropped whole;
      // a NUL drops its line only.
      {"#main", {"PING :a\r\n:x JOIN #c\r\n:y PA", "RT #c\r\n"},
       {"join 0 x #main", "leave 0 y #main 0"}, {"PONG a", "NAMES #main", "NAMES #main"}},
      {"#main", {"\r\nPING :x\nPING :y\r\nPING :z\r", "\n"}, {}, {"PONG x", "PONG z"}},
      {"#main", Bytes(":n!u@h PRIVMSG #main :!give b 5\r\nPING :y\r\n"),
       {"irccommand 0 n #main give b 5"}, {"PONG y"}},
      // 19 bytes before the command: the line is kLongest bytes.
      {"#main", {":a PRIVMSG #main :!" + std::string(kLongest - 19, 'a') + "\r\n"},
       {"irccommand 0 a #main " + std::string(kLongest - 19, 'a')}},
      {"#main", {std::string(kLongest, 'b'), "c :x PRIVMSG #c :!ban op", "\r",
                 "\nPING :z\r\n" + std::string(kLongest + 5, 'q') + "\r", "\nPING :A\r\n"},
       {}, {"PONG z", "PONG A"}},
      {"#main", {std::string("PING :a\r\n:x JOIN #c\0\r\nPING :b\r\n", 31)},
       {}, {"PONG a", "PONG b"}},
      {"", {"PING :one\r\n:a!u@h JOIN :#main\r\n:s 353 qbot = #main :@op\r\n"}},
      {"left", {":qbot!~qbot@h PART #main\r\n:a!u@h JOIN :#main\r\n"
                ":srv 353 qbot = #main :@op\r\nPING :x\r\n"}},
      {"#main", {"PING :two\r\nPING three\r\nPING :\r\nPING\r\nping :x\r\n"
                 "PING :" + std::string(600, 'p') + "\r\n"},
       {}, {"PONG two", "PONG three", "PONG "}},
      // The server's echo of our own JOIN.
      {"#main", {":qbot!~qbot@127.0.0.1 JOIN :#main\r\n"}, {"join 0 qbot #main"}, {"NAMES #main"}},
      {"#main", {":s 353 qbot = #main :@op +voice plain ~owner\r\n"
                 ":s 353 qbot = #main :%half &adm @+both\r\n:s 366 qbot #main :End\r\n"},
       {}, {}, "@+-~%&@--", "-", 7},
      // MODE clears the list and asks again for the channel it names.
      {"#main", {":s 353 qbot = #main :@op +voice\r\n:op!~op@h MODE #main +o plain\r\n"
                 ":s 353 qbot = #main :+voice @plain\r\n:x MODE #other +v y\r\n:x MODE\r\n"
                 ":x MODE  +i\r\n:s 353 qbot = #main :@plain\r\n"},
       {}, {"NAMES #main", "NAMES #other"}, "--@------", "-", 1},
      // Leaves name the bot's channel whatever the line says; a KICK names the kicker.
      {"#main", {":s 353 qbot = #main :@op\r\n:alice!a@h PART #elsewhere :bye\r\n"
                 ":bob!b@h QUIT :gone\r\n:op!o@h KICK #main victim :out\r\n"
                 ":carol!c@h NICK :caroline\r\n"},
       {"leave 0 alice #main 0", "leave 0 bob #main 1", "leave 0 op #main 2"},
       {"NAMES #main", "NAMES #main", "NAMES #main", "NAMES #main"}},
      // The "!" must be the message's second character, whatever its first.
      {"#main", {":a!~a@h PRIVMSG #main :!give b 5\r\n:a!~a@h PRIVMSG qbot :!seen bob\r\n"
                 ":a!~a@h PRIVMSG #main :hi !x\r\n:a!~a@h PRIVMSG #main\r\n"
                 ":a!~a@h PRIVMSG #main :!\r\n:a!~a@h PRIVMSG #main !x\r\n"
                 ":a!~a@h PRIVMSG #main y!z\r\n"},
       {"irccommand 0 a #main give b 5", "irccommand 0 a #main seen bob",
        "irccommand 0 a #main ", "irccommand 0 a #main z"}},
      {"#main", {":a!u@h PRIVMSG #main :!say hel", "lo world\r\n"},
       {"irccommand 0 a #main say hello world"}},
      {"#main", {":\r\n: \r\n:x\r\n\r\n \r\n:::: :: ::\r\n353\r\n:s 353\r\n:s 353 :#\r\n"
                 ":s 353 # :\r\n:s 353 qbot = #other :@op\r\n"},
       {}, {}, "---------", "@", 1},
      // Names replies cannot grow the list without bound.
      {"#main", {Repeat(":s 353 qbot = #main :@a +b @c @d @e @f @g @h @i @voice\r\n", 1001) +
                 ":s 353 qbot = #main :@op\r\n"},
       {}, {}, "-@-------", "-", 10000},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chunks[0].substr(0, 60));
    Rig r;
    IrcBot* bot = r.Bot("qbot", c.channel.empty() ? nullptr : "#main");
    if (c.channel == "left") {
      EXPECT_TRUE(bot->LeaveChannel("#main"));
      EXPECT_EQ(r.peers[0].ReadLine(), "PART #main");
    }
    for (const std::string& chunk : c.chunks) Feed(bot, chunk);
    EXPECT_EQ(r.Events(), c.events);
    EXPECT_EQ(r.Sent(bot), c.sent);
    for (size_t i = 0; i < std::size(kLevelNicks); ++i) {
      EXPECT_EQ(bot->GetUserLevel("#main", kLevelNicks[i]), c.levels.substr(i, 1))
          << kLevelNicks[i] << " in #main";
    }
    EXPECT_EQ(bot->GetUserLevel("#other", "op"), c.otherOp) << "op in #other";
    EXPECT_EQ(bot->Users().size(), c.users);
  }
}

TEST(IrcBot, OnlyTheLowestBotInItsChannelHandsOverCommands) {
  Rig r;
  IrcBot* low = r.Bot("b0");
  IrcBot* high = r.Bot("b1");
  auto command = [&](IrcBot* bot) {
    Feed(bot, ":a!~a@h PRIVMSG #main :!give b 5\r\n");
    return r.Events();
  };
  EXPECT_EQ(command(low), (Lines{"irccommand 0 a #main give b 5"}));
  EXPECT_EQ(command(high), Lines{});
  // The lowest bot out of its channel: nobody dispatches; once it is gone, the next one does.
  ASSERT_TRUE(low->LeaveChannel("#main"));
  EXPECT_EQ(command(low), Lines{});
  EXPECT_EQ(command(high), Lines{});
  EXPECT_TRUE(r.table.DestroyBot(0));
  EXPECT_EQ(command(high), (Lines{"irccommand 1 a #main give b 5"}));
  EXPECT_EQ(r.peers[0].ReadUntil("<eof>"), (Lines{"PART #main", "QUIT", "<eof>"}));
}

TEST(IrcBot, ABrokenOrStalledServerCostsOneSendAndTheSocketIsClosed) {
  auto descriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  const auto before = descriptors();
  {
    Rig r;
    IrcBot* bot = r.Bot("qbot");
    // Reset the connection, so the bot's QUIT cannot be sent any more: still
    // connected until it disconnects, and then closed although its QUIT failed.
    linger hard{1, 0};
    ASSERT_EQ(setsockopt(r.peers[0].fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
    platform::TcpClose(std::exchange(r.peers[0].fd, -1));
    r.table.ReceiveAll();
    r.table.ReceiveAll();
    EXPECT_TRUE(bot->IsConnected());
    EXPECT_FALSE(bot->Connect("127.0.0.1", r.server.Port(), "q"));
    bot->Disconnect();
    EXPECT_FALSE(bot->IsConnected());
    EXPECT_TRUE(bot->Connect("127.0.0.1", r.server.Port(), "qbot"));
    r.peers.push_back(r.server.Accept());
    // Far more than the socket buffers hold: one send waits out the stall
    // limit; the rest must not each wait again (that would take hours here)
    // and lines not written are not reported as sent.
    IrcBot* slow = r.Bot("slow");
    const int small = 4096;
    ASSERT_EQ(setsockopt(r.peers[2].fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
    const std::string line(480, 'x');
    for (int i = 0; i < 20000; ++i) slow->Send("#main", line.c_str());
    EXPECT_FALSE(slow->Send("marker", "after"));
    slow->Disconnect();
    EXPECT_FALSE(slow->IsConnected());
  }
  EXPECT_EQ(descriptors(), before) << "a destroyed bot closes its socket";
}

TEST(IrcBot, ScriptHandlersMayDestroyOrDisconnectTheBotMidLine) {
  Rig r;
  r.Bot("qbot");
  // The handler destroys the very bot that raised it and reuses the slot: no
  // NAMES from a destroyed bot.
  r.sink.onRaise = [&](const ScriptEvent&) {
    EXPECT_TRUE(r.table.DestroyBot(0));
    EXPECT_EQ(r.table.CreateBot(), 0);
  };
  r.peers[0].Send(":a!u@h JOIN :#main\r\n:b!u@h JOIN :#main\r\n");
  EXPECT_TRUE(WaitFor([&] {
    r.table.ReceiveAll();
    return !r.sink.lines.empty();
  }));
  EXPECT_EQ(r.Events(), (Lines{"join 0 a #main"}));
  ASSERT_NE(r.table.Bot(0), nullptr);
  EXPECT_FALSE(r.table.Bot(0)->IsConnected()) << "slot 0 holds the handler's new bot";
  EXPECT_EQ(r.peers[0].ReadUntil("<eof>"), (Lines{"QUIT", "<eof>"}));

  // Leaving the channel from the handler: no NAMES for a channel it left.
  IrcBot* bot = r.Bot("qbot2");
  r.sink.onRaise = [&](const ScriptEvent&) { bot->LeaveChannel("#main"); };
  Feed(bot, ":a!u@h PART #main\r\n:b!u@h PART #main\r\n");
  EXPECT_EQ(r.Events(), (Lines{"leave 1 a #main 0"}));
  EXPECT_EQ(r.Sent(bot, 1), (Lines{"PART #main"}));

  // Disconnecting from the handler: the rest of that read is not handled.
  ASSERT_TRUE(bot->JoinChannel("#main"));
  r.sink.onRaise = [&](const ScriptEvent&) { bot->Disconnect(); };
  Feed(bot, ":a!u@h JOIN :#main\r\n:b!u@h JOIN :#main\r\n");
  EXPECT_EQ(r.Events(), (Lines{"join 1 a #main"}));
  EXPECT_EQ(r.peers[1].ReadUntil("<eof>"), (Lines{"JOIN #main", "QUIT", "<eof>"}));
}

// The line reader's memory bound and reset, and the sent lines' limit; how
// received bytes are cut into lines is the table above.
TEST(IrcLine, ReaderMemoryStaysBoundedAndResetForgetsTheTailAndSentLinesAreRefusedRatherThanCut) {
  irc::LineReader r;
  Lines lines;
  r.Feed("PING :a\r\n:y PA", 14, lines);
  EXPECT_EQ(lines, (Lines{"PING :a"}));
  EXPECT_EQ(r.Pending(), 5u) << "the tail \":y PA\" waits";
  r.Reset();

  // A server that never ends its line.
  r.Feed("ne\r\n", 4, lines);
  const std::string chunk(4096, 'x');
  for (int i = 1; i < 100; ++i) r.Feed(chunk.data(), chunk.size(), lines);
  EXPECT_EQ(lines, (Lines{"PING :a", "ne"})) << "the reset forgot \":y PA\"";
  EXPECT_LE(r.Pending(), kLongest + 1);
  r.Feed("\r\nPING :ok\r\n", 12, lines);
  EXPECT_EQ(lines, (Lines{"PING :a", "ne", "PING :ok"}));

  // 12 bytes of "PRIVMSG #c :" and 2 of "\r\n": 498 bytes of text fill a
  // 512-byte line; one more is refused.
  const std::string fits(498, 'x');
  EXPECT_EQ(irc::BuildLine({"PRIVMSG ", "#c", " :", fits}).value_or("").size(), 512u);
  EXPECT_FALSE(irc::BuildLine({"PRIVMSG ", "#c", " :", fits + "y"}).has_value());
}

// The bots inside a whole server: the game mode creates them, the main loop's
// 200-ms step reads them, and a restart destroys them.
TEST(IrcInServer, MainLoopReadsTheBotsAndARestartQuitsThem) {
  FakeIrcServer irc;
  std::string mainLua = "IRC.createBot()\n";
  mainLua += "IRC.connect(0, '127.0.0.1', " + std::to_string(irc.Port()) + ", 'srvbot')\n";
  mainLua += "IRC.joinChannel(0, '#game')\n";
  mainLua += "function onPing(nick) IRC.send(0, '#game', 'pong for ' .. nick) end\n";
  mainLua += "IRC.addCommand('ping', 'onPing', -1)\n";
  InProcessServer server(mainLua);
  server.Start();
  LinePeer peer = irc.Accept();
  EXPECT_EQ(peer.ReadUntil("JOIN"),
            (Lines{"NICK srvbot", "USER srvbot * 0 :IRCPlugin", "JOIN #game"}));
  peer.Send(":u!~u@h PRIVMSG #game :!ping\r\n");
  EXPECT_TRUE(server.PumpUntil([&] { return peer.ReadLine(0) == "PRIVMSG #game :pong for u"; }));
  RestartServer();
  EXPECT_EQ(peer.ReadUntil("<eof>"), (Lines{"QUIT", "<eof>"}));
  EXPECT_EQ(GetIrcBotTable()->LowestUsedSlot(), -1);
}

}  // namespace
