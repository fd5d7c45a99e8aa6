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

// Lua locals for the chunks below: the server's address, the credentials,
// the test's own database, and `results`, which counts a call's results.
std::string Locals(const std::string& host, const char* user, const char* password,
                   const std::string& db) {
  return "local host, user, password, db = '" + host + "', '" + user + "', '" + password + "', '" +
         db + "'\n" + "local function results(...) return select('#', ...) end\n";
}

TEST_F(SqlTest, TheLibraryChecksItsArgumentsAndPassesTheRowNumbersLow16Bits) {
  scripttest::ScriptHost host("");
  ReplaceSqlManager();
  // Nothing happens before a connection; a wrong count or a missing text
  // does not connect. The functions without a result give none, also when
  // they refuse (never an argument back).
  ExpectLua(Locals(Host(), User(), Password(), database_) + R"(
    eq('0', results(SQL.query('SELECT 1')))
    eq('0', results(SQL.selectDatabase('x')))
    eq('0', results(SQL.dropDatabase(db)))
    eq('0', results(SQL.disconnect()))
    eq('0', SQL.isConnected())
    eq('0', SQL.getNumberOfReturnedLines())
    eq('0', SQL.getRowCountInTable('t'))
    eq('NULLED', SQL.getReturnedLineData(0))
    eq('0', results(SQL.connect(host, 'root', '')))
    eq('0', results(SQL.connect(host, 'root', nil, '')))
    eq('0', results(SQL.connect(host, 'root', {}, '')))
    eq('0', SQL.isConnected())
  )");
  EXPECT_EQ(Log(), "");
  Admin({
      "CREATE DATABASE " + database_ + "_b",
      "CREATE TABLE " + database_ + "_b.t (n INT)",
      "INSERT INTO " + database_ + "_b.t VALUES (1), (2)",
      "CREATE TABLE players (id INT, name VARCHAR(20))",
      "INSERT INTO players VALUES (7, 'bob'), (8, 'amy'), (9, 'cid')",
  });
  // Wrong counts give their fixed results whatever the state. A statement
  // ends at its first NUL, as every text argument does. Wrong counts,
  // missing and unknown names change nothing.
  ExpectLua(Locals(Host(), User(), Password(), database_) + R"(
    local S = SQL
    eq('0', results(S.connect(host, user, password, db)))
    local count = S.getRowCountInTable
    local row = S.getReturnedLineData
    local lines = S.getNumberOfReturnedLines
    eq('1', S.isConnected())
    eq('0', S.isConnected(1))
    eq('0', count())
    eq('0', count('players', 1))
    eq('0', lines(1))
    eq('0', results(row()))
    eq('3', count('players'))

    eq('0', results(S.query('SELECT * FROM players ORDER BY id')))
    eq('0', results(S.query(nil)))
    eq('0', results(S.query({})))
    eq('2', lines())
    eq('7|bob', row(65536))
    eq('8|amy', row(65537.9))
    eq('9|cid', row('2'))
    eq('NULLED', row(-1))
    eq('NULLED', row(65535))
    eq('7|bob', row(0/0))
    S.query("SELECT 'a'\0; junk")
    eq('a', row(0))

    eq('0', results(S.selectDatabase()))
    eq('0', results(S.selectDatabase(nil)))
    eq('0', results(S.selectDatabase('qlm_no_such_database')))
    eq('0', count('t'))
    eq('0', results(S.selectDatabase(db .. '_b')))
    eq('2', count('t'))

    eq('0', results(S.dropDatabase(nil)))
    eq('0', results(S.dropDatabase('qlm_no_such_database')))
    eq('0', results(S.dropDatabase(db, 1)))
    eq('2', count('t'))
    eq('0', count('missing'))
    eq('0', count(nil))
    eq('0', count(''))
    eq('0', results(S.dropDatabase('IF EXISTS ' .. db .. '_b')))
    eq('0', count('t'))
    S.selectDatabase(db)
    eq('3', count('players'))

    eq('0', results(S.disconnect()))
    eq('0', S.isConnected())
    eq('0', lines())
    eq('NULLED', row(0))
  )");
  EXPECT_EQ(LogCount(kQueryError), 0u);
  EXPECT_EQ(LogCount(kTerminated), 1u);
  DestroySqlManager();
}

// The whole server: "Main.lua" connects at start-up; a restart destroys the
// manager, which closes the connection with its log line between the
// restart's own lines, and the new manager starts closed.
TEST_F(SqlTest, ARestartClosesTheGameModesConnection) {
  InProcessServer server("SQL.connect('" + Host() + "', '" + User() + "', '" + Password() + "', '" +
                         database_ + "')\n");
  server.Start();
  ASSERT_NE(GetSqlManager(), nullptr);
  ASSERT_TRUE(GetSqlManager()->IsConnected()) << server.ReadFile(kLogFileName);
  RestartServer();
  ASSERT_EQ(gNetGame->restartPending, 1);
  ASSERT_NE(GetSqlManager(), nullptr);
  ASSERT_FALSE(GetSqlManager()->IsConnected());
  const std::string log = server.ReadFile(kLogFileName);
  const size_t restarting = log.find("[RESTART] Internally restarting");
  const size_t terminated = log.find(kTerminated);
  const size_t reinitiating = log.find("[RESTART] Success!  Reinitiating the script");
  ASSERT_NE(restarting, std::string::npos) << log;
  ASSERT_NE(terminated, std::string::npos) << log;
  ASSERT_NE(reinitiating, std::string::npos) << log;
  EXPECT_LT(restarting, terminated) << log;
  EXPECT_LT(terminated, reinitiating) << log;
}

}  // namespace
