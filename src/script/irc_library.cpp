// The "IRC" script library: up to five bots and the "!" command bindings.
#include "script/libraries.h"
#include "script/natives.h"

// createBot, destroyBot, connect, disconnect, joinChannel, leaveChannel,
// privateMessage, send and notice join before addCommand, getUserLevel after
// it, in this order.
const luaL_Reg kIrcLibrary[] = {
    LibraryFunction<library::IrcAddCommand, Between(2, 3)>("addCommand"),
    {nullptr, nullptr},
};
