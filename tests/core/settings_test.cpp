#include "core/settings.h"

#include <gtest/gtest.h>

#include <cstring>

#include "record_bytes.h"

TEST(SettingsTest, DefaultsReplaceWhateverWasThereAndTextsAreSanitizedAndCut) {
  gServerSettings.port = 1;
  gServerSettings.password = "secret";
  std::strcpy(gServerSettings.bindAddress, "10.0.0.1");
  SetDefaultServerSettings();
  const ServerSettings& s = gServerSettings;
  EXPECT_EQ(Join(s.port, s.maxPlayers, s.announce, s.serverName, s.modeName, s.password.has_value(), s.bindAddress),
            "4800|50|1|QLM (Release RC1) Server P1|QLM Default Mode|0|");
  // Query delimiters and bytes outside 32 to 122 are replaced; a password's blanks too.
  char text[] = "Ab@x,y#z$ caf\xE9 {x}~\x7f\t";
  SanitizeString(text, false);
  std::string password("my pass\x01\0", 9);
  SanitizeString(password, true);
  char field[5], cleared[5] = "full";
  CopyToField(field, sizeof field, "abcdefgh");
  CopyToField(cleared, sizeof cleared, nullptr);
  EXPECT_EQ(Join(text, password, field, cleared), "Ab_x_y_z_ caf_ _x____|my_pass__|abcd|");
}
