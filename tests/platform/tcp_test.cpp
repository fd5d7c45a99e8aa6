#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/test_client.h"

namespace {

using namespace platform;

// A listening socket on a free loopback port, a TcpConnect client to it and
// the server's end of that connection.
struct Connected {
  int l = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), c = -1, s = -1;
  uint16_t port = 0;
  explicit Connected(int backlog = 16, bool connect = true) {
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof a;
    EXPECT_TRUE(bind(l, (sockaddr*)&a, sizeof a) == 0 && listen(l, backlog) == 0 && getsockname(l, (sockaddr*)&a, &len) == 0);
    port = ntohs(a.sin_port);
    pollfd p{l, POLLIN, 0};
    if (connect && (c = TcpConnect("127.0.0.1", port, 2000)) >= 0 && poll(&p, 1, 5000) == 1) s = accept(l, nullptr, nullptr);
    EXPECT_TRUE(!connect || s >= 0);
  }
  ~Connected() { TcpClose(c), close(s), close(l); }
};

// Sending, receiving and failed sends are covered by the IRC bot's tests.
TEST(Tcp, ReadableAndTheEndOfTheStream) {
  Connected k;
  char buf[64];
  EXPECT_EQ(TcpReadable(k.c) * 10 + TcpRecv(k.c, buf, sizeof buf), -1) << "nothing waits, yet no error";
  ASSERT_EQ(send(k.s, "x", 1, 0), 1);
  ASSERT_TRUE(support::WaitUntil([&] { return TcpReadable(k.c) == 1; }, 5000) && TcpRecv(k.c, buf, sizeof buf) == 1);
  // The peer closing shows as readable, then as the end of the stream.
  close(k.s), k.s = -1;
  ASSERT_TRUE(support::WaitUntil([&] { return TcpReadable(k.c) == 1; }, 5000) && TcpRecv(k.c, buf, sizeof buf) == 0);
  EXPECT_EQ((TcpClose(-1), TcpReadable(-1) + TcpRecv(-1, nullptr, 0)), -2);
}

TEST(Tcp, LargeSendWaitsForRoomAndArrivesIntact) {
  Connected k;
  std::string data(8 << 20, '\0'), received;
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 2654435761u >> 13);
  std::thread reader([&] {  // slow at first, so the sender's socket buffer fills up
    char buf[65536];
    for (ssize_t n = 0; received.size() < data.size() && (n = recv(k.s, buf, sizeof buf, 0)) > 0;)
      if (received.append(buf, n).size() < (1u << 20)) SleepMs(1);
  });
  EXPECT_TRUE(TcpSendAll(k.c, data.data(), data.size()));
  reader.join();
  EXPECT_TRUE(received == data);
}

TEST(Tcp, RefusedStalledAndMalformedTargetsFail) {
  uint16_t port = Connected(16, false).port;  // closed again: nothing listens there now
  EXPECT_EQ(TcpConnect("127.0.0.1", port, 10000), -1);
  for (const char* bad : {"not-an-address", "127.0.0.1.5", static_cast<const char*>(nullptr)})
    EXPECT_EQ(TcpConnect(bad, 80, 100), -1);
  // A listener that never accepts stops answering handshakes once its queue is
  // full; the connect then gives up at its time limit. Where none stalls, skip.
  Connected l(1, false);
  std::vector<int> held;
  uint64_t elapsed = 0;
  for (int i = 0, c = 0; i < 64 && c >= 0; ++i) {
    const uint64_t start = MonotonicUs();
    if ((c = TcpConnect("127.0.0.1", l.port, 300)) >= 0) held.push_back(c);
    elapsed = c < 0 ? MonotonicUs() - start : 0;
  }
  for (int c : held) TcpClose(c);
  if (elapsed == 0) GTEST_SKIP() << "this network stack never lets a handshake stall";
  EXPECT_GE(elapsed, 250000u);
}

TEST(Resolve, NamesAndDottedText) {
  char out[64], tiny[4];
  for (const char* host : {"localhost", "127.0.0.1", "10.1.2.3"})
    EXPECT_EQ(ResolveHostIPv4(host, out, sizeof out) ? out : "fails", std::string(host[1] == '0' ? "10.1.2.3" : "127.0.0.1")) << host;
  for (const char* bad : {"no-such-host.invalid", "", static_cast<const char*>(nullptr)})
    EXPECT_FALSE(ResolveHostIPv4(bad, out, sizeof out) || ResolveHostIPv4("127.0.0.1", tiny, sizeof tiny)) << (bad ? bad : "null");
}

}  // namespace
