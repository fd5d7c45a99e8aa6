// The server-browser query reply as the game peer holds it for the datagram
// answer (its framing is the network library's).
#include "core/query.h"

#include <gtest/gtest.h>

#include <string>

#include "core/playerpool.h"
#include "core/settings.h"
#include "core/world.h"
#include "support/seam.h"

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
  // The start-up publishes the first reply.
  EXPECT_EQ(seam.Peer().GetOfflinePingResponse(),
            std::string("1,My Server,0,100,QLM Default Mode,") + '\0');
  // The flag follows the password the network demands.
  seam.Peer().SetIncomingPassword(nullptr, 0);
  PlayerPool* pool = GetPlayerPool();
  // Names are taken as they stand, separators and all.
  for (auto [name, id] : {std::pair{"Bob", 0}, {"Al", 3}, {"x@y#z,w", 7}}) {
    ASSERT_TRUE(ConnectPlayer(name, pool, id));
  }
  EXPECT_EQ(reply(),
            std::string("0,My Server,3,100,QLM Default Mode,@Bob#0@Al#3@x@y#z,w#7") + '\0');
  // The count is of present players; the list is of slots in use.
  pool->records[3].present = 0;
  DisconnectPlayer(kReasonQuit, 7);
  EXPECT_EQ(reply(), std::string("0,My Server,1,100,QLM Default Mode,@Bob#0@Al#3") + '\0');

  pool->records[3].present = 1;
  DisconnectPlayer(kReasonQuit, 0);
  DisconnectPlayer(kReasonQuit, 3);
  // Full: a run of whole entries from id 0, up to the first that would not
  // fit in 1023 characters (ids 0 to 34 here, 1007 characters).
  std::string want = "0,My Server,100,100,QLM Default Mode,";
  bool fits = true;
  for (int id = 0; id < 100; ++id) {
    std::string name = "LongPlayerName_" + std::to_string(id);
    name.resize(24, 'x');  // the longest a name gets
    ASSERT_TRUE(ConnectPlayer(name.c_str(), pool, static_cast<uint8_t>(id)));
    const std::string entry = "@" + name + "#" + std::to_string(id);
    if (want.size() + entry.size() > 1023) fits = false;
    if (fits) want += entry;
  }
  EXPECT_EQ(want.size(), 1007u);
  EXPECT_EQ(want.substr(want.size() - 3), "#34");
  EXPECT_EQ(reply(), want + '\0');
}
