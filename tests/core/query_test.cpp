// The server-browser query reply as the game peer holds it for the datagram
// answer (its framing is the network library's).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/playerpool.h"
#include "core/query.h"
#include "core/settings.h"
#include "core/world.h"
#include "support/seam.h"

namespace {

TEST(QueryReply, FlagsCountsNamesAndAFullServerCutAtAWholeEntry) {
  support::Seam seam("", [] {
    CopyToField(gServerSettings.serverName, sizeof gServerSettings.serverName, "My Server");
    gServerSettings.password = "secret";
    gServerSettings.maxPlayers = 100;
  });
  auto reply = [&] {
    UpdateServerQueryReply();
    return seam.Peer().GetOfflinePingResponse();
  };
  const std::string head = ",My Server,";
  const std::string nul(1, '\0');
  // The start-up publishes the first reply.
  EXPECT_EQ(seam.Peer().GetOfflinePingResponse(), "1" + head + "0,100,QLM Default Mode," + nul);
  gServerSettings.password.reset();
  PlayerPool* pool = GetPlayerPool();
  // Names are taken as they stand, separators and all.
  for (auto [name, id] : {std::pair{"Bob", 0}, {"Al", 3}, {"x@y#z,w", 7}})
    ASSERT_TRUE(ConnectPlayer(name, pool, static_cast<uint8_t>(id)));
  EXPECT_EQ(reply(), "0" + head + "3,100,QLM Default Mode,@Bob#0@Al#3@x@y#z,w#7" + nul);
  // The count is of present players; the list is of slots in use.
  pool->records[3].present = 0;
  DisconnectPlayer(kReasonQuit, 7);
  EXPECT_EQ(reply(), "0" + head + "1,100,QLM Default Mode,@Bob#0@Al#3" + nul);

  pool->records[3].present = 1;
  DisconnectPlayer(kReasonQuit, 0);
  DisconnectPlayer(kReasonQuit, 3);
  std::vector<std::string> entries;
  for (int id = 0; id < kMaxPlayers; ++id) {
    std::string name = "LongPlayerName_" + std::to_string(id);
    name.resize(kPlayerNameSize - 1, 'x');  // the longest a name gets
    ASSERT_TRUE(ConnectPlayer(name.c_str(), pool, static_cast<uint8_t>(id)));
    entries.push_back("@" + name + "#" + std::to_string(id));
  }
  const std::string full = reply();
  ASSERT_LE(full.size(), kMaxQueryReplyLength + 1);
  EXPECT_EQ(full.back(), '\0');
  const std::string start = "0" + head + "100,100,QLM Default Mode,";
  ASSERT_EQ(full.compare(0, start.size(), start), 0) << full;
  // The list is a run of whole entries from id 0, and the next one would not fit.
  std::string list = full.substr(start.size(), full.size() - start.size() - 1);
  size_t whole = 0;
  while (whole < entries.size() && list.compare(0, entries[whole].size(), entries[whole]) == 0)
    list.erase(0, entries[whole++].size());
  EXPECT_EQ(list, "");
  ASSERT_LT(whole, entries.size());
  EXPECT_GT(full.size() - 1 + entries[whole].size(), kMaxQueryReplyLength);
}

}  // namespace
