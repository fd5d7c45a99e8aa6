// The player control natives through a running server: renaming (the name
// rules, the broadcast and the query reply), the team's clamp and record, and
// the compressed one-byte commands with their limits and targets.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/game_fixture.h"
#include "core/playerpool.h"
#include "script/script_host.h"

namespace {

using gametest::Comp;
using gametest::Plain;
using scripttest::RunLua;

const char* const kControlRpcs[] = {
    "SetPlayerName", "SetPlayerTeam", "SetPlayerWantedLevel", "SetPlayerFixedWantedLevel",
    "SetPlayerStaticWantedLevel", "SetPlayerCellPhoneStatus", "TogglePlayerClock",
    "SetPlayerAnimation", "SetPlayerColor", "ClearPlayerWeapons"};

// The server-browser reply, read as a browser reads it: after the pong byte
// and the echoed time. Empty when no answer came.
std::string QueryReply(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return "";
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const uint8_t query[5] = {net::ID_PING, 1, 2, 3, 4};
  std::string reply;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (reply.empty() && std::chrono::steady_clock::now() < deadline) {
    sendto(fd, query, sizeof query, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 200) == 1) {
      char buffer[4096];
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n > 5) reply.assign(buffer + 5, static_cast<size_t>(n) - 5);
    }
  }
  close(fd);
  return reply;
}

class PlayerControlTest : public gametest::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    alpha_ = &ConnectAndJoin("Alpha");
    bravo_ = &ConnectAndJoin("Bravo");
    a_ = static_cast<uint8_t>(alpha_->Index());
    b_ = static_cast<uint8_t>(bravo_->Index());
    for (auto* c : {alpha_, bravo_}) {
      for (const char* name : kControlRpcs) c->Watch(name);
    }
  }

  // Runs a statement (A and B name the players) and waits until both clients
  // have everything sent before it: reliable calls arrive in order, so a
  // marker sent last settles it.
  void Call(const std::string& lua) {
    const std::string prelude =
        "local A, B = " + std::to_string(a_) + ", " + std::to_string(b_) + "; ";
    ASSERT_EQ(RunLua(prelude + lua), "") << lua;
    for (auto* c : {alpha_, bravo_}) {
      const size_t before = c->Count("ClearPlayerWeapons");
      ASSERT_EQ(RunLua("clearPlayerWeapons(" + std::to_string(c->Index()) + ")"), "");
      ASSERT_TRUE(PumpUntil([&] { return c->Count("ClearPlayerWeapons") > before; }));
    }
  }
  std::unique_ptr<net::BitStream> Last(support::TestClient& c, const char* name, uint32_t bits) {
    const support::ReceivedRpc* rpc = c.LastRpc(name);
    if (!rpc) {
      ADD_FAILURE() << name << " not received";
      return std::make_unique<net::BitStream>();
    }
    EXPECT_EQ(rpc->bits, bits) << name;
    return rpc->Reader();
  }
  // The SetPlayerName payload: u8 id, u32 length, the name's bytes.
  void ExpectNamePayload(support::TestClient& c, uint8_t id, const std::string& name) {
    auto s = Last(c, "SetPlayerName", static_cast<uint32_t>(40 + 8 * name.size()));
    EXPECT_EQ(Plain<uint8_t>(*s), id);
    EXPECT_EQ(Plain<uint32_t>(*s), name.size());
    const std::vector<uint8_t> bytes = gametest::RawBytes(*s, name.size());
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), name);
  }
  std::string Name(uint8_t id) { return GetPlayerPool()->names[id]; }
  size_t Sent(support::TestClient& c) {
    size_t n = 0;
    for (const char* name : kControlRpcs) n += c.Count(name);
    return n - c.Count("ClearPlayerWeapons");
  }

  support::TestClient* alpha_ = nullptr;
  support::TestClient* bravo_ = nullptr;
  uint8_t a_ = 0;
  uint8_t b_ = 0;
};

TEST_F(PlayerControlTest, RenameTellsEveryoneAndTheQueryReply) {
  Call("setPlayerName(A, 'Sixteen_Letters!')");
  EXPECT_EQ(Name(a_), "Sixteen_Letters!");
  for (auto* c : {alpha_, bravo_}) ExpectNamePayload(*c, a_, "Sixteen_Letters!");
  EXPECT_EQ(scripttest::Eval("getPlayerName(" + std::to_string(a_) + ")"), "'Sixteen_Letters!'");
  EXPECT_NE(QueryReply(server_.Port()).find("@Sixteen_Letters!#" + std::to_string(a_)),
            std::string::npos);

  // The old name is free again; the join's own name rule does not apply.
  Call("setPlayerName(B, 'alpha') setPlayerName(A, 'a-b')");
  EXPECT_EQ(Name(b_), "alpha");
  EXPECT_EQ(Name(a_), "a-b");
  Call("setPlayerName(A, 'ab')");
  EXPECT_EQ(Name(a_), "ab");
  ExpectNamePayload(*bravo_, a_, "ab");
  // The field holds no trace of the longer name before.
  EXPECT_EQ(std::string(GetPlayerPool()->names[a_], kPlayerNameSize),
            std::string("ab") + std::string(kPlayerNameSize - 2, '\0'));
}

TEST_F(PlayerControlTest, RenameRefusals) {
  const size_t before = alpha_->Count("SetPlayerName") + bravo_->Count("SetPlayerName");
  Call("setPlayerName(A, 'Seventeen_Letters')");  // 17 bytes
  Call("setPlayerName(A, '')");
  Call("setPlayerName(A, 'ALPHA')");  // its own name, in another case
  Call("setPlayerName(A, 'bRaVo')");  // somebody else's
  Call("setPlayerName(A, nil) setPlayerName(A, {}) setPlayerName(A, true)");
  Call("setPlayerName(A, 'line\\nbreak') setPlayerName(A, 'del\\127')");
  Call("setPlayerName(77, 'Nobody') setPlayerName(-1, 'Nobody')");
  EXPECT_EQ(alpha_->Count("SetPlayerName") + bravo_->Count("SetPlayerName"), before);
  EXPECT_EQ(Name(a_), "Alpha");
  EXPECT_EQ(Name(b_), "Bravo");
  EXPECT_EQ(GetPlayerPool()->names[77][0], '\0');

  // A number reads as its text; an embedded NUL ends the name.
  Call("setPlayerName(A, 12345) setPlayerName(B, 'cut\\0off')");
  EXPECT_EQ(Name(a_), "12345");
  EXPECT_EQ(Name(b_), "cut");
  ExpectNamePayload(*alpha_, b_, "cut");
}

TEST_F(PlayerControlTest, TeamIsClampedStoredAndSentCompressed) {
  const std::vector<std::pair<int, int>> cases = {{5, 5},     {101, 100}, {127, 100},
                                                   {128, -1},  {200, -1},  {-7, -1},
                                                   {-1, -1},   {300, 44},  {356, 100},
                                                   {0, 0},     {100, 100}};
  for (auto [in, out] : cases) {
    Call("setPlayerTeam(A, " + std::to_string(in) + ")");
    EXPECT_EQ(Record(a_).team, out) << in;
    EXPECT_EQ(scripttest::Eval("getPlayerTeam(" + std::to_string(a_) + ")"), std::to_string(out));
    const auto wire = static_cast<uint8_t>(out);
    auto s = Last(*alpha_, "SetPlayerTeam", wire < 16 ? 5 : 9);
    EXPECT_EQ(Comp<uint8_t>(*s), wire) << in;
  }
  EXPECT_EQ(bravo_->Count("SetPlayerTeam"), 0u);
  EXPECT_EQ(Record(b_).team, -1);
}

TEST_F(PlayerControlTest, OneByteCommandsWithTheirLimits) {
  struct Case {
    const char* native;
    const char* rpc;
    int in, out;
  };
  const std::vector<Case> cases = {
      {"setPlayerWantedLevel", "SetPlayerWantedLevel", 4, 4},
      {"setPlayerWantedLevel", "SetPlayerWantedLevel", 9, 6},
      {"setPlayerWantedLevel", "SetPlayerWantedLevel", -1, 6},
      {"setPlayerWantedLevel", "SetPlayerWantedLevel", 256, 0},
      {"setPlayerFixedWantedLevel", "SetPlayerFixedWantedLevel", 9, 6},
      {"setPlayerFixedWantedLevel", "SetPlayerFixedWantedLevel", 3, 3},
      {"setPlayerStaticWantedLevel", "SetPlayerStaticWantedLevel", -1, 6},
      {"setPlayerStaticWantedLevel", "SetPlayerStaticWantedLevel", 1, 1},
      {"setPlayerCellPhoneStatus", "SetPlayerCellPhoneStatus", 2, 1},
      {"setPlayerCellPhoneStatus", "SetPlayerCellPhoneStatus", 256, 0},
      {"togglePlayerClock", "TogglePlayerClock", 7, 7},
      {"togglePlayerClock", "TogglePlayerClock", 511, 255},
      {"setPlayerAnimation", "SetPlayerAnimation", 300, 44},
  };
  Record(a_).wantedLevel = 2;
  for (const Case& c : cases) {
    Call(std::string(c.native) + "(A, " + std::to_string(c.in) + ")");
    auto s = Last(*alpha_, c.rpc, c.out < 16 ? 5 : 9);
    EXPECT_EQ(Comp<uint8_t>(*s), c.out) << c.native << " " << c.in;
  }
  EXPECT_EQ(Sent(*bravo_), 0u);
  EXPECT_EQ(Record(a_).wantedLevel, 2);  // the client's report, not the command
}

TEST_F(PlayerControlTest, ColourGoesToThePlayerAlone) {
  Call("setPlayerColor(A, 255, 128, 0)");
  auto s = Last(*alpha_, "SetPlayerColor", 9 + 9 + 5);
  EXPECT_EQ(Comp<uint8_t>(*s), 255);
  EXPECT_EQ(Comp<uint8_t>(*s), 128);
  EXPECT_EQ(Comp<uint8_t>(*s), 0);
  Call("setPlayerColor(A, 256, 0, 1)");
  s = Last(*alpha_, "SetPlayerColor", 15);
  EXPECT_EQ(Comp<uint8_t>(*s), 0);
  EXPECT_EQ(Comp<uint8_t>(*s), 0);
  EXPECT_EQ(Comp<uint8_t>(*s), 1);
  EXPECT_EQ(bravo_->Count("SetPlayerColor"), 0u);
}

TEST_F(PlayerControlTest, CommandsForAFreeSlotSendAndStoreNothing) {
  for (const char* p : {"77", "-1", "100"}) {
    const std::string id = p;
    Call("setPlayerTeam(" + id + ", 5) setPlayerWantedLevel(" + id + ", 1) "
         "setPlayerFixedWantedLevel(" + id + ", 1) setPlayerStaticWantedLevel(" + id + ", 1) "
         "setPlayerCellPhoneStatus(" + id + ", 1) togglePlayerClock(" + id + ", 1) "
         "setPlayerAnimation(" + id + ", 1) setPlayerColor(" + id + ", 1, 2, 3)");
  }
  EXPECT_EQ(Sent(*alpha_), 0u);
  EXPECT_EQ(Sent(*bravo_), 0u);
  EXPECT_EQ(GetPlayerPool()->records[77].team, -1);
}

}  // namespace
