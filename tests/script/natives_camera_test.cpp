// The camera, sound and effect natives through a running server: each payload
// layout bit for bit, who receives it, the cuts and clamps of the values, the
// wave-name limits and the player guard.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/game_fixture.h"
#include "net/bitstream.h"
#include "script/script_host.h"

namespace {

using scripttest::RunLua;

const char* const kCameraRpcs[] = {
    "TogglePlayerDrunk",     "TogglePlayerCamInterface", "TogglePlayerBlackLines",
    "TogglePlayerScanLines", "RestorePlayerCamera",      "SetCameraBehindPlayer",
    "SetPlayerCameraPos",    "SetPlayerCameraLookAt",    "FadePlayerCamera",
    "ShakePlayerCamera",     "PlayWaveForPlayer",        "PlayWaveForPlayerAtPos",
    "PlaySoundForPlayer",    "CreatePlayerExplosion"};

// Same bit count and the same bits (the pad bits of the last byte aside).
void ExpectPayload(const support::ReceivedRpc* got, const net::BitStream& want,
                   const std::string& what) {
  ASSERT_NE(got, nullptr) << what << " not received";
  const uint32_t bits = want.GetNumberOfBitsUsed();
  ASSERT_EQ(got->bits, bits) << what;
  std::vector<uint8_t> expected(want.GetData(), want.GetData() + want.GetNumberOfBytesUsed());
  std::vector<uint8_t> actual = got->data;
  ASSERT_EQ(actual.size(), expected.size()) << what;
  if (bits % 8 && !actual.empty()) {
    const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - bits % 8));
    actual.back() &= mask;
    expected.back() &= mask;
  }
  EXPECT_EQ(actual, expected) << what;
}

class CameraNativesTest : public gametest::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    alpha_ = &ConnectAndJoin("Alpha");
    bravo_ = &ConnectAndJoin("Bravo");
    a_ = std::to_string(alpha_->Index());
    b_ = std::to_string(bravo_->Index());
    for (auto* c : {alpha_, bravo_}) {
      for (const char* name : kCameraRpcs) c->Watch(name);
    }
  }

  // Runs a statement that must not fail, then waits until both clients have
  // everything sent before it: reliable calls arrive in order, and an
  // explosion for all goes last.
  void Call(const std::string& lua) {
    ASSERT_EQ(RunLua(lua), "") << lua;
    const size_t a = alpha_->Count("CreatePlayerExplosion");
    const size_t b = bravo_->Count("CreatePlayerExplosion");
    ASSERT_EQ(RunLua("createExplosion(0, 0, 0, 0)"), "");
    ASSERT_TRUE(PumpUntil([&] {
      return alpha_->Count("CreatePlayerExplosion") > a && bravo_->Count("CreatePlayerExplosion") > b;
    }));
  }
  size_t Total(support::TestClient& c, bool withExplosions = false) {
    size_t n = 0;
    for (const char* name : kCameraRpcs) {
      if (withExplosions || std::string(name) != "CreatePlayerExplosion") n += c.Count(name);
    }
    return n;
  }

  support::TestClient* alpha_ = nullptr;
  support::TestClient* bravo_ = nullptr;
  std::string a_;
  std::string b_;
};

TEST_F(CameraNativesTest, ScreenEffectsSendTheByteToThePlayerAlone) {
  const char* const toggles[][2] = {{"togglePlayerDrunk", "TogglePlayerDrunk"},
                                    {"togglePlayerCameraInterface", "TogglePlayerCamInterface"},
                                    {"togglePlayerBlackLines", "TogglePlayerBlackLines"},
                                    {"togglePlayerScanlines", "TogglePlayerScanLines"}};
  for (const auto& t : toggles) {
    Call(std::string(t[0]) + "(" + a_ + ", 2)");
    net::BitStream two;
    two.Write(uint8_t{2});
    ExpectPayload(alpha_->LastRpc(t[1]), two, t[1]);
    Call(std::string(t[0]) + "(" + a_ + ", 257)");  // cut to a byte, not clamped
    net::BitStream one;
    one.Write(uint8_t{1});
    ExpectPayload(alpha_->LastRpc(t[1]), one, t[1]);
  }
  Call("restorePlayerCamera(" + a_ + "); setCameraBehindPlayer(" + a_ + ")");
  ExpectPayload(alpha_->LastRpc("RestorePlayerCamera"), net::BitStream(), "RestorePlayerCamera");
  ExpectPayload(alpha_->LastRpc("SetCameraBehindPlayer"), net::BitStream(), "SetCameraBehindPlayer");
  EXPECT_EQ(Total(*alpha_), 10u);
  EXPECT_EQ(Total(*bravo_), 0u);
}

TEST_F(CameraNativesTest, CameraPositionsFadesAndShakes) {
  Call("setPlayerCameraPos(" + a_ + ", 0, 0, 0)");
  net::BitStream origin;
  origin.WriteVector(0, 0, 0);
  ASSERT_EQ(origin.GetNumberOfBitsUsed(), 32u);  // the magnitude alone
  ExpectPayload(alpha_->LastRpc("SetPlayerCameraPos"), origin, "camera at the origin");

  Call("setPlayerCameraPos(" + a_ + ", 3, -4, 12)");
  net::BitStream pos;
  pos.WriteVector(3, -4, 12);
  ExpectPayload(alpha_->LastRpc("SetPlayerCameraPos"), pos, "SetPlayerCameraPos");

  // The look-at flag is cut to a byte, then clamped to 1.
  const char* const flags[][2] = {{"1", "1"}, {"2", "1"}, {"256", "0"}, {"-1", "1"}, {"0", "0"}};
  for (const auto& f : flags) {
    Call("setPlayerCameraLookAt(" + a_ + ", 1, 2, 3, " + f[0] + ")");
    net::BitStream want;
    want.WriteVector(1, 2, 3);
    want.WriteCompressed(static_cast<uint8_t>(std::stoi(f[1])));
    ExpectPayload(alpha_->LastRpc("SetPlayerCameraLookAt"), want, std::string("flag ") + f[0]);
  }

  Call("fadePlayerCamera(" + a_ + ", 261, 10, 255, 65537 + 65535, 7)");
  net::BitStream fade;
  fade.WriteCompressed(uint8_t{5});
  fade.WriteCompressed(uint8_t{10});
  fade.WriteCompressed(uint8_t{255});
  fade.WriteCompressed(uint16_t{0});  // 131072 cut to 16 bits
  fade.WriteCompressed(uint8_t{1});
  ExpectPayload(alpha_->LastRpc("FadePlayerCamera"), fade, "FadePlayerCamera");

  Call("shakePlayerCamera(" + a_ + ", 65537)");
  net::BitStream shake;
  shake.WriteCompressed(uint16_t{1});
  ExpectPayload(alpha_->LastRpc("ShakePlayerCamera"), shake, "ShakePlayerCamera");
  EXPECT_EQ(Total(*bravo_), 0u);
}

TEST_F(CameraNativesTest, WaveNamesOfOneTo15CharactersToAllOrOnePlayer) {
  const std::string fifteen(15, 'w');
  Call("playWaveForAll(''); playWaveForAll('" + std::string(16, 'w') + "'); playWaveForAll(nil)");
  EXPECT_EQ(Total(*alpha_) + Total(*bravo_), 0u);

  Call("playWaveForAll('" + fifteen + "')");
  net::BitStream want;
  want.WriteCompressed(uint8_t{15});
  want.WriteBytes(fifteen.data(), 15);
  for (auto* c : {alpha_, bravo_}) ExpectPayload(c->LastRpc("PlayWaveForPlayer"), want, "to all");

  // The name ends at its first NUL; a leading NUL leaves no name.
  Call("playWaveForPlayer(" + b_ + ", 'ab\\0cd'); playWaveForPlayer(" + b_ + ", '\\0ab')");
  net::BitStream ab;
  ab.WriteCompressed(uint8_t{2});
  ab.WriteBytes("ab", 2);
  ExpectPayload(bravo_->LastRpc("PlayWaveForPlayer"), ab, "to one player");
  EXPECT_EQ(alpha_->Count("PlayWaveForPlayer"), 1u);
  EXPECT_EQ(bravo_->Count("PlayWaveForPlayer"), 2u);

  Call("playWaveForAllAtPos('boom', 0, 0, 0); playWaveForPlayerAtPos(" + a_ + ", 7, 1, -2, 3)");
  net::BitStream atOrigin;
  atOrigin.WriteCompressed(uint8_t{4});
  atOrigin.WriteBytes("boom", 4);
  atOrigin.WriteVector(0, 0, 0);
  ExpectPayload(bravo_->LastRpc("PlayWaveForPlayerAtPos"), atOrigin, "at pos to all");
  net::BitStream numberName;  // a number is a text too
  numberName.WriteCompressed(uint8_t{1});
  numberName.WriteBytes("7", 1);
  numberName.WriteVector(1, -2, 3);
  ExpectPayload(alpha_->LastRpc("PlayWaveForPlayerAtPos"), numberName, "at pos to one player");
  EXPECT_EQ(bravo_->Count("PlayWaveForPlayerAtPos"), 1u);

  Call("playWaveForAllAtPos('', 1, 1, 1); playWaveForPlayerAtPos(" + a_ + ", '" +
       std::string(16, 'x') + "', 1, 1, 1); playWaveForPlayer(" + a_ + ", {})");
  EXPECT_EQ(alpha_->Count("PlayWaveForPlayerAtPos"), 2u);
  EXPECT_EQ(alpha_->Count("PlayWaveForPlayer"), 1u);
}

TEST_F(CameraNativesTest, SoundsAndExplosions) {
  // The coordinates go as the script's own 64-bit numbers; the type is cut.
  ASSERT_EQ(RunLua("createExplosion(0.1, -2.25, 1e300, 300)"), "");
  net::BitStream all;
  all.Write(0.1);
  all.Write(-2.25);
  all.Write(1e300);
  all.Write(uint8_t{44});
  for (auto* c : {alpha_, bravo_}) {
    ASSERT_TRUE(PumpUntil([&] { return c->Count("CreatePlayerExplosion") >= 1; }));
    ExpectPayload(c->LastRpc("CreatePlayerExplosion"), all, "createExplosion");
  }

  ASSERT_EQ(RunLua("createPlayerExplosion(" + b_ + ", 1, 2, 3.5, 12)"), "");
  ASSERT_TRUE(PumpUntil([&] { return bravo_->Count("CreatePlayerExplosion") >= 2; }));
  net::BitStream one;
  one.Write(1.0);
  one.Write(2.0);
  one.Write(3.5);
  one.Write(uint8_t{12});
  ExpectPayload(bravo_->LastRpc("CreatePlayerExplosion"), one, "createPlayerExplosion");

  Call("playSoundForPlayer(" + a_ + ", 65537, 1.5, -2, 3.25)");
  net::BitStream sound;
  sound.WriteCompressed(uint16_t{1});
  sound.Write(1.5f);
  sound.Write(-2.0f);
  sound.Write(3.25f);
  ExpectPayload(alpha_->LastRpc("PlaySoundForPlayer"), sound, "PlaySoundForPlayer");
  EXPECT_EQ(bravo_->Count("PlaySoundForPlayer"), 0u);
  EXPECT_EQ(alpha_->Count("CreatePlayerExplosion"), 2u);  // the first and the marker
}

TEST_F(CameraNativesTest, ThePlayerGuardRefusesEveryPlayerNative) {
  for (const char* p : {"100", "77", "-1", "355"}) {
    const std::string P = p;
    ASSERT_EQ(RunLua("togglePlayerDrunk(" + P + ", 1); togglePlayerCameraInterface(" + P + ", 1);"
                     "togglePlayerBlackLines(" + P + ", 1); togglePlayerScanlines(" + P + ", 1);"
                     "restorePlayerCamera(" + P + "); setCameraBehindPlayer(" + P + ");"
                     "setPlayerCameraPos(" + P + ", 1, 2, 3);"
                     "setPlayerCameraLookAt(" + P + ", 1, 2, 3, 1);"
                     "fadePlayerCamera(" + P + ", 1, 2, 3, 4, 1); shakePlayerCamera(" + P + ", 1);"
                     "playWaveForPlayer(" + P + ", 'w'); playWaveForPlayerAtPos(" + P + ", 'w', 1, 2, 3);"
                     "playSoundForPlayer(" + P + ", 1, 1, 2, 3);"
                     "createPlayerExplosion(" + P + ", 1, 2, 3, 4)"),
              "")
        << p;
  }
  // Setters give no results, acting or not.
  EXPECT_EQ(scripttest::Eval("togglePlayerDrunk(" + a_ + ", 1)"), "");
  EXPECT_EQ(scripttest::Eval("createExplosion(1, 2, 3, 4)"), "");
  Call("");
  EXPECT_EQ(Total(*alpha_, true), 3u);  // the drunk toggle, the explosion and the marker
  EXPECT_EQ(Total(*bravo_, true), 2u);
}

}  // namespace
