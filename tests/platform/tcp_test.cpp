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
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    EXPECT_TRUE(bind(l, (sockaddr*)&a, sizeof a) == 0 && listen(l, backlog) == 0 && getsockname(l, (sockaddr*)&a, &len) == 0);
    port = ntohs(a.sin_port);
    pollfd p{l, POLLIN, 0};
    if (connect && (c = TcpConnect("127.0.0.1", port, 2000)) >= 0 && poll(&p, 1, 5000) == 1) s = accept(l, nullptr, nullptr);
    EXPECT_TRUE(!connect || s >= 0);
  }
  ~Connected() { TcpClose(c), close(s), close(l); }
};

TEST(Tcp, ConnectSendReceiveAndClose) {
  Connected k;
  EXPECT_EQ(TcpReadable(k.c), 0);
  char buf[64];
  EXPECT_EQ(TcpRecv(k.c, buf, sizeof buf), -1) << "nothing waits, yet no error";
  ASSERT_TRUE(TcpSendAll(k.c, "NICK bot\r\n", 10));
  std::string atServer(10, '\0');
  ASSERT_EQ(recv(k.s, atServer.data(), 10, MSG_WAITALL), 10);
  EXPECT_EQ(atServer, "NICK bot\r\n");
  ASSERT_EQ(send(k.s, ":srv 001 bot\r\n", 14, 0), 14);
  std::string got;
  ASSERT_TRUE(support::WaitUntil([&] {
    const int n = TcpReadable(k.c) == 1 ? TcpRecv(k.c, buf, sizeof buf) : 0;
    return got.append(buf, n > 0 ? n : 0).size() >= 14;
  }, 5000));
  EXPECT_EQ(got, ":srv 001 bot\r\n");
  // The peer closing shows as readable, then as the end of the stream; then
  // sends fail (the first may still be taken) without SIGPIPE.
  close(k.s);
  k.s = -1;
  ASSERT_TRUE(support::WaitUntil([&] { return TcpReadable(k.c) == 1; }, 5000));
  EXPECT_EQ(TcpRecv(k.c, buf, sizeof buf), 0);
  const std::string chunk(4096, 'x');
  EXPECT_TRUE(support::WaitUntil([&] { return !TcpSendAll(k.c, chunk.data(), chunk.size()); }, 5000));
  EXPECT_EQ(TcpReadable(-1) + TcpRecv(-1, nullptr, 0), -2);
  TcpClose(-1);
}

TEST(Tcp, LargeSendWaitsForRoomAndArrivesIntact) {
  Connected k;
  std::string data(8 << 20, '\0'), received;
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 2654435761u >> 13);
  std::thread reader([&] {  // slow at first, so the sender's socket buffer fills up
    char buf[65536];
    for (ssize_t n = 0; received.size() < data.size() && (n = recv(k.s, buf, sizeof buf, 0)) > 0;) {
      received.append(buf, n);
      if (received.size() < (1u << 20)) SleepMs(1);
    }
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
  for (const char* host : {"localhost", "127.0.0.1", "10.1.2.3"}) {
    ASSERT_TRUE(ResolveHostIPv4(host, out, sizeof out)) << host;
    EXPECT_STREQ(out, host[0] == '1' && host[1] == '0' ? "10.1.2.3" : "127.0.0.1");
  }
  for (const char* bad : {"no-such-host.invalid", "", static_cast<const char*>(nullptr)})
    EXPECT_FALSE(ResolveHostIPv4(bad, out, sizeof out));
  EXPECT_FALSE(ResolveHostIPv4("127.0.0.1", tiny, sizeof tiny));
}

}  // namespace
