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
    Native<NotBuilt, AtLeast(1)>("outputConsole"),  // server
    Native<natives::AddCommand, Between(2, 3)>("addCommand"),  // commands
    Native<NotBuilt, Between(5, 6)>("outputChatBox"),  // server
    Native<NotBuilt, AtLeast(2)>("toggleDriveOnWater"),  // players
    Native<NotBuilt, Exactly(2)>("toggleFlyingCar"),  // players
    Native<NotBuilt, Exactly(2)>("togglePlayerClock"),  // players
    Native<NotBuilt, AtLeast(2)>("setPlayerGravity"),  // players
    Native<NotBuilt, Exactly(1)>("getPlayerPos"),  // players
    Native<NotBuilt, Exactly(4)>("setPlayerPos"),  // players
    Native<NotBuilt, Exactly(2)>("setPlayerTeam"),  // players
    Native<NotBuilt, Exactly(1)>("getPlayerTeam"),  // players
    Native<NotBuilt, Exactly(2)>("setPlayerScore"),  // players
    Native<NotBuilt, Exactly(1)>("getPlayerScore"),  // players
    Native<NotBuilt, Exactly(2)>("setPlayerInterior"),  // players
    Native<NotBuilt, Exactly(1)>("getPlayerInterior"),  // players
    Native<NotBuilt, Exactly(2)>("setPlayerAngle"),  // players
    Native<NotBuilt, Exactly(1)>("getPlayerAngle"),  // players
    Native<NotBuilt, Exactly(2)>("setPlayerHealth"),  // players
    Native<NotBuilt, Exactly(1)>("getPlayerHealth"),  // players
    Native<NotBuilt, Exactly(2)>("setPlayerArmour"),  // players
    Native<NotBuilt, Exactly(1)>("getPlayerArmour"),  // players
    Native<NotBuilt, Exactly(2)>("setPlayerCash"),  // players
    Native<NotBuilt, Exactly(1)>("getPlayerCash"),  // players
    Native<NotBuilt, Exactly(2)>("givePlayerCash"),  // players
    Native<NotBuilt, Exactly(2)>("setPlayerWantedLevel"),  // players
    Native<NotBuilt, Exactly(2)>("setPlayerFixedWantedLevel"),  // players
    Native<NotBuilt, Exactly(2)>("setPlayerStaticWantedLevel"),  // players
    Native<NotBuilt, Exactly(1)>("getPlayerWantedLevel"),  // players
    Native<NotBuilt, Exactly(9)>("createLocalObject"),  // objects
    Native<NotBuilt, Exactly(2)>("destroyLocalObject"),  // objects
    Native<NotBuilt, Exactly(5)>("setLocalObjectRotation"),  // objects
    Native<NotBuilt, Exactly(3)>("setLocalObjectInterior"),  // objects
    Native<NotBuilt, Exactly(5)>("setLocalObjectPos"),  // objects
    Native<NotBuilt, Exactly(2)>("getLocalObjectRotation"),  // objects
    Native<NotBuilt, Exactly(2)>("getLocalObjectInterior"),  // objects
    Native<NotBuilt, Exactly(2)>("getLocalObjectPos"),  // objects
    Native<NotBuilt, Exactly(2)>("getLocalObjectModel"),  // objects
    Native<NotBuilt, Exactly(1)>("getGlobalObjectModel"),  // objects
    Native<NotBuilt, Exactly(8)>("createGlobalObject"),  // objects
    Native<NotBuilt, Exactly(5)>("moveGlobalObject"),  // objects
    Native<NotBuilt, Exactly(5)>("moveGlobalObjectAngles"),  // objects
    Native<NotBuilt, Exactly(1)>("stopGlobalObject"),  // objects
    Native<NotBuilt, Exactly(1)>("destroyGlobalObject"),  // objects
    Native<NotBuilt, Exactly(4)>("setGlobalObjectRotation"),  // objects
    Native<NotBuilt, Exactly(2)>("setGlobalObjectInterior"),  // objects
    Native<NotBuilt, Exactly(4)>("setGlobalObjectPos"),  // objects
    Native<NotBuilt, Exactly(1)>("getGlobalObjectRotation"),  // objects
    Native<NotBuilt, Exactly(1)>("getGlobalObjectInterior"),  // objects
    Native<NotBuilt, Exactly(1)>("getGlobalObjectPos"),  // objects
    Native<NotBuilt, Exactly(7)>("createVehicle"),  // vehicles
    Native<NotBuilt, Exactly(1)>("destroyVehicle"),  // vehicles
    Native<NotBuilt, Exactly(1)>("getVehiclePos"),  // vehicles
    Native<NotBuilt, Exactly(4)>("setVehiclePos"),  // vehicles
    Native<NotBuilt, Exactly(1)>("getVehicleAngle"),  // vehicles
    Native<NotBuilt, Exactly(2)>("setVehicleAngle"),  // vehicles
    Native<NotBuilt, Exactly(1)>("getVehicleColor"),  // vehicles
    Native<NotBuilt, Exactly(3)>("setVehicleColor"),  // vehicles
    Native<NotBuilt, Exactly(1)>("getVehicleHealth"),  // vehicles
    Native<NotBuilt, Exactly(2)>("setVehicleHealth"),  // vehicles
    Native<NotBuilt, Exactly(2)>("setVehicleSpeed"),  // vehicles
    Native<NotBuilt, Exactly(1)>("getVehicleSpeed"),  // vehicles
    Native<NotBuilt, Exactly(1)>("repairVehicle"),  // vehicles
    Native<NotBuilt, Exactly(1)>("explodeVehicle"),  // vehicles
    Native<NotBuilt, Exactly(3)>("putPlayerInVehicle"),  // vehicles
    Native<NotBuilt, Exactly(1)>("getPlayerVehicleID"),  // vehicles
    Native<NotBuilt, Exactly(2)>("isPlayerInVehicle"),  // vehicles
    Native<NotBuilt, Exactly(1)>("isPlayerInAnyVehicle"),  // vehicles
    Native<NotBuilt, Exactly(1)>("getVehicleModel"),  // vehicles
    Native<NotBuilt, Exactly(2)>("togglePlayerDrunk"),  // camera and sound
    Native<NotBuilt, Exactly(1)>("removePlayerFromVehicle"),  // vehicles
    Native<NotBuilt, Exactly(1)>("setVehicleToRespawn"),  // vehicles
    Native<NotBuilt, Exactly(2)>("setVehicleLockedState"),  // vehicles
    Native<NotBuilt, Exactly(1)>("getVehicleLockedState"),  // vehicles
    Native<NotBuilt, Exactly(5)>("setVehicleSpawnInfo"),  // vehicles
    Native<NotBuilt, Exactly(12)>("addSpawnClass"),  // spawn classes
    Native<NotBuilt, Exactly(12)>("addClassMember"),  // spawn classes
    Native<NotBuilt, Exactly(5)>("createPlayerExplosion"),  // camera and sound
    Native<NotBuilt, Exactly(4)>("createExplosion"),  // camera and sound
    Native<NotBuilt, Exactly(1)>("isPlayerSpawned"),  // players
    Native<NotBuilt, Exactly(1)>("isPlayerConnected"),  // players
    Native<NotBuilt, Exactly(1)>("forceToClassSelection"),  // players
    Native<NotBuilt, Exactly(1)>("getPlayerIP"),  // players
    Native<NotBuilt, Exactly(1)>("getPlayerPing"),  // players
    Native<NotBuilt, Exactly(1)>("getPlayerName"),  // players
    Native<NotBuilt, Exactly(2)>("togglePlayerControllable"),  // players
    Native<NotBuilt, Exactly(2)>("setPlayerName"),  // players
    Native<NotBuilt, Exactly(3)>("givePlayerWeapon"),  // players
    Native<NotBuilt, Exactly(1)>("clearPlayerWeapons"),  // players
    Native<NotBuilt, Exactly(1)>("setServerWeather"),  // server
    Native<natives::SetServerTime, Exactly(2)>("setServerTime"),  // timers
    Native<natives::GetServerTime, Exactly(0)>("getServerTime"),  // timers
    Native<NotBuilt, Exactly(1)>("kickPlayer"),  // bans
    Native<NotBuilt, Exactly(1)>("banPlayer"),  // bans
    Native<NotBuilt, Exactly(2)>("setPlayerSkin"),  // players
    Native<NotBuilt, Exactly(2)>("setPlayerAnimation"),  // players
    Native<NotBuilt, Exactly(6), WrongCount::kMinusOne>("createStaticActor"),  // actors
    Native<NotBuilt, Exactly(1)>("destroyStaticActor"),  // actors
    Native<NotBuilt, Exactly(4)>("setStaticActorPos"),  // actors
    Native<NotBuilt, Exactly(1), WrongCount::kZeroZeroZero>("getStaticActorPos"),  // actors
    Native<NotBuilt, Exactly(2)>("setStaticActorAngle"),  // actors
    Native<NotBuilt, Exactly(1), WrongCount::kZero>("getStaticActorAngle"),  // actors
    Native<NotBuilt, Exactly(2)>("setStaticActorSkin"),  // actors
    Native<NotBuilt, Exactly(1), WrongCount::kZero>("getStaticActorSkin"),  // actors
    Native<NotBuilt, Exactly(2)>("setStaticActorAnimation"),  // actors
    Native<NotBuilt, Exactly(1), WrongCount::kZero>("getStaticActorAnimation"),  // actors
    Native<natives::CreateTimer, Exactly(3)>("createTimer"),  // timers
    Native<natives::DestroyTimer, Exactly(1)>("destroyTimer"),  // timers
    Native<NotBuilt, Exactly(1)>("addBanIP"),  // bans
    Native<NotBuilt, Exactly(1)>("removeBanIP"),  // bans
    Native<NotBuilt, kAnyCount>("reloadBans"),  // bans
    Native<NotBuilt, Exactly(1)>("hostToIP"),  // server
    Native<NotBuilt, Exactly(3)>("setVehicleTireState"),  // vehicles
    Native<NotBuilt, Exactly(2)>("getVehicleTireState"),  // vehicles
    Native<NotBuilt, Exactly(2)>("toggleVehicleLights"),  // vehicles
    Native<NotBuilt, Exactly(1)>("getPlayerSkin"),  // players
    Native<NotBuilt, Exactly(5)>("setAmmunationWeaponData"),  // spawn classes
    Native<NotBuilt, Exactly(2)>("getAmmunationWeaponData"),  // spawn classes
    Native<NotBuilt, Exactly(1)>("toggleAmmunations"),  // spawn classes
    Native<NotBuilt, Exactly(5)>("createGlobalGenericPickup"),  // pickups
    Native<NotBuilt, Exactly(5)>("createGlobalWeaponPickup"),  // pickups
    Native<NotBuilt, Exactly(4)>("createGlobalCashPickup"),  // pickups
    Native<NotBuilt, Exactly(1)>("destroyGlobalPickup"),  // pickups
    Native<NotBuilt, Exactly(1)>("getGlobalPickupType"),  // pickups
    Native<NotBuilt, Exactly(2)>("getLocalPickupType"),  // pickups
    Native<NotBuilt, Exactly(4)>("createGlobalCheckpoint"),  // markers
    Native<NotBuilt, Exactly(4)>("setGlobalCheckpointPos"),  // markers
    Native<NotBuilt, Exactly(2)>("setGlobalCheckpointRadius"),  // markers
    Native<NotBuilt, Exactly(1)>("destroyGlobalCheckpoint"),  // markers
    Native<NotBuilt, Exactly(6)>("createGlobalCorona"),  // markers
    Native<NotBuilt, Exactly(4)>("setGlobalCoronaPos"),  // markers
    Native<NotBuilt, Exactly(4)>("setGlobalCoronaRGB"),  // markers
    Native<NotBuilt, Exactly(1)>("destroyGlobalCorona"),  // markers
    Native<NotBuilt, Exactly(1)>("getGlobalMarkerType"),  // markers
    Native<NotBuilt, Exactly(5)>("createLocalCheckpoint"),  // markers
    Native<NotBuilt, Exactly(5)>("setLocalCheckpointPos"),  // markers
    Native<NotBuilt, Exactly(3)>("setLocalCheckpointRadius"),  // markers
    Native<NotBuilt, Exactly(2)>("destroyLocalCheckpoint"),  // markers
    Native<NotBuilt, Exactly(7)>("createLocalCorona"),  // markers
    Native<NotBuilt, Exactly(5)>("setLocalCoronaPos"),  // markers
    Native<NotBuilt, Exactly(5)>("setLocalCoronaRGB"),  // markers
    Native<NotBuilt, Exactly(2)>("destroyLocalCorona"),  // markers
    Native<natives::LoadExtension, Exactly(1)>("loadExtension"),  // engine
    Native<NotBuilt, Exactly(0)>("exitServer"),  // server
    Native<NotBuilt, Exactly(0)>("restartGameMode"),  // bans
    Native<NotBuilt, Exactly(4)>("setPlayerColor"),  // players
    Native<NotBuilt, Exactly(1)>("delay"),  // server
    Native<NotBuilt, Exactly(1), WrongCount::kOne>("strval"),  // server
    Native<NotBuilt, Exactly(6), WrongCount::kMinusOne>("createArea"),  // areas
    Native<NotBuilt, Exactly(1), WrongCount::kFalse>("destroyArea"),  // areas
    Native<NotBuilt, Exactly(1)>("getPlayerArea"),  // areas
    Native<NotBuilt, Exactly(4)>("gameTextForPlayer"),  // server
    Native<NotBuilt, Exactly(3)>("gameTextForAll"),  // server
    Native<NotBuilt, Exactly(1)>("clearGameTextForPlayer"),  // server
    Native<NotBuilt, Exactly(0)>("clearGameTextForAll"),  // server
    Native<NotBuilt, Exactly(5)>("setPlayerBoundaries"),  // players
    Native<NotBuilt, Exactly(1)>("getPlayerCellPhoneStatus"),  // players
    Native<NotBuilt, Exactly(2)>("setPlayerCellPhoneStatus"),  // players
    Native<NotBuilt, Exactly(5)>("playSoundForPlayer"),  // camera and sound
    Native<NotBuilt, Exactly(2)>("playWaveForPlayer"),  // camera and sound
    Native<NotBuilt, Exactly(1)>("playWaveForAll"),  // camera and sound
    Native<NotBuilt, Exactly(5)>("playWaveForPlayerAtPos"),  // camera and sound
    Native<NotBuilt, Exactly(4)>("playWaveForAllAtPos"),  // camera and sound
    Native<NotBuilt, Exactly(1), WrongCount::kTwoFiftyFive>("getWeaponName"),  // server
    Native<NotBuilt, Exactly(1)>("getPlayerWeaponID"),  // players
    Native<NotBuilt, Exactly(1), WrongCount::kZeroZero>("getPlayerClassInfo"),  // players
    Native<NotBuilt, Exactly(2)>("setStaticActorName"),  // actors
    Native<NotBuilt, Exactly(1), WrongCount::kNil>("getStaticActorName"),  // actors
    Native<NotBuilt, Exactly(2)>("toggleStaticActorBlip"),  // actors
    Native<NotBuilt, Exactly(6), WrongCount::kMinusOne>("createLocalGenericPickup"),  // pickups
    Native<NotBuilt, Exactly(5)>("createLocalCashPickup"),  // pickups
    Native<NotBuilt, Exactly(6)>("createLocalWeaponPickup"),  // pickups
    Native<NotBuilt, Exactly(2)>("destroyLocalPickup"),  // pickups
    Native<NotBuilt, Exactly(1), WrongCount::kZero>("getPlayerSeatID"),  // players
    Native<NotBuilt, Exactly(6), WrongCount::kMinusOne>("createGlobalIcon"),  // icons
    Native<NotBuilt, Exactly(1)>("destroyGlobalIcon"),  // icons
    Native<NotBuilt, Exactly(5)>("setGlobalIconColor"),  // icons
    Native<NotBuilt, Exactly(2)>("setGlobalIconSize"),  // icons
    Native<NotBuilt, Exactly(4)>("setGlobalIconPosition"),  // icons
    Native<NotBuilt, Exactly(2)>("toggleGlobalIconFlashing"),  // icons
    Native<NotBuilt, Exactly(7), WrongCount::kMinusOne>("createLocalIcon"),  // icons
    Native<NotBuilt, Exactly(2)>("destroyLocalIcon"),  // icons
    Native<NotBuilt, Exactly(6)>("setLocalIconColor"),  // icons
    Native<NotBuilt, Exactly(3)>("setLocalIconSize"),  // icons
    Native<NotBuilt, Exactly(5)>("setLocalIconPosition"),  // icons
    Native<NotBuilt, Exactly(3)>("toggleLocalIconFlashing"),  // icons
    Native<NotBuilt, Exactly(2)>("togglePlayerScanlines"),  // camera and sound
    Native<NotBuilt, Exactly(2)>("togglePlayerCameraInterface"),  // camera and sound
    Native<NotBuilt, Exactly(2)>("togglePlayerBlackLines"),  // camera and sound
    Native<NotBuilt, Exactly(2)>("shakePlayerCamera"),  // camera and sound
    Native<NotBuilt, Exactly(1)>("setCameraBehindPlayer"),  // camera and sound
    Native<NotBuilt, Exactly(1)>("restorePlayerCamera"),  // camera and sound
    Native<NotBuilt, Exactly(6)>("fadePlayerCamera"),  // camera and sound
    Native<NotBuilt, Exactly(4)>("setPlayerCameraPos"),  // camera and sound
    Native<NotBuilt, Exactly(5)>("setPlayerCameraLookAt"),  // camera and sound
    Native<NotBuilt, kAnyCount>("getMaxPlayers"),  // server
    Native<NotBuilt, Exactly(2), WrongCount::kZero>("random"),  // server
    Native<NotBuilt, Exactly(2)>("togglePlayerMuted"),  // players
    Native<NotBuilt, Exactly(1)>("isPlayerMuted"),  // players
    Native<NotBuilt, Exactly(1)>("setVehicleRespawnDelay"),  // vehicles
    Native<NotBuilt, Exactly(1)>("setServerPort"),  // server
    Native<NotBuilt, Exactly(1)>("setMaxPlayers"),  // server
    Native<NotBuilt, Exactly(1)>("setServerName"),  // server
    Native<NotBuilt, Exactly(1)>("setModeName"),  // server
    Native<NotBuilt, Exactly(1)>("announce"),  // server
    Native<NotBuilt, Exactly(1)>("setServerPassword"),  // server
    Native<NotBuilt, Exactly(1)>("bindToIP"),  // server
    Native<NotBuilt, Exactly(1)>("toggleStaticInitialWantedLevel"),  // server
    Native<NotBuilt, Exactly(1), WrongCount::kNil>("getVehicleNameFromModelID"),  // vehicles
    Native<NotBuilt, Exactly(1), WrongCount::kMinusOne>("getVehicleModelIDFromName"),  // vehicles
};
static_assert(std::size(kNatives) == kNativeCount, "the game mode sees exactly 209 natives");

void RegisterNatives(lua_State* L) {
  for (const NativeDescriptor& native : kNatives) {
    lua_pushcfunction(L, native.function);
    lua_setfield(L, LUA_GLOBALSINDEX, native.name);
  }
}
