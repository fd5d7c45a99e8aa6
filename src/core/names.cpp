#include "core/names.h"

#include <cstring>

namespace {

// Weapon ids without a weapon (13, 16, 34, 37, 38, 44-49) hold the empty text;
// 39-43, 50 and 51 are causes of death, and 41 and 50 are the same cause.
constexpr const char* kWeaponNames[kWeaponNameCount] = {
    "Bare Hands",         // 0
    "Knuckle Ring",       // 1
    "Iron Club",          // 2
    "Baton",              // 3
    "Blade",              // 4
    "Wooden Bat",         // 5
    "Spade",              // 6
    "Cue Stick",          // 7
    "Long Sword",         // 8
    "Power Saw",          // 9
    "Frag Bomb",          // 10
    "Smoke Canister",     // 11
    "Fire Bottle",        // 12
    "",                   // 13
    "Pistol",             // 14
    "Heavy Pistol",       // 15
    "",                   // 16
    "Pump Gun",           // 17
    "Short Scattergun",   // 18
    "Auto Scattergun",    // 19
    "Machine Pistol",     // 20
    "Compact SMG",        // 21
    "Assault Rifle",      // 22
    "Battle Rifle",       // 23
    "Hunting Rifle",      // 24
    "Marksman Rifle",     // 25
    "Missile Tube",       // 26
    "Guided Missile",     // 27
    "Fire Projector",     // 28
    "Rotary Gun",         // 29
    "Charge Pack",        // 30
    "Trigger Remote",     // 31
    "Paint Sprayer",      // 32
    "Foam Sprayer",       // 33
    "",                   // 34
    "Snapshot Camera",    // 35
    "Night Goggles",      // 36
    "",                   // 37
    "",                   // 38
    "Struck by Vehicle",  // 39
    "Rotor Strike",       // 40
    "Blast",              // 41
    "Underwater",         // 42
    "Long Fall",          // 43
    "",                   // 44
    "",                   // 45
    "",                   // 46
    "",                   // 47
    "",                   // 48
    "",                   // 49
    "Blast",              // 50
    "Crushed",            // 51
};

// Entry i is model 130 + i. "00" marks the models that hold no vehicle;
// 224/232/233 and 234/235 are variants that share one name.
constexpr const char* kVehicleNames[kVehicleNameCount] = {
    "Compact Sedan",  // 130
    "Family Wagon",  // 131
    "City Hatchback",  // 132
    "Luxury Saloon",  // 133
    "Sport Coupe",  // 134
    "Roadster",  // 135
    "Muscle Cruiser",  // 136
    "Pickup Truck",  // 137
    "Box Van",  // 138
    "Delivery Truck",  // 139
    "Dump Lorry",  // 140
    "Fire Engine",  // 141
    "Patrol Car",  // 142
    "Ambulance",  // 143
    "Taxi Cab",  // 144
    "City Bus",  // 145
    "Coach Liner",  // 146
    "Stretch Limousine",  // 147
    "Ice Cream Van",  // 148
    "Tow Truck",  // 149
    "Garbage Truck",  // 150
    "Cement Mixer",  // 151
    "Tanker Rig",  // 152
    "Flatbed Lorry",  // 153
    "Tractor Unit",  // 154
    "Farm Tractor",  // 155
    "Combine Reaper",  // 156
    "Forklift",  // 157
    "Golf Buggy",  // 158
    "Airport Tug",  // 159
    "Baggage Cart",  // 160
    "Street Sweeper",  // 161
    "Armoured Van",  // 162
    "Security Truck",  // 163
    "Army Jeep",  // 164
    "00",  // 165
    "Battle Tank",  // 166
    "Troop Carrier",  // 167
    "Dune Buggy",  // 168
    "Beach Rover",  // 169
    "Off-Road Wagon",  // 170
    "Desert Runner",  // 171
    "Rally Hatch",  // 172
    "Track Racer",  // 173
    "Street Racer",  // 174
    "Drift Coupe",  // 175
    "Vintage Drophead",  // 176
    "Heritage Saloon",  // 177
    "Lowrider",  // 178
    "Hot Rod",  // 179
    "00",  // 180
    "00",  // 181
    "Camper Van",  // 182
    "Motor Home",  // 183
    "Minivan",  // 184
    "Station Wagon",  // 185
    "Utility Truck",  // 186
    "Crane Truck",  // 187
    "Scooter",  // 188
    "Street Bike",  // 189
    "Sport Bike",  // 190
    "Dirt Bike",  // 191
    "Chopper Bike",  // 192
    "Police Motorcycle",  // 193
    "Pedal Bicycle",  // 194
    "Mountain Bicycle",  // 195
    "Quad Bike",  // 196
    "Go Kart",  // 197
    "Lawn Mower",  // 198
    "Speedboat",  // 199
    "Fishing Trawler",  // 200
    "Police Launch",  // 201
    "Jet Ski",  // 202
    "Sailing Yacht",  // 203
    "Cargo Barge",  // 204
    "Hovercraft",  // 205
    "Dinghy",  // 206
    "Light Aircraft",  // 207
    "Crop Duster",  // 208
    "Stunt Plane",  // 209
    "Seaplane",  // 210
    "Cargo Plane",  // 211
    "Passenger Jet",  // 212
    "00",  // 213
    "Fighter Jet",  // 214
    "News Helicopter",  // 215
    "Police Helicopter",  // 216
    "Rescue Chopper",  // 217
    "Transport Rotor",  // 218
    "Gunship",  // 219
    "Blimp",  // 220
    "Remote Toy Car",  // 221
    "Remote Toy Plane",  // 222
    "Diesel Locomotive",  // 223
    "Cargo Hauler",  // 224
    "Freight Wagon",  // 225
    "Tram Car",  // 226
    "Monorail",  // 227
    "Snow Plough",  // 228
    "Hearse",  // 229
    "Mail Van",  // 230
    "Bread Van",  // 231
    "Cargo Hauler",  // 232
    "Cargo Hauler",  // 233
    "Rail Cart",  // 234
    "Rail Cart",  // 235
    "Pizza Moped",  // 236
};

}  // namespace

const char* LookupWeaponName(int weaponId) {
  if (weaponId < 0 || weaponId >= kWeaponNameCount) return "";
  return kWeaponNames[weaponId];
}

const char* VehicleNameOfModel(int model) {
  if (model < kFirstVehicleModel || model > kLastVehicleModel) return "";
  return kVehicleNames[model - kFirstVehicleModel];
}

bool IsValidVehicleModel(int model) {
  if (model < kFirstVehicleModel || model > kLastVehicleModel) return false;
  return std::strcmp(kVehicleNames[model - kFirstVehicleModel], kVehicleNamePlaceholder) != 0;
}

std::string ToLowerCopy(std::string_view text) {
  std::string copy(text);
  for (char& c : copy) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return copy;
}

int FindVehicleModelByName(std::string_view text) {
  const std::string wanted = ToLowerCopy(text);
  // Placeholder entries take part too: scripts may rely on "00" finding one.
  for (int i = 0; i < kVehicleNameCount; ++i) {
    if (ToLowerCopy(kVehicleNames[i]).find(wanted) != std::string::npos) {
      return kFirstVehicleModel + i;
    }
  }
  return -1;
}
