// The "SQL" script library: the one MySQL connection and its stored result.
#include "script/libraries.h"
#include "script/natives.h"

#include <string>

#include "sql/sqlmanager.h"

namespace {

// The manager while a connection is open, else null: the functions that act
// only while connected test this first.
SqlManager* ConnectedManager() {
  SqlManager* manager = GetSqlManager();
  return manager && manager->IsConnected() ? manager : nullptr;
}

int Connect(lua_State* L) {
  SqlManager* manager = GetSqlManager();
  if (!manager) return 0;
  // The manager ignores the call while connected or when a text is missing.
  manager->Connect(script::ArgText(L, 1), script::ArgText(L, 2), script::ArgText(L, 3),
                   script::ArgText(L, 4));
  return 0;
}

int Disconnect(lua_State* L) {
  if (SqlManager* manager = GetSqlManager()) manager->Disconnect();
  return 0;
}

int IsConnected(lua_State* L) {
  lua_pushnumber(L, ConnectedManager() ? 1 : 0);
  return 1;
}

int Query(lua_State* L) {
  SqlManager* manager = ConnectedManager();
  size_t length = 0;
  const char* statement = script::ArgText(L, 1, &length);
  if (manager && statement) manager->Query(std::string_view(statement, length));
  return 0;
}

int SelectDatabase(lua_State* L) {
  if (SqlManager* manager = ConnectedManager()) manager->SelectDatabase(script::ArgText(L, 1));
  return 0;
}

int GetRowCountInTable(lua_State* L) {
  SqlManager* manager = ConnectedManager();
  const uint64_t count = manager ? manager->GetRowCountInTable(script::ArgText(L, 1)) : 0;
  lua_pushnumber(L, static_cast<lua_Number>(count));
  return 1;
}

int DropDatabase(lua_State* L) {
  if (SqlManager* manager = ConnectedManager()) manager->DropDatabase(script::ArgText(L, 1));
  return 0;
}

int GetReturnedLineData(lua_State* L) {
  // The row's low 16 bits as a signed number: 65536 reads row 0, -1 nothing.
  const auto row = static_cast<int16_t>(static_cast<uint16_t>(script::ArgInt(L, 1)));
  SqlManager* manager = GetSqlManager();
  const std::string text = manager ? manager->GetReturnedLineData(row) : kSqlNoRow;
  lua_pushlstring(L, text.data(), text.size());
  return 1;
}

int GetNumberOfReturnedLines(lua_State* L) {
  SqlManager* manager = ConnectedManager();
  lua_pushnumber(L, manager ? manager->GetNumberOfReturnedLines() : 0);
  return 1;
}

}  // namespace

const luaL_Reg kSqlLibrary[] = {
    LibraryFunction<Connect, Exactly(4)>("connect"),
    LibraryFunction<Disconnect, Exactly(0)>("disconnect"),
    LibraryFunction<IsConnected, Exactly(0), WrongCount::kZero>("isConnected"),
    LibraryFunction<Query, Exactly(1)>("query"),
    LibraryFunction<SelectDatabase, Exactly(1)>("selectDatabase"),
    LibraryFunction<GetRowCountInTable, Exactly(1), WrongCount::kZero>("getRowCountInTable"),
    LibraryFunction<DropDatabase, Exactly(1)>("dropDatabase"),
    LibraryFunction<GetReturnedLineData, Exactly(1)>("getReturnedLineData"),
    LibraryFunction<GetNumberOfReturnedLines, Exactly(0), WrongCount::kZero>(
        "getNumberOfReturnedLines"),
    {nullptr, nullptr},
};
