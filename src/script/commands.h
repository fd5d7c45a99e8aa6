// Script commands: the game mode binds command words to its functions
// ("addCommand" for players' command lines, "IRC.addCommand" for "!" lines in
// IRC channels); a line is split into words and every matching binding's
// function is called with the sender and the words.
#pragma once

#include <lua.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr size_t kMaxScriptCommands = 10000;
// Longest command word and function name a binding takes.
inline constexpr size_t kMaxScriptCommandTextLength = 255;
// A dispatched line is taken up to this many bytes...
inline constexpr size_t kMaxCommandLineLength = 255;
// ...and matches nothing when its command word is longer than this.
inline constexpr size_t kMaxCommandWordLength = 79;
// The word scanner cuts longer runs into words of this length.
inline constexpr uint32_t kMaxScannedWordLength = 99;

struct ScriptCommand {
  std::string word;
  std::string function;
  // -1: every word separately; 1..127: that many parameters after the
  // sender, the last taking the rest of the line; anything else: never runs.
  int8_t parameterCount;
};

class ScriptCommandTable {
 public:
  // Appends a binding (a second binding of a word is a further entry). False,
  // and nothing added, when the table is full or a text is too long.
  bool Add(std::string_view word, std::string_view function, int8_t parameterCount);
  void Reset() { entries_.clear(); }
  size_t Count() const { return entries_.size(); }
  const ScriptCommand& Entry(size_t index) const { return entries_[index]; }

 private:
  std::vector<ScriptCommand> entries_;
};

ScriptCommandTable& PlayerCommandTable();
ScriptCommandTable& IrcCommandTable();
// Empties both tables and puts the word cursor back to 0 (each engine's
// creation and destruction).
void ResetScriptCommandTables();

// Where in the current line the word scanner has got to; shared by both
// dispatchers, which never run at the same time.
extern uint32_t gCommandWordCursor;
// Skips bytes of value 32 or less from `start`, then takes up to 99 bytes
// above 32 as a word; leaves the cursor after the word and returns its length
// (0 at the end of the line).
uint32_t ReadCommandWord(std::string_view line, uint32_t start);

// The body of "addCommand" and "IRC.addCommand" on the given table: (word,
// function name [, parameter count]).
int AddScriptCommand(ScriptCommandTable& table, lua_State* L);

namespace script {

// A player's command line; does nothing while no engine exists.
void DispatchPlayerCommand(const char* line, uint8_t playerId);
// An IRC message after its "!"; the nick stands where a player's id would.
void DispatchIRCCommand(const char* line, const char* nick);

}  // namespace script
