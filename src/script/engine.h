// The script engine: the one Lua state the game mode runs in, its set-up
// (script libraries, standard libraries, natives, "Main.lua"), and the one
// protected way into it that events, timers and commands share.
//
// After any call into the script, anything may be gone: the script can restart
// the game mode (which discards this engine, the timer pool and the command
// tables), destroy a timer or an IRC bot, kick or ban the player whose event
// it is. So the host keeps one rule:
//  - a call keeps the engine it runs on alive until it returns;
//  - the call says whether the host (the current engine and timer pool) is
//    still the one it was made on: ScriptCall::kHostGone when it is not, and
//    then the caller stops at once, touching nothing it held before the call;
//  - anything else a caller uses after the call (the line, a nick, a function
//    name) is its own copy, and an object the script could destroy (a timer,
//    a bot, a player) is looked up again by its id.
#pragma once

#include <lua.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class ScriptEngine {
 public:
  // Resets both command tables, creates the state, registers "XML", "IRC"
  // and "SQL" (in that order) and the standard libraries, and sets the
  // extension counter to 1.
  ScriptEngine();
  // Resets the command tables and closes the state.
  ~ScriptEngine();
  ScriptEngine(const ScriptEngine&) = delete;
  ScriptEngine& operator=(const ScriptEngine&) = delete;

  // Null only when Lua could not allocate a state.
  lua_State* State() const { return state_; }

  // Each registers one library table; the constructor calls them in this
  // order inside a protected call.
  void RegisterXMLLibrary();
  void RegisterIRCLibrary();
  void RegisterSQLLibrary();

 private:
  friend class ScriptCallScope;
  friend void DestroyScriptEngine();

  lua_State* state_ = nullptr;
  // Script calls in progress on this engine; a discard waits for them.
  int callDepth_ = 0;
  bool discardWhenIdle_ = false;
};

// Numbers the files that "loadExtension" loads; every engine starts it at 1.
extern uint16_t gExtensionCounter;
inline constexpr uint16_t kMaxExtensionCounter = 200;  // so 199 loads per engine
inline constexpr size_t kMaxExtensionNameLength = 49;

// The current engine; null before start-up and while a restart is pending.
ScriptEngine* GetScriptEngine();
// Creates an engine, makes it current and installs the script event sink.
void PublishNewScriptEngine();
// Empties the current-engine reference and removes the event sink at once;
// the engine itself is destroyed now, or when the script call that asked for
// it (a restart from inside the game mode) has returned.
void DestroyScriptEngine();
// Registers the natives in the current engine and runs "Main.lua" from the
// working directory; failures are only logged.
void RegisterScriptNatives();

// Marks the host as replaced: the engine or the timer pool was created or
// discarded. A script call under way then ends with ScriptCall::kHostGone.
void AdvanceScriptHostEpoch();

// Keeps an engine alive while a script call runs on it (the call into the
// script holds one itself).
class ScriptCallScope {
 public:
  explicit ScriptCallScope(ScriptEngine& engine) : engine_(engine) { ++engine_.callDepth_; }
  ~ScriptCallScope();
  ScriptCallScope(const ScriptCallScope&) = delete;
  ScriptCallScope& operator=(const ScriptCallScope&) = delete;

 private:
  ScriptEngine& engine_;
};

// One argument of a script call: a number, or a text with its length.
struct ScriptArg {
  static ScriptArg Number(double value) { return {false, value, nullptr, 0}; }
  static ScriptArg Text(std::string_view text) { return {true, 0, text.data(), text.size()}; }

  bool isText;
  double number;
  const char* text;
  size_t length;
};

// Names a script call in an error report: "event 'onPlayerChat'",
// "timer function 'tick'", "command '/pm' (function 'cmdPm')".
struct CallLabel {
  const char* kind;
  std::string_view name;
  std::string_view command = {};
};

// How a call into the script ended, and whether the host survived it.
enum class ScriptCall {
  kDone,          // the function ran (an error in it has been logged); for a
                  // lookup, the global is a function. The host is as it was.
  kNotAFunction,  // the global of that name is not a function: nothing ran.
                  // The host is as it was.
  kHostGone,      // the engine or the timer pool was replaced or discarded
                  // meanwhile: the caller stops.
};

// Looks up the global `function` in the engine's state (at every call: the
// script may replace it any time) and calls it with the arguments, protected,
// with no results. An error is logged with a time stamp, the label, Lua's
// error text and a traceback; nothing is left on the Lua stack either way.
ScriptCall CallScriptFunction(ScriptEngine& engine, const char* function, const ScriptArg* args,
                              size_t count, const CallLabel& label);
// Whether the global `name` is a function, looked up protected (a failing
// lookup counts as "not a function"). The lookup may run script code (an
// __index on the globals), so it is a call like any other.
ScriptCall LookUpScriptFunction(ScriptEngine& engine, const char* name);

// Logs a script error: the first line of `text` after "[SCRIPT] Error in
// <label>: " with a time stamp, every further line (the traceback) as it is.
void LogScriptError(const CallLabel& label, std::string_view text);
