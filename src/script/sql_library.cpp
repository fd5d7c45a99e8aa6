// The "SQL" script library: the one MySQL connection and its stored result.
#include "script/libraries.h"
#include "script/natives.h"

// connect, disconnect, isConnected, query, selectDatabase,
// getRowCountInTable, dropDatabase, getReturnedLineData,
// getNumberOfReturnedLines join here in this order.
const luaL_Reg kSqlLibrary[] = {
    {nullptr, nullptr},
};
