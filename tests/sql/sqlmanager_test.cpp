#include "sql/sqlmanager.h"

#include <gtest/gtest.h>
#include <mysql++.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "sql/sql_fixture.h"
#include "support/temp_dir.h"

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

  // The manager's view of the stored rows: every row the script could read.
  std::string Rows() {
    std::string out;
    const int32_t last = manager_.GetNumberOfReturnedLines();
    for (int32_t row = 0; row <= last; ++row) {
      out += manager_.GetReturnedLineData(static_cast<int16_t>(row)) + ";";
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
  EXPECT_NE(Log().find(kAttempt + Host() + "@" + database_ + "]...\r\n"), std::string::npos);
  EXPECT_EQ(LogCount(kSucceeded), 1u);

  // A second connect while open is ignored without a message, even with
  // credentials that would fail.
  const std::string before = Log();
  manager_.Connect(Host().c_str(), User(), "wrong password", "no_such_db");
  EXPECT_TRUE(manager_.IsConnected());
  EXPECT_EQ(Log(), before);

  manager_.Disconnect();
  EXPECT_FALSE(manager_.IsConnected());
  EXPECT_EQ(LogCount(kTerminated), 1u);
  manager_.Close();  // already closed: no second line
  EXPECT_EQ(LogCount(kTerminated), 1u);

  // The socket path works as a server text too, and a new connection can be
  // made after the first one closed.
  manager_.Connect(service_->Server().c_str(), User(), Password(), "");
  EXPECT_TRUE(manager_.IsConnected());
  EXPECT_EQ(LogCount(kSucceeded), 2u);
}

TEST_F(SqlManagerTest, FailedConnectsLeaveTheConnectionClosed) {
  manager_.Connect(Host().c_str(), User(), "wrong password", database_.c_str());
  EXPECT_FALSE(manager_.IsConnected());
  manager_.Connect(Host().c_str(), User(), Password(), "qlm_no_such_database");
  EXPECT_FALSE(manager_.IsConnected());
  // A server that accepts and never speaks must not hold the caller for ever.
  const int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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
  EXPECT_EQ(LogCount(kAttempt), 8u);
  EXPECT_EQ(LogCount(kFailed), 8u);
  EXPECT_EQ(LogCount(kSucceeded), 0u);

  // Disconnect without a connection says nothing; reads give nothing.
  manager_.Disconnect();
  EXPECT_EQ(LogCount(kTerminated), 0u);
  EXPECT_EQ(manager_.GetReturnedLineData(0), "NULLED");
  EXPECT_EQ(manager_.GetRowCountInTable("t"), 0u);

  ConnectToOwnDatabase();
}

TEST_F(SqlManagerTest, QueryStoresRowsThatReadAsFieldsJoinedByBars) {
  Admin("CREATE TABLE t (id INT, name VARCHAR(20), note TEXT)");
  Admin("INSERT INTO t VALUES (7, 'bob', ''), (8, 'amy', 'x'), (NULL, NULL, NULL)");
  ConnectToOwnDatabase();

  manager_.Query("SELECT * FROM t ORDER BY id IS NULL, id");
  EXPECT_EQ(manager_.GetNumberOfReturnedLines(), 2);
  EXPECT_EQ(manager_.GetReturnedLineData(0), "7|bob|");
  EXPECT_EQ(manager_.GetReturnedLineData(1), "8|amy|x");
  EXPECT_EQ(manager_.GetReturnedLineData(2), "NULL|NULL|NULL");  // the library's text for NULL
  EXPECT_EQ(manager_.GetReturnedLineData(3), "NULLED");
  EXPECT_EQ(manager_.GetReturnedLineData(-1), "NULLED");
  EXPECT_EQ(manager_.GetReturnedLineData(INT16_MAX), "NULLED");

  manager_.Query("SELECT name FROM t WHERE id = 8");
  EXPECT_EQ(manager_.GetNumberOfReturnedLines(), 0);
  EXPECT_EQ(Rows(), "amy;");

  manager_.Query("SELECT * FROM t WHERE id = 99");
  EXPECT_EQ(manager_.GetNumberOfReturnedLines(), 0);
  EXPECT_EQ(manager_.GetReturnedLineData(0), "NULLED");

  // A statement without a result set empties the stored rows silently.
  manager_.Query("SELECT * FROM t");
  manager_.Query("UPDATE t SET name = 'zed' WHERE id = 7");
  EXPECT_EQ(manager_.GetReturnedLineData(0), "NULLED");
  EXPECT_EQ(LogCount(kQueryError), 0u);
  manager_.Query("SELECT name FROM t WHERE id = 7");
  EXPECT_EQ(Rows(), "zed;");
}

TEST_F(SqlManagerTest, AFailingStatementLogsTheServersErrorAndEmptiesTheRows) {
  ConnectToOwnDatabase();
  manager_.Query("SELECT 1, 2");
  ASSERT_EQ(Rows(), "1|2;");

  manager_.Query("SELEC nonsense");
  EXPECT_NE(Log().find(std::string(kQueryError) + "You have an error in your SQL syntax"),
            std::string::npos);
  EXPECT_EQ(manager_.GetReturnedLineData(0), "NULLED");

  manager_.Query("SELECT * FROM missing_table");
  EXPECT_NE(Log().find("doesn't exist]\r\n"), std::string::npos);
  manager_.Query("");
  EXPECT_EQ(LogCount(kQueryError), 3u);

  // The connection is still usable.
  manager_.Query("SELECT 'ok'");
  EXPECT_EQ(Rows(), "ok;");

  // Killed behind its back: the next statement finds it gone and closes it.
  manager_.Query("SELECT CONNECTION_ID()");
  Admin("KILL CONNECTION " + manager_.GetReturnedLineData(0));
  manager_.Query("SELECT 1");
  EXPECT_FALSE(manager_.IsConnected());
  EXPECT_EQ(LogCount(kTerminated), 1u);
  ConnectToOwnDatabase();
}

TEST_F(SqlManagerTest, StoredRowsOutliveTheConnectionButReadOnlyWhileConnected) {
  ConnectToOwnDatabase();
  manager_.Query("SELECT 'a' UNION ALL SELECT 'b'");
  manager_.Disconnect();
  EXPECT_EQ(manager_.GetReturnedLineData(0), "NULLED");
  // A query without a connection neither runs nor replaces the rows.
  manager_.Query("SELECT 'c'");
  EXPECT_EQ(LogCount(kQueryError), 0u);

  // A restart's new manager finds them too.
  {
    SqlManager other;
    other.Connect(Host().c_str(), User(), Password(), database_.c_str());
    ASSERT_TRUE(other.IsConnected());
    EXPECT_EQ(other.GetReturnedLineData(1), "b");
  }
  EXPECT_EQ(LogCount(kTerminated), 2u);  // the destructor closed it
  EXPECT_FALSE(manager_.IsConnected());
}

TEST_F(SqlManagerTest, TableNamesAreStatementFragments) {
  // Answers that are empty, NULL or no count read as 0, without a crash.
  Admin("CREATE TABLE t (n INT)");
  Admin("INSERT INTO t VALUES (1), (2)");
  ConnectToOwnDatabase();
  EXPECT_EQ(manager_.GetRowCountInTable("t LIMIT 0"), 0u);
  EXPECT_EQ(manager_.GetRowCountInTable("t WHERE 0 UNION SELECT NULL ORDER BY 1"), 0u);
  EXPECT_EQ(manager_.GetRowCountInTable("t UNION SELECT 'abc' ORDER BY 1 DESC"), 0u);
  EXPECT_EQ(manager_.GetRowCountInTable("t UNION SELECT -5 ORDER BY 1"), 0u);
  EXPECT_EQ(manager_.GetRowCountInTable("t"), 2u);
  EXPECT_EQ(manager_.GetRowCountInTable("t WHERE n <= 1"), 1u);
  EXPECT_EQ(manager_.GetRowCountInTable((database_ + ".t").c_str()), 2u);
}

TEST_F(SqlManagerTest, AProcedureCallLeavesTheConnectionUsable) {
  Admin("CREATE PROCEDURE two_sets() BEGIN SELECT 1, 'x'; SELECT 2; END");
  ConnectToOwnDatabase();
  manager_.Query("CALL two_sets()");
  EXPECT_EQ(Rows(), "1|x;");  // the first set is kept
  manager_.Query("SELECT 'after'");
  EXPECT_EQ(Rows(), "after;");
  EXPECT_EQ(LogCount(kQueryError), 0u);
  EXPECT_EQ(manager_.GetRowCountInTable("missing"), 0u);
  manager_.Query("CALL two_sets()");
  EXPECT_GT(manager_.GetRowCountInTable("mysql.user"), 0u);
}

TEST_F(SqlManagerTest, HostileValuesAreHandledSafely) {
  ConnectToOwnDatabase();

  // Binary data: NUL bytes travel in both directions.
  static const char kStatement[] = "SELECT 'a\0b', UNHEX('00FF00'), LENGTH('a\0b')";
  manager_.Query(std::string_view(kStatement, sizeof kStatement - 1));
  EXPECT_EQ(manager_.GetReturnedLineData(0), std::string("a\0b|\0\xFF\0|3", 9));

  // A row text stops at 1023 bytes, whether one field or many make it long.
  manager_.Query("SELECT REPEAT('x', 1023)");
  EXPECT_EQ(manager_.GetReturnedLineData(0), std::string(1023, 'x'));
  manager_.Query("SELECT REPEAT('x', 1022), 'yz'");
  EXPECT_EQ(manager_.GetReturnedLineData(0), std::string(1022, 'x') + "|");
  manager_.Query("SELECT REPEAT('x', 4000000), 1");
  EXPECT_EQ(manager_.GetReturnedLineData(0), std::string(1023, 'x'));
  std::string wide = "SELECT 0";
  for (int i = 1; i < 1500; ++i) wide += "," + std::to_string(i % 10);
  manager_.Query(wide);
  const std::string row = manager_.GetReturnedLineData(0);
  EXPECT_EQ(row.size(), 1023u);
  EXPECT_EQ(row.substr(0, 8), "0|1|2|3|");

  // Many rows: the last row number is still exact, and only rows 0..32767
  // are reachable by a 16-bit row number.
  manager_.Query("SELECT seq FROM seq_1_to_200000");
  EXPECT_EQ(manager_.GetNumberOfReturnedLines(), 199999);
  EXPECT_EQ(manager_.GetReturnedLineData(INT16_MAX), "32768");
  EXPECT_EQ(manager_.GetReturnedLineData(INT16_MIN), "NULLED");

  // A statement beyond the server's packet limit is refused (the server may
  // drop the connection for it); the manager logs it and survives.
  manager_.Query("SELECT '" + std::string(17 * 1024 * 1024, 'q') + "'");
  EXPECT_EQ(LogCount(kQueryError), 1u) << Log().substr(0, 2000);
  EXPECT_EQ(manager_.GetReturnedLineData(0), "NULLED");
  manager_.Query("SELECT 1");
  manager_.Disconnect();
  EXPECT_FALSE(manager_.IsConnected());
  EXPECT_EQ(LogCount(kTerminated), 1u);

  ConnectToOwnDatabase();
  manager_.Query("SELECT 'back'");
  EXPECT_EQ(Rows(), "back;");
}

}  // namespace
