// The "SQL" script library as a game mode uses it (argument rules, results;
// the manager's own logic is checked in sqlmanager_test.cpp), and the SQL
// manager's part in the server's start-up and restart.
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
using scripttest::ExpectLua;

TEST_F(SqlTest, TheLibraryChecksItsArgumentsAndPassesTheRowNumbersLow16Bits) {
  scripttest::ScriptHost host("");
  ReplaceSqlManager();
  // Nothing happens before a connection; a wrong count or a missing text
  // does not connect.
  ExpectLua("SQL.query('SELECT 1') SQL.selectDatabase('x') SQL.dropDatabase('" + database_ +
            "') SQL.disconnect() eq('0,0,0,NULLED', SQL.isConnected(), SQL.getNumberOfReturnedLines(), "
            "SQL.getRowCountInTable('t'), SQL.getReturnedLineData(0)) "
            "SQL.connect('" + Host() + "', 'root', '') SQL.connect('" + Host() + "', 'root', nil, '') "
            "SQL.connect('" + Host() + "', 'root', {}, '') eq('0', SQL.isConnected())");
  EXPECT_EQ(Log(), "");
  Admin({"CREATE DATABASE " + database_ + "_b", "CREATE TABLE " + database_ + "_b.t (n INT)",
         "INSERT INTO " + database_ + "_b.t VALUES (1), (2)", "CREATE TABLE players (id INT, name VARCHAR(20))",
         "INSERT INTO players VALUES (7, 'bob'), (8, 'amy'), (9, 'cid')"});
  // Wrong counts give their fixed results whatever the state. A statement
  // ends at its first NUL, as every text argument does. Wrong counts,
  // missing and unknown names change nothing.
  ExpectLua("SQL.connect('" + Host() + "', '" + User() + "', '" + Password() + "', '" + database_ + "')" +
            R"( eq('1,0,0,0,0,0', SQL.isConnected(), SQL.isConnected(1), SQL.getRowCountInTable(),
      SQL.getRowCountInTable('players', 1), SQL.getNumberOfReturnedLines(1), select('#', SQL.getReturnedLineData()))
    eq('3', SQL.getRowCountInTable('players'))
    SQL.query('SELECT * FROM players ORDER BY id') SQL.query(nil) SQL.query({}) eq('2', SQL.getNumberOfReturnedLines())
    local function row(n) return SQL.getReturnedLineData(n) end
    eq('7|bob,8|amy,9|cid,NULLED,NULLED,7|bob', row(65536), row(65537.9), row('2'), row(-1), row(65535), row(0/0))
    SQL.query("SELECT 'a'\0; junk") eq('a', row(0))
    SQL.selectDatabase() SQL.selectDatabase(nil) SQL.selectDatabase('qlm_no_such_database')
    eq('0', SQL.getRowCountInTable('t')) SQL.selectDatabase(')" + database_ + R"(_b') eq('2', SQL.getRowCountInTable('t'))
    SQL.dropDatabase(nil) SQL.dropDatabase('qlm_no_such_database') SQL.dropDatabase(')" + database_ + R"(', 1)
    eq('2,0,0,0', SQL.getRowCountInTable('t'), SQL.getRowCountInTable('missing'), SQL.getRowCountInTable(nil), SQL.getRowCountInTable(''))
    SQL.dropDatabase('IF EXISTS )" + database_ + R"(_b') eq('0', SQL.getRowCountInTable('t'))
    SQL.selectDatabase(')" + database_ + R"(') eq('3', SQL.getRowCountInTable('players'))
    SQL.disconnect() eq('0,0,NULLED', SQL.isConnected(), SQL.getNumberOfReturnedLines(), row(0)))");
  EXPECT_EQ(scripttest::CountEach(Log(), {kQueryError, kTerminated}), "0,1");
  DestroySqlManager();
}

// The whole server: "Main.lua" connects at start-up; a restart destroys the
// manager, which closes the connection with its log line between the
// restart's own lines, and the new manager starts closed.
TEST_F(SqlTest, ARestartClosesTheGameModesConnection) {
  InProcessServer server("SQL.connect('" + Host() + "', '" + User() + "', '" + Password() +
                         "', '" + database_ + "')\n");
  server.Start();
  ASSERT_TRUE(GetSqlManager() && GetSqlManager()->IsConnected()) << server.ReadFile(kLogFileName);
  RestartServer();
  ASSERT_TRUE(gNetGame->restartPending == 1 && GetSqlManager() && !GetSqlManager()->IsConnected());
  const std::string log = server.ReadFile(kLogFileName);
  const size_t terminated = log.find(kTerminated);
  EXPECT_TRUE(terminated != std::string::npos && log.find("[RESTART] Internally restarting") < terminated &&
              log.find("[RESTART] Success!  Reinitiating the script") > terminated) << log;
}

}  // namespace
