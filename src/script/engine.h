// The script engine: the one Lua state the game mode runs in, its set-up
// (script libraries, standard libraries, natives, "Main.lua"), and the one
// protected way into it that events, timers and commands share.
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

// Changes whenever the current engine or the timer pool is replaced or
// discarded. Loops that call into the script compare it after each call and
// stop when it changed: what they were walking may be gone.
uint64_t ScriptHostEpoch();
void AdvanceScriptHostEpoch();

// Keeps an engine alive while a script call runs on it.
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

enum class CallOutcome {
  kCalled,        // the function ran (an error in it has been logged)
  kNotAFunction,  // the global of that name is not a function: nothing ran
};

// Looks up the global `function` in the engine's state (at every call: the
// script may replace it any time) and calls it with the arguments, protected,
// with no results. An error is logged with a time stamp, the label, Lua's
// error text and a traceback; nothing is left on the Lua stack either way.
CallOutcome CallScriptFunction(ScriptEngine& engine, const char* function, const ScriptArg* args,
                               size_t count, const CallLabel& label);
// True when the global `name` is a function (looked up protected: a failing
// lookup counts as "not a function"). The lookup may run script code, so a
// caller compares ScriptHostEpoch() afterwards, as after a call.
bool IsScriptFunction(ScriptEngine& engine, const char* name);

// Logs a script error: the first line of `text` after "[SCRIPT] Error in
// <label>: " with a time stamp, every further line (the traceback) as it is.
void LogScriptError(const CallLabel& label, std::string_view text);
