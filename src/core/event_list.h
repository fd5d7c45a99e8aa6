// Every script event, one row each:
//
//   QLM_EVENT(Kind, argument layout)  // onKind(arguments)
//
// The event is ScriptEventKind::kKind and the game mode's handler is the
// global "on" + Kind. The layout has one letter per argument: n a number, t a
// text. Adding an event is its row and its raiser (core/events.h); the raiser's
// arguments are checked against the layout when it is compiled.
//
// Only core/events.h includes this file, with QLM_EVENT defined.
QLM_EVENT(PlayerConnect, "n")  // onPlayerConnect(playerid)
QLM_EVENT(PlayerDisconnect, "nn")  // onPlayerDisconnect(playerid, reason)
QLM_EVENT(PlayerSpawn, "n")  // onPlayerSpawn(playerid)
QLM_EVENT(PlayerDeath, "nnn")  // onPlayerDeath(playerid, killer, reason)
QLM_EVENT(PlayerChat, "nt")  // onPlayerChat(playerid, text)
QLM_EVENT(PlayerKeyPress, "nn")  // onPlayerKeyPress(playerid, key)
QLM_EVENT(PlayerEnterVehicle, "nnn")  // onPlayerEnterVehicle(playerid, vehicleid, seat)
QLM_EVENT(PlayerExitVehicle, "nn")  // onPlayerExitVehicle(playerid, vehicleid)
QLM_EVENT(PlayerEnterGlobalMarker, "nnn")  // onPlayerEnterGlobalMarker(playerid, markerid, third)
QLM_EVENT(PlayerExitGlobalMarker, "nnn")  // onPlayerExitGlobalMarker(playerid, markerid, third)
QLM_EVENT(PlayerEnterLocalMarker, "nnn")  // onPlayerEnterLocalMarker(playerid, markerid, third)
QLM_EVENT(PlayerExitLocalMarker, "nnn")  // onPlayerExitLocalMarker(playerid, markerid, third)
QLM_EVENT(PlayerEnterGlobalPickup, "nn")  // onPlayerEnterGlobalPickup(playerid, pickupid)
QLM_EVENT(PlayerEnterLocalPickup, "nn")  // onPlayerEnterLocalPickup(playerid, pickupid)
QLM_EVENT(PlayerEnterArea, "nn")  // onPlayerEnterArea(playerid, areaid)
QLM_EVENT(PlayerLeaveArea, "nn")  // onPlayerLeaveArea(playerid, areaid)
QLM_EVENT(IRCUserJoin, "ntt")  // onIRCUserJoin(botid, nick, channel)
QLM_EVENT(IRCUserLeave, "nttn")  // onIRCUserLeave(botid, nick, channel, how)
