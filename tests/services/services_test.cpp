// Checks that the services the test suite relies on are really there: the
// MariaDB server and the IRC server started by scripts/test.sh.
#include <stdlib.h>

#include <string>

#include <gtest/gtest.h>
#include <mysql++.h>

#include "platform/platform.h"

namespace {

const char* Env(const char* name) {
  const char* v = getenv(name);
  return v && *v ? v : nullptr;
}

TEST(Services, MariaDbAnswersAQuery) {
  const char* host = Env("QLM_MYSQL_HOST");
  if (!host) GTEST_SKIP() << "QLM_MYSQL_HOST not set: run the suite through scripts/test.sh";
  const char* user = Env("QLM_MYSQL_USER");
  const char* password = getenv("QLM_MYSQL_PASSWORD");

  mysqlpp::Connection conn(false);
  ASSERT_TRUE(conn.connect(nullptr, host, user ? user : "root", password ? password : ""))
      << conn.error();
  mysqlpp::Query query = conn.query("SELECT 1");
  mysqlpp::StoreQueryResult result = query.store();
  ASSERT_TRUE(result) << query.error();
  ASSERT_EQ(result.num_rows(), 1u);
  EXPECT_EQ(std::string(result[0][0].data(), result[0][0].length()), "1");
}

TEST(Services, IrcServerWelcomesAClient) {
  const char* host = Env("QLM_IRC_HOST");
  const char* portText = Env("QLM_IRC_PORT");
  if (!host || !portText) GTEST_SKIP() << "QLM_IRC_HOST/PORT not set: run the suite through scripts/test.sh";

  int fd = platform::TcpConnect(host, static_cast<uint16_t>(atoi(portText)), 3000);
  ASSERT_GE(fd, 0) << "cannot connect to " << host << ":" << portText;
  const std::string hello = "NICK qlmprobe\r\nUSER qlmprobe 0 * :Quillmere probe\r\n";
  ASSERT_TRUE(platform::TcpSendAll(fd, hello.data(), hello.size()));

  // Collect what the server says until the welcome numeric shows up.
  std::string received;
  bool welcomed = false;
  uint64_t deadline = platform::MonotonicUs() + 10000000;
  while (!welcomed && platform::MonotonicUs() < deadline) {
    if (platform::TcpReadable(fd) != 1) {
      platform::SleepMs(5);
      continue;
    }
    char buf[1024];
    int n = platform::TcpRecv(fd, buf, sizeof buf);
    if (n <= 0) break;
    received.append(buf, n);
    welcomed = received.find(" 001 qlmprobe ") != std::string::npos;
  }
  platform::TcpSendAll(fd, "QUIT\r\n", 6);
  platform::TcpClose(fd);
  EXPECT_TRUE(welcomed) << "server said: " << received;
}

}  // namespace
