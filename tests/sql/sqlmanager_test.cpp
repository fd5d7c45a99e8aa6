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
using scripttest::CountEach;

class SqlManagerTest : public SqlTest {
 protected:
  void TearDown() override { manager_.Disconnect(), SqlTest::TearDown(); }
  void ConnectToOwnDatabase() {
    manager_.Connect(Host().c_str(), User(), Password(), database_.c_str());
    ASSERT_TRUE(manager_.IsConnected()) << Log();
  }
  // Runs `statement`; then every row the script could read, each ended by ";".
  std::string Query(std::string_view statement) {
    manager_.Query(statement);
    std::string out;
    for (int32_t row = 0; row <= manager_.GetNumberOfReturnedLines(); ++row) out += Row(row) + ";";
    return out;
  }
  std::string Row(int32_t row) { return manager_.GetReturnedLineData(static_cast<int16_t>(row)); }
  // Whether connected, then how often the log says: attempt, succeeded,
  // failed, terminated, query error.
  std::string Said() {
    return std::to_string(manager_.IsConnected()) + ":" +
           CountEach(Log(), {kAttempt, kSucceeded, kFailed, kTerminated, kQueryError});
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
  EXPECT_EQ(Said(), "0:0,0,0,0,0");
  ConnectToOwnDatabase();
  EXPECT_EQ(LogCount(kAttempt + Host() + "@" + database_ + "]...\r\n"), 1u);
  manager_.Connect(Host().c_str(), User(), "wrong password", "no_such_db");
  EXPECT_EQ(Said(), "1:1,1,0,0,0");
  manager_.Disconnect(), manager_.Close();
  EXPECT_EQ(Said(), "0:1,1,0,1,0");
  manager_.Connect(service_->Server().c_str(), User(), Password(), "");
  EXPECT_EQ(Said(), "1:2,2,0,1,0");
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
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), length) | listen(silent, 4) |
                getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string silentServer = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  for (const char* server : {"127.0.0.1:1", "127.0.0.1:abc", "127.0.0.1:99999", ":", "/nonexistent/sock",
                             silentServer.c_str()}) {
    manager_.Connect(server, User(), Password(), "");
  }
  close(silent);
  manager_.Disconnect();
  EXPECT_EQ(Said() + Row(0) + std::to_string(manager_.GetRowCountInTable("t")), "0:8,0,8,0,0NULLED0");
  ConnectToOwnDatabase();
}

TEST_F(SqlManagerTest, QueryStoresRowsOrLogsTheServersErrorAndEmptiesThem) {
  // NULL reads as the library's text for it; rows past the last, NULLED. A
  // statement without a result set empties the stored rows silently. A
  // failing one logs the server's error, and the connection stays usable.
  // Killed behind its back: the next statement finds it gone and closes it.
  Admin({"CREATE TABLE t (id INT, name VARCHAR(20), note TEXT)",
         "INSERT INTO t VALUES (7, 'bob', ''), (8, 'amy', 'x'), (NULL, NULL, NULL)"});
  ConnectToOwnDatabase();
  std::string got = Query("SELECT * FROM t ORDER BY id IS NULL, id");
  got += std::to_string(manager_.GetNumberOfReturnedLines()) + Row(3) + Row(-1) + Row(INT16_MAX);
  got += " " + Query("SELECT name FROM t WHERE id = 8");
  got += std::to_string(manager_.GetNumberOfReturnedLines()) + " " + Query("SELECT * FROM t WHERE id = 99");
  got += " " + Query("SELECT * FROM t");
  got += " " + Query("UPDATE t SET name = 'zed' WHERE id = 7");
  got += Query("SELECT name FROM t WHERE id = 7") + Said();
  EXPECT_EQ(got, "7|bob|;8|amy|x;NULL|NULL|NULL;2NULLEDNULLEDNULLED amy;0 NULLED; "
                 "7|bob|;8|amy|x;NULL|NULL|NULL; NULLED;zed;1:1,1,0,0,0");
  EXPECT_EQ(Query("SELEC nonsense") + Query("SELECT * FROM missing_table") + Query(""),
            "NULLED;NULLED;NULLED;");
  EXPECT_EQ(CountEach(Log(), {std::string(kQueryError) + "You have an error in your SQL syntax",
                              "doesn't exist]\r\n"}) + Said() + Query("SELECT 'ok'"),
            "1,11:1,1,0,0,3ok;");
  manager_.Query("SELECT CONNECTION_ID()");
  Admin("KILL CONNECTION " + Row(0));
  manager_.Query("SELECT 1");
  EXPECT_EQ(std::to_string(manager_.IsConnected()) + std::to_string(LogCount(kTerminated)), "01");
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
  EXPECT_EQ(Said(), "0:2,2,0,2,0");
}

TEST_F(SqlManagerTest, TableNamesAreStatementFragmentsAndProceduresLeaveTheConnectionUsable) {
  // Answers that are empty, NULL or no count read as 0, without a crash. Of
  // a procedure's sets the first is kept.
  Admin({"CREATE TABLE t (n INT)", "INSERT INTO t VALUES (1), (2)",
         "CREATE PROCEDURE two_sets() BEGIN SELECT 1, 'x'; SELECT 2; END"});
  ConnectToOwnDatabase();
  std::string got;
  for (const char* table : {"t LIMIT 0", "t WHERE 0 UNION SELECT NULL ORDER BY 1", "missing",
                            "t WHERE n <= 1", "t", "t UNION SELECT 'abc' ORDER BY 1 DESC",
                            "t UNION SELECT -5 ORDER BY 1"}) {
    got += std::to_string(manager_.GetRowCountInTable(table));
  }
  got += std::to_string(manager_.GetRowCountInTable((database_ + ".t").c_str())) + Query("CALL two_sets()");
  got += Query("SELECT 'after'");
  manager_.Query("CALL two_sets()");
  EXPECT_EQ(got + std::to_string(manager_.GetRowCountInTable("mysql.user") > 0) + Said(),
            "00012002" "1|x;after;1" "1:1,1,0,0,0");
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
  EXPECT_EQ(Query(std::string_view(kStatement, sizeof kStatement - 1)), std::string("a\0b|\0\xFF\0|3;", 10));
  EXPECT_EQ(Query("SELECT REPEAT('x', 1023)") + Query("SELECT REPEAT('x', 1022), 'yz'") +
                Query("SELECT REPEAT('x', 4000000), 1"),
            std::string(1023, 'x') + ";" + std::string(1022, 'x') + "|;" + std::string(1023, 'x') + ";");
  std::string wide = "SELECT 0";
  for (int i = 1; i < 1500; ++i) wide += "," + std::to_string(i % 10);
  const std::string row = Query(wide);
  manager_.Query("SELECT seq FROM seq_1_to_200000");
  EXPECT_EQ(row.substr(0, 8) + std::to_string(row.size()) +
                std::to_string(manager_.GetNumberOfReturnedLines()) + Row(INT16_MAX) + Row(INT16_MIN),
            "0|1|2|3|1024" "199999" "32768" "NULLED");
  EXPECT_EQ(Query("SELECT '" + std::string(17 * 1024 * 1024, 'q') + "'"), "NULLED;");
  manager_.Query("SELECT 1");
  manager_.Disconnect();
  EXPECT_EQ(std::to_string(manager_.IsConnected()) + CountEach(Log(), {kQueryError, kTerminated}), "01,1");
  ConnectToOwnDatabase();
  EXPECT_EQ(Query("SELECT 'back'"), "back;");
}

}  // namespace
