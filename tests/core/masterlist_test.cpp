// The master-list announcer against the fake master-list server on loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/netgame.h"
#include "core/query.h"
#include "core/settings.h"
#include "core/world.h"
#include "record_bytes.h"
#include "support/fake_master_list.h"
#include "support/server_fixture.h"
#include "support/test_client.h"

namespace querytest {
// Defined in query_test.cpp.
std::vector<uint8_t> QueryServer(uint16_t port, uint32_t time, uint8_t id);
}  // namespace querytest

namespace {

using support::FakeMasterList;
using support::WaitUntil;

constexpr uint32_t kWaitMs = 5000;

std::vector<uint8_t> AddressReply(const std::string& text, uint32_t claimedLength) {
  std::vector<uint8_t> m =
      recordbytes::PlainBytes(uint8_t{net::ID_MASTER_LIST_ADDRESS}, claimedLength);
  m.insert(m.end(), text.begin(), text.end());
  return m;
}
std::vector<uint8_t> AddressReply(const std::string& text) {
  return AddressReply(text, static_cast<uint32_t>(text.size()));
}
std::vector<uint8_t> Stamped(std::vector<uint8_t> message) {
  message.insert(message.begin(), {net::ID_TIMESTAMP, 0x10, 0x20, 0x30, 0x40});
  return message;
}

std::string IpOf(const FakeMasterList::RowUpdate& row) {
  const net::RowCell* ip = FakeMasterList::Cell(row, "IP");
  return ip ? ip->text : "<none>";
}

std::atomic<uint32_t> gFakeNow{0};
uint32_t FakeNow() { return gFakeNow.load(); }

class MasterListTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(fake.Started()); }
  void TearDown() override {
    StopMasterList();
    SetMasterListTargetForTesting(nullptr, 0);
    core::SetClockForTesting(nullptr);
  }

  // Starts the server announcing to the fake, and waits for the first row.
  void StartAnnouncing(InProcessServer& s) {
    SetMasterListTargetForTesting("127.0.0.1", fake.Port());
    s.Start([] { gServerSettings.announce = 1; });
    ASSERT_NE(GetMasterListPeer(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return fake.RowUpdates().size() >= 1; }, kWaitMs,
                          [&] { ProcessMasterList(); fake.Pump(); }));
  }

  // Sends `message` to the announcer, then a good address reply carrying
  // `marker`, and runs passes until the marker's row arrives: everything sent
  // before it has been handled by then.
  void SendThenMark(const std::vector<uint8_t>& message, const std::string& marker) {
    if (!message.empty()) {
      ASSERT_TRUE(fake.SendToAnnouncer(message));
    }
    ASSERT_TRUE(fake.SendToAnnouncer(AddressReply(marker)));
    ASSERT_TRUE(WaitUntil(
        [&] { return !fake.RowUpdates().empty() && IpOf(fake.RowUpdates().back()) == marker; },
        kWaitMs, [&] { ProcessMasterList(); fake.Pump(); }));
  }

  FakeMasterList fake{0, "203.0.113.7"};
};

TEST_F(MasterListTest, AddressReplyWritesTheRowThroughTheMainLoop) {
  SetMasterListTargetForTesting("127.0.0.1", fake.Port());
  InProcessServer s;
  s.Start([] { gServerSettings.announce = 1; });
  ASSERT_NE(GetMasterListPeer(), nullptr);
  EXPECT_EQ(GetMasterListConnectAttempts(), 1u);
  // Both are read when the reply arrives, not at start-up.
  gServerSettings.port = 4812;
  CopyToField(gServerSettings.serverName, sizeof gServerSettings.serverName, "Renamed");

  ASSERT_TRUE(WaitUntil([&] { return !fake.RowUpdates().empty(); }, kWaitMs, [&] {
    s.Pump();
    fake.Pump();
  }));
  ASSERT_EQ(fake.RowUpdates().size(), 1u);
  const FakeMasterList::RowUpdate& row = fake.RowUpdates()[0];
  EXPECT_EQ(row.tableName, "QLM");
  EXPECT_EQ(row.updatePassword, "tarn");
  EXPECT_EQ(row.mode, net::RUM_UPDATE_OR_ADD_ROW);
  EXPECT_FALSE(row.hasRowId);
  ASSERT_EQ(row.cells.size(), 2u);
  EXPECT_EQ(row.cells[0].columnName, "IP");
  EXPECT_EQ(row.cells[0].type, net::RowCell::STRING);
  EXPECT_EQ(row.cells[0].text, "203.0.113.7");
  EXPECT_EQ(row.cells[1].columnName, "Port");
  EXPECT_EQ(row.cells[1].type, net::RowCell::NUMERIC);
  EXPECT_EQ(row.cells[1].number, 4812.0);

  // The query reply was rebuilt after the row update.
  const std::vector<uint8_t> answer = querytest::QueryServer(s.Port(), 1, net::ID_PING);
  const std::string text(answer.begin() + std::min<size_t>(5, answer.size()), answer.end());
  EXPECT_EQ(text.rfind("0,Renamed,", 0), 0u) << text;

  // Every later reply (here after a reconnection) writes the row again.
  fake.SetAddressText("198.51.100.2");
  fake.GetPeer().CloseConnection(fake.Announcer(), true);
  ASSERT_TRUE(WaitUntil([&] { return fake.RowUpdates().size() >= 2; }, kWaitMs, [&] {
    s.Pump();
    fake.Pump();
  }));
  EXPECT_EQ(IpOf(fake.RowUpdates()[1]), "198.51.100.2");
  EXPECT_EQ(fake.ConnectionsAccepted(), 2u);
}

TEST_F(MasterListTest, EveryFailureIdConnectsAgainOnce) {
  InProcessServer s;
  StartAnnouncing(s);

  // The network library keeps remotes from sending its notices bare, so they
  // travel behind a time stamp, where the pass reads the id at offset 5.
  for (uint8_t id : {15, 16, 18, 19, 20, 23, 72, 73}) {
    const uint32_t before = GetMasterListConnectAttempts();
    ASSERT_TRUE(fake.SendToAnnouncer(Stamped({id})));
    // One attempt per failure: the "already connected" notice that a
    // Connect on a live link queues must not start a second one.
    ASSERT_TRUE(WaitUntil(
        [&] {
          ProcessMasterList();
          return GetMasterListConnectAttempts() != before;
        },
        kWaitMs, [&] { fake.Pump(); }))
        << int(id);
    EXPECT_EQ(GetMasterListConnectAttempts(), before + 1) << int(id);
  }

  // A refused row update, as the master-list server really sends it.
  fake.AnswerRowUpdatesWith(net::ID_DATABASE_UNKNOWN_TABLE);
  const uint32_t before = GetMasterListConnectAttempts();
  ASSERT_TRUE(fake.SendToAnnouncer(AddressReply("192.0.2.1")));
  ASSERT_TRUE(WaitUntil([&] { return GetMasterListConnectAttempts() > before; }, kWaitMs, [&] {
    ProcessMasterList();
    fake.Pump();
  }));
  EXPECT_EQ(fake.RowUpdatesAnswered(), 1u);

  // Other ids are ignored; the connection still works.
  fake.AnswerRowUpdatesWith(0);
  const uint32_t settled = GetMasterListConnectAttempts();
  SendThenMark(Stamped({net::ID_CONNECTION_BANNED}), "192.0.2.2");
  SendThenMark({net::ID_PONG, 1, 2, 3, 4}, "192.0.2.3");
  EXPECT_EQ(GetMasterListConnectAttempts(), settled);
  EXPECT_EQ(IpOf(fake.RowUpdates().back()), "192.0.2.3");
}

TEST_F(MasterListTest, TimeStampedPackets) {
  InProcessServer s;
  StartAnnouncing(s);
  const uint32_t attempts = GetMasterListConnectAttempts();

  // Nothing after the time: discarded without effect.
  SendThenMark({net::ID_TIMESTAMP, 1, 2, 3, 4}, "192.0.2.10");
  SendThenMark({net::ID_TIMESTAMP, 1, 2, 3}, "192.0.2.11");
  EXPECT_EQ(fake.RowUpdates().size(), 3u);
  EXPECT_EQ(GetMasterListConnectAttempts(), attempts);

  // A stamped address reply is read after its stamp.
  const size_t rows = fake.RowUpdates().size();
  ASSERT_TRUE(fake.SendToAnnouncer(Stamped(AddressReply("192.0.2.12"))));
  ASSERT_TRUE(WaitUntil([&] { return fake.RowUpdates().size() > rows; }, kWaitMs, [&] {
    ProcessMasterList();
    fake.Pump();
  }));
  EXPECT_EQ(IpOf(fake.RowUpdates().back()), "192.0.2.12");
}

TEST_F(MasterListTest, MalformedAddressRepliesAreIgnored) {
  InProcessServer s;
  StartAnnouncing(s);
  const size_t rows = fake.RowUpdates().size();

  SendThenMark(AddressReply(std::string(50, '7')), "mark-1");           // above 49
  SendThenMark(AddressReply("1.2.3", 10), "mark-2");                    // beyond the end
  SendThenMark(AddressReply("", 0xFFFFFFFFu), "mark-3");                // a huge length
  SendThenMark({net::ID_MASTER_LIST_ADDRESS, 5, 0}, "mark-4");          // cut in its length
  SendThenMark({net::ID_MASTER_LIST_ADDRESS}, "mark-5");
  ASSERT_EQ(fake.RowUpdates().size(), rows + 5);
  for (size_t i = 0; i < 5; ++i)
    EXPECT_EQ(IpOf(fake.RowUpdates()[rows + i]), "mark-" + std::to_string(i + 1));

  // The longest text the field takes is used whole; an embedded NUL ends it.
  const std::string longest(49, '9');
  SendThenMark(AddressReply(longest), "mark-6");
  ASSERT_EQ(fake.RowUpdates().size(), rows + 7);
  EXPECT_EQ(IpOf(fake.RowUpdates()[rows + 5]), longest);
  SendThenMark(AddressReply(std::string("10.0.0.1\0junk", 13)), "mark-7");
  EXPECT_EQ(IpOf(fake.RowUpdates()[rows + 7]), "10.0.0.1");

  // Every cut of a stamped reply writes nothing; random bytes are survived.
  const std::vector<uint8_t> whole = Stamped(AddressReply("10.1.2.3"));
  for (size_t cut = 1; cut < whole.size(); ++cut)
    ASSERT_TRUE(fake.SendToAnnouncer({whole.begin(), whole.begin() + cut}));
  SendThenMark({}, "mark-8");
  EXPECT_EQ(fake.RowUpdates().size(), rows + 10);
  std::srand(7);
  for (int i = 0; i < 200; ++i) {
    std::vector<uint8_t> junk(1 + std::rand() % 40);
    for (uint8_t& b : junk) b = static_cast<uint8_t>(std::rand());
    ASSERT_TRUE(fake.SendToAnnouncer(junk));
  }
  SendThenMark({}, "mark-9");
}

TEST_F(MasterListTest, NoAnnounceAtStartUpStartsNothing) {
  SetMasterListTargetForTesting("127.0.0.1", fake.Port());
  gFakeNow = 1000000;
  core::SetClockForTesting(FakeNow);
  InProcessServer s;
  s.Start();  // the fixture leaves announce at 0
  EXPECT_EQ(GetMasterListPeer(), nullptr);
  EXPECT_EQ(GetMasterListConnectAttempts(), 0u);

  const uint32_t stamp = gLastMasterListMs;
  for (int i = 0; i < 20; ++i) {
    gFakeNow += 600;
    s.Pump();
    fake.Pump();
  }
  EXPECT_EQ(gLastMasterListMs, stamp);  // no pass ran
  EXPECT_EQ(fake.ConnectionsAccepted(), 0u);

  // Switched on later, the passes run on a peer that was never started and
  // find nothing.
  gServerSettings.announce = 1;
  gFakeNow += 600;
  s.Pump();
  EXPECT_EQ(gLastMasterListMs, gFakeNow.load());
  EXPECT_EQ(GetMasterListPeer(), nullptr);
  EXPECT_EQ(fake.ConnectionsAccepted(), 0u);
}

}  // namespace
