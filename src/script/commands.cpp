#include "script/commands.h"

#include "script/engine.h"
#include "script/libraries.h"
#include "script/native_list.h"
#include "script/natives.h"

uint32_t gCommandWordCursor = 0;

bool ScriptCommandTable::Add(std::string_view word, std::string_view function,
                             int8_t parameterCount) {
  if (entries_.size() >= kMaxScriptCommands) return false;
  if (word.size() > kMaxScriptCommandTextLength || function.size() > kMaxScriptCommandTextLength) {
    return false;
  }
  entries_.push_back(ScriptCommand{std::string(word), std::string(function), parameterCount});
  return true;
}

ScriptCommandTable& PlayerCommandTable() {
  static ScriptCommandTable table;
  return table;
}

ScriptCommandTable& IrcCommandTable() {
  static ScriptCommandTable table;
  return table;
}

void ResetScriptCommandTables() {
  PlayerCommandTable().Reset();
  IrcCommandTable().Reset();
  gCommandWordCursor = 0;
}

uint32_t ReadCommandWord(std::string_view line, uint32_t start) {
  const size_t size = line.size();
  size_t pos = start < size ? start : size;
  while (pos < size && static_cast<uint8_t>(line[pos]) <= 32) ++pos;
  const size_t begin = pos;
  while (pos < size && static_cast<uint8_t>(line[pos]) > 32 && pos - begin < kMaxScannedWordLength) {
    ++pos;
  }
  gCommandWordCursor = static_cast<uint32_t>(pos);
  return static_cast<uint32_t>(pos - begin);
}

int AddScriptCommand(ScriptCommandTable& table, lua_State* L) {
  size_t wordLength = 0;
  size_t functionLength = 0;
  const char* word = script::ArgText(L, 1, &wordLength);
  const char* function = script::ArgText(L, 2, &functionLength);
  if (!word || !function) return 0;
  // The low 8 bits as a signed byte, so 255 means "every word separately".
  const int8_t parameterCount =
      lua_gettop(L) >= 3 ? static_cast<int8_t>(static_cast<uint8_t>(script::ArgInt(L, 3))) : -1;
  table.Add(std::string_view(word, wordLength), std::string_view(function, functionLength),
            parameterCount);
  return 0;
}

namespace natives {
int AddCommand(lua_State* L) { return AddScriptCommand(PlayerCommandTable(), L); }
}  // namespace natives

namespace library {
int IrcAddCommand(lua_State* L) { return AddScriptCommand(IrcCommandTable(), L); }
}  // namespace library

namespace {

// Parameter count -1: every piece of the line between spaces (runs of spaces
// count as one; only byte 32 separates) after the command word.
void AppendSpaceSeparatedWords(std::string_view line, std::vector<ScriptArg>& args) {
  bool first = true;
  size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    if (pos >= line.size()) break;
    const size_t begin = pos;
    while (pos < line.size() && line[pos] != ' ') ++pos;
    if (first) {
      first = false;
      continue;
    }
    args.push_back(ScriptArg::Text(line.substr(begin, pos - begin)));
  }
}

// Parameter count 1..127: the first count - 1 words one by one, then the rest
// of the line from the start of the next word. False when the line has fewer
// words than that after the command word.
bool AppendCountedWords(std::string_view line, int count, std::vector<ScriptArg>& args) {
  gCommandWordCursor = 0;
  ReadCommandWord(line, 0);
  for (int k = 1; k <= count; ++k) {
    const uint32_t length = ReadCommandWord(line, gCommandWordCursor);
    if (length == 0) return false;
    const size_t begin = gCommandWordCursor - length;
    args.push_back(ScriptArg::Text(k < count ? line.substr(begin, length) : line.substr(begin)));
  }
  return true;
}

void Dispatch(ScriptCommandTable& table, const char* rawLine, const ScriptArg& sender) {
  ScriptEngine* engine = GetScriptEngine();
  if (!engine || !rawLine) return;
  // Our own copy: a called function may free the caller's buffer (an IRC
  // command that destroys the bot whose line this is).
  const std::string ownLine(std::string_view(rawLine).substr(0, kMaxCommandLineLength));
  const std::string_view line(ownLine);
  const std::string_view word = line.substr(0, line.find(' '));
  if (word.size() > kMaxCommandWordLength) return;

  std::vector<ScriptArg> args;
  // Bindings that the called functions add are not visited in this dispatch.
  const size_t count = table.Count();
  for (size_t i = 0; i < count && i < table.Count(); ++i) {
    if (table.Entry(i).word != word) continue;
    // Copies: a called function may add bindings, and the table may grow.
    const std::string function = table.Entry(i).function;
    const int parameterCount = table.Entry(i).parameterCount;
    const CallLabel label{"command", function, word};

    args.clear();
    args.push_back(sender);
    if (parameterCount == -1) {
      AppendSpaceSeparatedWords(line, args);
      CallScriptFunction(*engine, function.c_str(), args.data(), args.size(), label);
      return;
    }
    // A missing function ends the dispatch; so does a restart from inside
    // the function (it discarded the tables).
    if (parameterCount >= 1 && AppendCountedWords(line, parameterCount, args)) {
      if (CallScriptFunction(*engine, function.c_str(), args.data(), args.size(), label) !=
          ScriptCall::kDone) {
        return;
      }
      continue;
    }
    // A binding that does not run this time still ends the dispatch when its
    // function is missing, as one that runs would.
    if (LookUpScriptFunction(*engine, function.c_str()) != ScriptCall::kDone) return;
  }
}

}  // namespace

namespace script {

void DispatchPlayerCommand(const char* line, uint8_t playerId) {
  Dispatch(PlayerCommandTable(), line, ScriptArg::Number(playerId));
}

void DispatchIRCCommand(const char* line, const char* nick) {
  // Kept here for the whole dispatch, as the line is (see Dispatch).
  const std::string ownNick(nick ? nick : "");
  Dispatch(IrcCommandTable(), line, ScriptArg::Text(ownNick));
}

}  // namespace script
