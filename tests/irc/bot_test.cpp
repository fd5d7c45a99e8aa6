#include "irc/bot.h"

#include "irc/line.h"

#include <sys/socket.h>

#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "irc_test_support.h"
#include "server/server.h"
#include "support/server_fixture.h"

namespace {

using namespace irctest;
using Lines = std::vector<std::string>;
using Ints = std::vector<int>;  // a sequence of calls' results, compared at once

// Bots of one table connected to a fake server; peers[i] is the server's end
// of the i-th bot connected.
struct Rig {
  FakeIrcServer server;
  Sink sink;
  IrcBotTable table;
  std::vector<LinePeer> peers;
  // A new bot connected as `nick` and in `channel` (unless null), with its registration and JOIN read off.
  IrcBot* Bot(const std::string& nick, const char* channel = "#main") {
    IrcBot* bot = table.Bot(static_cast<uint8_t>(table.CreateBot()));
    EXPECT_TRUE(bot->Connect("127.0.0.1", server.Port(), nick.c_str()));
    peers.push_back(server.Accept());
    EXPECT_EQ(peers.back().ReadUntil("USER"), (Lines{"NICK " + nick, "USER " + nick + " * 0 :IRCPlugin"}));
    EXPECT_TRUE(!channel || (bot->JoinChannel(channel) && peers.back().ReadLine() == std::string("JOIN ") + channel));
    return bot;
  }
  // What peer `i`'s bot sent before a marker line it is made to send now, joined by "|".
  std::string Sent(IrcBot* bot, size_t i = 0) {
    std::string out;
    for (const std::string& l : (bot->PrivateMessage("marker", "end"), peers[i].ReadUntil("PRIVMSG marker"))) out += l + "|";
    return out.substr(0, out.size() - std::min<size_t>(out.size(), 21));  // without "|PRIVMSG marker :end|"
  }
};
void Feed(IrcBot* bot, const std::string& text) { bot->ProcessReceived(text.data(), text.size()); }

TEST(IrcBotTable, SlotsAreReusedLowestFirstAndDestroyingTheTableQuitsItsBots) {
  FakeIrcServer server;
  ReplaceIrcBotTable();
  IrcBotTable* t = GetIrcBotTable();
  EXPECT_EQ((Ints{t->CreateBot(), t->CreateBot(), t->CreateBot(), t->CreateBot(), t->CreateBot(), t->CreateBot(),
                  t->DestroyBot(2), !t->Bot(2), t->CreateBot(), t->Bot(2)->Id(), t->DestroyBot(7), !t->Bot(200),
                  (t->DestroyAllBots(), t->LowestUsedSlot())}),
            (Ints{0, 1, 2, 3, 4, -1, 1, 1, 2, 2, 0, 1, -1}));
  std::vector<LinePeer> peers;
  for (const char* nick : {"a1", "a2"}) peers.push_back((t->Bot(t->CreateBot())->Connect("127.0.0.1", server.Port(), nick), server.Accept()));
  t->CreateBot();  // never connected: sends nothing
  ReplaceIrcBotTable();  // the old table's bots quit; the new one is empty
  for (LinePeer& p : peers) EXPECT_EQ(p.ReadUntil("<eof>").size(), 4u) << "NICK, USER, QUIT, close";
  EXPECT_EQ((Ints{GetIrcBotTable()->LowestUsedSlot(), (DestroyIrcBotTable(), GetIrcBotTable() == nullptr)}), (Ints{-1, 1}));
}

TEST(IrcBot, ConnectsOnceSendsWhatItsStateAllowsAndQuitsOnDisconnect) {
  Rig r;
  // Nothing works unconnected, and nothing connects with a bad host, port or
  // nick (600 bytes: registration lines the server would refuse).
  const uint16_t closedPort = FakeIrcServer().Port();
  IrcBot lone(4, nullptr);
  EXPECT_EQ((Ints{lone.JoinChannel("#a"), lone.PrivateMessage("a", "b"), lone.Notice("a", "b"),
                  lone.Connect("127.0.0.1", closedPort, "n"), lone.Connect("no-such-host.invalid", 6667, "n"),
                  lone.Connect(nullptr, 6667, "n"), lone.Connect("127.0.0.1", 6667, nullptr),
                  lone.Connect("127.0.0.1", r.server.Port(), std::string(600, 'n').c_str()), lone.IsConnected(), lone.Nick().empty()}),
            (Ints{0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  // Connected: connect again, leave in no channel, join, join again, leave
  // naming another channel, leave again; messages (a line break cannot inject
  // a command; an overlong one is refused rather than getting the bot thrown
  // off the server); NAMES for channels up to 50 bytes.
  IrcBot* bot = r.Bot("qbot", nullptr);
  EXPECT_EQ((Ints{bot->IsConnected(), bot->Connect("127.0.0.1", r.server.Port(), "other"), bot->Nick() == "qbot",
                  bot->LeaveChannel("#a"), bot->JoinChannel("#a"), bot->JoinChannel("#b"), bot->Channel() == "#a",
                  bot->LeaveChannel("#other"), bot->Channel().has_value(), bot->LeaveChannel("#a"),
                  bot->PrivateMessage("bob", "hello there"), bot->Send("#a", "to all"), bot->Notice("bob", "psst"),
                  bot->Send("#a", "hi\r\nQUIT :pwned"), bot->Send("#a", std::string(600, 'x').c_str()),
                  (bot->RequestNames(std::string(50, 'c')), bot->RequestNames(std::string(51, 'd')), 1)}),
            (Ints{1, 0, 1, 0, 1, 0, 1, 1, 0, 0, 1, 1, 1, 1, 0, 1}));
  EXPECT_EQ(r.Sent(bot), "JOIN #a|PART #other|PRIVMSG bob :hello there|PRIVMSG #a :to all|NOTICE bob :psst|PRIVMSG #a :hi|NAMES " +
                             std::string(50, 'c'));
  // A disconnect quits and keeps the channel; the next connection starts in none.
  EXPECT_EQ((bot->JoinChannel("#main"), bot->Disconnect(), r.peers[0].ReadUntil("<eof>")), (Lines{"JOIN #main", "QUIT", "<eof>"}));
  EXPECT_EQ((Ints{bot->IsConnected(), bot->Channel() == "#main", bot->Send("#main", "x"),
                  bot->Connect("localhost", r.server.Port(), "qbot2"), bot->Channel().has_value(), r.server.Accept().ReadLine() == "NICK qbot2"}),
            (Ints{0, 1, 0, 1, 0, 1}));
}

std::string Repeat(const std::string& text, int times) { std::string out; while (times-- > 0) out += text; return out; }
Lines Bytes(const std::string& text) { Lines bytes; for (char c : text) bytes.emplace_back(1, c); return bytes; }
constexpr size_t kLongest = irc::kMaxReceivedLine;

// Server lines fed to one bot in "#main" (or never in a channel, or after it
// left): the events it raises, the lines it answers with, and then the levels
// of op voice plain owner half adm +both OP nobody in #main / op in #other /
// its number of users.
TEST(IrcBot, ServerLinesGiveEventsAnswersAndLevels) {
  const struct {
    std::string channel;  // "#main", "left", or "" for none
    Lines chunks;
    std::string events = "", sent = "", levels = "---------/-/0";
  } cases[] = {
      // How reads are cut into lines: the tail waits for the next read; a bare
      // LF stays in its line; byte by byte; the longest line; one byte longer
      // over several reads and its "\r" and "\n" in two reads is dropped whole;
      // a NUL drops its line only.
      {"#main", {"PING :a\r\n:x JOIN #c\r\n:y PA", "RT #c\r\n"}, "join 0 x #main\nleave 0 y #main 0", "PONG a|NAMES #main|NAMES #main"},
      {"#main", {"\r\nPING :x\nPING :y\r\nPING :z\r", "\n"}, "", "PONG x|PONG z"},
      {"#main", Bytes(":n!u@h PRIVMSG #main :!give b 5\r\nPING :y\r\n"), "irccommand 0 n #main give b 5", "PONG y"},
      {"#main", {":a PRIVMSG #main :!" + std::string(kLongest - 19, 'a') + "\r\n"}, "irccommand 0 a #main " + std::string(kLongest - 19, 'a')},
      {"#main", {std::string(kLongest, 'b'), "c :x PRIVMSG #c :!ban op", "\r", "\nPING :z\r\n" + std::string(kLongest + 5, 'q') + "\r", "\nPING :A\r\n"}, "", "PONG z|PONG A"},
      {"#main", {std::string("PING :a\r\n:x JOIN #c\0\r\nPING :b\r\n", 31)}, "", "PONG a|PONG b"},
      {"", {"PING :one\r\n:a!u@h JOIN :#main\r\n:s 353 qbot = #main :@op\r\n"}},
      {"left", {":qbot!~qbot@h PART #main\r\n:a!u@h JOIN :#main\r\n:srv 353 qbot = #main :@op\r\nPING :x\r\n"}},
      {"#main", {"PING :two\r\nPING three\r\nPING :\r\nPING\r\nping :x\r\nPING :" + std::string(600, 'p') + "\r\n"}, "", "PONG two|PONG three|PONG "},
      // The server's echo of our own JOIN.
      {"#main", {":qbot!~qbot@127.0.0.1 JOIN :#main\r\n"}, "join 0 qbot #main", "NAMES #main"},
      {"#main", {":s 353 qbot = #main :@op +voice plain ~owner\r\n:s 353 qbot = #main :%half &adm @+both\r\n:s 366 qbot #main :End\r\n"}, "", "", "@+-~%&@--/-/7"},
      // MODE clears the list and asks again for the channel it names.
      {"#main", {":s 353 qbot = #main :@op +voice\r\n:op!~op@h MODE #main +o plain\r\n:s 353 qbot = #main :+voice @plain\r\n"
                 ":x MODE #other +v y\r\n:x MODE\r\n:x MODE  +i\r\n:s 353 qbot = #main :@plain\r\n"}, "", "NAMES #main|NAMES #other", "--@------/-/1"},
      // Leaves name the bot's channel whatever the line says; a KICK names the kicker.
      {"#main", {":s 353 qbot = #main :@op\r\n:alice!a@h PART #elsewhere :bye\r\n:bob!b@h QUIT :gone\r\n:op!o@h KICK #main victim :out\r\n"
                 ":carol!c@h NICK :caroline\r\n"}, "leave 0 alice #main 0\nleave 0 bob #main 1\nleave 0 op #main 2", "NAMES #main|NAMES #main|NAMES #main|NAMES #main"},
      // The "!" must be the message's second character, whatever its first.
      {"#main", {":a!~a@h PRIVMSG #main :!give b 5\r\n:a!~a@h PRIVMSG qbot :!seen bob\r\n:a!~a@h PRIVMSG #main :hi !x\r\n:a!~a@h PRIVMSG #main\r\n"
                 ":a!~a@h PRIVMSG #main :!\r\n:a!~a@h PRIVMSG #main !x\r\n:a!~a@h PRIVMSG #main y!z\r\n"},
       "irccommand 0 a #main give b 5\nirccommand 0 a #main seen bob\nirccommand 0 a #main \nirccommand 0 a #main z"},
      {"#main", {":a!u@h PRIVMSG #main :!say hel", "lo world\r\n"}, "irccommand 0 a #main say hello world"},
      {"#main", {":\r\n: \r\n:x\r\n\r\n \r\n:::: :: ::\r\n353\r\n:s 353\r\n:s 353 :#\r\n:s 353 # :\r\n:s 353 qbot = #other :@op\r\n"}, "", "", "---------/@/1"},
      // Names replies cannot grow the list without bound.
      {"#main", {Repeat(":s 353 qbot = #main :@a +b @c @d @e @f @g @h @i @voice\r\n", 1001) + ":s 353 qbot = #main :@op\r\n"}, "", "", "-@-------/-/10000"},
  };
  for (const auto& c : cases) {
    Rig r;
    IrcBot* bot = r.Bot("qbot", c.channel.empty() ? nullptr : "#main");
    EXPECT_TRUE(c.channel != "left" || (bot->LeaveChannel("#main") && r.peers[0].ReadLine() == "PART #main"));
    for (const std::string& chunk : c.chunks) Feed(bot, chunk);
    std::string levels;
    for (const char* nick : {"op", "voice", "plain", "owner", "half", "adm", "+both", "OP", "nobody"}) levels += bot->GetUserLevel("#main", nick);
    levels += std::string("/") + bot->GetUserLevel("#other", "op") + "/" + std::to_string(bot->Users().size());
    EXPECT_EQ(Lines({r.sink.Take(), r.Sent(bot), levels}), Lines({c.events, c.sent, c.levels})) << c.chunks[0].substr(0, 60);
  }
}

TEST(IrcBot, OnlyTheLowestBotInItsChannelHandsOverCommands) {
  Rig r;
  IrcBot *low = r.Bot("b0"), *high = r.Bot("b1");
  auto feed = [&](IrcBot* bot) { return Feed(bot, ":a!~a@h PRIVMSG #main :!give b 5\r\n"), r.sink.Take() + "|"; };
  EXPECT_EQ(Lines({feed(low), feed(high)}), Lines({"irccommand 0 a #main give b 5|", "|"}));
  // The lowest bot out of its channel: nobody dispatches; once it is gone, the next one does.
  ASSERT_TRUE(low->LeaveChannel("#main"));
  EXPECT_EQ(Lines({feed(low), feed(high)}), Lines({"|", "|"}));
  EXPECT_EQ((r.table.DestroyBot(0), feed(high)), "irccommand 1 a #main give b 5|");
  EXPECT_EQ(r.peers[0].ReadUntil("<eof>"), (Lines{"PART #main", "QUIT", "<eof>"}));
}

TEST(IrcBot, ABrokenOrStalledServerCostsOneSendAndTheSocketIsClosed) {
  auto descriptors = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
  const auto before = descriptors();
  {
    Rig r;
    IrcBot* bot = r.Bot("qbot");
    // Reset the connection, so the bot's QUIT cannot be sent any more: still
    // connected until it disconnects, and then closed although its QUIT failed.
    linger hard{1, 0};
    ASSERT_EQ(setsockopt(r.peers[0].fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
    platform::TcpClose(std::exchange(r.peers[0].fd, -1));
    EXPECT_EQ((Ints{(r.table.ReceiveAll(), r.table.ReceiveAll(), bot->IsConnected()), bot->Connect("127.0.0.1", r.server.Port(), "q"),
                    (bot->Disconnect(), bot->IsConnected()), bot->Connect("127.0.0.1", r.server.Port(), "qbot")}),
              (Ints{1, 0, 0, 1}));
    r.peers.push_back(r.server.Accept());
    // Far more than the socket buffers hold: one send waits out the stall
    // limit; the rest must not each wait again (that would take hours here)
    // and lines not written are not reported as sent.
    IrcBot* slow = r.Bot("slow");
    const int small = 4096;
    ASSERT_EQ(setsockopt(r.peers[2].fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
    for (int i = 0; i < 20000; ++i) slow->Send("#main", std::string(480, 'x').c_str());
    EXPECT_TRUE(!slow->Send("marker", "after") && !(slow->Disconnect(), slow->IsConnected()));
  }
  EXPECT_EQ(descriptors(), before) << "a destroyed bot closes its socket";
}

TEST(IrcBot, ScriptHandlersMayDestroyOrDisconnectTheBotMidLine) {
  Rig r;
  r.Bot("qbot");
  // The handler destroys the very bot that raised it and reuses the slot: no
  // NAMES from a destroyed bot.
  r.sink.onRaise = [&](const ScriptEvent&) { EXPECT_TRUE(r.table.DestroyBot(0) && r.table.CreateBot() == 0); };
  r.peers[0].Send(":a!u@h JOIN :#main\r\n:b!u@h JOIN :#main\r\n");
  EXPECT_TRUE(WaitFor([&] { return r.table.ReceiveAll(), !r.sink.lines.empty(); }));
  EXPECT_EQ(r.sink.Take() + "|" + std::to_string(r.table.Bot(0)->IsConnected()), "join 0 a #main|0");
  EXPECT_EQ(r.peers[0].ReadUntil("<eof>"), (Lines{"QUIT", "<eof>"}));
  // Leaving the channel from the handler: no NAMES for a channel it left.
  IrcBot* bot = r.Bot("qbot2");
  r.sink.onRaise = [&](const ScriptEvent&) { bot->LeaveChannel("#main"); };
  Feed(bot, ":a!u@h PART #main\r\n:b!u@h PART #main\r\n");
  EXPECT_EQ(r.sink.Take() + "|" + r.Sent(bot, 1), "leave 1 a #main 0|PART #main");
  // Disconnecting from the handler: the rest of that read is not handled.
  ASSERT_TRUE(bot->JoinChannel("#main"));
  r.sink.onRaise = [&](const ScriptEvent&) { bot->Disconnect(); };
  EXPECT_EQ((Feed(bot, ":a!u@h JOIN :#main\r\n:b!u@h JOIN :#main\r\n"), r.sink.Take()), "join 1 a #main");
  EXPECT_EQ(r.peers[1].ReadUntil("<eof>"), (Lines{"JOIN #main", "QUIT", "<eof>"}));
}

// The line reader's memory bound and reset, and the sent lines' limit; how
// received bytes are cut into lines is the table above.
TEST(IrcLine, ReaderMemoryStaysBoundedAndResetForgetsTheTailAndSentLinesAreRefusedRatherThanCut) {
  irc::LineReader r;
  Lines lines;
  EXPECT_EQ((r.Feed("PING :a\r\n:y PA", 14, lines), lines.size() + r.Pending()), 1u + 5u);
  r.Reset();
  // A server that never ends its line.
  for (int i = 0; i < 100; ++i) r.Feed(i ? std::string(4096, 'x').data() : "ne\r\n", i ? 4096 : 4, lines);
  EXPECT_TRUE(lines.size() == 2 && r.Pending() <= irc::kMaxReceivedLine + 1) << r.Pending();
  r.Feed("\r\nPING :ok\r\n", 12, lines);
  const std::string fits(irc::kMaxSentLine - 2 - 12, 'x');
  EXPECT_EQ(lines[1] + lines.back() + std::to_string(irc::BuildLine({"PRIVMSG ", "#c", " :", fits}).value_or("").size()), "nePING :ok512");
  EXPECT_FALSE(irc::BuildLine({"PRIVMSG ", "#c", " :", fits + "y"}));
}

// The bots inside a whole server: the game mode creates them, the main loop's
// 200-ms step reads them, and a restart destroys them.
TEST(IrcInServer, MainLoopReadsTheBotsAndARestartQuitsThem) {
  FakeIrcServer irc;
  InProcessServer server("IRC.createBot()\nIRC.connect(0, '127.0.0.1', " + std::to_string(irc.Port()) + ", 'srvbot')\n"
                         "IRC.joinChannel(0, '#game')\nfunction onPing(nick) IRC.send(0, '#game', 'pong for ' .. nick) end\n"
                         "IRC.addCommand('ping', 'onPing', -1)\n");
  server.Start();
  LinePeer peer = irc.Accept();
  EXPECT_EQ(peer.ReadUntil("JOIN"), (Lines{"NICK srvbot", "USER srvbot * 0 :IRCPlugin", "JOIN #game"}));
  peer.Send(":u!~u@h PRIVMSG #game :!ping\r\n");
  EXPECT_TRUE(server.PumpUntil([&] { return peer.ReadLine(0) == "PRIVMSG #game :pong for u"; }));
  EXPECT_EQ((RestartServer(), peer.ReadUntil("<eof>")), (Lines{"QUIT", "<eof>"}));
  EXPECT_EQ(GetIrcBotTable()->LowestUsedSlot(), -1);
}

}  // namespace
