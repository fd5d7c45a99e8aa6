// Shared by the IRC tests: a loopback TCP peer that plays an IRC server or
// user line by line, and a script-event sink that records what a bot raises.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/events.h"
#include "support/null_event_sink.h"
#include "support/test_client.h"
#include "platform/platform.h"

namespace irctest {

// Waits for `cond` with a deadline (the harness's own wait).
inline bool WaitFor(const std::function<bool()>& cond, uint32_t ms = 5000) {
  return support::WaitUntil(cond, ms);
}

// One TCP connection read and written in whole lines.
class LinePeer {
 public:
  LinePeer() = default;
  explicit LinePeer(int fd) : fd_(fd) {}
  ~LinePeer() { Close(); }
  LinePeer(const LinePeer&) = delete;
  LinePeer& operator=(const LinePeer&) = delete;
  LinePeer(LinePeer&& o) noexcept : fd_(o.fd_), buffer_(std::move(o.buffer_)), eof_(o.eof_) {
    o.fd_ = -1;
  }

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
      Pull();
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
  // Lines up to and including the first one that begins with `prefix`; the
  // last element is "<timeout>" or "<eof>" when it never came.
  std::vector<std::string> ReadUntil(const std::string& prefix, uint32_t ms = 5000) {
    std::vector<std::string> lines;
    for (;;) {
      lines.push_back(ReadLine(ms));
      const std::string& l = lines.back();
      if (l.rfind(prefix, 0) == 0 || l == "<timeout>" || l == "<eof>") return lines;
    }
  }
  // Everything that arrives until `quietMs` pass without data, then forgets
  // it all; the text read.
  std::string Drain(uint32_t quietMs) {
    std::string all = std::move(buffer_);
    buffer_.clear();
    uint64_t quietSince = platform::MonotonicUs();
    while (platform::MonotonicUs() - quietSince < uint64_t{quietMs} * 1000) {
      Pull();
      if (!buffer_.empty()) {
        all += buffer_;
        buffer_.clear();
        quietSince = platform::MonotonicUs();
      }
      platform::SleepMs(1);
    }
    return all;
  }
  // True once the other side has closed the connection.
  bool WaitForEof(uint32_t ms = 5000) {
    return WaitFor([&] {
      Pull();
      return eof_;
    }, ms);
  }

 private:
  void Pull() {
    char chunk[8192];
    while (!eof_ && platform::TcpReadable(fd_) == 1) {
      const int n = platform::TcpRecv(fd_, chunk, sizeof chunk);
      if (n <= 0) {
        eof_ = true;  // closed, or reset
        return;
      }
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

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
      return;
    }
    port_ = ntohs(a.sin_port);
  }
  ~FakeIrcServer() {
    if (fd_ >= 0) close(fd_);
  }
  FakeIrcServer(const FakeIrcServer&) = delete;
  FakeIrcServer& operator=(const FakeIrcServer&) = delete;

  uint16_t Port() const { return port_; }
  // The next connection (a bot that has connected), or an invalid peer.
  LinePeer Accept() const {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 5000) != 1) return LinePeer();
    return LinePeer(accept(fd_, nullptr, nullptr));
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// Records the IRC events and "!" lines; installed for its lifetime. `onEvent`
// runs inside each raise (a script handler's stand-in).
struct RecordingSink final : NullEventSink {
  // "join 0 nick #chan", "leave 1 nick #chan 2", "cmd 0 nick #chan line"
  std::vector<std::string> events;
  std::function<void(const std::string&)> onEvent;

  RecordingSink() { SetScriptEventSink(this); }
  ~RecordingSink() override { SetScriptEventSink(nullptr); }

  void Record(std::string e) {
    events.push_back(e);
    if (onEvent) onEvent(e);
  }
  void Raise(const ScriptEvent& e) override {
    if (e.kind == ScriptEventKind::kIRCUserJoin || e.kind == ScriptEventKind::kIRCUserLeave) {
      Record(DescribeEvent(e));
    }
  }
  void DispatchIRCCommand(uint8_t bot, const char* nick, const char* channel,
                          const char* line) override {
    Record("cmd " + std::to_string(bot) + " " + nick + " " + channel + " " + line);
  }
};

}  // namespace irctest
