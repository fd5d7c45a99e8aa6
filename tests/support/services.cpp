#include "support/services.h"

#include <cstdlib>

namespace support {

std::optional<std::string> EnvText(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == '\0') return std::nullopt;
  return std::string(v);
}

std::optional<MysqlService> MysqlFromEnv() {
  auto host = EnvText("QLM_MYSQL_HOST");
  auto socket = EnvText("QLM_MYSQL_SOCKET");
  if (!host && !socket) return std::nullopt;
  MysqlService s;
  s.host = host.value_or("");
  s.socket = socket.value_or("");
  s.user = EnvText("QLM_MYSQL_USER").value_or("root");
  s.password = EnvText("QLM_MYSQL_PASSWORD").value_or("");
  return s;
}

std::optional<IrcService> IrcFromEnv() {
  auto host = EnvText("QLM_IRC_HOST");
  auto port = EnvText("QLM_IRC_PORT");
  if (!host || !port) return std::nullopt;
  char* end = nullptr;
  long p = std::strtol(port->c_str(), &end, 10);
  if (end == port->c_str() || *end != '\0' || p <= 0 || p > 65535) return std::nullopt;
  IrcService s;
  s.host = *host;
  s.port = static_cast<uint16_t>(p);
  return s;
}

}  // namespace support
