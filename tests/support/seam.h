// The game with its network replaced by a recorder. The whole server starts in
// the test's process (start-up, Main.lua, pools, handlers), but its game peer
// records what it sends instead of sending it, and clients are connection
// indices whose calls and packets the test hands in. A check is then a line:
//   seam.Call(a, "PlayerChat", Want().c8(a).c8(2).chars("hi", 2));
//   EXPECT_EQ(seam.Take(), Line("PlayerChat", {0, 1}, Want().c8(a).c8(2).chars("hi", 2)));
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/events.h"
#include "core/rpc.h"
#include "net/bitstream.h"
#include "net/peer.h"
#include "support/null_event_sink.h"
#include "support/server_fixture.h"

namespace support {

// The one fake clock of the tests: the server's milliseconds are whatever the
// test sets. Installed for the lifetime of the object.
class TestClock {
 public:
  explicit TestClock(uint32_t startMs = 500000);
  ~TestClock();
  TestClock(const TestClock&) = delete;
  TestClock& operator=(const TestClock&) = delete;
  static void Set(uint32_t ms);
  static void Advance(uint32_t ms);
  static uint32_t Now();
};

// Every script event and command hand-over as one line, in the order raised
// ("connect 0", "chat 1 hi", "command 0 /me", "ircjoin..." see DescribeEvent).
class RecordingSink : public NullEventSink {
 public:
  std::vector<std::string> lines;
  std::function<void(const ScriptEvent&)> onRaise;  // runs after recording
  void Raise(const ScriptEvent& e) override;
  void DispatchPlayerCommand(uint8_t p, const char* line) override;
  void DispatchIRCCommand(uint8_t bot, const char* nick, const char* channel,
                          const char* line) override;
  // Everything recorded since the last call, joined by "\n".
  std::string Take();
};

// The payload a test expects, written field by field: Want().c8(1).f32(2).
inline Rpc Want() { return Rpc("expected"); }
// The version value a client of the right build sends in its join.
uint32_t GoodVersion();

// What Seam::Take() shows of one send: "Name>0,1 0a3f/12" (the receivers,
// then the payload in hex and its exact bit count; bits past the count are
// zero), a raw packet as "#92>1 ...", a close as "close>1".
std::string Line(const std::string& name, std::initializer_list<int> to,
                 const net::BitStream& payload);
std::string Line(const std::string& name, std::initializer_list<int> to, Rpc&& payload);
std::string Line(const std::string& name, std::initializer_list<int> to, Rpc& payload);

class Seam {
 public:
  // Starts the server with `mainLua` ("" for none) in a temporary directory;
  // `adjust` runs after the game mode's top level, as start-up's settings step.
  explicit Seam(const std::string& mainLua = "", const std::function<void()>& adjust = {});
  ~Seam();
  Seam(const Seam&) = delete;
  Seam& operator=(const Seam&) = delete;

  // A new connection in the lowest free slot, from 10.0.0.<slot + 1> unless
  // `ip` (host order) says otherwise; its index, -1 when none is free.
  int Connect(uint32_t ip = 0);
  // Connect, then "ClientJoin" with `name` and the right version; the player
  // id. The download and the join's event are taken off the records.
  int Join(const std::string& name);
  // Hands in a call or a raw packet from connection `from` and runs one pass
  // of the main loop. Calls come reliably and raw packets not, as clients
  // send them, unless `reliable` says otherwise.
  void Call(int from, const char* name, const net::BitStream& payload, bool reliable = true);
  void Call(int from, const char* name, Rpc& payload, bool reliable = true) {
    Call(from, name, payload.Stream(), reliable);
  }
  void Call(int from, const char* name, Rpc&& payload, bool reliable = true) {
    Call(from, name, payload.Stream(), reliable);
  }
  // The same, without the pass: the message waits, as behind a main loop
  // that is held up, with the clock's time as its arrival.
  void Queue(int from, const char* name, const net::BitStream& payload, bool reliable = true);
  void Queue(int from, const char* name, Rpc& payload, bool reliable = true) {
    Queue(from, name, payload.Stream(), reliable);
  }
  void Packet(int from, const net::BitStream& packet, bool reliable = false);
  void Packet(int from, Rpc& packet, bool reliable = false) {
    Packet(from, packet.Stream(), reliable);
  }
  // The connection ends: closed by the client, or lost.
  void Drop(int index, bool lost = false);
  void Pump(int passes = 1);

  // Everything sent since the last Take, one Line a send, joined by "\n".
  std::string Take();
  // Only the sends of call `name`, as Take shows them; the others are dropped.
  std::string Take(const std::string& name);
  // The raw records since the last Take.
  std::vector<net::RecordedSend> TakeRecorded();

  // Runs Lua in the game mode's state: the values of `chunk`'s return joined
  // by "," (numbers %.17g, texts in single quotes, nil, true, false), or
  // "error: <text>".
  std::string Lua(const std::string& chunk);
  // The values of an expression (see Lua).
  std::string Eval(const std::string& expression) { return Lua("return " + expression); }

  InProcessServer& Server() { return server_; }
  net::Peer& Peer();

  TestClock clock;
  RecordingSink events;

 private:
  InProcessServer server_;
};

}  // namespace support
