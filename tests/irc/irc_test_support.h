// Shared by the IRC tests: a loopback TCP peer that plays an IRC server or
// user line by line, and the tests' recording sink installed for its lifetime.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/seam.h"
#include "support/test_client.h"

namespace irctest {

inline bool WaitFor(const std::function<bool()>& cond) { return support::WaitUntil(cond, 5000); }

// One TCP connection read and written in whole lines.
struct LinePeer {
  int fd = -1;
  std::string buffer;
  bool eof = false;

  explicit LinePeer(int f = -1) : fd(f) {}
  LinePeer(LinePeer&& o) noexcept
      : fd(std::exchange(o.fd, -1)), buffer(std::move(o.buffer)), eof(o.eof) {}
  ~LinePeer() { platform::TcpClose(fd); }

  void Send(const std::string& raw) const {
    ASSERT_TRUE(platform::TcpSendAll(fd, raw.data(), raw.size()));
  }

  // The next line (without "\r\n"), or "<timeout>" / "<eof>".
  std::string ReadLine(int ms = 5000) {
    char chunk[8192];
    while (buffer.find("\r\n") == std::string::npos) {
      if (eof) return "<eof>";
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, ms) != 1) return "<timeout>";
      const int n = platform::TcpRecv(fd, chunk, sizeof chunk);
      eof = n <= 0;  // closed, or reset
      if (n > 0) buffer.append(chunk, static_cast<size_t>(n));
    }
    std::string line = buffer.substr(0, buffer.find("\r\n"));
    buffer.erase(0, line.size() + 2);
    return line;
  }

  // Lines up to and including the first that begins with `prefix`, or up to
  // "<timeout>" / "<eof>" (so ReadUntil("<eof>") reads until the close).
  std::vector<std::string> ReadUntil(const std::string& prefix) {
    std::vector<std::string> lines{ReadLine()};
    while (!EndsReading(lines.back(), prefix)) lines.push_back(ReadLine());
    return lines;
  }

 private:
  static bool EndsReading(const std::string& line, const std::string& prefix) {
    if (line == "<timeout>") return true;
    if (line == "<eof>") return true;
    return line.rfind(prefix, 0) == 0;
  }
};

// A listening socket on a free loopback port: the "IRC server" a bot connects to.
struct FakeIrcServer {
  int fd = -1;
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};

  FakeIrcServer() {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    socklen_t length = sizeof address;
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(listen(fd, 16), 0);
    EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
  }
  ~FakeIrcServer() { close(fd); }

  uint16_t Port() const { return ntohs(address.sin_port); }

  // The next connection (a bot that has connected), or an invalid peer.
  LinePeer Accept() const {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5000) != 1) return LinePeer(-1);
    return LinePeer(accept(fd, nullptr, nullptr));
  }
};

// The recording sink, installed while it lives ("join 0 nick #chan",
// "leave 0 nick #chan 2", "irccommand 0 nick #chan line").
struct Sink : support::RecordingSink {
  Sink() { SetScriptEventSink(this); }
  ~Sink() override { SetScriptEventSink(nullptr); }
};

}  // namespace irctest
