// A world without a network: every pool and the NetGame (for its player pool)
// as the start-up makes them, freed again after the test.
#pragma once

#include <gtest/gtest.h>

#include "core/netgame.h"
#include "core/world.h"

class WorldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(gNetGame, nullptr);
    AllocateWorld(WorldLayerHooks{});
    players_ = GetPlayerPool();
  }
  void TearDown() override {
    FreeWorld();
    delete gNetGame;
    gNetGame = nullptr;
  }
  // Occupies a player slot (nothing is sent: there is no network).
  void Join(uint8_t playerId) { ASSERT_TRUE(ConnectPlayer("Tester", players_, playerId)); }
  // Frees it silently.
  void Leave(uint8_t playerId) { DisconnectPlayer(kReasonRestart, playerId); }

  PlayerPool* players_ = nullptr;
};
