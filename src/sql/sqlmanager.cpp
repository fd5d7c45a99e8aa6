#include "sql/sqlmanager.h"

#include <dbdriver.h>
#include <errmsg.h>
#include <mysql++.h>
#include <mysqld_error.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <exception>
#include <memory>

#include "core/log.h"

namespace {

SqlManager* gSqlManager = nullptr;

// Null until the first query; a query that fails or throws leaves it empty.
std::unique_ptr<mysqlpp::StoreQueryResult>& StoredResultHolder() {
  static std::unique_ptr<mysqlpp::StoreQueryResult> holder;
  return holder;
}

// A CALL leaves further result sets waiting on the connection; unread, they
// make every later statement fail with "Commands out of sync". Only the first
// set is kept.
void DrainMoreResults(mysqlpp::Query& query, mysqlpp::Connection& connection) {
  while (query.more_results()) {
    (void)query.store_next();
    if (connection.errnum() != 0) break;
  }
}

// MySQL++ releases the client library's connection state only when a
// connection was open, so every failed connect leaks it (about 1.6 KB each;
// a game mode that retries forever would grow without end). The state is a
// private member of the driver; the pointer to it is taken the one way the
// language allows (an explicit instantiation is exempt from access checks).
struct DriverStateTag {
  using Member = MYSQL mysqlpp::DBDriver::*;
  friend Member DriverState(DriverStateTag);
};
template <typename Tag, typename Tag::Member kMember>
struct DriverStateAccess {
  friend typename Tag::Member DriverState(Tag) { return kMember; }
};
template struct DriverStateAccess<DriverStateTag, &mysqlpp::DBDriver::mysql_>;
// Reaching inside ties this file to one MySQL++. When the version moves,
// check in dbdriver.h/.cpp that the driver still keeps the client library's
// state as the member `MYSQL mysql_` and still leaves it unreleased after a
// failed connect (if it now releases it, drop ReleaseFailedConnectState);
// then update this check.
static_assert(MYSQLPP_HEADER_VERSION == MYSQLPP_VERSION(3, 2, 5),
              "ReleaseFailedConnectState relies on MySQL++ 3.2.5's private DBDriver::mysql_");

void ReleaseFailedConnectState(mysqlpp::Connection& connection) {
  mysqlpp::DBDriver* driver = connection.driver();
  if (!driver || driver->connected()) return;
  MYSQL& state = driver->*DriverState(DriverStateTag{});
  mysql_close(&state);
  // As MySQL++'s own disconnect leaves it: the next connect starts afresh.
  std::memset(&state, 0, sizeof state);
}

// Set before each connect: MySQL++ starts every connect from a blank client
// state and applies only the options given since the last one. (Each costs a
// few dozen bytes in MySQL++'s own list; an endless wait costs more.)
void ApplyTimeouts(mysqlpp::Connection& connection) {
  connection.set_option(new mysqlpp::ConnectTimeoutOption(kSqlConnectTimeoutS));
  connection.set_option(new mysqlpp::ReadTimeoutOption(kSqlReadWriteTimeoutS));
  connection.set_option(new mysqlpp::WriteTimeoutOption(kSqlReadWriteTimeoutS));
}

// Errors after which the connection is gone for good: the client library
// does not notice by itself, so without closing it the game mode would see
// a connection that fails every statement and could never connect again.
bool IsConnectionLost(int error) {
  // 4031: a MySQL server's disconnect of an idle client.
  constexpr int kClientInteractionTimeout = 4031;
  switch (error) {
    case CR_SERVER_GONE_ERROR:
    case CR_SERVER_LOST:
    case CR_SERVER_LOST_EXTENDED:
    case ER_CONNECTION_KILLED:
    case ER_SERVER_SHUTDOWN:
    case ER_NET_PACKET_TOO_LARGE:  // the server hangs up after it
    case kClientInteractionTimeout:
      return true;
    default:
      return false;
  }
}

// The number in row 0, column 0 of an answer; 0 when there is none. A
// statement fragment can make the answer empty, NULL or no number at all, so
// every step is checked (the client library's count_rows indexes row 0 of
// whatever came back).
uint64_t CountOf(const mysqlpp::StoreQueryResult& result) {
  if (!result || result.num_rows() == 0 || result[0].size() == 0) return 0;
  const mysqlpp::String& count = result[0][0];
  if (count.is_null() || !count.data()) return 0;
  uint64_t value = 0;
  const char* begin = count.data();
  const auto [end, error] = std::from_chars(begin, begin + count.length(), value);
  if (error != std::errc() || end == begin) return 0;
  return value;
}

}  // namespace

mysqlpp::Connection& SqlConnection() {
  // Exceptions off: failures are return values. Some calls throw anyway, so
  // every use below sits inside a catch-all.
  static mysqlpp::Connection connection(false);
  return connection;
}

const mysqlpp::StoreQueryResult& SqlStoredResult() {
  static const mysqlpp::StoreQueryResult kEmpty;
  const auto& holder = StoredResultHolder();
  return holder ? *holder : kEmpty;
}

SqlManager::~SqlManager() { Disconnect(); }

bool SqlManager::IsConnected() const {
  try {
    return SqlConnection().connected();
  } catch (...) {
    return false;
  }
}

void SqlManager::Connect(const char* server, const char* user, const char* password,
                         const char* database) {
  if (!server || !user || !password || !database) return;
  if (IsConnected()) return;
  LogPrint(1, "[SQL] Attempting to connect to the MySQL server [%s@%s]...", server, database);
  try {
    ApplyTimeouts(SqlConnection());
    SqlConnection().connect(database, server, user, password, 0);
  } catch (...) {
    // The outcome is read from the connection itself below.
  }
  if (IsConnected()) {
    LogPrint(1, "[SQL] The connection to the MySQL server has succeeded.");
  } else {
    ReleaseFailedConnectState(SqlConnection());
    LogPrint(1, "[SQL] The connection to the MySQL server failed.");
  }
}

void SqlManager::Disconnect() {
  if (!IsConnected()) return;
  try {
    SqlConnection().disconnect();
  } catch (...) {
  }
  LogPrint(1, "[SQL] The connection to the MySQL server has terminated.");
}

void SqlManager::CloseIfConnectionLost() {
  int error = 0;
  try {
    error = SqlConnection().errnum();
  } catch (...) {
  }
  if (IsConnectionLost(error)) Disconnect();
}

void SqlManager::Query(std::string_view statement) {
  if (!IsConnected()) return;
  auto& holder = StoredResultHolder();
  // Dropped first: the previous rows are gone whatever this query does, and a
  // huge old result is not held while the new one arrives.
  holder.reset();
  mysqlpp::Connection& connection = SqlConnection();
  try {
    mysqlpp::Query query = connection.query();
    // Built in place (no copy of the rows); every byte of the statement goes
    // to the server, NULs included.
    std::unique_ptr<mysqlpp::StoreQueryResult> result(
        new mysqlpp::StoreQueryResult(query.store(statement.data(), statement.size())));
    const bool valid = static_cast<bool>(*result);
    const std::string error = connection.error();
    DrainMoreResults(query, connection);
    holder = std::move(result);
    if (!valid && !error.empty()) {
      LogPrint(1, "[SQL] The MySQL query has encountered an error. [%s]", error.c_str());
    }
  } catch (const std::exception& e) {
    holder.reset();
    const char* error = connection.error();
    LogPrint(1, "[SQL] The MySQL query has encountered an error. [%s]",
             error && *error ? error : e.what());
  } catch (...) {
    holder.reset();
  }
  CloseIfConnectionLost();
}

int32_t SqlManager::GetNumberOfReturnedLines() const {
  const size_t rows = SqlStoredResult().num_rows();
  if (rows == 0) return 0;
  return static_cast<int32_t>(std::min<size_t>(rows - 1, INT32_MAX));
}

std::string SqlManager::GetReturnedLineData(int16_t row) const {
  if (!IsConnected()) return kSqlNoRow;
  try {
    const mysqlpp::StoreQueryResult& result = SqlStoredResult();
    if (row < 0 || static_cast<size_t>(row) >= result.num_rows()) return kSqlNoRow;
    const mysqlpp::Row& fields = result[static_cast<size_t>(row)];
    std::string text;
    const size_t count = fields.size();
    for (size_t i = 0; i < count && text.size() < kMaxSqlRowText; ++i) {
      const mysqlpp::String& field = fields[i];
      const size_t room = kMaxSqlRowText - text.size();
      if (field.data() && field.length() > 0) {
        text.append(field.data(), std::min(field.length(), room));
      }
      if (i + 1 < count && text.size() < kMaxSqlRowText) text += '|';
    }
    return text;
  } catch (...) {
    return kSqlNoRow;
  }
}

uint64_t SqlManager::GetRowCountInTable(const char* table) {
  if (!table || !*table || !IsConnected()) return 0;
  uint64_t count = 0;
  try {
    // The name is the script's statement fragment, as in a query: "db.t" or
    // "t WHERE id <= 10" count too.
    const std::string statement = std::string("SELECT COUNT(*) FROM ") + table;
    mysqlpp::Connection& connection = SqlConnection();
    mysqlpp::Query query = connection.query();
    const mysqlpp::StoreQueryResult result = query.store(statement.data(), statement.size());
    DrainMoreResults(query, connection);
    count = CountOf(result);
  } catch (...) {
    count = 0;
  }
  CloseIfConnectionLost();
  return count;
}

void SqlManager::SelectDatabase(const char* name) {
  if (!name || !*name || !IsConnected()) return;
  try {
    SqlConnection().select_db(name);
  } catch (...) {
  }
  CloseIfConnectionLost();
}

void SqlManager::DropDatabase(const char* name) {
  if (!name || !*name || !IsConnected()) return;
  try {
    // The name is the script's fragment too ("IF EXISTS x").
    SqlConnection().query().exec(std::string("DROP DATABASE ") + name);
  } catch (...) {
  }
  CloseIfConnectionLost();
}

SqlManager* GetSqlManager() { return gSqlManager; }

void ReplaceSqlManager() {
  DestroySqlManager();
  gSqlManager = new SqlManager();
}

void DestroySqlManager() {
  SqlManager* old = gSqlManager;
  gSqlManager = nullptr;
  delete old;
}
