#include "core/spawnclasspool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "record_bytes.h"

namespace {

using namespace recordbytes;

class SpawnClassPoolTest : public ::testing::Test {
 protected:
  void AddClass(const char* name, float secondZ = 0, float x = 0) {
    pool_->AddClass(name, 1, 2, 3, x, 0, 0, 0, 0, 0, secondZ, 0);
  }
  void AddMember(uint8_t classId, float x = 0, float angle = 0) {
    pool_->AddMember(classId, 100, x, 0, 0, angle, 1, 2, 3, 4, 5, 6);
  }
  std::unique_ptr<SpawnClassPool> pool_ = std::make_unique<SpawnClassPool>();
};

TEST_F(SpawnClassPoolTest, ClassAndMemberBytesSitAtTheirWireOffsets) {
  pool_->AddClass("Cops", 0x11, 0x22, 0x33, 1.5f, 2.5f, 3.5f, 90.0f, -1.0f, -2.0f, -3.0f, 7);
  pool_->AddMember(0, 0x0102, 4.5f, 5.5f, 6.5f, 180.0f, 22, 0x0A0B0C0D, 25, 2, 31, 3);
  auto want = PlainBytes(1_u8, 1.5f, 2.5f, 3.5f, 90.0f, -1.0f, -2.0f, -3.0f, 0x11_u8, 0x22_u8,
                         0x33_u8, 7_u8);
  want.resize(133);  // the 100-byte name
  std::memcpy(&want[33], "Cops", 4);
  // Member 0: used, class, position and angle, model, weapons, ammunition;
  // the other 179 members are free.
  const auto member = PlainBytes(1_u8, 0_u8, 4.5f, 5.5f, 6.5f, 180.0f, uint16_t{0x0102}, 22_u8,
                                 25_u8, 31_u8, 0x0A0B0C0Du, 2u, 3u);
  want.insert(want.end(), member.begin(), member.end());
  want.resize(6433);
  EXPECT_EQ(Bytes(pool_->classes[0]), want);
}

TEST_F(SpawnClassPoolTest, CoordinateLimitIsInclusiveAndNonFiniteValuesAreRefused) {
  AddClass("far", 10000.5f);
  EXPECT_EQ(pool_->FindFreeClass(), 0);
  AddClass("edge", -10000.0f);
  EXPECT_EQ(pool_->classes[0].used, 1);
  EXPECT_EQ(+pool_->classes[0].secondZ, -10000.0f);
  for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::infinity()}) {
    AddClass("bad", 0, bad);
    EXPECT_EQ(pool_->FindFreeClass(), 1);
    AddMember(0, bad);
    AddMember(0, 0, bad);
    EXPECT_EQ(pool_->FindFreeMember(0), 0);
  }
  AddMember(0, 10000.5f);
  EXPECT_EQ(pool_->FindFreeMember(0), 0);
  AddMember(0, -10000.0f);
  EXPECT_EQ(pool_->FindFreeMember(0), 1);
}

TEST_F(SpawnClassPoolTest, NamesDefaultToABlankAndLongOnesAreCut) {
  AddClass("");
  AddClass(nullptr);
  EXPECT_STREQ(pool_->classes[0].name, " ");
  EXPECT_STREQ(pool_->classes[1].name, " ");
  const std::string longName(150, 'n');
  AddClass(longName.c_str());
  EXPECT_EQ(std::string(pool_->classes[2].name), std::string(99, 'n'));
  // Nothing spilled into the fields that follow the name.
  EXPECT_EQ(pool_->classes[2].members[0].used, 0);
}

TEST_F(SpawnClassPoolTest, TenClassesAndOneHundredEightyMembersEach) {
  for (int i = 0; i < kMaxSpawnClasses; ++i) {
    ASSERT_EQ(pool_->FindFreeClass(), i);
    AddClass("c");
  }
  EXPECT_EQ(pool_->FindFreeClass(), -1);
  const auto before = Bytes(pool_->classes[9]);
  AddClass("eleventh");
  EXPECT_EQ(Bytes(pool_->classes[9]), before);

  for (int slot = 0; slot < kMaxClassMembers; ++slot) {
    ASSERT_EQ(pool_->FindFreeMember(2), slot);
    AddMember(2);
  }
  EXPECT_EQ(pool_->FindFreeMember(2), -1);
  AddMember(2);  // the 181st: nothing changes anywhere
  EXPECT_EQ(pool_->FindFreeMember(3), 0);
  EXPECT_EQ(pool_->classes[2].members[179].classId, 2);
  EXPECT_EQ(pool_->FindFreeMember(10), -1);
  AddMember(10);
}

TEST_F(SpawnClassPoolTest, MembersMayJoinAFreeClassAndInteriorsFollowTheRule) {
  AddMember(3);
  EXPECT_EQ(pool_->classes[3].used, 0);
  EXPECT_EQ(pool_->classes[3].members[0].used, 1);
  EXPECT_EQ(pool_->classes[3].members[0].classId, 3);
  EXPECT_EQ(+pool_->classes[3].members[0].ammo[2], 6u);

  EXPECT_EQ(SpawnInteriorRule(18), 18);
  EXPECT_EQ(SpawnInteriorRule(19), 0);
  EXPECT_EQ(SpawnInteriorRule(13), 0);
  EXPECT_EQ(SpawnInteriorRule(12), 12);
  pool_->AddClass("i", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 18);
  EXPECT_EQ(pool_->classes[0].interior, 18);
  EXPECT_EQ(pool_->classes[0].members[0].used, 0);  // adding a class leaves members alone
}

}  // namespace
