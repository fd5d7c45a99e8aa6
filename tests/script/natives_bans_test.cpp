#include <gtest/gtest.h>

#include <string>

#include "core/game_fixture.h"
#include "core/log.h"
#include "script_host.h"

namespace {

std::string Lua(const std::string& chunk) { return scripttest::Run(chunk); }

class AdminNativesTest : public gametest::GameTest {
 protected:
  std::string Bans() { return server_.ReadFile("server_bans.xml"); }
};

TEST_F(AdminNativesTest, KickAndBanRunTheSequenceAndIgnoreWhoIsNotThere) {
  support::TestClient& alice = ConnectAndJoin("Alice");
  support::TestClient& bob = ConnectAndJoin("Bob");
  support::TestClient& carol = ConnectAndJoin("Carol");
  alice.Watch("KickPlayer");
  bob.Watch("BanPlayer");
  const std::string a = std::to_string(alice.Index());
  const std::string b = std::to_string(bob.Index());
  sink_.events.clear();

  EXPECT_EQ(Lua("kickPlayer(100) kickPlayer(42) kickPlayer() banPlayer(1, 2)"), "");
  EXPECT_TRUE(sink_.events.empty());

  EXPECT_EQ(Lua("return kickPlayer(" + a + ")"), "");
  EXPECT_EQ(sink_.events, std::vector<std::string>{"disconnect " + a + " 3"});
  EXPECT_FALSE(GetPlayerPool()->IsInUse(alice.Index()));
  EXPECT_NE(server_.ReadFile(kLogFileName).find("[LEAVE] Alice has left the server. [Kicked]"),
            std::string::npos);
  EXPECT_TRUE(alice.WaitForRpc("KickPlayer"));
  EXPECT_EQ(alice.LastRpc("KickPlayer")->bits, 0u);

  EXPECT_EQ(Lua("banPlayer(" + b + ")"), "");
  EXPECT_EQ(sink_.events.back(), "disconnect " + b + " 2");
  EXPECT_NE(Bans().find("127.0.0.1"), std::string::npos);
  EXPECT_TRUE(bob.WaitForRpc("BanPlayer"));
  ASSERT_TRUE(PumpUntil([&] { return carol.Count("PlayerDisconnect") == 2; }));
}

// A handler that kicks the player who is already leaving must not start the
// departure again under itself (it would recurse until the stack ran out).
TEST_F(AdminNativesTest, AKickFromInsideADepartureIsRefused) {
  support::TestClient& alice = ConnectAndJoin("Alice");
  support::TestClient& bob = ConnectAndJoin("Bob");
  int kicksTried = 0;
  sink_.onDisconnect = [&](uint8_t player) {
    ++kicksTried;
    Lua("kickPlayer(" + std::to_string(player) + ")");
  };
  sink_.events.clear();
  EXPECT_EQ(Lua("kickPlayer(" + std::to_string(alice.Index()) + ")"), "");
  EXPECT_EQ(sink_.events, std::vector<std::string>{"disconnect " + std::to_string(alice.Index()) + " 3"});

  sink_.events.clear();
  bob.Disconnect();
  ASSERT_TRUE(PumpUntil([&] { return !GetPlayerPool()->IsInUse(bob.Index()); }));
  EXPECT_EQ(sink_.events, std::vector<std::string>{"disconnect " + std::to_string(bob.Index()) + " 1"});
  EXPECT_EQ(kicksTried, 2);
}

TEST_F(AdminNativesTest, AddressTextsOf7To15CharactersAreTakenAsTheyAre) {
  EXPECT_EQ(Lua("addBanIP('1.2.3') addBanIP('1234567890123456') addBanIP(1, 2)"), "");
  EXPECT_EQ(Bans().find("BanInformation"), std::string::npos);
  EXPECT_EQ(Lua("addBanIP('10.0.0.*') addBanIP('9.9.9.9')"), "");
  EXPECT_TRUE(GetGamePeer()->IsBanned("10.0.0.7"));
  EXPECT_NE(Bans().find("9.9.9.9"), std::string::npos);
  EXPECT_EQ(Lua("removeBanIP('9.9.9.9') removeBanIP('8.8.8.8')"), "");
  EXPECT_EQ(Bans().find("9.9.9.9"), std::string::npos);
  EXPECT_FALSE(GetGamePeer()->IsBanned("9.9.9.9"));
  // reloadBans takes any arguments: the file is the truth again.
  GetGamePeer()->AddToBanList("7.7.7.7");
  EXPECT_EQ(Lua("reloadBans('ignored', 3)"), "");
  EXPECT_FALSE(GetGamePeer()->IsBanned("7.7.7.7"));
  EXPECT_TRUE(GetGamePeer()->IsBanned("10.0.0.7"));
}

TEST_F(AdminNativesTest, RestartGameModeWaitsUntilTheScriptsCallHasReturned) {
  EXPECT_EQ(Lua("restartGameMode(1)"), "");
  server_.Pump();
  EXPECT_EQ(gNetGame->restartPending, 0);
  EXPECT_EQ(Lua("restartGameMode() return 5"), "5");
  EXPECT_EQ(gNetGame->restartPending, 0);
  server_.Pump();
  EXPECT_EQ(gNetGame->restartPending, 1);
}

}  // namespace
