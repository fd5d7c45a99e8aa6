#include "core/names.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace {

// Every id from one below the table to one above it, grouped by its text.
template <typename Lookup>
std::map<std::string, std::set<int>> ByText(int first, int last, Lookup lookup) {
  std::map<std::string, std::set<int>> out;
  for (int id = first - 1; id <= last + 1; ++id) out[lookup(id)].insert(id);
  return out;
}

TEST(NameTablesTest, TablesHaveTheirGapsSharedTextsAndLimits) {
  // Weapons: eleven empty ids (and nothing outside), one shared text, at most 17 characters.
  auto weapons = ByText(0, kWeaponNameCount - 1, LookupWeaponName);
  EXPECT_EQ(weapons[""], (std::set<int>{-1, 13, 16, 34, 37, 38, 44, 45, 46, 47, 48, 49, 52}));
  EXPECT_EQ(weapons[LookupWeaponName(41)], (std::set<int>{41, 50}));
  EXPECT_EQ(weapons.size(), 41u);  // 40 distinct texts and ""
  size_t longest = 0;
  for (const auto& [name, ids] : weapons) longest = std::max(longest, name.size());
  EXPECT_EQ(longest, 17u);

  // Vehicles: four placeholders, three names shared, printable texts of 2 to 18 characters.
  auto vehicles = ByText(kFirstVehicleModel, kLastVehicleModel, VehicleNameOfModel);
  EXPECT_EQ(vehicles[""], (std::set<int>{129, 237}));
  EXPECT_EQ(vehicles["00"], (std::set<int>{165, 180, 181, 213}));
  EXPECT_EQ(vehicles[VehicleNameOfModel(224)], (std::set<int>{224, 232, 233}));
  EXPECT_EQ(vehicles[VehicleNameOfModel(234)], (std::set<int>{234, 235}));
  EXPECT_EQ(vehicles.size(), 102u);  // 100 names, the placeholder and ""
  for (const auto& [name, models] : vehicles) {
    if (name.empty()) continue;
    EXPECT_TRUE(name.size() >= 2 && name.size() <= 18) << name;
    for (char c : name) EXPECT_TRUE(c >= 32 && c <= 126) << name;
    for (int model : models) EXPECT_EQ(IsValidVehicleModel(model), name != "00") << model;
  }
  EXPECT_FALSE(IsValidVehicleModel(129) || IsValidVehicleModel(237) || IsValidVehicleModel(-165));
}

TEST(NameTablesTest, SearchIsACaseInsensitiveContainsTestInModelOrder) {
  for (const auto& [name, models] : ByText(kFirstVehicleModel, kLastVehicleModel, VehicleNameOfModel)) {
    if (name.empty() || name == "00") continue;
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(FindVehicleModelByName(name), *models.begin()) << name;  // its lowest model
    EXPECT_EQ(FindVehicleModelByName(upper), *models.begin()) << upper;
  }
  // The placeholders take part; part of a name finds the first model whose name holds it.
  const std::string first = VehicleNameOfModel(130);
  const std::pair<std::string, int> searches[] = {
      {"", 130}, {"00", 165}, {"0", 165}, {first.substr(1, 4), 130}, {"no such vehicle at all", -1},
      {first + "\xC9", -1}};  // bytes beyond A-Z are compared unchanged
  for (const auto& [text, model] : searches) EXPECT_EQ(FindVehicleModelByName(text), model) << text;
  EXPECT_EQ(ToLowerCopy("AZaz@[`{09\xC0\xC9\xFF"), "azaz@[`{09\xC0\xC9\xFF");
  EXPECT_EQ(ToLowerCopy(std::string("A\0B", 3)), std::string("a\0b", 3));
}

}  // namespace
