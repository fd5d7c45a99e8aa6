#include "core/names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

namespace {

// Every id from one below the table to one above it, grouped by its text ("id id ...").
template <typename Lookup>
std::map<std::string, std::string> ByText(int first, int last, Lookup lookup) {
  std::map<std::string, std::string> out;
  for (int id = first - 1; id <= last + 1; ++id) {
    std::string& ids = out[lookup(id)];
    if (!ids.empty()) ids += " ";
    ids += std::to_string(id);
  }
  return out;
}

TEST(NameTablesTest, GapsSharedTextsLimitsAndACaselessContainsSearchInModelOrder) {
  // Weapons: eleven empty ids (and nothing outside), one shared text, at most 17 characters.
  auto weapons = ByText(0, kWeaponNameCount - 1, LookupWeaponName);
  size_t longest = 0;
  for (const auto& [name, ids] : weapons) longest = std::max(longest, name.size());
  EXPECT_EQ(weapons[""], "-1 13 16 34 37 38 44 45 46 47 48 49 52");
  EXPECT_EQ(weapons[LookupWeaponName(41)], "41 50");
  EXPECT_EQ(weapons.size(), 41u);  // 40 distinct texts and ""
  EXPECT_EQ(longest, 17u);
  // Vehicles: four placeholders, three names shared, printable texts of 2 to 18 characters.
  auto vehicles = ByText(kFirstVehicleModel, kLastVehicleModel, VehicleNameOfModel);
  EXPECT_EQ(vehicles[""], "129 237");
  EXPECT_EQ(vehicles["00"], "165 180 181 213");
  EXPECT_EQ(vehicles[VehicleNameOfModel(224)], "224 232 233");
  EXPECT_EQ(vehicles[VehicleNameOfModel(234)], "234 235");
  EXPECT_EQ(vehicles.size(), 102u);
  for (int model = kFirstVehicleModel - 1; model <= kLastVehicleModel + 1; ++model) {
    const std::string name = VehicleNameOfModel(model);
    const bool named = !name.empty() && name != "00";
    EXPECT_EQ(IsValidVehicleModel(model), named) << model;
  }
  EXPECT_FALSE(IsValidVehicleModel(-165));
  for (const auto& [name, models] : vehicles) {
    if (name.empty() || name == "00") continue;
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_GE(name.size(), 2u) << name;
    EXPECT_LE(name.size(), 18u) << name;
    const auto printable = [](char c) { return c >= 32 && c <= 126; };
    EXPECT_TRUE(std::all_of(name.begin(), name.end(), printable)) << name;
    EXPECT_EQ(FindVehicleModelByName(name), std::stoi(models)) << name;
    EXPECT_EQ(FindVehicleModelByName(upper), std::stoi(models)) << upper;
  }
  // The placeholders take part; part of a name finds the first model whose name holds it.
  const std::string first = VehicleNameOfModel(130);
  const std::pair<std::string, int> searches[] = {
      {"", 130},
      {"00", 165},
      {"0", 165},
      {first.substr(1, 4), 130},
      {"no such vehicle at all", -1},
      {first + "\xC9", -1}};  // bytes beyond A-Z are compared unchanged
  for (const auto& [text, model] : searches) EXPECT_EQ(FindVehicleModelByName(text), model) << text;
  EXPECT_EQ(ToLowerCopy("AZaz@[`{09\xC0\xC9\xFF"), "azaz@[`{09\xC0\xC9\xFF");
  EXPECT_EQ(ToLowerCopy(std::string("A\0B", 3)), std::string("a\0b", 3));
}

}  // namespace
