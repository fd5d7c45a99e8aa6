// The bodies of the natives, by family. Each family lives in its own file
// (natives_<family>.cpp); the native table (native_table.cpp) wraps every body
// with its argument-count rule. A native whose family has not landed yet is
// registered with the placeholder NotBuilt.
#pragma once

#include <lua.hpp>

namespace natives {

// Does nothing and returns no results.
int NotBuilt(lua_State* L);

// Script engine (engine.cpp).
int LoadExtension(lua_State* L);

// Script commands (commands.cpp).
int AddCommand(lua_State* L);

// Timers and the game clock (natives_timers.cpp).
int CreateTimer(lua_State* L);
int DestroyTimer(lua_State* L);
int SetServerTime(lua_State* L);
int GetServerTime(lua_State* L);

// Pickups (natives_pickups.cpp).
int CreateGlobalCashPickup(lua_State* L);
int CreateGlobalWeaponPickup(lua_State* L);
int CreateGlobalGenericPickup(lua_State* L);
int DestroyGlobalPickup(lua_State* L);
int GetGlobalPickupType(lua_State* L);
int CreateLocalCashPickup(lua_State* L);
int CreateLocalWeaponPickup(lua_State* L);
int CreateLocalGenericPickup(lua_State* L);
int DestroyLocalPickup(lua_State* L);
int GetLocalPickupType(lua_State* L);

// Objects (natives_objects.cpp).
int CreateGlobalObject(lua_State* L);
int DestroyGlobalObject(lua_State* L);
int SetGlobalObjectPos(lua_State* L);
int SetGlobalObjectRotation(lua_State* L);
int SetGlobalObjectInterior(lua_State* L);
int MoveGlobalObject(lua_State* L);
int MoveGlobalObjectAngles(lua_State* L);
int StopGlobalObject(lua_State* L);
int GetGlobalObjectModel(lua_State* L);
int GetGlobalObjectInterior(lua_State* L);
int GetGlobalObjectPos(lua_State* L);
int GetGlobalObjectRotation(lua_State* L);
int CreateLocalObject(lua_State* L);
int DestroyLocalObject(lua_State* L);
int SetLocalObjectPos(lua_State* L);
int SetLocalObjectRotation(lua_State* L);
int SetLocalObjectInterior(lua_State* L);
int GetLocalObjectModel(lua_State* L);
int GetLocalObjectInterior(lua_State* L);
int GetLocalObjectPos(lua_State* L);
int GetLocalObjectRotation(lua_State* L);

// Markers (natives_markers.cpp).
int CreateGlobalCheckpoint(lua_State* L);
int DestroyGlobalCheckpoint(lua_State* L);
int SetGlobalCheckpointRadius(lua_State* L);
int SetGlobalCheckpointPos(lua_State* L);
int CreateGlobalCorona(lua_State* L);
int DestroyGlobalCorona(lua_State* L);
int SetGlobalCoronaRGB(lua_State* L);
int SetGlobalCoronaPos(lua_State* L);
int GetGlobalMarkerType(lua_State* L);
int CreateLocalCheckpoint(lua_State* L);
int DestroyLocalCheckpoint(lua_State* L);
int SetLocalCheckpointRadius(lua_State* L);
int SetLocalCheckpointPos(lua_State* L);
int CreateLocalCorona(lua_State* L);
int DestroyLocalCorona(lua_State* L);
int SetLocalCoronaRGB(lua_State* L);
int SetLocalCoronaPos(lua_State* L);

// Radar icons (natives_icons.cpp).
int CreateGlobalIcon(lua_State* L);
int DestroyGlobalIcon(lua_State* L);
int SetGlobalIconPosition(lua_State* L);
int SetGlobalIconSize(lua_State* L);
int SetGlobalIconColor(lua_State* L);
int ToggleGlobalIconFlashing(lua_State* L);
int CreateLocalIcon(lua_State* L);
int DestroyLocalIcon(lua_State* L);
int SetLocalIconPosition(lua_State* L);
int SetLocalIconSize(lua_State* L);
int SetLocalIconColor(lua_State* L);
int ToggleLocalIconFlashing(lua_State* L);

// Static actors (natives_actors.cpp).
int CreateStaticActor(lua_State* L);
int DestroyStaticActor(lua_State* L);
int GetStaticActorName(lua_State* L);
int GetStaticActorAnimation(lua_State* L);
int GetStaticActorSkin(lua_State* L);
int GetStaticActorAngle(lua_State* L);
int GetStaticActorPos(lua_State* L);
int SetStaticActorName(lua_State* L);
int SetStaticActorAnimation(lua_State* L);
int SetStaticActorSkin(lua_State* L);
int SetStaticActorAngle(lua_State* L);
int SetStaticActorPos(lua_State* L);
int ToggleStaticActorBlip(lua_State* L);

// Spawn classes and weapon shops (natives_spawnclasses.cpp).
int AddSpawnClass(lua_State* L);
int AddClassMember(lua_State* L);
int SetAmmunationWeaponData(lua_State* L);
int GetAmmunationWeaponData(lua_State* L);
int ToggleAmmunations(lua_State* L);

// Players (natives_players.cpp).
int IsPlayerConnected(lua_State* L);
int IsPlayerSpawned(lua_State* L);
int IsPlayerMuted(lua_State* L);
int GetPlayerName(lua_State* L);
int GetPlayerIP(lua_State* L);
int GetPlayerPing(lua_State* L);
int GetPlayerSkin(lua_State* L);
int GetPlayerScore(lua_State* L);
int GetPlayerTeam(lua_State* L);
int GetPlayerWeaponID(lua_State* L);
int GetPlayerCellPhoneStatus(lua_State* L);
int GetPlayerSeatID(lua_State* L);
int GetPlayerClassInfo(lua_State* L);
int GetPlayerHealth(lua_State* L);
int GetPlayerArmour(lua_State* L);
int GetPlayerAngle(lua_State* L);
int GetPlayerInterior(lua_State* L);
int GetPlayerCash(lua_State* L);
int GetPlayerWantedLevel(lua_State* L);
int GetPlayerPos(lua_State* L);
int SetPlayerHealth(lua_State* L);
int SetPlayerArmour(lua_State* L);
int SetPlayerAngle(lua_State* L);
int SetPlayerPos(lua_State* L);
int SetPlayerBoundaries(lua_State* L);
int SetPlayerGravity(lua_State* L);
int SetPlayerCash(lua_State* L);
int GivePlayerCash(lua_State* L);
int GivePlayerWeapon(lua_State* L);
int ClearPlayerWeapons(lua_State* L);
int SetPlayerSkin(lua_State* L);
int SetPlayerInterior(lua_State* L);
int SetPlayerScore(lua_State* L);
int TogglePlayerControllable(lua_State* L);
int ToggleFlyingCar(lua_State* L);
int ToggleDriveOnWater(lua_State* L);
int TogglePlayerMuted(lua_State* L);
int ForceToClassSelection(lua_State* L);

// Player control (natives_playercontrol.cpp).
int SetPlayerName(lua_State* L);
int SetPlayerTeam(lua_State* L);
int SetPlayerWantedLevel(lua_State* L);
int SetPlayerFixedWantedLevel(lua_State* L);
int SetPlayerStaticWantedLevel(lua_State* L);
int SetPlayerCellPhoneStatus(lua_State* L);
int TogglePlayerClock(lua_State* L);
int SetPlayerAnimation(lua_State* L);
int SetPlayerColor(lua_State* L);

// Vehicles (natives_vehicles.cpp).
int CreateVehicle(lua_State* L);
int DestroyVehicle(lua_State* L);
int GetVehiclePos(lua_State* L);
int SetVehiclePos(lua_State* L);
int GetVehicleAngle(lua_State* L);
int SetVehicleAngle(lua_State* L);
int GetVehicleColor(lua_State* L);
int SetVehicleColor(lua_State* L);
int GetVehicleHealth(lua_State* L);
int SetVehicleHealth(lua_State* L);
int SetVehicleSpeed(lua_State* L);
int GetVehicleSpeed(lua_State* L);
int RepairVehicle(lua_State* L);
int ExplodeVehicle(lua_State* L);
int PutPlayerInVehicle(lua_State* L);
int GetPlayerVehicleID(lua_State* L);
int IsPlayerInVehicle(lua_State* L);
int IsPlayerInAnyVehicle(lua_State* L);
int GetVehicleModel(lua_State* L);
int RemovePlayerFromVehicle(lua_State* L);
int SetVehicleToRespawn(lua_State* L);
int SetVehicleLockedState(lua_State* L);
int GetVehicleLockedState(lua_State* L);
int SetVehicleSpawnInfo(lua_State* L);
int SetVehicleTireState(lua_State* L);
int GetVehicleTireState(lua_State* L);
int ToggleVehicleLights(lua_State* L);
int SetVehicleRespawnDelay(lua_State* L);
int GetVehicleNameFromModelID(lua_State* L);
int GetVehicleModelIDFromName(lua_State* L);

// Camera, sound and effects (natives_camera.cpp).
int TogglePlayerDrunk(lua_State* L);
int CreatePlayerExplosion(lua_State* L);
int CreateExplosion(lua_State* L);
int PlaySoundForPlayer(lua_State* L);
int PlayWaveForPlayer(lua_State* L);
int PlayWaveForAll(lua_State* L);
int PlayWaveForPlayerAtPos(lua_State* L);
int PlayWaveForAllAtPos(lua_State* L);
int TogglePlayerScanlines(lua_State* L);
int TogglePlayerCameraInterface(lua_State* L);
int TogglePlayerBlackLines(lua_State* L);
int ShakePlayerCamera(lua_State* L);
int SetCameraBehindPlayer(lua_State* L);
int RestorePlayerCamera(lua_State* L);
int FadePlayerCamera(lua_State* L);
int SetPlayerCameraPos(lua_State* L);
int SetPlayerCameraLookAt(lua_State* L);

// Server configuration, output and utilities (natives_server.cpp).
int OutputConsole(lua_State* L);
int OutputChatBox(lua_State* L);
int SetServerWeather(lua_State* L);
int HostToIP(lua_State* L);
int ExitServer(lua_State* L);
int Delay(lua_State* L);
int Strval(lua_State* L);
int GameTextForPlayer(lua_State* L);
int GameTextForAll(lua_State* L);
int ClearGameTextForPlayer(lua_State* L);
int ClearGameTextForAll(lua_State* L);
int GetWeaponName(lua_State* L);
int GetMaxPlayers(lua_State* L);
int Random(lua_State* L);
int SetServerPort(lua_State* L);
int SetMaxPlayers(lua_State* L);
int SetServerName(lua_State* L);
int SetModeName(lua_State* L);
int Announce(lua_State* L);
int SetServerPassword(lua_State* L);
int BindToIP(lua_State* L);
int ToggleStaticInitialWantedLevel(lua_State* L);

// Areas (natives_areas.cpp).
int CreateArea(lua_State* L);
int DestroyArea(lua_State* L);
int GetPlayerArea(lua_State* L);

// Administration (natives_bans.cpp).
int KickPlayer(lua_State* L);
int BanPlayer(lua_State* L);
int AddBanIP(lua_State* L);
int RemoveBanIP(lua_State* L);
int ReloadBans(lua_State* L);
int RestartGameMode(lua_State* L);

}  // namespace natives
