// The camera, sound and effect natives through a running server: each payload
// layout bit for bit, who receives it, the cuts and clamps of the values, the
// wave-name limits and the player guard.
#include <gtest/gtest.h>

#include <string>

#include "script/native_test_support.h"

namespace {

using nativetest::Want;

using CameraNativesTest = nativetest::PlayerNativeTest;

TEST_F(CameraNativesTest, ScreenEffectsAndCameraCalls) {
  const char* const toggles[][2] = {{"togglePlayerDrunk", "TogglePlayerDrunk"},
                                    {"togglePlayerCameraInterface", "TogglePlayerCamInterface"},
                                    {"togglePlayerBlackLines", "TogglePlayerBlackLines"},
                                    {"togglePlayerScanlines", "TogglePlayerScanLines"}};
  for (const auto& t : toggles) {
    Run(std::string(t[0]) + "(A, 258)");  // cut to a byte, not clamped
    EXPECT_TRUE(Has(*alpha_, t[1], Want().u8(2).Stream()));
  }
  Run("restorePlayerCamera(A) setCameraBehindPlayer(A) setPlayerCameraPos(A, 0, 0, 0)");
  EXPECT_TRUE(Has(*alpha_, "RestorePlayerCamera", Want().Stream()));
  EXPECT_TRUE(Has(*alpha_, "SetCameraBehindPlayer", Want().Stream()));
  EXPECT_TRUE(Has(*alpha_, "SetPlayerCameraPos", Want().f32(0).Stream()));  // the magnitude alone
  Run("setPlayerCameraPos(A, 3, -4, 12)");
  EXPECT_TRUE(Has(*alpha_, "SetPlayerCameraPos", Want().vec3(3, -4, 12).Stream()));

  // The look-at flag is cut to a byte, then clamped to 1.
  for (auto [in, out] : {std::pair{"2", 1}, {"256", 0}, {"-1", 1}, {"0", 0}}) {
    Run(std::string("setPlayerCameraLookAt(A, 1, 2, 3, ") + in + ")");
    EXPECT_TRUE(Has(*alpha_, "SetPlayerCameraLookAt",
                    Want().vec3(1, 2, 3).c8(static_cast<uint8_t>(out)).Stream())) << in;
  }
  Run("fadePlayerCamera(A, 261, 10, 255, 65537 + 65535, 7) shakePlayerCamera(A, 65537)");
  EXPECT_TRUE(Has(*alpha_, "FadePlayerCamera", Want().c8(5).c8(10).c8(255).c16(0).c8(1).Stream()));
  EXPECT_TRUE(Has(*alpha_, "ShakePlayerCamera", Want().c16(1).Stream()));
  EXPECT_EQ(SentToPlayer(*alpha_), 14u);
  EXPECT_EQ(SentToPlayer(*bravo_), 0u);
}

TEST_F(CameraNativesTest, WaveNamesOfOneTo15CharactersToAllOrOnePlayer) {
  const std::string fifteen(15, 'w');
  Run("playWaveForAll(''); playWaveForAll('" + std::string(16, 'w') + "'); playWaveForAll(nil)"
      "playWaveForAllAtPos('', 1, 1, 1); playWaveForPlayerAtPos(A, '" + std::string(16, 'x') +
      "', 1, 1, 1); playWaveForPlayer(A, {}); playWaveForPlayer(B, '\\0ab')");
  EXPECT_EQ(SentToPlayer(*alpha_) + SentToPlayer(*bravo_), 0u);

  Run("playWaveForAll('" + fifteen + "')");
  for (auto* c : {alpha_, bravo_}) {
    EXPECT_TRUE(Has(*c, "PlayWaveForPlayer", Want().c8(15).chars(fifteen.data(), 15).Stream()));
  }
  // The name ends at its first NUL.
  Run("playWaveForPlayer(B, 'ab\\0cd')");
  EXPECT_TRUE(Has(*bravo_, "PlayWaveForPlayer", Want().c8(2).chars("ab", 2).Stream()));
  EXPECT_EQ(alpha_->Count("PlayWaveForPlayer"), 1u);

  Run("playWaveForAllAtPos('boom', 0, 0, 0); playWaveForPlayerAtPos(A, 7, 1, -2, 3)");
  EXPECT_TRUE(Has(*bravo_, "PlayWaveForPlayerAtPos", Want().c8(4).chars("boom", 4).vec3(0, 0, 0).Stream()));
  // A number is a text too.
  EXPECT_TRUE(Has(*alpha_, "PlayWaveForPlayerAtPos", Want().c8(1).chars("7", 1).vec3(1, -2, 3).Stream()));
  EXPECT_EQ(bravo_->Count("PlayWaveForPlayerAtPos"), 1u);
}

TEST_F(CameraNativesTest, SoundsAndExplosions) {
  // The coordinates go as the script's own 64-bit numbers; the type is cut.
  Run("createExplosion(0.1, -2.25, 1e300, 300)");
  auto all = Want();
  all.Stream().Write(0.1);
  all.Stream().Write(-2.25);
  all.Stream().Write(1e300);
  all.u8(44);
  for (auto* c : {alpha_, bravo_}) EXPECT_TRUE(Has(*c, "CreatePlayerExplosion", all.Stream()));

  Run("createPlayerExplosion(B, 1, 2, 3.5, 12) playSoundForPlayer(A, 65537, 1.5, -2, 3.25)");
  auto one = Want();
  one.Stream().Write(1.0);
  one.Stream().Write(2.0);
  one.Stream().Write(3.5);
  one.u8(12);
  EXPECT_TRUE(Has(*bravo_, "CreatePlayerExplosion", one.Stream()));
  EXPECT_EQ(alpha_->Count("CreatePlayerExplosion"), 1u);
  EXPECT_TRUE(Has(*alpha_, "PlaySoundForPlayer", Want().c16(1).f32(1.5f).f32(-2).f32(3.25f).Stream()));
  EXPECT_EQ(bravo_->Count("PlaySoundForPlayer"), 0u);
}

TEST_F(CameraNativesTest, ThePlayerGuardRefusesEveryPlayerNative) {
  for (const std::string p : {"100", "77", "-1", "355"}) {
    Run("togglePlayerDrunk(" + p + ", 1); togglePlayerCameraInterface(" + p + ", 1);"
        "togglePlayerBlackLines(" + p + ", 1); togglePlayerScanlines(" + p + ", 1);"
        "restorePlayerCamera(" + p + "); setCameraBehindPlayer(" + p + ");"
        "setPlayerCameraPos(" + p + ", 1, 2, 3); setPlayerCameraLookAt(" + p + ", 1, 2, 3, 1);"
        "fadePlayerCamera(" + p + ", 1, 2, 3, 4, 1); shakePlayerCamera(" + p + ", 1);"
        "playWaveForPlayer(" + p + ", 'w'); playWaveForPlayerAtPos(" + p + ", 'w', 1, 2, 3);"
        "playSoundForPlayer(" + p + ", 1, 1, 2, 3); createPlayerExplosion(" + p + ", 1, 2, 3, 4)");
  }
  EXPECT_EQ(SentToPlayer(*alpha_) + SentToPlayer(*bravo_), 0u);
  // Setters give no results, acting or not.
  EXPECT_EQ(Call("togglePlayerDrunk(A, 1)"), "");
}

}  // namespace
