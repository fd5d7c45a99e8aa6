// The server settings: defaults in code, changed by the game mode's top level.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct ServerSettings {
  uint16_t port = 0;
  uint16_t maxPlayers = 0;
  uint8_t announce = 0;
  char serverName[100] = {0};
  char modeName[100] = {0};
  std::optional<std::string> password;  // none when unset
  char bindAddress[20] = {0};
};

extern ServerSettings gServerSettings;

// The weather (0..5) and the static initial wanted-level flag, written only by
// their natives, 0 at process start and kept across a restart. Both travel in
// "InitialConnection".
extern uint8_t gServerWeather;
extern uint8_t gStaticInitialWantedLevel;

inline constexpr const char* kServerVersion = "QLM (Release RC1 P1)";
inline constexpr const char* kConsoleTitle = "QLM Release RC1 P1";
inline constexpr const char* kDefaultServerName = "QLM (Release RC1) Server P1";
inline constexpr const char* kDefaultModeName = "QLM Default Mode";

// Zero-fills the settings and gives them their defaults.
void SetDefaultServerSettings();
// In place: '@', '#', '$', ',' and every byte outside 32..122 become '_';
// with `alsoBlank` a blank becomes '_' too.
void SanitizeString(char* text, bool alsoBlank);
void SanitizeString(std::string& text, bool alsoBlank);
// Bytes below 32 and 127: kept out of names and the log, where they would
// reach the operator's terminal as line breaks or escape sequences.
inline bool IsControlByte(unsigned char c) { return c < 32 || c == 127; }
// Copies `text` into a fixed field, cut to fit and NUL-terminated.
void CopyToField(char* field, size_t fieldSize, const char* text);
