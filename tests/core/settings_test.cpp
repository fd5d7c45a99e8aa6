#include "core/settings.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(SettingsTest, DefaultsReplaceWhateverWasThere) {
  gServerSettings.port = 1;
  gServerSettings.password = "secret";
  std::strcpy(gServerSettings.bindAddress, "10.0.0.1");
  SetDefaultServerSettings();
  EXPECT_EQ(gServerSettings.port, 4800);
  EXPECT_EQ(gServerSettings.maxPlayers, 50);
  EXPECT_EQ(gServerSettings.announce, 1);
  EXPECT_STREQ(gServerSettings.serverName, "QLM (Release RC1) Server P1");
  EXPECT_STREQ(gServerSettings.modeName, "QLM Default Mode");
  EXPECT_FALSE(gServerSettings.password.has_value());
  EXPECT_STREQ(gServerSettings.bindAddress, "");
}

TEST(SettingsTest, SanitizingReplacesQueryDelimitersAndBytesOutside32To122) {
  char name[] = "Ab@x,y#z$";
  SanitizeString(name, false);
  EXPECT_STREQ(name, "Ab_x_y_z_");

  char accented[] = "caf\xE9 {x}~\x7f\t";
  SanitizeString(accented, false);
  EXPECT_STREQ(accented, "caf_ _x____");

  std::string password = "my pass\x01";
  SanitizeString(password, true);
  EXPECT_EQ(password, "my_pass_");

  char blank[] = "My Server";
  SanitizeString(blank, false);
  EXPECT_STREQ(blank, "My Server");
}

TEST(SettingsTest, CopyToFieldCutsAndTerminates) {
  char field[5];
  std::memset(field, 'z', sizeof field);
  CopyToField(field, sizeof field, "abcdefgh");
  EXPECT_STREQ(field, "abcd");
  CopyToField(field, sizeof field, nullptr);
  EXPECT_STREQ(field, "");
}
