// The master-list announcer against the fake master-list server on loopback.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "core/netgame.h"
#include "core/query.h"
#include "core/settings.h"
#include "core/world.h"
#include "support/fake_master_list.h"
#include "support/seam.h"
#include "support/test_client.h"

namespace {

using Bytes = std::vector<uint8_t>;
using support::FakeMasterList;
using support::WaitUntil;

// Message 31: u32 length (the text's own unless `claimed`), then the text.
Bytes AddressReply(const std::string& text, int64_t claimed = -1) {
  Bytes m = {net::ID_MASTER_LIST_ADDRESS};
  const uint64_t length = claimed < 0 ? text.size() : claimed;
  for (int shift = 0; shift < 32; shift += 8) m.push_back(static_cast<uint8_t>(length >> shift));
  m.insert(m.end(), text.begin(), text.end());
  return m;
}
// The network library keeps remotes from sending its notices bare, so they
// travel behind a time stamp, where the announcer reads the id at offset 5.
Bytes Stamped(Bytes message) {
  message.insert(message.begin(), {net::ID_TIMESTAMP, 0x10, 0x20, 0x30, 0x40});
  return message;
}

class MasterList : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fake.Started());
    SetMasterListTargetForTesting("127.0.0.1", fake.Port());
  }
  void TearDown() override {
    StopMasterList();
    SetMasterListTargetForTesting(nullptr, 0);
  }
  void Start() {
    server.Start([] { gServerSettings.announce = 1; });
    ASSERT_NE(GetMasterListPeer(), nullptr);
  }
  // Passes of the main loop (or only of the announcer) until `cond` holds.
  bool Until(const std::function<bool()>& cond, bool wholeLoop = false) {
    return WaitUntil(cond, 5000, [&] {
      if (wholeLoop) {
        server.Pump();
      } else {
        ProcessMasterList();
      }
      fake.Pump();
    });
  }
  std::string LastIp() {
    if (fake.RowUpdates().empty()) return "<none>";
    const net::RowCell* ip = FakeMasterList::Cell(fake.RowUpdates().back(), "IP");
    return ip ? ip->text : "<none>";
  }

  FakeMasterList fake{0, "203.0.113.7"};
  InProcessServer server;
};

TEST_F(MasterList, AddressReplyWritesTheRowThroughTheMainLoop) {
  Start();
  EXPECT_EQ(GetMasterListConnectAttempts(), 1u);
  // Both are read when the reply arrives, not at start-up.
  gServerSettings.port = 4812;
  CopyToField(gServerSettings.serverName, sizeof gServerSettings.serverName, "Renamed");
  ASSERT_TRUE(Until([&] { return !fake.RowUpdates().empty(); }, true));
  ASSERT_EQ(fake.RowUpdates().size(), 1u);
  // The table, its password, mode 0 and no row id; the address as text, the
  // port as a number.
  const FakeMasterList::RowUpdate& row = fake.RowUpdates()[0];
  EXPECT_EQ(row.tableName, "QLM");
  EXPECT_EQ(row.updatePassword, "tarn");
  EXPECT_EQ(static_cast<int>(row.mode), 0);
  EXPECT_FALSE(row.hasRowId);
  ASSERT_EQ(row.cells.size(), 2u);
  EXPECT_EQ(row.cells[0].columnName, "IP");
  EXPECT_EQ(+row.cells[0].type, 1);
  EXPECT_EQ(row.cells[0].text, "203.0.113.7");
  EXPECT_EQ(row.cells[0].number, 0);
  EXPECT_EQ(row.cells[1].columnName, "Port");
  EXPECT_EQ(+row.cells[1].type, 0);
  EXPECT_EQ(row.cells[1].text, "");
  EXPECT_EQ(row.cells[1].number, 4812);
  // The query reply was rebuilt after the row update.
  EXPECT_EQ(GetGamePeer()->GetOfflinePingResponse().rfind("0,Renamed,", 0), 0u);

  // Every later reply (here after a reconnection) writes the row again.
  fake.SetAddressText("198.51.100.2");
  fake.GetPeer().CloseConnection(fake.Announcer(), true);
  ASSERT_TRUE(Until([&] { return fake.RowUpdates().size() >= 2; }, true));
  EXPECT_EQ(LastIp(), "198.51.100.2");
  EXPECT_EQ(fake.ConnectionsAccepted(), 2u);
}

TEST_F(MasterList, EveryFailureConnectsAgainOnceAndAnythingElseIsIgnored) {
  Start();
  ASSERT_TRUE(Until([&] { return !fake.RowUpdates().empty(); }));
  // One attempt per failure: the "already connected" notice that a Connect on
  // a live link queues must not start a second one.
  for (uint8_t id : {15, 16, 18, 19, 20, 23, 72, 73}) {
    const uint32_t before = GetMasterListConnectAttempts();
    ASSERT_TRUE(fake.SendToAnnouncer(Stamped({id})));
    auto connectedAgain = [&] {
      ProcessMasterList();
      return GetMasterListConnectAttempts() != before;
    };
    ASSERT_TRUE(WaitUntil(connectedAgain, 5000, [&] { fake.Pump(); })) << int(id);
    EXPECT_EQ(GetMasterListConnectAttempts(), before + 1) << int(id);
  }
  // A refused row update, as the master-list server really sends it.
  fake.AnswerRowUpdatesWith(net::ID_DATABASE_UNKNOWN_TABLE);
  const uint32_t attempts = GetMasterListConnectAttempts();
  ASSERT_TRUE(fake.SendToAnnouncer(AddressReply("192.0.2.1")));
  ASSERT_TRUE(Until([&] { return GetMasterListConnectAttempts() > attempts; }));
  EXPECT_EQ(fake.RowUpdatesAnswered(), 1u);
  fake.AnswerRowUpdatesWith(0);
  ASSERT_TRUE(Until([&] { return LastIp() == "203.0.113.7"; }));
  const uint32_t afterRefusal = GetMasterListConnectAttempts();

  // Each row: messages, then the address the row gets from them ("" none).
  // A good reply behind them shows they were all handled.
  const Bytes whole = Stamped(AddressReply("10.1.2.3"));
  std::vector<Bytes> cuts;
  std::vector<Bytes> junk;
  for (size_t cut = 1; cut < whole.size(); ++cut)
    cuts.emplace_back(whole.begin(), whole.begin() + cut);
  std::srand(7);
  for (int i = 0; i < 200; ++i) {
    junk.emplace_back(1 + std::rand() % 40);
    for (uint8_t& b : junk.back()) b = static_cast<uint8_t>(std::rand());
  }
  const struct {
    std::vector<Bytes> messages;
    std::string ip;
  } rows[] = {
      {{Stamped({net::ID_CONNECTION_BANNED})}, ""},
      {{{net::ID_PONG, 1, 2, 3, 4}}, ""},
      {{{net::ID_TIMESTAMP, 1, 2, 3, 4}}, ""},  // nothing after the stamp
      {{{net::ID_TIMESTAMP, 1, 2, 3}}, ""},
      {{Stamped(AddressReply("192.0.2.12"))}, "192.0.2.12"},  // read after its stamp
      {{AddressReply(std::string(50, '7'))}, ""},             // above 49
      {{AddressReply("1.2.3", 10)}, ""},                      // beyond the end
      {{AddressReply("", 0xFFFFFFFFu)}, ""},
      {{AddressReply(std::string(300, '8'), 261)}, ""},  // a length past one byte
      {{{net::ID_MASTER_LIST_ADDRESS, 5, 0}}, ""},  // cut in its length
      {{{net::ID_MASTER_LIST_ADDRESS}}, ""},
      {{AddressReply(std::string(49, '9'))}, std::string(49, '9')},     // the longest, used whole
      {{AddressReply(std::string("10.0.0.1\0junk", 13))}, "10.0.0.1"},  // a NUL ends it
      {cuts, ""},
      {junk, ""}};
  for (size_t i = 0; i < std::size(rows); ++i) {
    const size_t before = fake.RowUpdates().size();
    for (const Bytes& m : rows[i].messages) ASSERT_TRUE(fake.SendToAnnouncer(m));
    const std::string mark = "mark-" + std::to_string(i);
    ASSERT_TRUE(fake.SendToAnnouncer(AddressReply(mark)));
    ASSERT_TRUE(Until([&] { return LastIp() == mark; })) << i;
    const size_t rowsWritten = fake.RowUpdates().size() - before;
    EXPECT_EQ(rowsWritten, rows[i].ip.empty() ? 1u : 2u) << i;
    if (rowsWritten == 2) {
      EXPECT_EQ(FakeMasterList::Cell(fake.RowUpdates()[before], "IP")->text, rows[i].ip) << i;
    }
    // Random bytes may hold a stamped failure; nothing else connects again.
    if (!rows[i].messages.empty() && rows[i].messages != junk) {
      EXPECT_EQ(GetMasterListConnectAttempts(), afterRefusal) << i;
    }
  }
}

TEST_F(MasterList, NoAnnounceAtStartUpStartsNothing) {
  support::TestClock clock(1000000);
  server.Start();  // the fixture leaves announce at 0
  EXPECT_EQ(GetMasterListPeer(), nullptr);
  EXPECT_EQ(GetMasterListConnectAttempts(), 0u);
  const uint32_t stamp = gLastMasterListMs;
  for (int i = 0; i < 20; ++i) {
    clock.Advance(600);
    server.Pump();
    fake.Pump();
  }
  EXPECT_EQ(gLastMasterListMs, stamp);  // no pass ran
  // Switched on later, the passes run on a peer that was never started and find nothing.
  gServerSettings.announce = 1;
  clock.Advance(600);
  server.Pump();
  EXPECT_EQ(gLastMasterListMs, clock.Now());
  EXPECT_EQ(GetMasterListPeer(), nullptr);
  EXPECT_EQ(fake.ConnectionsAccepted(), 0u);
}

}  // namespace
