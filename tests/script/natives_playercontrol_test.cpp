// The player control natives through a running server: renaming (the name
// rules, the broadcast and the query reply), the team's clamp and record, and
// the compressed one-byte commands with their limits and targets.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "core/playerpool.h"
#include "script/native_test_support.h"

namespace {

using nativetest::Want;

class PlayerControlTest : public nativetest::PlayerNativeTest {
 protected:
  // Both clients' newest SetPlayerName: u8 id, u32 length, the name's bytes.
  void ExpectRenamed(uint8_t id, const std::string& name) {
    EXPECT_EQ(GetPlayerPool()->names[id], name);
    for (auto* c : {alpha_, bravo_}) {
      EXPECT_TRUE(Has(*c, "SetPlayerName",
                      Want().u8(id).u32(static_cast<uint32_t>(name.size())).chars(name.data(), name.size()).Stream()));
    }
  }
};

TEST_F(PlayerControlTest, RenameTellsEveryoneAndTheQueryReply) {
  Run("setPlayerName(A, 'Sixteen_Letters!')");
  ExpectRenamed(a_, "Sixteen_Letters!");
  EXPECT_EQ(Call("getPlayerName(A)"), "'Sixteen_Letters!'");
  EXPECT_NE(nativetest::QueryReply(server_.Port()).find("@Sixteen_Letters!#" + std::to_string(a_)),
            std::string::npos);
  // The old name is free again; the join's own name rule does not apply.
  Run("setPlayerName(B, 'alpha')");
  ExpectRenamed(b_, "alpha");
  Run("setPlayerName(A, 'a-b')");
  ExpectRenamed(a_, "a-b");
  // A number reads as its text; an embedded NUL ends the name.
  Run("setPlayerName(A, 12345)");
  ExpectRenamed(a_, "12345");
  Run("setPlayerName(A, 'ab\\0off')");
  ExpectRenamed(a_, "ab");
  // The field holds no trace of the longer name before.
  EXPECT_EQ(std::string(GetPlayerPool()->names[a_], kPlayerNameSize),
            std::string("ab") + std::string(kPlayerNameSize - 2, '\0'));
}

TEST_F(PlayerControlTest, RenameRefusals) {
  Run("setPlayerName(A, 'Seventeen_Letters') setPlayerName(A, '')"
      "setPlayerName(A, 'ALPHA') setPlayerName(A, 'bRaVo')"  // its own name; somebody else's
      "setPlayerName(A, nil) setPlayerName(A, {}) setPlayerName(A, true)"
      "setPlayerName(A, 'line\\nbreak') setPlayerName(A, 'del\\127')"
      "setPlayerName(77, 'Nobody') setPlayerName(-1, 'Nobody')");
  EXPECT_EQ(alpha_->Count("SetPlayerName") + bravo_->Count("SetPlayerName"), 0u);
  EXPECT_EQ(std::string(GetPlayerPool()->names[a_]), "Alpha");
  EXPECT_EQ(GetPlayerPool()->names[77][0], '\0');
}

TEST_F(PlayerControlTest, TeamIsClampedStoredAndSentCompressed) {
  for (auto [in, out] : {std::pair{5, 5}, {101, 100}, {127, 100}, {128, -1}, {200, -1}, {-7, -1},
                         {-1, -1}, {300, 44}, {356, 100}}) {
    Run("setPlayerTeam(A, " + std::to_string(in) + ")");
    EXPECT_EQ(Call("getPlayerTeam(A)"), std::to_string(out)) << in;
    EXPECT_TRUE(Has(*alpha_, "SetPlayerTeam", Want().c8(static_cast<uint8_t>(out)).Stream())) << in;
  }
  EXPECT_EQ(bravo_->Count("SetPlayerTeam"), 0u);
}

TEST_F(PlayerControlTest, OneByteCommandsWithTheirLimits) {
  struct Case {
    const char* native;
    const char* rpc;
    int in, out;
  };
  const Case cases[] = {
      {"setPlayerWantedLevel", "SetPlayerWantedLevel", 4, 4},
      {"setPlayerWantedLevel", "SetPlayerWantedLevel", 9, 6},
      {"setPlayerWantedLevel", "SetPlayerWantedLevel", -1, 6},
      {"setPlayerWantedLevel", "SetPlayerWantedLevel", 256, 0},
      {"setPlayerFixedWantedLevel", "SetPlayerFixedWantedLevel", 9, 6},
      {"setPlayerStaticWantedLevel", "SetPlayerStaticWantedLevel", 7, 6},
      {"setPlayerCellPhoneStatus", "SetPlayerCellPhoneStatus", 2, 1},
      {"setPlayerCellPhoneStatus", "SetPlayerCellPhoneStatus", 256, 0},
      {"togglePlayerClock", "TogglePlayerClock", 511, 255},
      {"setPlayerAnimation", "SetPlayerAnimation", 300, 44},
  };
  Record(a_).wantedLevel = 2;
  for (const Case& c : cases) {
    Run(std::string(c.native) + "(A, " + std::to_string(c.in) + ")");
    EXPECT_TRUE(Has(*alpha_, c.rpc, Want().c8(static_cast<uint8_t>(c.out)).Stream()))
        << c.native << " " << c.in;
  }
  EXPECT_EQ(Record(a_).wantedLevel, 2);  // the client's report, not the command

  Run("setPlayerColor(A, 255, 128, 0)");
  EXPECT_TRUE(Has(*alpha_, "SetPlayerColor", Want().c8(255).c8(128).c8(0).Stream()));
  Run("setPlayerColor(A, 256, 0, 1)");
  EXPECT_TRUE(Has(*alpha_, "SetPlayerColor", Want().c8(0).c8(0).c8(1).Stream()));
  EXPECT_EQ(SentToPlayer(*bravo_), 0u);
}

TEST_F(PlayerControlTest, CommandsForAFreeSlotSendAndStoreNothing) {
  for (const std::string id : {"77", "-1", "100"}) {
    Run("setPlayerTeam(" + id + ", 5) setPlayerWantedLevel(" + id + ", 1) "
        "setPlayerFixedWantedLevel(" + id + ", 1) setPlayerStaticWantedLevel(" + id + ", 1) "
        "setPlayerCellPhoneStatus(" + id + ", 1) togglePlayerClock(" + id + ", 1) "
        "setPlayerAnimation(" + id + ", 1) setPlayerColor(" + id + ", 1, 2, 3)");
  }
  EXPECT_EQ(SentToPlayer(*alpha_) + SentToPlayer(*bravo_), 0u);
  EXPECT_EQ(GetPlayerPool()->records[77].team, -1);
}

}  // namespace
