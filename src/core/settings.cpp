#include "core/settings.h"

#include <cstring>

ServerSettings gServerSettings;
uint8_t gServerWeather = 0;
uint8_t gStaticInitialWantedLevel = 0;

void SetDefaultServerSettings() {
  gServerSettings = ServerSettings{};
  gServerSettings.port = 4800;
  gServerSettings.maxPlayers = 50;
  gServerSettings.announce = 1;
  CopyToField(gServerSettings.serverName, sizeof gServerSettings.serverName, kDefaultServerName);
  CopyToField(gServerSettings.modeName, sizeof gServerSettings.modeName, kDefaultModeName);
}

namespace {
char SanitizeChar(char c, bool alsoBlank) {
  const auto u = static_cast<unsigned char>(c);
  if (u < 32 || u > 122 || c == '@' || c == '#' || c == '$' || c == ',') return '_';
  if (alsoBlank && c == ' ') return '_';
  return c;
}
}  // namespace

void SanitizeString(char* text, bool alsoBlank) {
  for (; *text; ++text) *text = SanitizeChar(*text, alsoBlank);
}

void SanitizeString(std::string& text, bool alsoBlank) {
  // A NUL inside a script's text would end it in every C view; it becomes '_' too.
  for (char& c : text) c = SanitizeChar(c, alsoBlank);
}

void CopyToField(char* field, size_t fieldSize, const char* text) {
  if (fieldSize == 0) return;
  std::strncpy(field, text ? text : "", fieldSize - 1);
  field[fieldSize - 1] = '\0';
}
