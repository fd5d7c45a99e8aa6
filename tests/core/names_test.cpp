#include "core/names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

namespace {

TEST(NameTablesTest, WeaponTableHasItsEmptyIdsSharedTextAndLengthLimit) {
  const std::set<int> empty = {13, 16, 34, 37, 38, 44, 45, 46, 47, 48, 49};
  size_t longest = 0;
  for (int id = 0; id < kWeaponNameCount; ++id) {
    const std::string name = LookupWeaponName(id);
    EXPECT_EQ(name.empty(), empty.count(id) == 1) << "weapon " << id;
    longest = std::max(longest, name.size());
  }
  EXPECT_EQ(longest, 17u);
  EXPECT_STREQ(LookupWeaponName(41), LookupWeaponName(50));
  // Texts of different ids differ, the shared pair and the empty ones aside.
  std::map<std::string, int> seen;
  for (int id = 0; id < kWeaponNameCount; ++id) {
    const std::string name = LookupWeaponName(id);
    if (name.empty() || id == 50) continue;
    EXPECT_TRUE(seen.emplace(name, id).second) << name;
  }
  // Outside the table there is nothing to read.
  EXPECT_STREQ(LookupWeaponName(-1), "");
  EXPECT_STREQ(LookupWeaponName(52), "");
}

TEST(NameTablesTest, VehicleTableHasItsPlaceholdersSharedNamesAndPrintableTexts) {
  const std::set<int> placeholders = {165, 180, 181, 213};
  std::map<std::string, std::set<int>> modelsByName;
  for (int model = kFirstVehicleModel; model <= kLastVehicleModel; ++model) {
    const std::string name = VehicleNameOfModel(model);
    ASSERT_GE(name.size(), 2u) << model;
    ASSERT_LE(name.size(), 18u) << model;
    for (char c : name) EXPECT_TRUE(c >= 32 && c <= 126) << model;
    EXPECT_EQ(name == "00", placeholders.count(model) == 1) << model;
    EXPECT_EQ(IsValidVehicleModel(model), placeholders.count(model) == 0) << model;
    modelsByName[name].insert(model);
  }
  EXPECT_EQ(modelsByName.size(), 101u);  // 100 vehicle names and the placeholder
  for (const auto& [name, models] : modelsByName) {
    if (name == "00") continue;
    if (models.count(224)) {
      EXPECT_EQ(models, (std::set<int>{224, 232, 233}));
    } else if (models.count(234)) {
      EXPECT_EQ(models, (std::set<int>{234, 235}));
    } else {
      EXPECT_EQ(models.size(), 1u) << name;
    }
  }
  EXPECT_STREQ(VehicleNameOfModel(129), "");
  EXPECT_STREQ(VehicleNameOfModel(237), "");
  EXPECT_FALSE(IsValidVehicleModel(129));
  EXPECT_FALSE(IsValidVehicleModel(237));
  EXPECT_FALSE(IsValidVehicleModel(-165));
}

TEST(NameTablesTest, SearchIsACaseInsensitiveContainsTestInModelOrder) {
  // Every distinct name finds its own (lowest) model, in any case.
  for (int model = kFirstVehicleModel; model <= kLastVehicleModel; ++model) {
    const std::string name = VehicleNameOfModel(model);
    if (name == "00") continue;
    int lowest = model;
    for (int other = kFirstVehicleModel; other < model; ++other) {
      if (name == VehicleNameOfModel(other)) lowest = std::min(lowest, other);
    }
    EXPECT_EQ(FindVehicleModelByName(name), lowest) << name;
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(FindVehicleModelByName(upper), lowest) << upper;
  }
  EXPECT_EQ(FindVehicleModelByName(VehicleNameOfModel(233)), 224);
  EXPECT_EQ(FindVehicleModelByName(VehicleNameOfModel(235)), 234);

  EXPECT_EQ(FindVehicleModelByName(""), 130);
  // The placeholders take part: "0" and "00" find the first of them.
  EXPECT_EQ(FindVehicleModelByName("00"), 165);
  EXPECT_EQ(FindVehicleModelByName("0"), 165);

  // Part of a name finds the first model whose name holds it.
  const std::string first = VehicleNameOfModel(130);
  const std::string part = first.substr(1, 4);
  EXPECT_EQ(FindVehicleModelByName(part), 130);
  EXPECT_EQ(FindVehicleModelByName("no such vehicle at all"), -1);
  // Bytes beyond A-Z are compared unchanged.
  EXPECT_EQ(FindVehicleModelByName(first + "\xC9"), -1);
}

TEST(NameTablesTest, LowerCopyTouchesOnlyAToZ) {
  EXPECT_EQ(ToLowerCopy("AZaz@[`{09"), "azaz@[`{09");
  EXPECT_EQ(ToLowerCopy("\xC0\xC9\xFF"), "\xC0\xC9\xFF");
  EXPECT_EQ(ToLowerCopy(std::string("A\0B", 3)), std::string("a\0b", 3));
}

}  // namespace
