#include "core/clientcalls.h"

// The join and the client calls arrive with the game's join road; until then
// the calls are registered and ignored.
void HandleClientJoin(net::RPCParameters*) {}
void HandleNewSpawn(net::RPCParameters*) {}
void HandleCommandSend(net::RPCParameters*) {}
void HandlePlayerDeath(net::RPCParameters*) {}
void HandlePlayerChat(net::RPCParameters*) {}
void HandleEnterGlobalPickup(net::RPCParameters*) {}
void HandleEnterLocalPickup(net::RPCParameters*) {}
void HandleEnterGlobalMarker(net::RPCParameters*) {}
void HandleExitGlobalMarker(net::RPCParameters*) {}
void HandleEnterLocalMarker(net::RPCParameters*) {}
void HandleExitLocalMarker(net::RPCParameters*) {}
void HandleEnterVehicle(net::RPCParameters*) {}
void HandleExitVehicle(net::RPCParameters*) {}
void HandleKeyPress(net::RPCParameters*) {}
void HandleSendVehicleEntry(net::RPCParameters*) {}
void HandleVehicleDeath(net::RPCParameters*) {}
