// Where the test services (MariaDB, the IRC server) run, read from the
// environment that the service scripts export. Each getter returns nothing when
// the service is not configured, so a test can GTEST_SKIP.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace support {

struct MysqlService {
  // QLM_MYSQL_HOST, e.g. "127.0.0.1:3307" (may be empty when a socket is given).
  std::string host;
  std::string user;      // QLM_MYSQL_USER, "root" when unset
  std::string password;  // QLM_MYSQL_PASSWORD, may be empty
  std::string socket;    // QLM_MYSQL_SOCKET, may be empty
  // What to hand to a client library as the server: the socket path when one
  // is set, else the host text.
  const std::string& Server() const { return socket.empty() ? host : socket; }
};

struct IrcService {
  std::string host;   // QLM_IRC_HOST
  uint16_t port = 0;  // QLM_IRC_PORT
};

// The variable's value, or nothing when it is unset or empty.
std::optional<std::string> EnvText(const char* name);

// Present when QLM_MYSQL_HOST or QLM_MYSQL_SOCKET is set.
std::optional<MysqlService> MysqlFromEnv();
// Present when QLM_IRC_HOST is set and QLM_IRC_PORT is a port number.
std::optional<IrcService> IrcFromEnv();

}  // namespace support
