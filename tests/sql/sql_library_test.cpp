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
  const std::string& db = database_;
  Admin({"CREATE DATABASE " + db + "_b", "CREATE TABLE " + db + "_b.t (n INT)", "INSERT INTO " + db +
         "_b.t VALUES (1), (2)", "CREATE TABLE players (id INT, name VARCHAR(20))",
         "INSERT INTO players VALUES (7, 'bob'), (8, 'amy'), (9, 'cid')"});
  // Wrong counts give their fixed results whatever the state. A statement
  // ends at its first NUL, as every text argument does. Wrong counts,
  // missing and unknown names change nothing.
  ExpectLua("local S = SQL S.connect('" + Host() + "', '" + User() + "', '" + Password() + "', '" + db +
            R"(') local count, row, lines = S.getRowCountInTable, S.getReturnedLineData,
      S.getNumberOfReturnedLines
    eq('1,0,0,0,0,0,3', S.isConnected(), S.isConnected(1), count(), count('players', 1), lines(1),
       select('#', row()), count('players'))
    S.query('SELECT * FROM players ORDER BY id') S.query(nil) S.query({}) eq('2', lines())
    eq('7|bob,8|amy,9|cid,NULLED,NULLED,7|bob', row(65536), row(65537.9), row('2'), row(-1), row(65535),
       row(0/0)) S.query("SELECT 'a'\0; junk") eq('a', row(0))
    S.selectDatabase() S.selectDatabase(nil) S.selectDatabase('qlm_no_such_database') eq('0', count('t'))
    S.selectDatabase(')" + db + R"(_b') eq('2', count('t'))
    S.dropDatabase(nil) S.dropDatabase('qlm_no_such_database') S.dropDatabase(')" + db + R"(', 1)
    eq('2,0,0,0', count('t'), count('missing'), count(nil), count(''))
    S.dropDatabase('IF EXISTS )" + db + R"(_b') eq('0', count('t'))
    S.selectDatabase(')" + db + R"(') eq('3', count('players'))
    S.disconnect() eq('0,0,NULLED', S.isConnected(), lines(), row(0)))");
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
