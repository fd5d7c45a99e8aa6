// Every native in registration order, with its argument count and what a
// wrong count returns. A family lands by replacing natives::NotBuilt in its
// rows with its bodies (declared in native_list.h); the order, the counts and
// the wrong-count results stay as they are.
#include <iterator>

#include "script/native_list.h"
#include "script/natives.h"

namespace natives {
int NotBuilt(lua_State*) { return 0; }
}  // namespace natives

using natives::NotBuilt;

const NativeDescriptor kNatives[] = {
    Native<natives::OutputConsole, AtLeast(1)>("outputConsole"),  // server
    Native<natives::AddCommand, Between(2, 3)>("addCommand"),  // commands
    Native<natives::OutputChatBox, Between(5, 6)>("outputChatBox"),  // server
    Native<natives::ToggleDriveOnWater, AtLeast(2)>("toggleDriveOnWater"),  // players
    Native<natives::ToggleFlyingCar, Exactly(2)>("toggleFlyingCar"),  // players
    Native<natives::TogglePlayerClock, Exactly(2)>("togglePlayerClock"),  // players
    Native<natives::SetPlayerGravity, AtLeast(2)>("setPlayerGravity"),  // players
    Native<natives::GetPlayerPos, Exactly(1)>("getPlayerPos"),  // players
    Native<natives::SetPlayerPos, Exactly(4)>("setPlayerPos"),  // players
    Native<natives::SetPlayerTeam, Exactly(2)>("setPlayerTeam"),  // players
    Native<natives::GetPlayerTeam, Exactly(1)>("getPlayerTeam"),  // players
    Native<natives::SetPlayerScore, Exactly(2)>("setPlayerScore"),  // players
    Native<natives::GetPlayerScore, Exactly(1)>("getPlayerScore"),  // players
    Native<natives::SetPlayerInterior, Exactly(2)>("setPlayerInterior"),  // players
    Native<natives::GetPlayerInterior, Exactly(1)>("getPlayerInterior"),  // players
    Native<natives::SetPlayerAngle, Exactly(2)>("setPlayerAngle"),  // players
    Native<natives::GetPlayerAngle, Exactly(1)>("getPlayerAngle"),  // players
    Native<natives::SetPlayerHealth, Exactly(2)>("setPlayerHealth"),  // players
    Native<natives::GetPlayerHealth, Exactly(1)>("getPlayerHealth"),  // players
    Native<natives::SetPlayerArmour, Exactly(2)>("setPlayerArmour"),  // players
    Native<natives::GetPlayerArmour, Exactly(1)>("getPlayerArmour"),  // players
    Native<natives::SetPlayerCash, Exactly(2)>("setPlayerCash"),  // players
    Native<natives::GetPlayerCash, Exactly(1)>("getPlayerCash"),  // players
    Native<natives::GivePlayerCash, Exactly(2)>("givePlayerCash"),  // players
    Native<natives::SetPlayerWantedLevel, Exactly(2)>("setPlayerWantedLevel"),  // players
    Native<natives::SetPlayerFixedWantedLevel, Exactly(2)>("setPlayerFixedWantedLevel"),  // players
    Native<natives::SetPlayerStaticWantedLevel, Exactly(2)>("setPlayerStaticWantedLevel"),  // players
    Native<natives::GetPlayerWantedLevel, Exactly(1)>("getPlayerWantedLevel"),  // players
    Native<natives::CreateLocalObject, Exactly(9)>("createLocalObject"),  // objects
    Native<natives::DestroyLocalObject, Exactly(2)>("destroyLocalObject"),  // objects
    Native<natives::SetLocalObjectRotation, Exactly(5)>("setLocalObjectRotation"),  // objects
    Native<natives::SetLocalObjectInterior, Exactly(3)>("setLocalObjectInterior"),  // objects
    Native<natives::SetLocalObjectPos, Exactly(5)>("setLocalObjectPos"),  // objects
    Native<natives::GetLocalObjectRotation, Exactly(2)>("getLocalObjectRotation"),  // objects
    Native<natives::GetLocalObjectInterior, Exactly(2)>("getLocalObjectInterior"),  // objects
    Native<natives::GetLocalObjectPos, Exactly(2)>("getLocalObjectPos"),  // objects
    Native<natives::GetLocalObjectModel, Exactly(2)>("getLocalObjectModel"),  // objects
    Native<natives::GetGlobalObjectModel, Exactly(1)>("getGlobalObjectModel"),  // objects
    Native<natives::CreateGlobalObject, Exactly(8)>("createGlobalObject"),  // objects
    Native<natives::MoveGlobalObject, Exactly(5)>("moveGlobalObject"),  // objects
    Native<natives::MoveGlobalObjectAngles, Exactly(5)>("moveGlobalObjectAngles"),  // objects
    Native<natives::StopGlobalObject, Exactly(1)>("stopGlobalObject"),  // objects
    Native<natives::DestroyGlobalObject, Exactly(1)>("destroyGlobalObject"),  // objects
    Native<natives::SetGlobalObjectRotation, Exactly(4)>("setGlobalObjectRotation"),  // objects
    Native<natives::SetGlobalObjectInterior, Exactly(2)>("setGlobalObjectInterior"),  // objects
    Native<natives::SetGlobalObjectPos, Exactly(4)>("setGlobalObjectPos"),  // objects
    Native<natives::GetGlobalObjectRotation, Exactly(1)>("getGlobalObjectRotation"),  // objects
    Native<natives::GetGlobalObjectInterior, Exactly(1)>("getGlobalObjectInterior"),  // objects
    Native<natives::GetGlobalObjectPos, Exactly(1)>("getGlobalObjectPos"),  // objects
    Native<natives::CreateVehicle, Exactly(7)>("createVehicle"),  // vehicles
    Native<natives::DestroyVehicle, Exactly(1)>("destroyVehicle"),  // vehicles
    Native<natives::GetVehiclePos, Exactly(1)>("getVehiclePos"),  // vehicles
    Native<natives::SetVehiclePos, Exactly(4)>("setVehiclePos"),  // vehicles
    Native<natives::GetVehicleAngle, Exactly(1)>("getVehicleAngle"),  // vehicles
    Native<natives::SetVehicleAngle, Exactly(2)>("setVehicleAngle"),  // vehicles
    Native<natives::GetVehicleColor, Exactly(1)>("getVehicleColor"),  // vehicles
    Native<natives::SetVehicleColor, Exactly(3)>("setVehicleColor"),  // vehicles
    Native<natives::GetVehicleHealth, Exactly(1)>("getVehicleHealth"),  // vehicles
    Native<natives::SetVehicleHealth, Exactly(2)>("setVehicleHealth"),  // vehicles
    Native<natives::SetVehicleSpeed, Exactly(2)>("setVehicleSpeed"),  // vehicles
    Native<natives::GetVehicleSpeed, Exactly(1)>("getVehicleSpeed"),  // vehicles
    Native<natives::RepairVehicle, Exactly(1)>("repairVehicle"),  // vehicles
    Native<natives::ExplodeVehicle, Exactly(1)>("explodeVehicle"),  // vehicles
    Native<natives::PutPlayerInVehicle, Exactly(3)>("putPlayerInVehicle"),  // vehicles
    Native<natives::GetPlayerVehicleID, Exactly(1)>("getPlayerVehicleID"),  // vehicles
    Native<natives::IsPlayerInVehicle, Exactly(2)>("isPlayerInVehicle"),  // vehicles
    Native<natives::IsPlayerInAnyVehicle, Exactly(1)>("isPlayerInAnyVehicle"),  // vehicles
    Native<natives::GetVehicleModel, Exactly(1)>("getVehicleModel"),  // vehicles
    Native<natives::TogglePlayerDrunk, Exactly(2)>("togglePlayerDrunk"),  // camera and sound
    Native<natives::RemovePlayerFromVehicle, Exactly(1)>("removePlayerFromVehicle"),  // vehicles
    Native<natives::SetVehicleToRespawn, Exactly(1)>("setVehicleToRespawn"),  // vehicles
    Native<natives::SetVehicleLockedState, Exactly(2)>("setVehicleLockedState"),  // vehicles
    Native<natives::GetVehicleLockedState, Exactly(1)>("getVehicleLockedState"),  // vehicles
    Native<natives::SetVehicleSpawnInfo, Exactly(5)>("setVehicleSpawnInfo"),  // vehicles
    Native<natives::AddSpawnClass, Exactly(12)>("addSpawnClass"),  // spawn classes
    Native<natives::AddClassMember, Exactly(12)>("addClassMember"),  // spawn classes
    Native<natives::CreatePlayerExplosion, Exactly(5)>("createPlayerExplosion"),  // camera and sound
    Native<natives::CreateExplosion, Exactly(4)>("createExplosion"),  // camera and sound
    Native<natives::IsPlayerSpawned, Exactly(1)>("isPlayerSpawned"),  // players
    Native<natives::IsPlayerConnected, Exactly(1)>("isPlayerConnected"),  // players
    Native<natives::ForceToClassSelection, Exactly(1)>("forceToClassSelection"),  // players
    Native<natives::GetPlayerIP, Exactly(1)>("getPlayerIP"),  // players
    Native<natives::GetPlayerPing, Exactly(1)>("getPlayerPing"),  // players
    Native<natives::GetPlayerName, Exactly(1)>("getPlayerName"),  // players
    Native<natives::TogglePlayerControllable, Exactly(2)>("togglePlayerControllable"),  // players
    Native<natives::SetPlayerName, Exactly(2)>("setPlayerName"),  // players
    Native<natives::GivePlayerWeapon, Exactly(3)>("givePlayerWeapon"),  // players
    Native<natives::ClearPlayerWeapons, Exactly(1)>("clearPlayerWeapons"),  // players
    Native<natives::SetServerWeather, Exactly(1)>("setServerWeather"),  // server
    Native<natives::SetServerTime, Exactly(2)>("setServerTime"),  // timers
    Native<natives::GetServerTime, Exactly(0)>("getServerTime"),  // timers
    Native<natives::KickPlayer, Exactly(1)>("kickPlayer"),  // bans
    Native<natives::BanPlayer, Exactly(1)>("banPlayer"),  // bans
    Native<natives::SetPlayerSkin, Exactly(2)>("setPlayerSkin"),  // players
    Native<natives::SetPlayerAnimation, Exactly(2)>("setPlayerAnimation"),  // players
    Native<natives::CreateStaticActor, Exactly(6), WrongCount::kMinusOne>("createStaticActor"),  // actors
    Native<natives::DestroyStaticActor, Exactly(1)>("destroyStaticActor"),  // actors
    Native<natives::SetStaticActorPos, Exactly(4)>("setStaticActorPos"),  // actors
    Native<natives::GetStaticActorPos, Exactly(1), WrongCount::kZeroZeroZero>("getStaticActorPos"),  // actors
    Native<natives::SetStaticActorAngle, Exactly(2)>("setStaticActorAngle"),  // actors
    Native<natives::GetStaticActorAngle, Exactly(1), WrongCount::kZero>("getStaticActorAngle"),  // actors
    Native<natives::SetStaticActorSkin, Exactly(2)>("setStaticActorSkin"),  // actors
    Native<natives::GetStaticActorSkin, Exactly(1), WrongCount::kZero>("getStaticActorSkin"),  // actors
    Native<natives::SetStaticActorAnimation, Exactly(2)>("setStaticActorAnimation"),  // actors
    Native<natives::GetStaticActorAnimation, Exactly(1), WrongCount::kZero>("getStaticActorAnimation"),  // actors
    Native<natives::CreateTimer, Exactly(3)>("createTimer"),  // timers
    Native<natives::DestroyTimer, Exactly(1)>("destroyTimer"),  // timers
    Native<natives::AddBanIP, Exactly(1)>("addBanIP"),  // bans
    Native<natives::RemoveBanIP, Exactly(1)>("removeBanIP"),  // bans
    Native<natives::ReloadBans, kAnyCount>("reloadBans"),  // bans
    Native<natives::HostToIP, Exactly(1)>("hostToIP"),  // server
    Native<natives::SetVehicleTireState, Exactly(3)>("setVehicleTireState"),  // vehicles
    Native<natives::GetVehicleTireState, Exactly(2)>("getVehicleTireState"),  // vehicles
    Native<natives::ToggleVehicleLights, Exactly(2)>("toggleVehicleLights"),  // vehicles
    Native<natives::GetPlayerSkin, Exactly(1)>("getPlayerSkin"),  // players
    Native<natives::SetAmmunationWeaponData, Exactly(5)>("setAmmunationWeaponData"),  // spawn classes
    Native<natives::GetAmmunationWeaponData, Exactly(2)>("getAmmunationWeaponData"),  // spawn classes
    Native<natives::ToggleAmmunations, Exactly(1)>("toggleAmmunations"),  // spawn classes
    Native<natives::CreateGlobalGenericPickup, Exactly(5)>("createGlobalGenericPickup"),  // pickups
    Native<natives::CreateGlobalWeaponPickup, Exactly(5)>("createGlobalWeaponPickup"),  // pickups
    Native<natives::CreateGlobalCashPickup, Exactly(4)>("createGlobalCashPickup"),  // pickups
    Native<natives::DestroyGlobalPickup, Exactly(1)>("destroyGlobalPickup"),  // pickups
    Native<natives::GetGlobalPickupType, Exactly(1)>("getGlobalPickupType"),  // pickups
    Native<natives::GetLocalPickupType, Exactly(2)>("getLocalPickupType"),  // pickups
    Native<natives::CreateGlobalCheckpoint, Exactly(4)>("createGlobalCheckpoint"),  // markers
    Native<natives::SetGlobalCheckpointPos, Exactly(4)>("setGlobalCheckpointPos"),  // markers
    Native<natives::SetGlobalCheckpointRadius, Exactly(2)>("setGlobalCheckpointRadius"),  // markers
    Native<natives::DestroyGlobalCheckpoint, Exactly(1)>("destroyGlobalCheckpoint"),  // markers
    Native<natives::CreateGlobalCorona, Exactly(6)>("createGlobalCorona"),  // markers
    Native<natives::SetGlobalCoronaPos, Exactly(4)>("setGlobalCoronaPos"),  // markers
    Native<natives::SetGlobalCoronaRGB, Exactly(4)>("setGlobalCoronaRGB"),  // markers
    Native<natives::DestroyGlobalCorona, Exactly(1)>("destroyGlobalCorona"),  // markers
    Native<natives::GetGlobalMarkerType, Exactly(1)>("getGlobalMarkerType"),  // markers
    Native<natives::CreateLocalCheckpoint, Exactly(5)>("createLocalCheckpoint"),  // markers
    Native<natives::SetLocalCheckpointPos, Exactly(5)>("setLocalCheckpointPos"),  // markers
    Native<natives::SetLocalCheckpointRadius, Exactly(3)>("setLocalCheckpointRadius"),  // markers
    Native<natives::DestroyLocalCheckpoint, Exactly(2)>("destroyLocalCheckpoint"),  // markers
    Native<natives::CreateLocalCorona, Exactly(7)>("createLocalCorona"),  // markers
    Native<natives::SetLocalCoronaPos, Exactly(5)>("setLocalCoronaPos"),  // markers
    Native<natives::SetLocalCoronaRGB, Exactly(5)>("setLocalCoronaRGB"),  // markers
    Native<natives::DestroyLocalCorona, Exactly(2)>("destroyLocalCorona"),  // markers
    Native<natives::LoadExtension, Exactly(1)>("loadExtension"),  // engine
    Native<natives::ExitServer, Exactly(0)>("exitServer"),  // server
    Native<natives::RestartGameMode, Exactly(0)>("restartGameMode"),  // bans
    Native<natives::SetPlayerColor, Exactly(4)>("setPlayerColor"),  // players
    Native<natives::Delay, Exactly(1)>("delay"),  // server
    Native<natives::Strval, Exactly(1), WrongCount::kOne>("strval"),  // server
    Native<natives::CreateArea, Exactly(6), WrongCount::kMinusOne>("createArea"),  // areas
    Native<natives::DestroyArea, Exactly(1), WrongCount::kFalse>("destroyArea"),  // areas
    Native<natives::GetPlayerArea, Exactly(1)>("getPlayerArea"),  // areas
    Native<natives::GameTextForPlayer, Exactly(4)>("gameTextForPlayer"),  // server
    Native<natives::GameTextForAll, Exactly(3)>("gameTextForAll"),  // server
    Native<natives::ClearGameTextForPlayer, Exactly(1)>("clearGameTextForPlayer"),  // server
    Native<natives::ClearGameTextForAll, Exactly(0)>("clearGameTextForAll"),  // server
    Native<natives::SetPlayerBoundaries, Exactly(5)>("setPlayerBoundaries"),  // players
    Native<natives::GetPlayerCellPhoneStatus, Exactly(1)>("getPlayerCellPhoneStatus"),  // players
    Native<natives::SetPlayerCellPhoneStatus, Exactly(2)>("setPlayerCellPhoneStatus"),  // players
    Native<natives::PlaySoundForPlayer, Exactly(5)>("playSoundForPlayer"),  // camera and sound
    Native<natives::PlayWaveForPlayer, Exactly(2)>("playWaveForPlayer"),  // camera and sound
    Native<natives::PlayWaveForAll, Exactly(1)>("playWaveForAll"),  // camera and sound
    Native<natives::PlayWaveForPlayerAtPos, Exactly(5)>("playWaveForPlayerAtPos"),  // camera and sound
    Native<natives::PlayWaveForAllAtPos, Exactly(4)>("playWaveForAllAtPos"),  // camera and sound
    Native<natives::GetWeaponName, Exactly(1), WrongCount::kTwoFiftyFive>("getWeaponName"),  // server
    Native<natives::GetPlayerWeaponID, Exactly(1)>("getPlayerWeaponID"),  // players
    Native<natives::GetPlayerClassInfo, Exactly(1), WrongCount::kZeroZero>("getPlayerClassInfo"),  // players
    Native<natives::SetStaticActorName, Exactly(2)>("setStaticActorName"),  // actors
    Native<natives::GetStaticActorName, Exactly(1), WrongCount::kNil>("getStaticActorName"),  // actors
    Native<natives::ToggleStaticActorBlip, Exactly(2)>("toggleStaticActorBlip"),  // actors
    Native<natives::CreateLocalGenericPickup, Exactly(6), WrongCount::kMinusOne>("createLocalGenericPickup"),  // pickups
    Native<natives::CreateLocalCashPickup, Exactly(5)>("createLocalCashPickup"),  // pickups
    Native<natives::CreateLocalWeaponPickup, Exactly(6)>("createLocalWeaponPickup"),  // pickups
    Native<natives::DestroyLocalPickup, Exactly(2)>("destroyLocalPickup"),  // pickups
    Native<natives::GetPlayerSeatID, Exactly(1), WrongCount::kZero>("getPlayerSeatID"),  // players
    Native<natives::CreateGlobalIcon, Exactly(6), WrongCount::kMinusOne>("createGlobalIcon"),  // icons
    Native<natives::DestroyGlobalIcon, Exactly(1)>("destroyGlobalIcon"),  // icons
    Native<natives::SetGlobalIconColor, Exactly(5)>("setGlobalIconColor"),  // icons
    Native<natives::SetGlobalIconSize, Exactly(2)>("setGlobalIconSize"),  // icons
    Native<natives::SetGlobalIconPosition, Exactly(4)>("setGlobalIconPosition"),  // icons
    Native<natives::ToggleGlobalIconFlashing, Exactly(2)>("toggleGlobalIconFlashing"),  // icons
    Native<natives::CreateLocalIcon, Exactly(7), WrongCount::kMinusOne>("createLocalIcon"),  // icons
    Native<natives::DestroyLocalIcon, Exactly(2)>("destroyLocalIcon"),  // icons
    Native<natives::SetLocalIconColor, Exactly(6)>("setLocalIconColor"),  // icons
    Native<natives::SetLocalIconSize, Exactly(3)>("setLocalIconSize"),  // icons
    Native<natives::SetLocalIconPosition, Exactly(5)>("setLocalIconPosition"),  // icons
    Native<natives::ToggleLocalIconFlashing, Exactly(3)>("toggleLocalIconFlashing"),  // icons
    Native<natives::TogglePlayerScanlines, Exactly(2)>("togglePlayerScanlines"),  // camera and sound
    Native<natives::TogglePlayerCameraInterface, Exactly(2)>("togglePlayerCameraInterface"),  // camera and sound
    Native<natives::TogglePlayerBlackLines, Exactly(2)>("togglePlayerBlackLines"),  // camera and sound
    Native<natives::ShakePlayerCamera, Exactly(2)>("shakePlayerCamera"),  // camera and sound
    Native<natives::SetCameraBehindPlayer, Exactly(1)>("setCameraBehindPlayer"),  // camera and sound
    Native<natives::RestorePlayerCamera, Exactly(1)>("restorePlayerCamera"),  // camera and sound
    Native<natives::FadePlayerCamera, Exactly(6)>("fadePlayerCamera"),  // camera and sound
    Native<natives::SetPlayerCameraPos, Exactly(4)>("setPlayerCameraPos"),  // camera and sound
    Native<natives::SetPlayerCameraLookAt, Exactly(5)>("setPlayerCameraLookAt"),  // camera and sound
    Native<natives::GetMaxPlayers, kAnyCount>("getMaxPlayers"),  // server
    Native<natives::Random, Exactly(2), WrongCount::kZero>("random"),  // server
    Native<natives::TogglePlayerMuted, Exactly(2)>("togglePlayerMuted"),  // players
    Native<natives::IsPlayerMuted, Exactly(1)>("isPlayerMuted"),  // players
    Native<natives::SetVehicleRespawnDelay, Exactly(1)>("setVehicleRespawnDelay"),  // vehicles
    Native<natives::SetServerPort, Exactly(1)>("setServerPort"),  // server
    Native<natives::SetMaxPlayers, Exactly(1)>("setMaxPlayers"),  // server
    Native<natives::SetServerName, Exactly(1)>("setServerName"),  // server
    Native<natives::SetModeName, Exactly(1)>("setModeName"),  // server
    Native<natives::Announce, Exactly(1)>("announce"),  // server
    Native<natives::SetServerPassword, Exactly(1)>("setServerPassword"),  // server
    Native<natives::BindToIP, Exactly(1)>("bindToIP"),  // server
    Native<natives::ToggleStaticInitialWantedLevel, Exactly(1)>("toggleStaticInitialWantedLevel"),  // server
    Native<natives::GetVehicleNameFromModelID, Exactly(1), WrongCount::kNil>("getVehicleNameFromModelID"),  // vehicles
    Native<natives::GetVehicleModelIDFromName, Exactly(1), WrongCount::kMinusOne>("getVehicleModelIDFromName"),  // vehicles
};
static_assert(std::size(kNatives) == kNativeCount, "the game mode sees exactly 209 natives");

void RegisterNatives(lua_State* L) {
  for (const NativeDescriptor& native : kNatives) {
    lua_pushcfunction(L, native.function);
    lua_setfield(L, LUA_GLOBALSINDEX, native.name);
  }
}
