#include "script/engine.h"

#include <exception>
#include <string>

#include "core/events.h"
#include "core/log.h"
#include "script/commands.h"
#include "script/events.h"
#include "script/libraries.h"
#include "script/native_list.h"
#include "script/natives.h"

uint16_t gExtensionCounter = 1;

namespace {

ScriptEngine* currentEngine = nullptr;
uint64_t hostEpoch = 0;

// Lua's text for an error value; it may be any value, not only a string.
// Called inside protected code (converting a number allocates).
std::string ErrorText(lua_State* L, int index) {
  size_t length = 0;
  if (lua_type(L, index) == LUA_TSTRING || lua_type(L, index) == LUA_TNUMBER) {
    const char* text = lua_tolstring(L, index, &length);
    return std::string(text, length);
  }
  return std::string("(error object is a ") + luaL_typename(L, index) + " value)";
}

int CallBody(lua_State* L);

// The message handler of event, timer and command calls: the error text and
// a traceback of where it happened, as the debug library would give it.
constexpr int kTracebackHead = 12;  // levels shown before the gap
constexpr int kTracebackTail = 10;  // levels shown after it

int Traceback(lua_State* L) {
  std::string text;
  try {
    text = ErrorText(L, 1);
    text += "\nstack traceback:";
    lua_Debug ar;
    // The call's own frames end at our entry into the script (CallBody); a
    // nested call's traceback leaves out the frames of the call around it.
    int end = 1;
    for (; lua_getstack(L, end, &ar); ++end) {
      lua_getinfo(L, "f", &ar);
      const bool ours = lua_tocfunction(L, -1) == CallBody;
      lua_pop(L, 1);
      if (ours) break;
    }
    for (int level = 1; level < end; ++level) {
      if (level > kTracebackHead && end - level > kTracebackTail) {
        text += "\n\t...";
        level = end - kTracebackTail - 1;
        continue;
      }
      lua_getstack(L, level, &ar);
      lua_getinfo(L, "Snl", &ar);
      text += "\n\t";
      text += ar.short_src;
      text += ':';
      if (ar.currentline > 0) text += std::to_string(ar.currentline) + ':';
      if (*ar.namewhat != '\0') {
        text += std::string(" in function '") + ar.name + "'";
      } else if (*ar.what == 'm') {
        text += " in main chunk";
      } else if (*ar.what == 'C' || *ar.what == 't') {
        text += " ?";
      } else {
        text += " in function <" + std::string(ar.short_src) + ':' +
                std::to_string(ar.linedefined) + '>';
      }
    }
  } catch (const std::exception&) {
    // Out of memory while describing the error: hand on what we have. (Lua's
    // own errors are not caught here: they unwind as Lua expects.)
  }
  lua_pushlstring(L, text.data(), text.size());
  return 1;
}

struct CallContext {
  const char* function = nullptr;
  const ScriptArg* args = nullptr;
  size_t count = 0;
  bool notAFunction = false;
  std::string error;
};

// Runs inside lua_pcall, under the traceback handler: the lookup too, so an
// __index on the globals that fails is reported like any other error.
int CallBody(lua_State* L) {
  auto* call = static_cast<CallContext*>(lua_touserdata(L, 1));
  lua_settop(L, 0);
  lua_getfield(L, LUA_GLOBALSINDEX, call->function);
  if (!lua_isfunction(L, -1)) {
    call->notAFunction = true;
    return 0;
  }
  if (call->count > static_cast<size_t>(INT32_MAX - LUA_MINSTACK) ||
      !lua_checkstack(L, static_cast<int>(call->count) + LUA_MINSTACK)) {
    return luaL_error(L, "too many arguments (%d)", static_cast<int>(call->count));
  }
  for (size_t i = 0; i < call->count; ++i) {
    const ScriptArg& arg = call->args[i];
    if (arg.isText) {
      lua_pushlstring(L, arg.text ? arg.text : "", arg.text ? arg.length : 0);
    } else {
      lua_pushnumber(L, arg.number);
    }
  }
  lua_call(L, static_cast<int>(call->count), 0);
  return 0;
}

// Runs inside lua_cpcall, so that everything the call allocates (the
// handler, the arguments) is protected too; a failure is kept as text.
int ProtectedCall(lua_State* L) {
  auto* call = static_cast<CallContext*>(lua_touserdata(L, 1));
  lua_settop(L, 0);
  lua_pushcfunction(L, Traceback);
  lua_pushcfunction(L, CallBody);
  lua_pushlightuserdata(L, call);
  if (lua_pcall(L, 1, 0, 1) != 0) call->error = ErrorText(L, -1);
  return 0;
}

struct LookupContext {
  const char* name = nullptr;
  bool isFunction = false;
};

int LookupBody(lua_State* L) {
  auto* lookup = static_cast<LookupContext*>(lua_touserdata(L, 1));
  lua_getfield(L, LUA_GLOBALSINDEX, lookup->name);
  lookup->isFunction = lua_isfunction(L, -1);
  return 0;
}

// The text of a failed lua_cpcall when the body did not record one.
std::string StatusText(lua_State* L, int status) {
  if (status == -1) return "C++ exception";
  if (lua_type(L, -1) == LUA_TSTRING) return lua_tostring(L, -1);
  if (status == LUA_ERRMEM) return "not enough memory";
  if (status == LUA_ERRERR) return "error in error handling";
  return "unknown error";
}

int SetUpState(lua_State* L) {
  auto* engine = static_cast<ScriptEngine*>(lua_touserdata(L, 1));
  lua_settop(L, 0);
  engine->RegisterXMLLibrary();
  engine->RegisterIRCLibrary();
  engine->RegisterSQLLibrary();
  luaL_openlibs(L);
  return 0;
}

struct MainScriptContext {
  std::string error;
  bool failed = false;
};

// Registers the natives, then loads and runs "Main.lua" without a message
// handler: its error is logged as Lua's bare text.
int RunMainScript(lua_State* L) {
  auto* context = static_cast<MainScriptContext*>(lua_touserdata(L, 1));
  lua_settop(L, 0);
  RegisterNatives(L);
  if (luaL_loadfile(L, "Main.lua") != 0 || lua_pcall(L, 0, 0, 0) != 0) {
    context->failed = true;
    context->error = ErrorText(L, -1);
    lua_pop(L, 1);
  }
  return 0;
}

void RegisterLibrary(lua_State* L, const char* name, const luaL_Reg* functions) {
  luaL_register(L, name, functions);
  lua_pop(L, 1);
}

}  // namespace

ScriptEngine::ScriptEngine() {
  ResetScriptCommandTables();
  state_ = luaL_newstate();
  if (state_) {
    const int status = lua_cpcall(state_, SetUpState, this);
    if (status != 0) {
      LogPrint(1, "[SCRIPT] The script state could not be set up: %s",
               StatusText(state_, status).c_str());
      lua_settop(state_, 0);
    }
  } else {
    LogPrint(1, "[SCRIPT] The script state could not be created.");
  }
  gExtensionCounter = 1;
}

ScriptEngine::~ScriptEngine() {
  // A discard that waited for a running call must not wipe the commands of
  // an engine made since.
  if (!currentEngine || currentEngine == this) ResetScriptCommandTables();
  if (state_) lua_close(state_);
  state_ = nullptr;
}

void ScriptEngine::RegisterXMLLibrary() { RegisterLibrary(state_, "XML", kXmlLibrary); }
void ScriptEngine::RegisterIRCLibrary() { RegisterLibrary(state_, "IRC", kIrcLibrary); }
void ScriptEngine::RegisterSQLLibrary() { RegisterLibrary(state_, "SQL", kSqlLibrary); }

ScriptCallScope::~ScriptCallScope() {
  if (--engine_.callDepth_ == 0 && engine_.discardWhenIdle_) delete &engine_;
}

ScriptEngine* GetScriptEngine() { return currentEngine; }

void AdvanceScriptHostEpoch() { ++hostEpoch; }

void PublishNewScriptEngine() {
  DestroyScriptEngine();
  currentEngine = new ScriptEngine();
  AdvanceScriptHostEpoch();
  SetScriptEventSink(&GetScriptEventRaiser());
}

void DestroyScriptEngine() {
  ScriptEngine* engine = currentEngine;
  if (!engine) return;
  SetScriptEventSink(nullptr);
  currentEngine = nullptr;
  AdvanceScriptHostEpoch();
  ResetScriptCommandTables();
  if (engine->callDepth_ > 0) {
    engine->discardWhenIdle_ = true;
  } else {
    delete engine;
  }
}

void RegisterScriptNatives() {
  ScriptEngine* engine = currentEngine;
  if (!engine || !engine->State()) return;
  ScriptCallScope scope(*engine);
  lua_State* L = engine->State();
  const int top = lua_gettop(L);
  MainScriptContext context;
  const int status = lua_cpcall(L, RunMainScript, &context);
  if (status != 0 && !context.failed) {
    context.failed = true;
    context.error = StatusText(L, status);
  }
  lua_settop(L, top);
  if (context.failed) LogPrint(1, "%s", context.error.c_str());
}

ScriptCall CallScriptFunction(ScriptEngine& engine, const char* function, const ScriptArg* args,
                              size_t count, const CallLabel& label) {
  lua_State* L = engine.State();
  if (!L || !function) return ScriptCall::kNotAFunction;
  const uint64_t epoch = hostEpoch;
  ScriptCallScope scope(engine);
  const int top = lua_gettop(L);
  CallContext call;
  call.function = function;
  call.args = args;
  call.count = count;
  const int status = lua_cpcall(L, ProtectedCall, &call);
  if (status != 0 && call.error.empty()) call.error = StatusText(L, status);
  lua_settop(L, top);
  if (!call.notAFunction && !call.error.empty()) LogScriptError(label, call.error);
  if (hostEpoch != epoch) return ScriptCall::kHostGone;
  return call.notAFunction ? ScriptCall::kNotAFunction : ScriptCall::kDone;
}

ScriptCall LookUpScriptFunction(ScriptEngine& engine, const char* name) {
  lua_State* L = engine.State();
  if (!L || !name) return ScriptCall::kNotAFunction;
  const uint64_t epoch = hostEpoch;
  ScriptCallScope scope(engine);
  const int top = lua_gettop(L);
  LookupContext lookup;
  lookup.name = name;
  const int status = lua_cpcall(L, LookupBody, &lookup);
  lua_settop(L, top);
  if (hostEpoch != epoch) return ScriptCall::kHostGone;
  return status == 0 && lookup.isFunction ? ScriptCall::kDone : ScriptCall::kNotAFunction;
}

void LogScriptError(const CallLabel& label, std::string_view text) {
  const size_t end = text.find('\n');
  const std::string first(text.substr(0, end));
  const std::string name(label.name);
  if (label.command.empty()) {
    LogPrint(1, "[SCRIPT] Error in %s '%s': %s", label.kind, name.c_str(), first.c_str());
  } else {
    const std::string command(label.command);
    LogPrint(1, "[SCRIPT] Error in %s '%s' (function '%s'): %s", label.kind, command.c_str(),
             name.c_str(), first.c_str());
  }
  if (end == std::string_view::npos) return;
  std::string_view rest = text.substr(end + 1);
  while (!rest.empty()) {
    const size_t next = rest.find('\n');
    const std::string line(rest.substr(0, next));
    LogPrint(0, "%s", line.c_str());
    if (next == std::string_view::npos) break;
    rest = rest.substr(next + 1);
  }
}

namespace natives {

int LoadExtension(lua_State* L) {
  if (gExtensionCounter >= kMaxExtensionCounter) return 0;
  size_t length = 0;
  const char* name = script::ArgText(L, 1, &length);
  if (!name || length < 1 || length > kMaxExtensionNameLength) return 0;
  // The file name is the script's text; a copy keeps it while the file runs.
  const std::string file(name, length);
  // The number is taken before the file runs: an extension that loads further
  // extensions (or itself) gives each its own number, and the cap bounds that
  // recursion too.
  const int id = gExtensionCounter++;
  LogPrint(1, "[EXTENSION] Extension '%s' has been loaded. [ID: %d]", file.c_str(), id);
  const int top = lua_gettop(L);
  const bool failed = luaL_loadfile(L, file.c_str()) != 0 || lua_pcall(L, 0, 0, 0) != 0;
  if (failed) {
    const std::string error = ErrorText(L, -1);
    LogPrint(1, "%s", error.c_str());
  }
  lua_settop(L, top);
  return 0;
}

}  // namespace natives
