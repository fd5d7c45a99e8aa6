// The display names of the host game's weapons (and other causes of death)
// and vehicle models. Scripts turn ids into names and back through them; the
// vehicle table also decides which models may be created. Nothing here travels
// on the wire: the clients carry their own texts.
#pragma once

#include <string>
#include <string_view>

inline constexpr int kWeaponNameCount = 52;
inline constexpr int kFirstVehicleModel = 130;
inline constexpr int kLastVehicleModel = 236;
inline constexpr int kVehicleNameCount = kLastVehicleModel - kFirstVehicleModel + 1;  // 107
// The text of the vehicle entries that hold no vehicle.
inline constexpr const char* kVehicleNamePlaceholder = "00";

// The name of weapon id 0..51 ("" for the ids without a weapon, and for any id
// outside the table).
const char* LookupWeaponName(int weaponId);
// The name of model 130..236 (placeholder models included); "" outside.
const char* VehicleNameOfModel(int model);
// True for a model in 130..236 whose entry is not the placeholder: the models
// the server creates and names.
bool IsValidVehicleModel(int model);
// The first model, in ascending order, whose name contains `text` ignoring the
// case of A-Z; -1 when none does. The empty text is contained in every name.
int FindVehicleModelByName(std::string_view text);
// A copy in which only the bytes 'A'..'Z' are lowered.
std::string ToLowerCopy(std::string_view text);
