// A running in-process server with test clients that join it, a recording
// script-event sink and a frozen server clock (so the periodic steps, the world
// time and the script timers stay out of the way unless a test calls them).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/events.h"
#include "support/null_event_sink.h"
#include "core/join.h"
#include "core/netgame.h"
#include "core/rpc.h"
#include "core/world.h"
#include "net/bitstream.h"
#include "server/server.h"
#include "support/server_fixture.h"
#include "support/test_client.h"

namespace gametest {

// Every event as one line of text, in the order raised.
class RecordingSink : public NullEventSink {
 public:
  std::vector<std::string> events;
  std::function<void(uint8_t)> onConnect;
  std::function<void(uint8_t)> onDisconnect;

  void Raise(const ScriptEvent& e) override {
    events.push_back(DescribeEvent(e));
    const uint8_t p = static_cast<uint8_t>(e.args[0].number);
    if (e.kind == ScriptEventKind::kPlayerConnect && onConnect) onConnect(p);
    if (e.kind == ScriptEventKind::kPlayerDisconnect && onDisconnect) onDisconnect(p);
  }
  void DispatchPlayerCommand(uint8_t p, const char* line) override {
    events.push_back("command " + std::to_string(p) + " " + line);
  }

  // The first number of an event line: the player it names.
  static int PlayerOf(const std::string& event) {
    const size_t space = event.find(' ');
    return space == std::string::npos ? -1 : std::atoi(event.c_str() + space + 1);
  }
};

inline uint32_t frozenNowMs = 500000;
inline uint32_t FrozenNow() { return frozenNowMs; }

inline uint32_t GoodVersion() { return net::SuperFastHash("wkPZD", 5); }

inline std::vector<std::string> AllServerRpcs() {
  return {"InvalidVersion", "Internal_RestartTheGame", "InvalidName_Physical", "InvalidName",
          "InitialConnection", "MarkerData", "PickupData", "AmmunationData", "ObjectData",
          "IconData", "ActorData", "SpawnData", "VehicleData", "PlayerData", "NewSpawn",
          "DownloadComplete", "PlayerConnect", "PlayerDisconnect", "PlayerChat", "PlayerDeath",
          "SendVehicleEntry", "Probe", "Respawn_ExplodeVehicle"};
}

inline void JoinPayload(net::BitStream& out, const std::string& name, uint32_t version) {
  out.WriteCompressed(static_cast<uint8_t>(name.size()));
  out.WriteBytes(name.data(), static_cast<uint32_t>(name.size()));
  out.WriteCompressed(version);
}

// Plain and compressed reads that fail the test when the payload ends early.
template <typename T>
T Plain(net::BitStream& s) {
  T v{};
  EXPECT_TRUE(s.Read(v)) << "payload ended early";
  return v;
}
template <typename T>
T Comp(net::BitStream& s) {
  T v{};
  EXPECT_TRUE(s.ReadCompressed(v)) << "payload ended early";
  return v;
}
inline std::vector<uint8_t> RawBytes(net::BitStream& s, size_t n) {
  std::vector<uint8_t> v(n);
  EXPECT_TRUE(n == 0 || s.ReadBytes(v.data(), static_cast<uint32_t>(n))) << "payload ended early";
  return v;
}
template <typename T>
std::vector<uint8_t> BytesOf(const T& record) {
  std::vector<uint8_t> v(sizeof(T));
  std::memcpy(v.data(), &record, sizeof(T));
  return v;
}

// The payload a test expects, written field by field (c8, f32, bytes...):
//   EXPECT_TRUE(SameBits(c.LastRpc("X"), Want().c8(1).f32(2).Stream()));
inline Rpc Want() { return Rpc("expected"); }

// Whether the first `bits` bits of `got` are exactly `want`'s bits.
inline ::testing::AssertionResult SameBits(const std::vector<uint8_t>& got, uint32_t bits,
                                           const net::BitStream& want) {
  if (bits != want.GetNumberOfBitsUsed() || got.size() != want.GetNumberOfBytesUsed())
    return ::testing::AssertionFailure() << bits << " bits, expected " << want.GetNumberOfBitsUsed();
  for (uint32_t i = 0; i < bits; ++i) {
    const int mask = 0x80 >> (i % 8);
    if ((got[i / 8] & mask) != (want.GetData()[i / 8] & mask))
      return ::testing::AssertionFailure() << "bit " << i << " of " << bits << " differs";
  }
  return ::testing::AssertionSuccess();
}
// An RPC's payload (with its exact bit count).
inline ::testing::AssertionResult SameBits(const support::ReceivedRpc* got,
                                           const net::BitStream& want) {
  if (!got) return ::testing::AssertionFailure() << "not received";
  return SameBits(got->data, got->bits, want);
}
// A raw packet (whole bytes; the bits after `want`'s last one are padding).
inline ::testing::AssertionResult SamePacket(const std::vector<uint8_t>& got,
                                             const net::BitStream& want) {
  return SameBits(got, want.GetNumberOfBitsUsed(), want);
}

class GameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetClockForTesting(FrozenNow);
    testing::internal::CaptureStdout();  // the server's console lines
    server_.Start([this] { AdjustSettings(); });
    // The 200-ms step (world time) runs only when a test calls it.
    gLastIrcTickMs = frozenNowMs;
    SetScriptEventSink(&sink_);
  }
  void TearDown() override {
    SetScriptEventSink(nullptr);
    clients_.clear();
    // The console lines stay quiet unless something failed; gtest's own
    // failure messages went into the capture too.
    const std::string console = testing::internal::GetCapturedStdout();
    if (HasFailure()) std::fputs(console.c_str(), stdout);
    core::SetClockForTesting(nullptr);
  }
  virtual void AdjustSettings() {}

  // A connected (not joined) client that records every server call.
  support::TestClient& Connect() {
    auto client = std::make_unique<support::TestClient>();
    for (const auto& name : AllServerRpcs()) client->Watch(name);
    EXPECT_TRUE(client->Connect(server_.Port()));
    clients_.push_back(std::move(client));
    return *clients_.back();
  }

  // Pumps the server and every client until `cond` holds.
  bool PumpUntil(const std::function<bool()>& cond, uint32_t timeoutMs = 5000) {
    return support::WaitUntil(cond, timeoutMs, [this] {
      server_.Pump();
      for (auto& c : clients_) c->Pump();
    });
  }

  void SendJoin(support::TestClient& c, const std::string& name, uint32_t version) {
    net::BitStream payload;
    JoinPayload(payload, name, version);
    ASSERT_TRUE(c.SendRpc("ClientJoin", payload));
  }

  // Connects and joins; waits for the end of the download. The player id.
  uint8_t Join(support::TestClient& c, const std::string& name) {
    const size_t before = c.Count("DownloadComplete");
    SendJoin(c, name, GoodVersion());
    EXPECT_TRUE(PumpUntil([&] { return c.Count("DownloadComplete") > before; }))
        << name << " did not finish joining";
    return static_cast<uint8_t>(c.Index());
  }
  support::TestClient& ConnectAndJoin(const std::string& name) {
    support::TestClient& c = Connect();
    Join(c, name);
    return c;
  }

  PlayerRecord& Record(uint8_t id) { return GetPlayerPool()->records[id]; }

  // Sends a command line behind whatever `from` sent before and waits until
  // the script has it: by then the server has handled everything before it.
  // The line's own event is taken off the record.
  void Settle(support::TestClient& from, uint32_t timeoutMs = 5000) {
    const std::string line = "/settle" + std::to_string(++settles_);
    net::BitStream command;
    command.Write(static_cast<uint32_t>(line.size()));
    command.WriteBytes(line.data(), static_cast<uint32_t>(line.size()));
    ASSERT_TRUE(from.SendRpc("CommandSend", command));
    const std::string expected = "command " + std::to_string(from.Index()) + " " + line;
    ASSERT_TRUE(PumpUntil([&] { return !sink_.events.empty() && sink_.events.back() == expected; },
                          timeoutMs));
    sink_.events.pop_back();
  }

  InProcessServer server_;
  RecordingSink sink_;
  std::vector<std::unique_ptr<support::TestClient>> clients_;
  int settles_ = 0;
};

}  // namespace gametest
