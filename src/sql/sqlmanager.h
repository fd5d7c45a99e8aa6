// The game mode's one MySQL connection and the rows of its last query, as the
// "SQL" script library reaches them. Everything runs synchronously on the main
// thread: the server waits for the database.
//
// The connection and the stored result belong to the process, not to the
// manager: a restart destroys the manager (closing the connection) but the
// rows of the last query stay until the next query replaces them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mysqlpp {
class Connection;
class StoreQueryResult;
}  // namespace mysqlpp

// The longest row text GetReturnedLineData hands out; longer rows are cut.
inline constexpr size_t kMaxSqlRowText = 1023;
// A database that accepts the connection and then stays silent would hold the
// main loop for ever; these bound the handshake and each read and write.
inline constexpr unsigned kSqlConnectTimeoutS = 10;
inline constexpr unsigned kSqlReadWriteTimeoutS = 60;
// What a row read gives when there is no such row (or no connection).
inline constexpr const char* kSqlNoRow = "NULLED";

class SqlManager {
 public:
  SqlManager() = default;
  // Closes the connection when it is open, with its log line.
  ~SqlManager();
  SqlManager(const SqlManager&) = delete;
  SqlManager& operator=(const SqlManager&) = delete;

  // Only when not connected and all four texts are given (null = missing):
  // logs the attempt and its outcome. `server` is "host", "host:port" or a
  // socket path; an empty `database` selects none.
  void Connect(const char* server, const char* user, const char* password, const char* database);
  // Closes the connection when it is open and logs that it terminated.
  void Disconnect();
  void Close() { Disconnect(); }
  bool IsConnected() const;

  // Runs the statement (every byte of the view) and keeps its rows in place
  // of the previous query's, whatever the outcome. A failure with an error
  // text is logged. Does nothing while not connected.
  //
  // Here and in the three below, a statement that fails because the server
  // has gone or the connection was lost closes the connection (with its log
  // line), so the script sees it closed and can connect again.
  void Query(std::string_view statement);
  // The last stored row's number: rows - 1, and 0 for none (and for one).
  int32_t GetNumberOfReturnedLines() const;
  // The row's fields joined by "|", at most kMaxSqlRowText bytes; kSqlNoRow
  // when not connected or there is no such row.
  std::string GetReturnedLineData(int16_t row) const;
  // "SELECT COUNT(*) FROM " and the name as it is; 0 for no name, no
  // connection or a failure.
  uint64_t GetRowCountInTable(const char* table);
  // Neither reports its outcome; a missing or empty name does nothing.
  // DropDatabase sends "DROP DATABASE " and the name as it is.
  void SelectDatabase(const char* name);
  void DropDatabase(const char* name);

 private:
  void CloseIfConnectionLost();
};

// The process's connection (exceptions off) and stored result.
mysqlpp::Connection& SqlConnection();
const mysqlpp::StoreQueryResult& SqlStoredResult();

// The current manager; null before start-up and after DestroySqlManager.
SqlManager* GetSqlManager();
// Destroys the current manager (closing its connection) and publishes a new
// one: start-up and the restart.
void ReplaceSqlManager();
void DestroySqlManager();
