// The SQL manager against the real server: connecting, its log lines,
// statements and the stored rows. The script library's part is in
// sql_library_test.cpp.
#include "sql/sqlmanager.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <mysql++.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <source_location>
#include <string>
#include <vector>

#include "sql/sql_fixture.h"

namespace {

using namespace sqltest;
using Rows = std::vector<std::string>;

// How often the log holds each of the manager's lines.
struct LogCounts {
  size_t attempts = 0;
  size_t succeeded = 0;
  size_t failed = 0;
  size_t terminated = 0;
  size_t queryErrors = 0;
};

class SqlManagerTest : public SqlTest {
 protected:
  void TearDown() override {
    manager_.Disconnect();
    SqlTest::TearDown();
  }
  void ConnectToOwnDatabase() {
    manager_.Connect(Host().c_str(), User(), Password(), database_.c_str());
    ASSERT_TRUE(manager_.IsConnected()) << Log();
  }
  // Runs `statement`; then every row a script could read: rows 0 to the last
  // row's number (so "NULLED" alone when there is none).
  Rows Query(std::string_view statement) {
    manager_.Query(statement);
    Rows rows;
    for (int32_t row = 0; row <= manager_.GetNumberOfReturnedLines(); ++row) {
      rows.push_back(Row(row));
    }
    return rows;
  }
  std::string Row(int32_t row) { return manager_.GetReturnedLineData(static_cast<int16_t>(row)); }
  // Each count of the log against `want`; a failure names the calling line.
  void ExpectLog(const LogCounts& want, std::source_location at = std::source_location::current()) {
    testing::ScopedTrace trace(at.file_name(), static_cast<int>(at.line()), "log counts");
    EXPECT_EQ(LogCount(kAttempt), want.attempts) << "attempts";
    EXPECT_EQ(LogCount(kSucceeded), want.succeeded) << "succeeded";
    EXPECT_EQ(LogCount(kFailed), want.failed) << "failed";
    EXPECT_EQ(LogCount(kTerminated), want.terminated) << "terminated";
    EXPECT_EQ(LogCount(kQueryError), want.queryErrors) << "query errors";
  }
  SqlManager manager_;
};

TEST_F(SqlManagerTest, ConnectLogsTheAttemptOnceAndDisconnectLogsTheEnd) {
  // A missing text: nothing happens, nothing is logged. A second connect
  // while open is ignored without a message, even with credentials that
  // would fail; closing twice says it once. The socket path works as a server
  // text too, and a new connection can be made after the first one closed.
  manager_.Connect(Host().c_str(), User(), nullptr, database_.c_str());
  manager_.Connect(nullptr, User(), Password(), database_.c_str());
  EXPECT_FALSE(manager_.IsConnected());
  ExpectLog({});
  ConnectToOwnDatabase();
  EXPECT_EQ(LogCount(kAttempt + Host() + "@" + database_ + "]...\r\n"), 1u);
  manager_.Connect(Host().c_str(), User(), "wrong password", "no_such_db");
  EXPECT_TRUE(manager_.IsConnected());
  ExpectLog({.attempts = 1, .succeeded = 1});
  manager_.Disconnect();
  manager_.Close();
  EXPECT_FALSE(manager_.IsConnected());
  ExpectLog({.attempts = 1, .succeeded = 1, .terminated = 1});
  manager_.Connect(service_->Server().c_str(), User(), Password(), "");
  EXPECT_TRUE(manager_.IsConnected());
  ExpectLog({.attempts = 2, .succeeded = 2, .terminated = 1});
}

TEST_F(SqlManagerTest, FailedConnectsLeaveTheConnectionClosed) {
  // A server that accepts and never speaks must not hold the caller for
  // ever. Nothing listens on port 1; the others are not server texts at all.
  // Disconnect without a connection says nothing; reads give nothing.
  manager_.Connect(Host().c_str(), User(), "wrong password", database_.c_str());
  manager_.Connect(Host().c_str(), User(), Password(), "qlm_no_such_database");
  const int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(silent, 4), 0);
  ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string silentServer = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  const char* const servers[] = {
      "127.0.0.1:1", "127.0.0.1:abc",     "127.0.0.1:99999",
      ":",           "/nonexistent/sock", silentServer.c_str(),
  };
  for (const char* server : servers) manager_.Connect(server, User(), Password(), "");
  close(silent);
  manager_.Disconnect();
  EXPECT_FALSE(manager_.IsConnected());
  ExpectLog({.attempts = 8, .failed = 8});
  EXPECT_EQ(Row(0), "NULLED");
  EXPECT_EQ(manager_.GetRowCountInTable("t"), 0u);
  ConnectToOwnDatabase();
}

TEST_F(SqlManagerTest, QueryStoresRowsOrLogsTheServersErrorAndEmptiesThem) {
  // NULL reads as the library's text for it; rows past the last, NULLED. A
  // statement without a result set empties the stored rows silently. A
  // failing one logs the server's error, and the connection stays usable.
  // Killed behind its back: the next statement finds it gone and closes it.
  Admin({
      "CREATE TABLE t (id INT, name VARCHAR(20), note TEXT)",
      "INSERT INTO t VALUES (7, 'bob', ''), (8, 'amy', 'x'), (NULL, NULL, NULL)",
  });
  ConnectToOwnDatabase();
  const Rows all = {"7|bob|", "8|amy|x", "NULL|NULL|NULL"};
  EXPECT_EQ(Query("SELECT * FROM t ORDER BY id IS NULL, id"), all);
  EXPECT_EQ(manager_.GetNumberOfReturnedLines(), 2);
  EXPECT_EQ(Row(3), "NULLED");
  EXPECT_EQ(Row(-1), "NULLED");
  EXPECT_EQ(Row(INT16_MAX), "NULLED");
  EXPECT_EQ(Query("SELECT name FROM t WHERE id = 8"), Rows{"amy"});
  EXPECT_EQ(manager_.GetNumberOfReturnedLines(), 0);
  EXPECT_EQ(Query("SELECT * FROM t WHERE id = 99"), Rows{"NULLED"});
  EXPECT_EQ(Query("SELECT * FROM t"), all);
  EXPECT_EQ(Query("UPDATE t SET name = 'zed' WHERE id = 7"), Rows{"NULLED"});
  EXPECT_EQ(Query("SELECT name FROM t WHERE id = 7"), Rows{"zed"});
  EXPECT_TRUE(manager_.IsConnected());
  ExpectLog({.attempts = 1, .succeeded = 1});

  EXPECT_EQ(Query("SELEC nonsense"), Rows{"NULLED"});
  EXPECT_EQ(Query("SELECT * FROM missing_table"), Rows{"NULLED"});
  EXPECT_EQ(Query(""), Rows{"NULLED"});
  EXPECT_EQ(LogCount(std::string(kQueryError) + "You have an error in your SQL syntax"), 1u);
  EXPECT_EQ(LogCount("doesn't exist]\r\n"), 1u);
  EXPECT_TRUE(manager_.IsConnected());
  ExpectLog({.attempts = 1, .succeeded = 1, .queryErrors = 3});
  EXPECT_EQ(Query("SELECT 'ok'"), Rows{"ok"});

  manager_.Query("SELECT CONNECTION_ID()");
  Admin("KILL CONNECTION " + Row(0));
  manager_.Query("SELECT 1");
  EXPECT_FALSE(manager_.IsConnected());
  EXPECT_EQ(LogCount(kTerminated), 1u);
}

TEST_F(SqlManagerTest, StoredRowsOutliveTheConnectionButReadOnlyWhileConnected) {
  // A query without a connection neither runs nor replaces the rows; a
  // restart's new manager finds them, and its destructor closes.
  ConnectToOwnDatabase();
  manager_.Query("SELECT 'a' UNION ALL SELECT 'b'");
  manager_.Disconnect();
  EXPECT_EQ(Row(0), "NULLED");
  manager_.Query("SELECT 'c'");
  {
    SqlManager other;
    other.Connect(Host().c_str(), User(), Password(), database_.c_str());
    EXPECT_EQ(other.GetReturnedLineData(1), "b");
  }
  EXPECT_FALSE(manager_.IsConnected());
  ExpectLog({.attempts = 2, .succeeded = 2, .terminated = 2});
}

TEST_F(SqlManagerTest, TableNamesAreStatementFragmentsAndProceduresLeaveTheConnectionUsable) {
  // Answers that are empty, NULL or no count read as 0, without a crash. Of
  // a procedure's sets the first is kept.
  Admin({
      "CREATE TABLE t (n INT)",
      "INSERT INTO t VALUES (1), (2)",
      "CREATE PROCEDURE two_sets() BEGIN SELECT 1, 'x'; SELECT 2; END",
  });
  ConnectToOwnDatabase();
  const struct {
    std::string table;
    uint64_t count;
  } counts[] = {
      {"t LIMIT 0", 0},
      {"t WHERE 0 UNION SELECT NULL ORDER BY 1", 0},
      {"missing", 0},
      {"t WHERE n <= 1", 1},
      {"t", 2},
      {"t UNION SELECT 'abc' ORDER BY 1 DESC", 0},
      {"t UNION SELECT -5 ORDER BY 1", 0},
      {database_ + ".t", 2},
  };
  for (const auto& c : counts) {
    EXPECT_EQ(manager_.GetRowCountInTable(c.table.c_str()), c.count) << c.table;
  }
  EXPECT_EQ(Query("CALL two_sets()"), Rows{"1|x"});
  EXPECT_EQ(Query("SELECT 'after'"), Rows{"after"});
  manager_.Query("CALL two_sets()");
  EXPECT_GT(manager_.GetRowCountInTable("mysql.user"), 0u);
  EXPECT_TRUE(manager_.IsConnected());
  ExpectLog({.attempts = 1, .succeeded = 1});
}

TEST_F(SqlManagerTest, HostileValuesAreHandledSafely) {
  // Binary data: NUL bytes travel in both directions. A row text stops at
  // 1023 bytes, whether one field or many make it long. Many rows: the last
  // row number is still exact, and only rows 0..32767 are reachable by a
  // 16-bit row number. A statement beyond the server's packet limit is
  // refused (the server may drop the connection for it); the manager logs it
  // and survives.
  ConnectToOwnDatabase();
  static const char kStatement[] = "SELECT 'a\0b', UNHEX('00FF00'), LENGTH('a\0b')";
  EXPECT_EQ(Query(std::string_view(kStatement, sizeof kStatement - 1)),
            Rows{std::string("a\0b|\0\xFF\0|3", 9)});
  EXPECT_EQ(Query("SELECT REPEAT('x', 1023)"), Rows{std::string(1023, 'x')});
  EXPECT_EQ(Query("SELECT REPEAT('x', 1022), 'yz'"), Rows{std::string(1022, 'x') + "|"});
  EXPECT_EQ(Query("SELECT REPEAT('x', 4000000), 1"), Rows{std::string(1023, 'x')});

  std::string wide = "SELECT 0";
  for (int i = 1; i < 1500; ++i) wide += "," + std::to_string(i % 10);
  const Rows wideRows = Query(wide);
  ASSERT_EQ(wideRows.size(), 1u);
  EXPECT_EQ(wideRows[0].substr(0, 8), "0|1|2|3|");
  EXPECT_EQ(wideRows[0].size(), 1023u);

  manager_.Query("SELECT seq FROM seq_1_to_200000");
  EXPECT_EQ(manager_.GetNumberOfReturnedLines(), 199999);
  EXPECT_EQ(Row(INT16_MAX), "32768");
  EXPECT_EQ(Row(INT16_MIN), "NULLED");

  EXPECT_EQ(Query("SELECT '" + std::string(17 * 1024 * 1024, 'q') + "'"), Rows{"NULLED"});
  manager_.Query("SELECT 1");
  manager_.Disconnect();
  EXPECT_FALSE(manager_.IsConnected());
  EXPECT_EQ(LogCount(kQueryError), 1u);
  EXPECT_EQ(LogCount(kTerminated), 1u);
  ConnectToOwnDatabase();
  EXPECT_EQ(Query("SELECT 'back'"), Rows{"back"});
}

}  // namespace
