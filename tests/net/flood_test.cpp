// A remote that floods calls must not hold the application inside Receive().
#include <gtest/gtest.h>

#include <algorithm>

#include "net/peer.h"
#include "support/test_client.h"

namespace {

TEST(FloodTest, ReceiveReturnsAfterAFixedNumberOfCallsAndLosesNone) {
  net::Peer server;
  ASSERT_TRUE(server.Startup(4, 1, 0, "127.0.0.1"));
  int handled = 0;
  server.RegisterAsRemoteProcedureCall("Flood", [&](net::RPCParameters*) { ++handled; });

  support::TestClient client;
  ASSERT_TRUE(client.Connect(server.GetBoundPort()));
  constexpr int kCalls = 1500;
  net::BitStream payload;
  payload.Write(uint32_t{7});
  for (int i = 0; i < kCalls; ++i) ASSERT_TRUE(client.SendRpc("Flood", payload));
  ASSERT_TRUE(client.SendRaw(std::vector<uint8_t>{200}));

  int mostInOneCall = 0;
  bool marker = false;
  ASSERT_TRUE(support::WaitUntil([&] {
    const int before = handled;
    while (net::Packet* p = server.Receive()) {
      if (p->data[0] == 200) marker = true;
      server.DeallocatePacket(p);
    }
    mostInOneCall = std::max(mostInOneCall, handled - before);
    return marker;
  }, 10000));
  EXPECT_EQ(handled, kCalls);
  EXPECT_LE(mostInOneCall, 256);
  EXPECT_GT(mostInOneCall, 0);
}

}  // namespace
