// The save helper on its own, against real files in a temporary directory:
// where its new file is written and what it leaves behind. (Links, modes,
// read-only files and broken files: ban_file_test.cpp, through the ban list.)
#include "core/xml_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::set<std::string> Names(const support::TempDir& dir) {
  std::set<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(dir.Path())) {
    names.insert(e.path().filename().string());
  }
  return names;
}

bool Save(const std::string& path, const std::string& text, std::string* why = nullptr) {
  auto write = [&](FILE* f) { return std::fwrite(text.data(), 1, text.size(), f) == text.size(); };
  return xml::SaveFile(path.c_str(), write, why);
}

TEST(SaveFile, TouchesNoNameButItsOwnAndLeavesNothingBehind) {
  support::TempDir dir;
  ASSERT_TRUE(dir.Valid());
  // A game mode keeps its own "<name>.tmp" beside the file it saves.
  ASSERT_TRUE(dir.Write("scores.xml.tmp", "the game mode's own"));
  ASSERT_TRUE(Save(dir.Path("scores.xml"), "one"));
  ASSERT_TRUE(Save(dir.Path("scores.xml"), "two"));
  EXPECT_EQ(dir.Read("scores.xml"), "two");
  EXPECT_EQ(dir.Read("scores.xml.tmp"), "the game mode's own");
  EXPECT_EQ(Names(dir), (std::set<std::string>{"scores.xml", "scores.xml.tmp"}));

  // A failed rename removes the new file and keeps the old one.
  xml::SetSaveFaultForTesting(xml::SaveFault::kRenameFails);
  std::string why;
  EXPECT_FALSE(Save(dir.Path("scores.xml"), "three", &why));
  xml::SetSaveFaultForTesting(xml::SaveFault::kNone);
  EXPECT_EQ(why, "rename failed");
  EXPECT_EQ(dir.Read("scores.xml"), "two");
  EXPECT_EQ(Names(dir), (std::set<std::string>{"scores.xml", "scores.xml.tmp"}));

  // A folder where the new file would go: nothing is created, and the reason
  // names the new file and the system's word for the failure.
  EXPECT_FALSE(Save(dir.Path("missing/scores.xml"), "four", &why));
  EXPECT_EQ(Names(dir), (std::set<std::string>{"scores.xml", "scores.xml.tmp"}));
  EXPECT_THAT(why, testing::StartsWith(dir.Path("missing/scores.xml.")));
  EXPECT_THAT(why, testing::EndsWith(".tmp: No such file or directory"));
  // A directory in the file's place is never replaced.
  ASSERT_TRUE(dir.Write("folder/kept", ""));
  EXPECT_FALSE(Save(dir.Path("folder"), "five", &why));
  EXPECT_EQ(why, "it is not a regular file");
  // Nor is a link to nothing: a save would put a file in the link's place.
  fs::create_symlink("gone.xml", dir.Path("dangling.xml"));
  EXPECT_FALSE(Save(dir.Path("dangling.xml"), "six", &why));
  EXPECT_EQ(why, "it is a symbolic link to nothing");
  EXPECT_TRUE(fs::is_symlink(dir.Path("dangling.xml")));
  EXPECT_FALSE(fs::exists(dir.Path("gone.xml")));
}

// Two savers of one file (two servers sharing a directory) never write into
// or rename each other's new file: every save lands whole.
TEST(SaveFile, TwoSaversOfOneFileEachLandWhole) {
  support::TempDir dir;
  ASSERT_TRUE(dir.Valid());
  const std::string path = dir.Path("shared.xml");
  const std::string a(64 << 10, 'a');
  const std::string b(64 << 10, 'b');
  std::atomic<int> failed{0};
  auto saver = [&](const std::string& text) {
    for (int i = 0; i < 40; ++i) {
      if (!Save(path, text)) ++failed;
    }
  };
  std::thread first(saver, a);
  std::thread second(saver, b);
  first.join();
  second.join();
  EXPECT_EQ(failed.load(), 0);
  const std::string last = dir.Read("shared.xml").value_or("");
  // One saver's whole text, never a mix or a part.
  EXPECT_THAT(last, testing::AnyOf(testing::Eq(a), testing::Eq(b))) << last.size() << " bytes";
  EXPECT_EQ(Names(dir), (std::set<std::string>{"shared.xml"}));
}

}  // namespace
