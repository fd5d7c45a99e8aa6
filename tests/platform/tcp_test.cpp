#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/test_client.h"

namespace {

using namespace platform;

// A listening socket on a free loopback port, a TcpConnect client to it and
// the server's end of that connection.
struct Connected {
  int l = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int c = -1;
  int s = -1;
  uint16_t port = 0;
  explicit Connected(int backlog = 16, bool connect = true) {
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof a;
    EXPECT_EQ(bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(listen(l, backlog), 0);
    EXPECT_EQ(getsockname(l, reinterpret_cast<sockaddr*>(&a), &len), 0);
    port = ntohs(a.sin_port);
    if (!connect) return;
    c = TcpConnect("127.0.0.1", port, 2000);
    EXPECT_GE(c, 0) << "TcpConnect to our own listener";
    if (c < 0) return;
    pollfd p{l, POLLIN, 0};
    const int ready = poll(&p, 1, 5000);
    EXPECT_EQ(ready, 1) << "the listener never saw the connection";
    if (ready == 1) s = accept(l, nullptr, nullptr);
    EXPECT_GE(s, 0);
  }
  ~Connected() {
    TcpClose(c);
    close(s);
    close(l);
  }
};

// Sending, receiving and failed sends are covered by the IRC bot's tests.
TEST(Tcp, ReadableAndTheEndOfTheStream) {
  Connected k;
  char buf[64];
  // Nothing waits, yet no error.
  EXPECT_EQ(TcpReadable(k.c), 0);
  EXPECT_EQ(TcpRecv(k.c, buf, sizeof buf), -1);
  ASSERT_EQ(send(k.s, "x", 1, 0), 1);
  ASSERT_TRUE(support::WaitUntil([&] { return TcpReadable(k.c) == 1; }, 5000));
  EXPECT_EQ(TcpRecv(k.c, buf, sizeof buf), 1);
  // The peer closing shows as readable, then as the end of the stream.
  close(k.s);
  k.s = -1;
  ASSERT_TRUE(support::WaitUntil([&] { return TcpReadable(k.c) == 1; }, 5000));
  EXPECT_EQ(TcpRecv(k.c, buf, sizeof buf), 0);
  TcpClose(-1);  // does nothing
  EXPECT_EQ(TcpReadable(-1), -1);
  EXPECT_EQ(TcpRecv(-1, nullptr, 0), -1);
  EXPECT_FALSE(TcpSendAll(-1, "x", 0)) << "no connection, even with nothing to send";
}

TEST(Tcp, LargeSendWaitsForRoomAndArrivesIntact) {
  Connected k;
  std::string data(8 << 20, '\0');
  std::string received;
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 2654435761u >> 13);
  std::thread reader([&] {  // slow at first, so the sender's socket buffer fills up
    char buf[65536];
    while (received.size() < data.size()) {
      const ssize_t n = recv(k.s, buf, sizeof buf, 0);
      if (n <= 0) return;
      received.append(buf, n);
      if (received.size() < (1u << 20)) SleepMs(1);
    }
  });
  EXPECT_TRUE(TcpSendAll(k.c, data.data(), data.size()));
  reader.join();
  EXPECT_EQ(received.size(), data.size());
  EXPECT_TRUE(received == data) << "the bytes arrived changed";
}

TEST(Tcp, RefusedStalledAndMalformedTargetsFail) {
  const uint16_t port = Connected(16, false).port;  // closed again: nothing listens there now
  EXPECT_EQ(TcpConnect("127.0.0.1", port, 10000), -1);
  for (const char* bad : {"not-an-address", "127.0.0.1.5", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(TcpConnect(bad, 80, 100), -1) << (bad ? bad : "null");
  }
  // A listener that never accepts stops answering handshakes once its queue is
  // full; the connect then gives up at its time limit. Where none stalls, skip.
  Connected l(1, false);
  std::vector<int> held;
  uint64_t elapsed = 0;
  for (int i = 0; i < 64; ++i) {
    const uint64_t start = MonotonicUs();
    const int c = TcpConnect("127.0.0.1", l.port, 300);
    if (c < 0) {
      elapsed = MonotonicUs() - start;
      break;
    }
    held.push_back(c);
  }
  for (int c : held) TcpClose(c);
  if (elapsed == 0) GTEST_SKIP() << "this network stack never lets a handshake stall";
  EXPECT_GE(elapsed, 250000u);
}

TEST(Resolve, NamesAndDottedText) {
  const std::pair<const char*, const char*> rows[] = {
      {"localhost", "127.0.0.1"},
      {"127.0.0.1", "127.0.0.1"},
      {"10.1.2.3", "10.1.2.3"},
  };
  char out[64];
  for (const auto& [host, ip] : rows) {
    ASSERT_TRUE(ResolveHostIPv4(host, out, sizeof out)) << host;
    EXPECT_STREQ(out, ip) << host;
  }
  for (const char* bad : {"no-such-host.invalid", "", static_cast<const char*>(nullptr)}) {
    EXPECT_FALSE(ResolveHostIPv4(bad, out, sizeof out)) << (bad ? bad : "null");
  }
  char tiny[4];
  EXPECT_FALSE(ResolveHostIPv4("127.0.0.1", tiny, sizeof tiny)) << "the text does not fit";
}

}  // namespace
