// The server-browser query reply, read back the way a browser reads it: a
// plain UDP datagram to the game port.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "core/netgame.h"
#include "core/playerpool.h"
#include "core/query.h"
#include "core/settings.h"
#include "core/world.h"
#include "support/server_fixture.h"

namespace querytest {

// Sends [id, u32 time] to 127.0.0.1:port until an answer comes or 3 s pass;
// returns the whole answer (empty on time-out). Shared with the master-list
// tests.
std::vector<uint8_t> QueryServer(uint16_t port, uint32_t time, uint8_t id) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return {};
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const uint8_t query[5] = {id, static_cast<uint8_t>(time), static_cast<uint8_t>(time >> 8),
                            static_cast<uint8_t>(time >> 16), static_cast<uint8_t>(time >> 24)};
  std::vector<uint8_t> answer;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (answer.empty() && std::chrono::steady_clock::now() < deadline) {
    sendto(fd, query, sizeof query, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 200) == 1) {
      uint8_t buffer[4096];
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n > 0) answer.assign(buffer, buffer + n);
    }
  }
  close(fd);
  return answer;
}

// The response bytes after the pong header, checked against the time sent.
std::string QueryReply(uint16_t port) {
  const uint32_t time = 0x5A6B7C8D;
  const std::vector<uint8_t> answer = QueryServer(port, time, net::ID_PING);
  if (answer.size() < 5 || answer[0] != net::ID_PONG) return "<no pong>";
  uint32_t echoed;
  std::memcpy(&echoed, answer.data() + 1, 4);
  if (echoed != time) return "<wrong time>";
  return std::string(answer.begin() + 5, answer.end());
}

}  // namespace querytest

namespace {

using querytest::QueryReply;
using querytest::QueryServer;

std::string WithNul(const std::string& text) { return text + std::string(1, '\0'); }

TEST(QueryReply, ExampleByteForByte) {
  InProcessServer s;
  s.Start([] { CopyToField(gServerSettings.serverName, sizeof gServerSettings.serverName, "My Server"); });
  PlayerPool* pool = GetPlayerPool();
  ASSERT_TRUE(ConnectPlayer("Bob", pool, 0));
  ASSERT_TRUE(ConnectPlayer("Al", pool, 3));
  UpdateServerQueryReply();

  const std::vector<uint8_t> answer = QueryServer(s.Port(), 0xA1B2C3D4, net::ID_PING_OPEN_CONNECTIONS);
  std::vector<uint8_t> expected = {26, 0xD4, 0xC3, 0xB2, 0xA1};
  const std::string text = "0,My Server,2,50,QLM Default Mode,@Bob#0@Al#3";
  expected.insert(expected.end(), text.begin(), text.end());
  expected.push_back(0);
  EXPECT_EQ(answer, expected);

  // The count is of present players; the list is of slots in use.
  pool->records[3].present = 0;
  UpdateServerQueryReply();
  EXPECT_EQ(QueryReply(s.Port()), WithNul("0,My Server,1,50,QLM Default Mode,@Bob#0@Al#3"));
}

TEST(QueryReply, PasswordFlagNoPlayersAndUnescapedNames) {
  const std::string head = ",QLM (Release RC1) Server P1,";
  InProcessServer s;
  s.Start([] { gServerSettings.password = "secret"; });  // the start-up publishes the first reply
  EXPECT_EQ(QueryReply(s.Port()), WithNul("1" + head + "0,50,QLM Default Mode,"));
  gServerSettings.password.reset();
  UpdateServerQueryReply();
  EXPECT_EQ(QueryReply(s.Port()), WithNul("0" + head + "0,50,QLM Default Mode,"));

  // Names are taken as they stand, separators and all.
  ASSERT_TRUE(ConnectPlayer("x@y#z,w", GetPlayerPool(), 7));
  UpdateServerQueryReply();
  EXPECT_EQ(QueryReply(s.Port()), WithNul("0" + head + "1,50,QLM Default Mode,@x@y#z,w#7"));
  DisconnectPlayer(kReasonQuit, 7);
  UpdateServerQueryReply();
  EXPECT_EQ(QueryReply(s.Port()), WithNul("0" + head + "0,50,QLM Default Mode,"));
}

TEST(QueryReply, FullServerIsCutAtAWholeEntry) {
  InProcessServer s;
  s.Start([] { gServerSettings.maxPlayers = 100; });
  std::vector<std::string> entries;
  for (int id = 0; id < kMaxPlayers; ++id) {
    std::string name = "LongPlayerName_" + std::to_string(id);
    name.resize(kPlayerNameSize - 1, 'x');  // 24 characters, the longest a name gets
    ASSERT_TRUE(ConnectPlayer(name.c_str(), GetPlayerPool(), static_cast<uint8_t>(id)));
    entries.push_back("@" + name + "#" + std::to_string(id));
  }
  UpdateServerQueryReply();
  const std::string reply = QueryReply(s.Port());

  ASSERT_LE(reply.size(), kMaxQueryReplyLength + 1);
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(reply.back(), '\0');
  const std::string text = reply.substr(0, reply.size() - 1);
  const std::string head = "0,QLM (Release RC1) Server P1,100,100,QLM Default Mode,";
  ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;

  // The list is a run of whole entries from id 0, and the next one would not fit.
  std::string list = text.substr(head.size());
  size_t whole = 0;
  while (whole < entries.size() && list.compare(0, entries[whole].size(), entries[whole]) == 0) {
    list.erase(0, entries[whole].size());
    ++whole;
  }
  EXPECT_TRUE(list.empty()) << "left over: " << list;
  ASSERT_LT(whole, entries.size());
  EXPECT_GT(text.size() + entries[whole].size(), kMaxQueryReplyLength);
}

}  // namespace
