#include "core/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(SettingsTest, DefaultsReplaceWhateverWasThereAndTextsAreSanitizedAndCut) {
  gServerSettings.port = 1;
  gServerSettings.password = "secret";
  std::strcpy(gServerSettings.bindAddress, "10.0.0.1");
  SetDefaultServerSettings();
  const ServerSettings& s = gServerSettings;
  EXPECT_EQ(s.port, 4800);
  EXPECT_EQ(s.maxPlayers, 50);
  EXPECT_EQ(+s.announce, 1);
  EXPECT_STREQ(s.serverName, "QLM (Release RC1) Server P1");
  EXPECT_STREQ(s.modeName, "QLM Default Mode");
  EXPECT_FALSE(s.password.has_value());
  EXPECT_STREQ(s.bindAddress, "");
  // Query delimiters and bytes outside 32 to 122 are replaced; a password's blanks too.
  char text[] = "Ab@x,y#z$ caf\xE9 {x}~\x7f\t";
  SanitizeString(text, false);
  std::string password("my pass\x01\0", 9);
  SanitizeString(password, true);
  char field[5];
  char cleared[5] = "full";
  CopyToField(field, sizeof field, "abcdefgh");
  CopyToField(cleared, sizeof cleared, nullptr);
  EXPECT_STREQ(text, "Ab_x_y_z_ caf_ _x____");
  EXPECT_EQ(password, std::string("my_pass__"));
  EXPECT_STREQ(field, "abcd");
  EXPECT_STREQ(cleared, "");
}
