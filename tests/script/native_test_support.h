// Shared helpers of the native tests that run through a server.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "core/game_fixture.h"
#include "core/rpc.h"
#include "script/script_host.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace nativetest {

// Every call the vehicle, object, marker, icon, pickup, static actor and
// weapon shop natives send.
inline const std::vector<std::string>& WorldNativeRpcs() {
  static const std::vector<std::string> names = {
      "SpawnVehicle", "DestroyVehicle", "SetVehicleToRespawn", "SetVehicleSpawnInfo",
      "SetVehiclePos", "SetVehicleAngle", "SetVehicleHealth", "SetVehicleSpeed",
      "SetVehicleColor", "ToggleVehicleLocked", "SetVehicleTireState", "ToggleVehicleLights",
      "RepairVehicle", "ExplodeVehicle", "PutPlayerInVehicle", "RemovePlayerFromVehicle",
      "CreateGlobalObject", "DestroyGlobalObject", "SetGlobalObjectPos",
      "SetGlobalObjectRotation", "SetGlobalObjectInterior", "MoveGlobalObject",
      "MoveGlobalObjectAngles", "StopGlobalObject", "CreateLocalObject", "DestroyLocalObject",
      "SetLocalObjectPos", "SetLocalObjectRotation", "SetLocalObjectInterior",
      "CreateCheckpoint", "DestroyCheckpoint", "SetCheckpointRadius", "SetCheckpointPos",
      "CreateCorona", "DestroyCorona", "SetCoronaRGB", "SetCoronaPos", "CreateLocalCheckpoint",
      "DestroyLocalCheckpoint", "SetLocalCheckpointRadius", "SetLocalCheckpointPos",
      "CreateLocalCorona", "DestroyLocalCorona", "SetLocalCoronaRGB", "SetLocalCoronaPos",
      "CreateGlobalIcon", "DestroyGlobalIcon", "SetGlobalIconPosition", "SetGlobalIconSize",
      "SetGlobalIconColor", "ToggleGlobalIconFlashing", "CreateLocalIcon", "DestroyLocalIcon",
      "SetLocalIconPosition", "SetLocalIconSize", "SetLocalIconColor", "ToggleLocalIconFlashing",
      "CreateGlobalCashPickup", "CreateGlobalWeaponPickup", "CreateGlobalGenericPickup",
      "DestroyGlobalPickup", "CreateLocalCashPickup", "CreateLocalWeaponPickup",
      "CreateLocalGenericPickup", "DestroyLocalPickup", "CreateStaticActor",
      "DestroyStaticActor", "SetStaticActorName", "SetStaticActorAnimation",
      "SetStaticActorSkin", "SetStaticActorAngle", "SetStaticActorPos", "ToggleStaticActorBlip",
      "SetAmmunationWeaponData", "ToggleAmmunations"};
  return names;
}

// A server with two joined players, Alpha and Bravo, whose clients record
// every call of the world natives.
class WorldNativeTest : public gametest::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    alpha_ = &ConnectAndJoin("Alpha");
    bravo_ = &ConnectAndJoin("Bravo");
    a_ = static_cast<uint8_t>(alpha_->Index());
    b_ = static_cast<uint8_t>(bravo_->Index());
    for (auto* c : {alpha_, bravo_}) {
      for (const auto& name : WorldNativeRpcs()) c->Watch(name);
      c->Watch("TestBarrier");
    }
  }

  // The results of a Lua expression list in which A and B name the players
  // (scripttest::Run's text; "" for no results).
  std::string Call(const std::string& expression) {
    return scripttest::Run(Players() + "return " + expression);
  }
  // Runs statements; their error text, or "" when they ran.
  std::string Do(const std::string& statements) {
    return scripttest::RunLua(Players() + statements);
  }

  // Reliable calls on one channel arrive in order: once both clients have a
  // barrier sent after everything else, they have everything else too.
  void Flush() {
    const size_t a = alpha_->Count("TestBarrier"), b = bravo_->Count("TestBarrier");
    Rpc("TestBarrier").ToAll();
    ASSERT_TRUE(PumpUntil([&] {
      return alpha_->Count("TestBarrier") > a && bravo_->Count("TestBarrier") > b;
    }));
  }
  // How many world native calls the client has received.
  static size_t Sent(const support::TestClient& c) {
    size_t n = 0;
    for (const auto& name : WorldNativeRpcs()) n += c.Count(name);
    return n;
  }
  // Whether the client's newest call `name` carries exactly `want`'s bits.
  static ::testing::AssertionResult Got(const support::TestClient& c, const std::string& name,
                                        Rpc& want) {
    return gametest::SameBits(c.LastRpc(name), want.Stream()) << " (" << name << ")";
  }
  static ::testing::AssertionResult Got(const support::TestClient& c, const std::string& name,
                                        Rpc&& want) {
    return Got(c, name, want);
  }
  // The same for the client's first call `name`.
  static ::testing::AssertionResult GotFirst(const support::TestClient& c,
                                             const std::string& name, Rpc& want) {
    const auto calls = c.Rpcs(name);
    if (calls.empty()) return ::testing::AssertionFailure() << name << " not received";
    return gametest::SameBits(&calls.front(), want.Stream()) << " (" << name << ")";
  }
  // Runs each call (an expression with A and B); each must give `result`,
  // and none may send anything to either player.
  void ExpectQuiet(std::initializer_list<std::string> calls, const std::string& result = "") {
    Flush();
    const size_t a = Sent(*alpha_), b = Sent(*bravo_);
    for (const auto& call : calls) EXPECT_EQ(Call(call), result) << call;
    Flush();
    EXPECT_EQ(Sent(*alpha_), a);
    EXPECT_EQ(Sent(*bravo_), b);
  }
  // The same for both players.
  void ExpectBoth(const std::string& name, Rpc& want) {
    EXPECT_TRUE(Got(*alpha_, name, want));
    EXPECT_TRUE(Got(*bravo_, name, want));
  }

  support::TestClient* alpha_ = nullptr;
  support::TestClient* bravo_ = nullptr;
  uint8_t a_ = 0;
  uint8_t b_ = 0;

 private:
  std::string Players() const {
    return "local A, B = " + std::to_string(a_) + ", " + std::to_string(b_) + "; ";
  }
};

using gametest::Want;

}  // namespace nativetest

namespace nativetest {

// Every call the player, player control, camera and sound, and server natives
// send.
inline const std::vector<std::string>& PlayerNativeRpcs() {
  static const std::vector<std::string> names = {
      "SetPlayerHealth", "SetPlayerArmour", "SetPlayerAngle", "SetPlayerPos",
      "SetPlayerBoundaries", "SetGravity", "SetPlayerCash", "GivePlayerCash", "GivePlayerWeapon",
      "ClearPlayerWeapons", "SetPlayerSkin", "SetPlayerInterior", "SetPlayerScore",
      "TogglePlayerControllable", "ToggleFlyingCar", "DriveOnWater", "ForceToClassSelection",
      "SetPlayerName", "SetPlayerTeam", "SetPlayerWantedLevel", "SetPlayerFixedWantedLevel",
      "SetPlayerStaticWantedLevel", "SetPlayerCellPhoneStatus", "TogglePlayerClock",
      "SetPlayerAnimation", "SetPlayerColor", "TogglePlayerDrunk", "TogglePlayerCamInterface",
      "TogglePlayerBlackLines", "TogglePlayerScanLines", "RestorePlayerCamera",
      "SetCameraBehindPlayer", "SetPlayerCameraPos", "SetPlayerCameraLookAt", "FadePlayerCamera",
      "ShakePlayerCamera", "PlayWaveForPlayer", "PlayWaveForPlayerAtPos", "PlaySoundForPlayer",
      "CreatePlayerExplosion", "OutputChatBox", "GameTextForPlayer", "ClearGameText",
      "SetServerWeather", "Server_SetMaxPlayers", "KickPlayer", "BanPlayer"};
  return names;
}

// WorldNativeTest's server and players, whose clients also record every call
// of the player, camera and server natives.
class PlayerNativeTest : public WorldNativeTest {
 protected:
  void SetUp() override {
    WorldNativeTest::SetUp();
    for (auto* c : {alpha_, bravo_}) {
      for (const auto& name : PlayerNativeRpcs()) c->Watch(name);
    }
  }
  // Runs statements that must not fail, then waits for everything they sent.
  void Run(const std::string& statements) {
    ASSERT_EQ(Do(statements), "") << statements;
    Flush();
  }
  static size_t SentToPlayer(const support::TestClient& c) {
    size_t n = 0;
    for (const auto& name : PlayerNativeRpcs()) n += c.Count(name);
    return n;
  }
  // Whether the client's newest call `name` carries exactly `want`'s bits.
  static ::testing::AssertionResult Has(const support::TestClient& c, const std::string& name,
                                        const net::BitStream& want) {
    return gametest::SameBits(c.LastRpc(name), want) << " (" << name << ")";
  }
};

// The server-browser reply after the pong header ("" when none came).
inline std::string QueryReply(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return "";
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const uint8_t query[5] = {net::ID_PING, 1, 2, 3, 4};
  std::string reply;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (reply.empty() && std::chrono::steady_clock::now() < deadline) {
    sendto(fd, query, sizeof query, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 200) != 1) continue;
    char buffer[4096];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n > 5) reply.assign(buffer + 5, static_cast<size_t>(n) - 5);
  }
  close(fd);
  return reply;
}

}  // namespace nativetest
