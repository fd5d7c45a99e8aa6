// Shared by the IRC tests: a loopback TCP peer that plays an IRC server or
// user line by line, and the tests' recording sink installed for its lifetime.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/seam.h"
#include "support/test_client.h"

namespace irctest {

inline bool WaitFor(const std::function<bool()>& cond, uint32_t ms = 5000) { return support::WaitUntil(cond, ms); }

// One TCP connection read and written in whole lines.
class LinePeer {
 public:
  explicit LinePeer(int fd = -1) : fd_(fd) {}
  LinePeer(LinePeer&& o) noexcept : fd_(std::exchange(o.fd_, -1)), buffer_(std::move(o.buffer_)), eof_(o.eof_) {}
  ~LinePeer() { Close(); }
  int Fd() const { return fd_; }
  void Close() {
    if (fd_ >= 0) platform::TcpClose(std::exchange(fd_, -1));
  }
  void Send(const std::string& raw) const { ASSERT_TRUE(platform::TcpSendAll(fd_, raw.data(), raw.size())); }
  void SendLine(const std::string& line) const { Send(line + "\r\n"); }

  // The next line (without "\r\n"), or "<timeout>" / "<eof>".
  std::string ReadLine(uint32_t ms = 5000) {
    char chunk[8192];
    for (const uint64_t end = platform::MonotonicUs() + ms * uint64_t{1000};;) {
      if (const size_t at = buffer_.find("\r\n"); at != std::string::npos) {
        std::string line = buffer_.substr(0, at);
        buffer_.erase(0, at + 2);
        return line;
      }
      pollfd p{fd_, POLLIN, 0};
      const int64_t leftMs = (static_cast<int64_t>(end) - static_cast<int64_t>(platform::MonotonicUs())) / 1000;
      if (eof_ || poll(&p, 1, static_cast<int>(std::max<int64_t>(leftMs, 0))) != 1) return eof_ ? "<eof>" : "<timeout>";
      const int n = platform::TcpRecv(fd_, chunk, sizeof chunk);
      eof_ = n <= 0;  // closed, or reset
      if (n > 0) buffer_.append(chunk, static_cast<size_t>(n));
    }
  }
  // Lines up to and including the first that begins with `prefix`, or up to
  // "<timeout>" / "<eof>" (so ReadUntil("<eof>") reads until the close).
  std::vector<std::string> ReadUntil(const std::string& prefix, uint32_t ms = 5000) {
    std::vector<std::string> lines{ReadLine(ms)};
    while (lines.back().rfind(prefix, 0) != 0 && lines.back() != "<timeout>" && lines.back() != "<eof>") {
      lines.push_back(ReadLine(ms));
    }
    return lines;
  }

 private:
  int fd_;
  std::string buffer_;
  bool eof_ = false;
};

// A listening socket on a free loopback port: the "IRC server" a bot
// connects to.
class FakeIrcServer {
 public:
  FakeIrcServer() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    EXPECT_TRUE(bind(fd_, reinterpret_cast<sockaddr*>(&a), len) == 0 && listen(fd_, 16) == 0 &&
                getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0) << "cannot listen on loopback";
    port_ = ntohs(a.sin_port);
  }
  ~FakeIrcServer() { close(fd_); }
  uint16_t Port() const { return port_; }
  // The next connection (a bot that has connected), or an invalid peer.
  LinePeer Accept() const {
    pollfd p{fd_, POLLIN, 0};
    return LinePeer(poll(&p, 1, 5000) == 1 ? accept(fd_, nullptr, nullptr) : -1);
  }

 private:
  int fd_;
  uint16_t port_ = 0;
};

// The recording sink, installed while it lives ("join 0 nick #chan",
// "leave 0 nick #chan 2", "irccommand 0 nick #chan line").
struct Sink : support::RecordingSink {
  Sink() { SetScriptEventSink(this); }
  ~Sink() override { SetScriptEventSink(nullptr); }
};

}  // namespace irctest
