// The "SQL" script library as a game mode uses it, and the SQL manager's part
// in the server's start-up and restart.
#include <gtest/gtest.h>

#include <string>

#include "core/log.h"
#include "core/netgame.h"
#include "script/script_host.h"
#include "server/server.h"
#include "sql/sql_fixture.h"
#include "sql/sqlmanager.h"
#include "support/server_fixture.h"

namespace {

using namespace sqltest;
using scripttest::Eval;
using scripttest::RunLua;

class SqlLibraryTest : public SqlTest {
 protected:
  void SetUp() override {
    SqlTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    host_ = std::make_unique<scripttest::ScriptHost>("");
    ReplaceSqlManager();
  }
  void TearDown() override {
    DestroySqlManager();
    host_.reset();
    SqlTest::TearDown();
  }

  // The Lua call that connects to the test's own database.
  std::string ConnectCall() const {
    return "SQL.connect('" + Host() + "', '" + User() + "', '" + Password() + "', '" + database_ +
           "')";
  }

  std::unique_ptr<scripttest::ScriptHost> host_;
};

TEST_F(SqlLibraryTest, NothingHappensBeforeAConnection) {
  EXPECT_EQ(RunLua("SQL.query('SELECT 1') SQL.selectDatabase('x') SQL.dropDatabase('" + database_ +
                   "') SQL.disconnect()"),
            "");
  EXPECT_EQ(Eval("SQL.isConnected()"), "0");
  EXPECT_EQ(Eval("SQL.getNumberOfReturnedLines()"), "0");
  EXPECT_EQ(Eval("SQL.getRowCountInTable('t')"), "0");
  EXPECT_EQ(Eval("SQL.getReturnedLineData(0)"), "'NULLED'");
  EXPECT_EQ(Log(), "");
  EXPECT_TRUE(DatabaseExists(database_));

  // A wrong count or a missing text does not connect.
  EXPECT_EQ(Eval("SQL.connect('" + Host() + "', 'root', '')"), "");
  EXPECT_EQ(Eval("SQL.connect('" + Host() + "', 'root', nil, '')"), "");
  EXPECT_EQ(Eval("SQL.connect('" + Host() + "', 'root', {}, '')"), "");
  EXPECT_EQ(Eval("SQL.isConnected()"), "0");
  EXPECT_EQ(Log(), "");
}

TEST_F(SqlLibraryTest, AGameModeConnectsQueriesAndReadsEveryRow) {
  Admin("CREATE TABLE players (id INT, name VARCHAR(20), clan VARCHAR(20))");
  Admin("INSERT INTO players VALUES (7, 'bob', ''), (8, 'amy', 'red'), (9, 'cid', NULL)");
  Admin("CREATE TABLE big (n INT)");
  Admin("INSERT INTO big SELECT seq FROM seq_1_to_300");

  EXPECT_EQ(Eval(ConnectCall()), "");
  EXPECT_EQ(Eval("SQL.isConnected()"), "1");
  EXPECT_EQ(LogCount(kSucceeded), 1u);
  // Wrong counts give their fixed results whatever the state.
  EXPECT_EQ(Eval("SQL.isConnected(1)"), "0");
  EXPECT_EQ(Eval("SQL.getRowCountInTable()"), "0");
  EXPECT_EQ(Eval("SQL.getRowCountInTable('big', 1)"), "0");
  EXPECT_EQ(Eval("SQL.getNumberOfReturnedLines(1)"), "0");
  EXPECT_EQ(Eval("SQL.getReturnedLineData()"), "");

  // Connecting again is ignored without a message.
  const std::string before = Log();
  EXPECT_EQ(Eval("SQL.connect('" + Host() + "', 'nobody', 'x', 'y')"), "");
  EXPECT_EQ(Log(), before);
  EXPECT_EQ(Eval("SQL.isConnected()"), "1");

  EXPECT_EQ(Eval("SQL.getRowCountInTable('big')"), "300");
  EXPECT_EQ(RunLua("SQL.query('SELECT * FROM players ORDER BY id')"), "");
  EXPECT_EQ(RunLua("rows = {} for i = 0, SQL.getNumberOfReturnedLines() do "
                   "rows[#rows + 1] = SQL.getReturnedLineData(i) end"),
            "");
  EXPECT_EQ(Eval("table.concat(rows, ';')"), "'7|bob|;8|amy|red;9|cid|NULL'");
  EXPECT_EQ(Eval("SQL.getNumberOfReturnedLines()"), "2");
  // The row number's low 16 bits, signed.
  EXPECT_EQ(Eval("SQL.getReturnedLineData(65536)"), "'7|bob|'");
  EXPECT_EQ(Eval("SQL.getReturnedLineData(65537.9)"), "'8|amy|red'");
  EXPECT_EQ(Eval("SQL.getReturnedLineData('2')"), "'9|cid|NULL'");
  EXPECT_EQ(Eval("SQL.getReturnedLineData(3)"), "'NULLED'");
  EXPECT_EQ(Eval("SQL.getReturnedLineData(-1)"), "'NULLED'");
  EXPECT_EQ(Eval("SQL.getReturnedLineData(65535)"), "'NULLED'");
  EXPECT_EQ(Eval("SQL.getReturnedLineData(0/0)"), "'7|bob|'");  // NaN reads as INT32_MIN: low bits 0

  // A query without a text does nothing; a failing one logs the error.
  EXPECT_EQ(RunLua("SQL.query(nil) SQL.query({})"), "");
  EXPECT_EQ(Eval("SQL.getNumberOfReturnedLines()"), "2");
  EXPECT_EQ(RunLua("SQL.query('SELECT * FROM nowhere')"), "");
  EXPECT_EQ(LogCount(kQueryError), 1u);
  EXPECT_EQ(Eval("SQL.getReturnedLineData(0)"), "'NULLED'");

  // A statement ends at its first NUL, as every text argument does.
  EXPECT_EQ(RunLua("SQL.query(\"SELECT 'a'\\0; junk\")"), "");
  EXPECT_EQ(Eval("SQL.getReturnedLineData(0)"), "'a'");

  EXPECT_EQ(RunLua("SQL.disconnect()"), "");
  EXPECT_EQ(LogCount(kTerminated), 1u);
  EXPECT_EQ(Eval("SQL.isConnected()"), "0");
  EXPECT_EQ(Eval("SQL.getNumberOfReturnedLines()"), "0");
  EXPECT_EQ(Eval("SQL.getReturnedLineData(0)"), "'NULLED'");
}

TEST_F(SqlLibraryTest, SelectsAndDropsDatabases) {
  Admin("CREATE DATABASE " + database_ + "_b");
  Admin("CREATE TABLE " + database_ + "_b.t (n INT)");
  Admin("INSERT INTO " + database_ + "_b.t VALUES (1), (2)");

  EXPECT_EQ(Eval("SQL.connect('" + Host() + "', '" + User() + "', '" + Password() + "', '')"), "");
  ASSERT_EQ(Eval("SQL.isConnected()"), "1");
  EXPECT_EQ(Eval("SQL.getRowCountInTable('t')"), "0");
  EXPECT_EQ(RunLua("SQL.selectDatabase('" + database_ + "_b')"), "");
  EXPECT_EQ(Eval("SQL.getRowCountInTable('t')"), "2");
  // Wrong counts, missing and unknown names change nothing and report nothing.
  EXPECT_EQ(RunLua("SQL.selectDatabase() SQL.selectDatabase(nil) "
                   "SQL.selectDatabase('qlm_no_such_database') SQL.dropDatabase(nil) "
                   "SQL.dropDatabase('qlm_no_such_database') SQL.dropDatabase('" +
                   database_ + "', 1)"),
            "");
  EXPECT_EQ(Eval("SQL.getRowCountInTable('t'), SQL.getRowCountInTable('missing'), "
                 "SQL.getRowCountInTable(nil), SQL.getRowCountInTable('')"),
            "2,0,0,0");
  EXPECT_EQ(RunLua("SQL.dropDatabase('IF EXISTS " + database_ + "_b')"), "");
  EXPECT_FALSE(DatabaseExists(database_ + "_b"));
  EXPECT_EQ(Eval("SQL.getRowCountInTable('t')"), "0");
  EXPECT_TRUE(DatabaseExists(database_));
  EXPECT_EQ(LogCount(kQueryError), 0u);
}

// The whole server: "Main.lua" connects at start-up; a restart destroys the
// manager, which closes the connection with its log line, and the new manager
// starts closed.
class SqlRestartTest : public SqlTest {};

TEST_F(SqlRestartTest, ARestartClosesTheGameModesConnection) {
  InProcessServer server("SQL.connect('" + Host() + "', '" + User() + "', '" + Password() +
                         "', '" + database_ + "')\n");
  server.Start();
  ASSERT_NE(GetSqlManager(), nullptr);
  ASSERT_TRUE(GetSqlManager()->IsConnected()) << server.ReadFile(kLogFileName);

  RestartServer();
  ASSERT_EQ(gNetGame->restartPending, 1);
  ASSERT_NE(GetSqlManager(), nullptr);
  EXPECT_FALSE(GetSqlManager()->IsConnected());
  const std::string log = server.ReadFile(kLogFileName);
  const size_t terminated = log.find(kTerminated);
  ASSERT_NE(terminated, std::string::npos) << log;
  // Between the restart's own lines, in the pools' reset.
  EXPECT_LT(log.find("[RESTART] Internally restarting the server..."), terminated);
  EXPECT_GT(log.find("[RESTART] Success!  Reinitiating the script"), terminated);
}

}  // namespace
