// The client calls, one row each: what a call from Alpha (0) relays, to whom and
// with which bits, and which event it raises. Calls made for somebody else are
// dropped whole. (Calls cut short, and from connections that never joined:
// hostile_test.cpp.)
#include "core/clientcalls.h"

#include <gtest/gtest.h>

#include <string>

#include "core/log.h"
#include "core/playerpool.h"
#include "core/vehiclepool.h"
#include "core/world.h"
#include "support/count.h"
#include "support/seam.h"

namespace {

using support::Line;
using support::Want;

// Sends `call` from Alpha and compares what went out and what the script heard.
void Row(support::Seam& seam, const char* call, Rpc& payload, const std::string& sent,
         const std::string& events) {
  seam.Call(0, call, payload);
  EXPECT_EQ(seam.Take(), sent) << call;
  EXPECT_EQ(seam.events.Take(), events) << call;
}

TEST(ClientCalls, RelaysAndEvents) {
  support::Seam seam;
  seam.Join("Alpha");
  seam.Join("Bravo");
  PlayerRecord& alpha = GetPlayerPool()->records[0];
  PlayerRecord& bravo = GetPlayerPool()->records[1];
  // A tail after the text is not relayed (a long one would go to every player);
  // a line break must not start a line of its own in the log.
  const std::string tail(65536, 't');
  Rpc chat = Want();
  chat.u8(0).u8(24).chars("hello 100%s\n[JOIN] Admin", 24);
  chat.bit(true).chars(tail.data(), tail.size());
  Row(seam, "PlayerChat", chat,
      Line("PlayerChat", {0, 1}, Want().u8(0).u8(24).chars("hello 100%s\n[JOIN] Admin", 24)),
      "chat 0 hello 100%s\n[JOIN] Admin");
  Row(seam, "PlayerChat", Want().u8(0).u8(1).chars("k", 1),  // one character is a line too
      Line("PlayerChat", {0, 1}, Want().u8(0).u8(1).chars("k", 1)), "chat 0 k");
  alpha.muted = 1;  // logged and raised, relayed to nobody
  Row(seam, "PlayerChat", Want().u8(0).u8(5).chars("quiet", 5), "", "chat 0 quiet");
  alpha.muted = 0;
  alpha.x = 11;  // as the last movement packet left it
  Row(seam, "NewSpawn", Want().c16(3).c16(65535).f32(1).f32(-2).f32(3.5f).f32(90).c8(200),
      Line("NewSpawn", {1}, Want().c8(0).f32(1).f32(-2).f32(3.5f).f32(90).c8(200)), "spawn 0");
  EXPECT_EQ(+alpha.spawned, 1);
  EXPECT_EQ(+alpha.classInfo[0], 3);
  EXPECT_EQ(+alpha.classInfo[1], -1);
  EXPECT_EQ(+alpha.skin, 200);
  EXPECT_EQ(+alpha.x, 11.0f);
  Row(seam, "PlayerDeath", Want().u8(0).u8(7).u8(9),  // player, reason, killer
      Line("PlayerDeath", {0, 1}, Want().u8(0).u8(7).u8(9)), "death 0 9 7");
  EXPECT_EQ(+alpha.spawned, 0);
  Row(seam, "SendVehicleEntry", Want().c16(321).c8(1),  // no such vehicle
      Line("SendVehicleEntry", {1}, Want().c8(0).c16(321).c8(1)), "");
  Row(seam, "OnPlayerEnterVehicle", Want().u8(0).u32(123456).u8(2), "", "entervehicle 0 123456 2");
  Row(seam, "OnPlayerExitVehicle", Want().c8(0).c16(40000), "", "exitvehicle 0 -25536");
  // clang-format off
  const char* const markers[] = {"OnPlayerEnterGlobalMarker", "OnPlayerExitGlobalMarker",
                                 "OnPlayerEnterLocalMarker",  "OnPlayerExitLocalMarker"};
  const char* const heard[] = {"enterglobalmarker 0 10 20", "exitglobalmarker 0 11 21",
                               "enterlocalmarker 0 12 22",  "exitlocalmarker 0 13 23"};
  // clang-format on
  for (int i = 0; i < 4; ++i) {
    Row(seam, markers[i], Want().u8(0).u8(10 + i).u8(20 + i), "", heard[i]);
  }
  Row(seam, "OnPlayerEnterGlobalPickup", Want().u8(0).u8(99), "", "enterglobalpickup 0 99");
  Row(seam, "OnPlayerEnterLocalPickup", Want().u8(0).u8(98), "", "enterlocalpickup 0 98");
  Row(seam, "OnPlayerKeyPress", Want().c32(0x1FF), "", "keypress 0 255");
  // A command line of 256 characters is over the limit; 255 is not.
  const std::string line(256, 'x');
  Row(seam, "CommandSend", Want().u32(256).chars(line.data(), 256), "", "");
  Row(seam, "CommandSend", Want().u32(255).chars(line.data(), 255), "",
      "command 0 " + line.substr(1));

  // Alpha speaks, dies and walks into things as Bravo: nothing happens.
  bravo.spawned = 1;
  Row(seam, "PlayerChat", Want().u8(1).u8(10).chars("I am Bravo", 10), "", "");
  Row(seam, "OnPlayerEnterVehicle", Want().u8(1).u32(5).u8(0), "", "");
  Row(seam, "OnPlayerExitVehicle", Want().c8(1).c16(5), "", "");
  for (const char* call : {"PlayerDeath", "OnPlayerEnterGlobalPickup", "OnPlayerEnterLocalPickup"})
    Row(seam, call, Want().u8(1).u8(1).u8(2), "", "");
  for (const char* call : markers) Row(seam, call, Want().u8(1).u8(1).u8(2), "", "");
  EXPECT_EQ(+bravo.spawned, 1);
  const std::string log = seam.Server().ReadFile(kLogFileName);
  EXPECT_NE(log.find("[CHAT] Alpha: hello 100%s?[JOIN] Admin"), log.npos);
  EXPECT_NE(log.find("[MUTED] Alpha: quiet"), log.npos);
  EXPECT_EQ(log.find("[CHAT] Alpha: quiet"), log.npos);
  EXPECT_EQ(log.find("I am Bravo"), log.npos);
}

TEST(ClientCalls, VehicleDeathStartsTheRespawnOnceAndOnlyForARealVehicle) {
  support::Seam seam;
  seam.Join("Alpha");
  seam.Join("Bravo");
  VehiclePool* pool = GetVehiclePool();
  ASSERT_EQ(pool->Add(150, 0, 0, 0, 0, 1, 1), 1);
  seam.Take();
  for (uint16_t id : {0, 2, 500, 0xFFFF}) seam.Call(0, "VehicleDeath", Want().c16(id).bit(true));
  EXPECT_EQ(+pool->respawnState[1], kRespawnNone);
  seam.Call(0, "VehicleDeath", Want().c16(1).bit(true));
  EXPECT_NE(+pool->respawnState[1], kRespawnNone);
  EXPECT_EQ(pool->stateTime[1], seam.clock.Now());
  // The respawn sweep takes it on and explodes it everywhere, once.
  EXPECT_EQ(seam.Take(), "Respawn_ExplodeVehicle>0,1 c4/6");
  // (A second report while the respawn is under way: vehiclepool_test.cpp.)
}

// A flood of chat must not reach the others, the log or the script: a burst
// of 40 lines goes through, then 10 a second; the log counts what was dropped
// (lines sent unreliably: a reliable one beyond the budget closes the
// connection instead, budget_test.cpp).
TEST(ClientCalls, ChatFasterThanAPersonTypesIsDroppedBeforeItGoesAnywhere) {
  support::Seam seam;
  seam.Join("Alpha");
  seam.Join("Bravo");
  seam.Take();
  for (int i = 0; i < 45; ++i) {
    seam.Call(0, "PlayerChat", Want().u8(0).u8(2).chars("hi", 2), false);
  }
  const std::string relayed = Line("PlayerChat", {0, 1}, Want().u8(0).u8(2).chars("hi", 2));
  EXPECT_EQ(support::CountOccurrences(seam.Take(), relayed), 40u);
  EXPECT_EQ(support::CountOccurrences(seam.events.Take(), "chat 0 hi"), 40u);
  const std::string dropped =
      "[CHAT] Dropped 6 chat lines from Alpha (id 0): more than 10 a second";
  std::string log = seam.Server().ReadFile(kLogFileName);
  EXPECT_EQ(support::CountOccurrences(log, "[CHAT] Alpha: hi"), 40u);
  EXPECT_EQ(support::CountOccurrences(log, "[CHAT] Dropped"), 0u);  // within its first second

  // Bravo is not held back by Alpha's flood.
  seam.Call(1, "PlayerChat", Want().u8(1).u8(2).chars("yo", 2));
  EXPECT_EQ(seam.Take(), Line("PlayerChat", {0, 1}, Want().u8(1).u8(2).chars("yo", 2)));

  // A tenth of a second later Alpha may say one line more.
  seam.clock.Advance(100);
  seam.Call(0, "PlayerChat", Want().u8(0).u8(2).chars("hi", 2), false);
  seam.Call(0, "PlayerChat", Want().u8(0).u8(2).chars("hi", 2), false);
  EXPECT_EQ(support::CountOccurrences(seam.Take(), relayed), 1u);

  // A second on, the main loop reports the drops once.
  seam.clock.Advance(1000);
  seam.Pump();
  seam.clock.Advance(1000);
  seam.Pump();
  log = seam.Server().ReadFile(kLogFileName);
  EXPECT_EQ(support::CountOccurrences(log, dropped), 1u);
  EXPECT_EQ(support::CountOccurrences(log, "[CHAT] Dropped"), 1u);
}

}  // namespace
