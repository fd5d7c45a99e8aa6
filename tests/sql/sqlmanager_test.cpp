// The SQL manager against the real server: connecting, its log lines,
// statements and the stored rows. The script library's part is in
// sql_library_test.cpp.
#include "sql/sqlmanager.h"

#include <gtest/gtest.h>
#include <mysql++.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "sql/sql_fixture.h"

namespace {

using namespace sqltest;

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
  // Runs `statement`; then every row the script could read, each ended by ";".
  std::string Query(std::string_view statement) {
    manager_.Query(statement);
    std::string out;
    for (int32_t row = 0; row <= manager_.GetNumberOfReturnedLines(); ++row) {
      out += manager_.GetReturnedLineData(static_cast<int16_t>(row)) + ";";
    }
    return out;
  }
  // How often the log says: attempt, succeeded, failed, terminated, query error.
  std::string Said() {
    std::string out;
    for (const char* line : {kAttempt, kSucceeded, kFailed, kTerminated, kQueryError}) {
      out += (out.empty() ? "" : ",") + std::to_string(LogCount(line));
    }
    return out;
  }
  SqlManager manager_;
};

TEST_F(SqlManagerTest, ConnectLogsTheAttemptOnceAndDisconnectLogsTheEnd) {
  // A missing text: nothing happens, nothing is logged.
  manager_.Connect(Host().c_str(), User(), nullptr, database_.c_str());
  manager_.Connect(nullptr, User(), Password(), database_.c_str());
  EXPECT_FALSE(manager_.IsConnected());
  EXPECT_EQ(Log(), "");
  ConnectToOwnDatabase();
  EXPECT_EQ(LogCount(kAttempt + Host() + "@" + database_ + "]...\r\n"), 1u);
  // A second connect while open is ignored without a message, even with
  // credentials that would fail.
  manager_.Connect(Host().c_str(), User(), "wrong password", "no_such_db");
  EXPECT_TRUE(manager_.IsConnected());
  EXPECT_EQ(Said(), "1,1,0,0,0");
  manager_.Disconnect();
  EXPECT_FALSE(manager_.IsConnected());
  manager_.Close();  // already closed: no second line
  EXPECT_EQ(Said(), "1,1,0,1,0");
  // The socket path works as a server text too, and a new connection can be
  // made after the first one closed.
  manager_.Connect(service_->Server().c_str(), User(), Password(), "");
  EXPECT_TRUE(manager_.IsConnected());
  EXPECT_EQ(Said(), "2,2,0,1,0");
}

TEST_F(SqlManagerTest, FailedConnectsLeaveTheConnectionClosed) {
  manager_.Connect(Host().c_str(), User(), "wrong password", database_.c_str());
  manager_.Connect(Host().c_str(), User(), Password(), "qlm_no_such_database");
  // A server that accepts and never speaks must not hold the caller for ever.
  const int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(silent, 4), 0);
  ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string silentServer = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  // Nothing listens on port 1; the others are not server texts at all.
  for (const char* server : {"127.0.0.1:1", "127.0.0.1:abc", "127.0.0.1:99999", ":",
                             "/nonexistent/sock", silentServer.c_str()}) {
    manager_.Connect(server, User(), Password(), "");
    EXPECT_FALSE(manager_.IsConnected()) << server;
  }
  close(silent);
  // Disconnect without a connection says nothing; reads give nothing.
  manager_.Disconnect();
  EXPECT_EQ(Said(), "8,0,8,0,0");
  EXPECT_EQ(manager_.GetReturnedLineData(0), "NULLED");
  EXPECT_EQ(manager_.GetRowCountInTable("t"), 0u);
  ConnectToOwnDatabase();
}

TEST_F(SqlManagerTest, QueryStoresRowsOrLogsTheServersErrorAndEmptiesThem) {
  Admin("CREATE TABLE t (id INT, name VARCHAR(20), note TEXT)");
  Admin("INSERT INTO t VALUES (7, 'bob', ''), (8, 'amy', 'x'), (NULL, NULL, NULL)");
  ConnectToOwnDatabase();
  // NULL reads as the library's text for it.
  EXPECT_EQ(Query("SELECT * FROM t ORDER BY id IS NULL, id"), "7|bob|;8|amy|x;NULL|NULL|NULL;");
  EXPECT_EQ(manager_.GetNumberOfReturnedLines(), 2);
  for (int16_t row : {3, -1, INT16_MAX}) EXPECT_EQ(manager_.GetReturnedLineData(row), "NULLED");
  EXPECT_EQ(Query("SELECT name FROM t WHERE id = 8"), "amy;");
  EXPECT_EQ(manager_.GetNumberOfReturnedLines(), 0);
  EXPECT_EQ(Query("SELECT * FROM t WHERE id = 99"), "NULLED;");
  // A statement without a result set empties the stored rows silently.
  Query("SELECT * FROM t");
  EXPECT_EQ(Query("UPDATE t SET name = 'zed' WHERE id = 7"), "NULLED;");
  EXPECT_EQ(Query("SELECT name FROM t WHERE id = 7"), "zed;");
  EXPECT_EQ(LogCount(kQueryError), 0u);
  // A failing one logs the server's error, and the connection stays usable.
  EXPECT_EQ(Query("SELEC nonsense"), "NULLED;");
  EXPECT_EQ(LogCount(std::string(kQueryError) + "You have an error in your SQL syntax"), 1u);
  Query("SELECT * FROM missing_table");
  EXPECT_EQ(LogCount("doesn't exist]\r\n"), 1u);
  Query("");
  EXPECT_EQ(LogCount(kQueryError), 3u);
  EXPECT_EQ(Query("SELECT 'ok'"), "ok;");
  // Killed behind its back: the next statement finds it gone and closes it.
  manager_.Query("SELECT CONNECTION_ID()");
  Admin("KILL CONNECTION " + manager_.GetReturnedLineData(0));
  manager_.Query("SELECT 1");
  EXPECT_FALSE(manager_.IsConnected());
  EXPECT_EQ(LogCount(kTerminated), 1u);
}

TEST_F(SqlManagerTest, StoredRowsOutliveTheConnectionButReadOnlyWhileConnected) {
  ConnectToOwnDatabase();
  manager_.Query("SELECT 'a' UNION ALL SELECT 'b'");
  manager_.Disconnect();
  EXPECT_EQ(manager_.GetReturnedLineData(0), "NULLED");
  // A query without a connection neither runs nor replaces the rows; a
  // restart's new manager finds them, and its destructor closes.
  manager_.Query("SELECT 'c'");
  {
    SqlManager other;
    other.Connect(Host().c_str(), User(), Password(), database_.c_str());
    ASSERT_TRUE(other.IsConnected());
    EXPECT_EQ(other.GetReturnedLineData(1), "b");
  }
  EXPECT_EQ(Said(), "2,2,0,2,0");
  EXPECT_FALSE(manager_.IsConnected());
}

TEST_F(SqlManagerTest, TableNamesAreStatementFragmentsAndProceduresLeaveTheConnectionUsable) {
  // Answers that are empty, NULL or no count read as 0, without a crash.
  Admin("CREATE TABLE t (n INT)");
  Admin("INSERT INTO t VALUES (1), (2)");
  Admin("CREATE PROCEDURE two_sets() BEGIN SELECT 1, 'x'; SELECT 2; END");
  ConnectToOwnDatabase();
  const std::pair<std::string, uint64_t> rows[] = {
      {"t LIMIT 0", 0}, {"t WHERE 0 UNION SELECT NULL ORDER BY 1", 0}, {"missing", 0},
      {"t UNION SELECT 'abc' ORDER BY 1 DESC", 0}, {"t UNION SELECT -5 ORDER BY 1", 0},
      {"t", 2}, {"t WHERE n <= 1", 1}, {database_ + ".t", 2}};
  for (const auto& [table, count] : rows) EXPECT_EQ(manager_.GetRowCountInTable(table.c_str()), count) << table;
  EXPECT_EQ(Query("CALL two_sets()"), "1|x;");  // the first set is kept
  EXPECT_EQ(Query("SELECT 'after'"), "after;");
  manager_.Query("CALL two_sets()");
  EXPECT_GT(manager_.GetRowCountInTable("mysql.user"), 0u);
  EXPECT_EQ(LogCount(kQueryError), 0u);
}

TEST_F(SqlManagerTest, HostileValuesAreHandledSafely) {
  ConnectToOwnDatabase();
  // Binary data: NUL bytes travel in both directions.
  static const char kStatement[] = "SELECT 'a\0b', UNHEX('00FF00'), LENGTH('a\0b')";
  EXPECT_EQ(Query(std::string_view(kStatement, sizeof kStatement - 1)), std::string("a\0b|\0\xFF\0|3;", 10));
  // A row text stops at 1023 bytes, whether one field or many make it long.
  EXPECT_EQ(Query("SELECT REPEAT('x', 1023)"), std::string(1023, 'x') + ";");
  EXPECT_EQ(Query("SELECT REPEAT('x', 1022), 'yz'"), std::string(1022, 'x') + "|;");
  EXPECT_EQ(Query("SELECT REPEAT('x', 4000000), 1"), std::string(1023, 'x') + ";");
  std::string wide = "SELECT 0";
  for (int i = 1; i < 1500; ++i) wide += "," + std::to_string(i % 10);
  const std::string row = Query(wide);
  EXPECT_EQ(row.size(), 1024u);
  EXPECT_EQ(row.substr(0, 8), "0|1|2|3|");
  // Many rows: the last row number is still exact, and only rows 0..32767
  // are reachable by a 16-bit row number.
  manager_.Query("SELECT seq FROM seq_1_to_200000");
  EXPECT_EQ(manager_.GetNumberOfReturnedLines(), 199999);
  EXPECT_EQ(manager_.GetReturnedLineData(INT16_MAX), "32768");
  EXPECT_EQ(manager_.GetReturnedLineData(INT16_MIN), "NULLED");
  // A statement beyond the server's packet limit is refused (the server may
  // drop the connection for it); the manager logs it and survives.
  EXPECT_EQ(Query("SELECT '" + std::string(17 * 1024 * 1024, 'q') + "'"), "NULLED;");
  EXPECT_EQ(LogCount(kQueryError), 1u) << Log().substr(0, 2000);
  manager_.Query("SELECT 1");
  manager_.Disconnect();
  EXPECT_FALSE(manager_.IsConnected());
  EXPECT_EQ(LogCount(kTerminated), 1u);
  ConnectToOwnDatabase();
  EXPECT_EQ(Query("SELECT 'back'"), "back;");
}

}  // namespace
