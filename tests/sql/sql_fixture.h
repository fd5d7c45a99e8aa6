// What the SQL tests share: the MariaDB server the test script started, a
// database of the test's own (unique per process and test, dropped at the
// end), an administrative connection of its own to prepare and inspect data
// behind the code's back, and a temporary working directory for the log.
#pragma once

#include <gtest/gtest.h>
#include <mysql++.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "script/script_host.h"
#include "support/services.h"
#include "support/temp_dir.h"

namespace sqltest {

inline int databaseCounter = 0;

class SqlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service_ = support::MysqlFromEnv();
    if (!service_) GTEST_SKIP() << "no MariaDB: run through scripts/test.sh or start-mariadb.sh";
    chdir_ = std::make_unique<support::ScopedChdir>(dir_.Path());
    database_ = "qlm_sql_" + std::to_string(getpid()) + "_" + std::to_string(++databaseCounter);
    ASSERT_TRUE(admin_.connect(nullptr, service_->Server().c_str(), User(), Password()))
        << admin_.error();
    Admin("CREATE DATABASE " + database_);
    ASSERT_TRUE(admin_.select_db(database_)) << admin_.error();
  }
  void TearDown() override {
    for (const std::string& db : {database_, database_ + "_b"}) {
      if (admin_.connected()) admin_.query("DROP DATABASE IF EXISTS " + db).exec();
    }
    chdir_.reset();
  }
  // Statements on the administrative connection; the test fails when the
  // server refuses one.
  void Admin(std::initializer_list<std::string> statements) {
    for (const std::string& statement : statements) {
      mysqlpp::Query query = admin_.query();
      EXPECT_TRUE(query.exec(statement)) << statement << ": " << query.error();
    }
  }
  void Admin(const std::string& statement) { Admin({statement}); }
  // "127.0.0.1:PORT" as the start script exports it (TCP).
  std::string Host() const {
    if (service_->host.empty()) return service_->Server();
    return service_->host;
  }
  const char* User() const { return service_->user.c_str(); }
  const char* Password() const { return service_->password.c_str(); }
  // The log of the current working directory (a script host may have moved
  // it into its own).
  std::string Log() const {
    std::ifstream in("server_log.txt", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  size_t LogCount(std::string_view needle) const {
    return scripttest::CountOccurrences(Log(), needle);
  }

  std::optional<support::MysqlService> service_;
  support::TempDir dir_;
  std::unique_ptr<support::ScopedChdir> chdir_;
  std::string database_;
  mysqlpp::Connection admin_{false};
};

// The manager's log lines (the start of those that go on).
inline constexpr const char* kAttempt = "[SQL] Attempting to connect to the MySQL server [";
inline constexpr const char* kSucceeded = "[SQL] The connection to the MySQL server has succeeded.";
inline constexpr const char* kFailed = "[SQL] The connection to the MySQL server failed.";
inline constexpr const char* kTerminated =
    "[SQL] The connection to the MySQL server has terminated.";
inline constexpr const char* kQueryError = "[SQL] The MySQL query has encountered an error. [";

}  // namespace sqltest
