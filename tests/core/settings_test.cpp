#include "core/settings.h"

#include <gtest/gtest.h>

#include "record_bytes.h"

#include <cstring>

using recordbytes::Values;

TEST(SettingsTest, DefaultsReplaceWhateverWasThere) {
  gServerSettings.port = 1;
  gServerSettings.password = "secret";
  std::strcpy(gServerSettings.bindAddress, "10.0.0.1");
  SetDefaultServerSettings();
  EXPECT_EQ(Values(gServerSettings.port, gServerSettings.maxPlayers, gServerSettings.announce), Values(4800, 50, 1));
  EXPECT_STREQ(gServerSettings.serverName, "QLM (Release RC1) Server P1");
  EXPECT_STREQ(gServerSettings.modeName, "QLM Default Mode");
  EXPECT_FALSE(gServerSettings.password.has_value());
  EXPECT_STREQ(gServerSettings.bindAddress, "");
}

TEST(SettingsTest, SanitizingReplacesQueryDelimitersAndBytesOutside32To122AndCopyingCuts) {
  char text[] = "Ab@x,y#z$ caf\xE9 {x}~\x7f\t";
  SanitizeString(text, false);
  EXPECT_STREQ(text, "Ab_x_y_z_ caf_ _x____");
  std::string password("my pass\x01\0", 9);  // blanks too, and a NUL inside
  SanitizeString(password, true);
  EXPECT_EQ(password, "my_pass__");
  char field[5];
  CopyToField(field, sizeof field, "abcdefgh");
  EXPECT_STREQ(field, "abcd");
  CopyToField(field, sizeof field, nullptr);
  EXPECT_STREQ(field, "");
}
