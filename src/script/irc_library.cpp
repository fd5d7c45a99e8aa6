// The "IRC" script library: up to five bots and the "!" command bindings.
#include "irc/bot.h"
#include "script/libraries.h"
#include "script/natives.h"

namespace {

// The bot the first argument names: an id below 5 (after the cut to 8 bits)
// whose slot holds a bot; null otherwise.
IrcBot* ArgBot(lua_State* L) {
  IrcBotTable* table = GetIrcBotTable();
  return table ? table->Bot(script::ArgU8(L, 1)) : nullptr;
}

int CreateBot(lua_State* L) {
  IrcBotTable* table = GetIrcBotTable();
  lua_pushnumber(L, table ? table->CreateBot() : -1);
  return 1;
}

int DestroyBot(lua_State* L) {
  const uint8_t id = script::ArgU8(L, 1);
  IrcBotTable* table = GetIrcBotTable();
  lua_pushboolean(L, table ? table->DestroyBot(id) : id < kMaxIrcBots);
  return 1;
}

int Connect(lua_State* L) {
  IrcBot* bot = ArgBot(L);
  const char* server = script::ArgText(L, 2);
  const char* nick = script::ArgText(L, 4);
  if (bot && server && nick) bot->Connect(server, script::ArgU16(L, 3), nick);
  return 0;
}

int Disconnect(lua_State* L) {
  if (IrcBot* bot = ArgBot(L)) bot->Disconnect();
  return 0;
}

int JoinChannel(lua_State* L) {
  IrcBot* bot = ArgBot(L);
  const char* channel = script::ArgText(L, 2);
  if (bot && channel) bot->JoinChannel(channel);
  return 0;
}

int LeaveChannel(lua_State* L) {
  IrcBot* bot = ArgBot(L);
  const char* channel = script::ArgText(L, 2);
  if (bot && channel) bot->LeaveChannel(channel);
  return 0;
}

// The three message functions: 1 when the line went to the socket, else 0.
template <bool (IrcBot::*Operation)(const char*, const char*)>
int Message(lua_State* L) {
  IrcBot* bot = ArgBot(L);
  const char* target = script::ArgText(L, 2);
  const char* text = script::ArgText(L, 3);
  lua_pushnumber(L, bot && target && text && (bot->*Operation)(target, text) ? 1 : 0);
  return 1;
}

int GetUserLevel(lua_State* L) {
  IrcBot* bot = ArgBot(L);
  const char* channel = script::ArgText(L, 2);
  const char* nick = script::ArgText(L, 3);
  if (bot && channel && nick) {
    lua_pushstring(L, bot->GetUserLevel(channel, nick));
  } else {
    lua_pushnumber(L, 0);
  }
  return 1;
}

}  // namespace

const luaL_Reg kIrcLibrary[] = {
    LibraryFunction<CreateBot, Exactly(0), WrongCount::kMinusOne>("createBot"),
    LibraryFunction<DestroyBot, Exactly(1), WrongCount::kFalse>("destroyBot"),
    LibraryFunction<Connect, Exactly(4)>("connect"),
    LibraryFunction<Disconnect, Exactly(1)>("disconnect"),
    LibraryFunction<JoinChannel, Exactly(2)>("joinChannel"),
    LibraryFunction<LeaveChannel, Exactly(2)>("leaveChannel"),
    LibraryFunction<Message<&IrcBot::PrivateMessage>, Exactly(3), WrongCount::kZero>(
        "privateMessage"),
    LibraryFunction<Message<&IrcBot::Send>, Exactly(3), WrongCount::kZero>("send"),
    LibraryFunction<Message<&IrcBot::Notice>, Exactly(3), WrongCount::kZero>("notice"),
    LibraryFunction<library::IrcAddCommand, Between(2, 3)>("addCommand"),
    LibraryFunction<GetUserLevel, Exactly(3), WrongCount::kZero>("getUserLevel"),
    {nullptr, nullptr},
};
