// Shared by the IRC tests: a loopback TCP peer that plays an IRC server or
// user line by line, and the tests' recording sink installed for its lifetime.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/seam.h"
#include "support/test_client.h"

namespace irctest {

inline bool WaitFor(const std::function<bool()>& cond, uint32_t ms = 5000) {
  return support::WaitUntil(cond, ms);
}

// One TCP connection read and written in whole lines.
class LinePeer {
 public:
  explicit LinePeer(int fd = -1) : fd_(fd) {}
  ~LinePeer() { Close(); }
  LinePeer(LinePeer&& o) noexcept
      : fd_(std::exchange(o.fd_, -1)), buffer_(std::move(o.buffer_)), eof_(o.eof_) {}

  bool Valid() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  void Close() {
    if (fd_ >= 0) platform::TcpClose(fd_);
    fd_ = -1;
  }
  void Send(const std::string& raw) const {
    ASSERT_TRUE(platform::TcpSendAll(fd_, raw.data(), raw.size()));
  }
  void SendLine(const std::string& line) const { Send(line + "\r\n"); }

  // The next line (without "\r\n"), or "<timeout>" / "<eof>".
  std::string ReadLine(uint32_t ms = 5000) {
    std::string line = "<timeout>";
    WaitFor([&] {
      char chunk[8192];
      while (!eof_ && platform::TcpReadable(fd_) == 1) {
        const int n = platform::TcpRecv(fd_, chunk, sizeof chunk);
        if (n <= 0) eof_ = true;  // closed, or reset
        if (n > 0) buffer_.append(chunk, static_cast<size_t>(n));
      }
      const size_t end = buffer_.find("\r\n");
      if (end != std::string::npos) {
        line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return true;
      }
      if (eof_) line = "<eof>";
      return eof_;
    }, ms);
    return line;
  }
  // Lines up to and including the first that begins with `prefix`, or up to
  // "<timeout>" / "<eof>" (so ReadUntil("<eof>") reads until the close).
  std::vector<std::string> ReadUntil(const std::string& prefix, uint32_t ms = 5000) {
    std::vector<std::string> lines;
    for (;;) {
      lines.push_back(ReadLine(ms));
      const std::string& l = lines.back();
      if (l.rfind(prefix, 0) == 0 || l == "<timeout>" || l == "<eof>") return lines;
    }
  }

 private:
  int fd_ = -1;
  std::string buffer_;
  bool eof_ = false;
};

// A listening socket on a free loopback port: the "IRC server" a bot
// connects to.
class FakeIrcServer {
 public:
  FakeIrcServer() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(fd_, 16) != 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      ADD_FAILURE() << "cannot listen on loopback";
    }
    port_ = ntohs(a.sin_port);
  }
  ~FakeIrcServer() {
    if (fd_ >= 0) close(fd_);
  }
  uint16_t Port() const { return port_; }
  // The next connection (a bot that has connected), or an invalid peer.
  LinePeer Accept() const {
    pollfd p{fd_, POLLIN, 0};
    return LinePeer(poll(&p, 1, 5000) == 1 ? accept(fd_, nullptr, nullptr) : -1);
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// The recording sink, installed while it lives ("join 0 nick #chan",
// "leave 0 nick #chan 2", "irccommand 0 nick #chan line").
struct Sink : support::RecordingSink {
  Sink() { SetScriptEventSink(this); }
  ~Sink() override { SetScriptEventSink(nullptr); }
};

}  // namespace irctest
