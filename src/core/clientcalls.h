// Handlers of the calls clients send to the server.
#pragma once

#include "net/types.h"

void HandleClientJoin(net::RPCParameters* params);
void HandleNewSpawn(net::RPCParameters* params);
void HandleCommandSend(net::RPCParameters* params);
void HandlePlayerDeath(net::RPCParameters* params);
void HandlePlayerChat(net::RPCParameters* params);
void HandleEnterGlobalPickup(net::RPCParameters* params);
void HandleEnterLocalPickup(net::RPCParameters* params);
void HandleEnterGlobalMarker(net::RPCParameters* params);
void HandleExitGlobalMarker(net::RPCParameters* params);
void HandleEnterLocalMarker(net::RPCParameters* params);
void HandleExitLocalMarker(net::RPCParameters* params);
void HandleEnterVehicle(net::RPCParameters* params);
void HandleExitVehicle(net::RPCParameters* params);
void HandleKeyPress(net::RPCParameters* params);
void HandleSendVehicleEntry(net::RPCParameters* params);
void HandleVehicleDeath(net::RPCParameters* params);
