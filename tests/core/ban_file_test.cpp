// The ban list against real files in the server's temporary working directory
// and the real game peer.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "core/ban_file.h"
#include "core/netgame.h"
#include "core/rpc.h"
#include "core/xml_file.h"
#include "core/world.h"
#include "support/server_fixture.h"
#include "support/test_client.h"

namespace {

constexpr const char* kFile = "server_bans.xml";

net::Peer& GamePeer() { return *GetGamePeer(); }
bool Banned(const char* ip) { return GamePeer().IsBanned(ip); }
// The file as a save writes it.
std::string BanFile(std::initializer_list<const char*> ips) {
  std::string file = "<BanInformation>\n";
  for (const char* ip : ips) file += std::string("    <") + ip + " />\n";
  return file + "</BanInformation>\n";
}
bool FileExists(const InProcessServer& s, const std::string& name) {
  return std::filesystem::exists(s.Dir() + "/" + name);
}
unsigned Mode(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 01000;
}

class BanListTest : public ::testing::Test {
 protected:
  void TearDown() override { xml::SetSaveFaultForTesting(xml::SaveFault::kNone); }
};

TEST_F(BanListTest, AddReloadAndRemoveInAnEmptyDirectory) {
  InProcessServer s;
  s.Start();
  EXPECT_FALSE(FileExists(s, kFile));
  EXPECT_FALSE(Banned("1.2.3.4"));

  BanList::AddAddress("1.2.3.4");
  EXPECT_TRUE(Banned("1.2.3.4"));
  EXPECT_FALSE(Banned("1.2.3.5"));
  EXPECT_EQ(s.ReadFile(kFile), BanFile({"1.2.3.4"}));

  // The written element reads back as the node the operations look for.
  GamePeer().ClearBanList();
  BanList::Load();
  EXPECT_TRUE(Banned("1.2.3.4"));

  // Already banned: neither the list nor the file changes.
  BanList::AddAddress("1.2.3.4");
  EXPECT_EQ(s.ReadFile(kFile), BanFile({"1.2.3.4"}));

  BanList::AddAddress("5.6.7.8");
  EXPECT_EQ(s.ReadFile(kFile), BanFile({"1.2.3.4", "5.6.7.8"}));

  BanList::RemoveAddress("1.2.3.4");
  BanList::RemoveAddress("5.6.7.8");
  EXPECT_FALSE(Banned("1.2.3.4"));
  EXPECT_EQ(s.ReadFile(kFile), "<BanInformation />\n");
  BanList::Load();
  EXPECT_FALSE(Banned("1.2.3.4"));
  EXPECT_FALSE(FileExists(s, "server_bans.xml.tmp"));
  EXPECT_FALSE(FileExists(s, "server_bans.xml.bad"));
}

TEST_F(BanListTest, LoadReplacesThePeersList) {
  InProcessServer s;
  s.WriteFile(kFile, BanFile({"1.2.3.4"}));
  s.Start();
  EXPECT_TRUE(Banned("1.2.3.4"));  // loaded by the network start

  GamePeer().AddToBanList("9.9.9.9");
  BanList::Load();
  EXPECT_TRUE(Banned("1.2.3.4"));
  EXPECT_FALSE(Banned("9.9.9.9"));

  // An entry in the file that the peer has lost is found as a duplicate: the
  // peer bans again and the file keeps one entry.
  GamePeer().ClearBanList();
  BanList::AddAddress("1.2.3.4");
  EXPECT_TRUE(Banned("1.2.3.4"));
  EXPECT_EQ(s.ReadFile(kFile), BanFile({"1.2.3.4"}));

  // A file that vanished leaves the list empty.
  std::filesystem::remove(s.Dir() + "/" + kFile);
  BanList::Load();
  EXPECT_FALSE(Banned("1.2.3.4"));
}

TEST_F(BanListTest, WildcardEntryCoversAddAndRemove) {
  InProcessServer s;
  const std::string file = BanFile({"1.2.3.*"});
  s.WriteFile(kFile, file);
  s.Start();
  ASSERT_TRUE(Banned("1.2.3.9"));

  BanList::AddAddress("1.2.3.9");
  EXPECT_EQ(s.ReadFile(kFile), file);

  BanList::RemoveAddress("1.2.3.9");
  EXPECT_TRUE(Banned("1.2.3.9"));  // only the exact text is removed
  EXPECT_EQ(s.ReadFile(kFile), file);

  // The add put nothing of its own into the peer.
  GamePeer().RemoveFromBanList("1.2.3.*");
  EXPECT_FALSE(Banned("1.2.3.9"));
}

TEST_F(BanListTest, HandWrittenEntriesLoadByTheirValue) {
  InProcessServer s;
  const std::string file =
      "<?xml version=\"1.0\" ?>\n"
      "<Bans>\n"
      "    5.6.7.8\n"
      "    <ban>7.7.7.7</ban>\n"
      "    <!--9.9.9.9 banned for cheating-->\n"
      "    <1.1.1.1 />\n"
      "</Bans>\n";
  s.WriteFile(kFile, file);
  s.Start();

  EXPECT_TRUE(Banned("5.6.7.8"));  // a text child
  EXPECT_TRUE(Banned("ban"));      // an element bans its name...
  EXPECT_FALSE(Banned("7.7.7.7")); // ...not its content
  EXPECT_TRUE(Banned("9.9.9.9"));  // a comment up to its first blank
  EXPECT_TRUE(Banned("1.1.1.1"));  // under a root of any name

  // The text child lacks " /": the ban is lifted in the peer only and comes
  // back at the next load.
  BanList::RemoveAddress("5.6.7.8");
  EXPECT_FALSE(Banned("5.6.7.8"));
  EXPECT_EQ(s.ReadFile(kFile), file);
  BanList::Load();
  EXPECT_TRUE(Banned("5.6.7.8"));

  // New entries go under whatever root the file has.
  BanList::AddAddress("2.2.2.2");
  EXPECT_EQ(s.ReadFile(kFile),
            "<?xml version=\"1.0\" ?>\n"
            "<Bans>5.6.7.8\n"
            "    <ban>7.7.7.7</ban>\n"
            "    <!--9.9.9.9 banned for cheating-->\n"
            "    <1.1.1.1 />\n"
            "    <2.2.2.2 />\n"
            "</Bans>\n");
  GamePeer().ClearBanList();
  BanList::Load();
  for (const char* ip : {"5.6.7.8", "ban", "9.9.9.9", "1.1.1.1", "2.2.2.2"})
    EXPECT_TRUE(Banned(ip)) << ip;
}

TEST_F(BanListTest, FileThatDoesNotParseIsKeptBesideTheSavedOne) {
  InProcessServer s;
  const std::string broken = "<BanInformation>\n    <1.2.3.4 />\n    <5.5.5.5 />\n";  // no end tag
  s.WriteFile(kFile, broken);
  s.Start();
  EXPECT_TRUE(Banned("1.2.3.4"));
  EXPECT_TRUE(Banned("5.5.5.5"));

  // Loading and a change that saves nothing leave everything as it was.
  BanList::RemoveAddress("6.6.6.6");
  EXPECT_FALSE(FileExists(s, "server_bans.xml.bad"));

  BanList::AddAddress("7.7.7.7");
  EXPECT_EQ(s.ReadFile("server_bans.xml.bad"), broken);
  EXPECT_EQ(s.ReadFile(kFile), BanFile({"1.2.3.4", "5.5.5.5", "7.7.7.7"}));

  // Text that is not XML at all: the save starts a fresh root, the text is kept.
  s.WriteFile(kFile, "bans: 1.2.3.4, 5.5.5.5");
  GamePeer().ClearBanList();
  BanList::Load();
  EXPECT_FALSE(Banned("1.2.3.4"));
  BanList::AddAddress("8.8.8.8");
  EXPECT_EQ(s.ReadFile("server_bans.xml.bad"), "bans: 1.2.3.4, 5.5.5.5");
  EXPECT_EQ(s.ReadFile(kFile), BanFile({"8.8.8.8"}));
}

TEST_F(BanListTest, FilesThatCannotBeReadAreNeitherTrustedNorReplaced) {
  InProcessServer s;
  s.Start();
  const std::string path = s.Dir() + "/" + kFile;
  std::string deep;
  for (int i = 0; i < 1001; ++i) deep += "<a>";
  const std::function<void()> makers[] = {
      [&] { s.WriteFile(kFile, deep); },
      [&] { s.WriteFile(kFile, BanFile({"1.2.3.4"})), truncate(path.c_str(), 17 << 20); },
      [&] { std::filesystem::create_directory(path); },
      [&] { mkfifo(path.c_str(), 0644); },
      [&] { std::filesystem::create_symlink("/dev/zero", path); },
  };
  const auto shape = [&] {
    const auto status = std::filesystem::symlink_status(path);
    return std::to_string(static_cast<int>(status.type())) +
           (std::filesystem::is_regular_file(status) ? s.ReadFile(kFile) : "");
  };
  for (size_t i = 0; i < std::size(makers); ++i) {
    SCOPED_TRACE(i);
    std::filesystem::remove_all(path);
    makers[i]();
    const std::string before = shape();
    GamePeer().ReplaceBanList({"9.9.9.9"});
    EXPECT_FALSE(BanList::Load());
    EXPECT_TRUE(Banned("9.9.9.9"));
    BanList::AddAddress("8.8.8.8");
    EXPECT_TRUE(Banned("8.8.8.8"));
    EXPECT_EQ(shape(), before);
    EXPECT_FALSE(FileExists(s, "server_bans.xml.bad"));
  }
}

TEST_F(BanListTest, SavesWriteThroughLinksKeepTheModeAndSpareReadOnlyFiles) {
  InProcessServer s;
  const std::string real = s.Dir() + "/real.xml";
  s.WriteFile("real.xml", "<BanInformation>\n    <1.2.3.4 />\n");  // no end tag
  ASSERT_EQ(chmod(real.c_str(), 0600), 0);
  std::filesystem::create_symlink("real.xml", s.Dir() + "/" + kFile);
  s.Start();
  BanList::AddAddress("5.6.7.8");
  EXPECT_TRUE(std::filesystem::is_symlink(s.Dir() + "/" + kFile));
  EXPECT_EQ(s.ReadFile("real.xml"), BanFile({"1.2.3.4", "5.6.7.8"}));
  EXPECT_EQ(Mode(real), 0600u);
  EXPECT_EQ(Mode(s.Dir() + "/server_bans.xml.bad"), 0600u);

  // A file nobody may write is left alone; the ban holds in memory.
  ASSERT_EQ(chmod(real.c_str(), 0444), 0);
  BanList::AddAddress("6.6.6.6");
  EXPECT_TRUE(Banned("6.6.6.6"));
  EXPECT_EQ(s.ReadFile("real.xml"), BanFile({"1.2.3.4", "5.6.7.8"}));
}

TEST_F(BanListTest, TextThatWouldBreakTheFileIsBannedButNotWritten) {
  InProcessServer s;
  s.Start();
  BanList::AddAddress("1.2.3.4");
  const std::string before = s.ReadFile(kFile);
  for (const char* text : {"1.2>3.4", "!--1.2.3", "1.2 3.4", "<1.2.3.4", "?1.2.3.4"}) {
    BanList::AddAddress(text);
    EXPECT_TRUE(Banned(text)) << text;
    EXPECT_EQ(s.ReadFile(kFile), before) << text;
  }
  BanList::Load();
  EXPECT_TRUE(Banned("1.2.3.4"));
}

TEST_F(BanListTest, InterruptedSaveLeavesTheOldFileIntact) {
  InProcessServer s;
  const std::string file = BanFile({"1.2.3.4"});
  s.WriteFile(kFile, file);
  s.Start();

  // The process dies after writing the new file and before the rename.
  xml::SetSaveFaultForTesting(xml::SaveFault::kStopBeforeRename);
  BanList::AddAddress("4.4.4.4");
  EXPECT_EQ(s.ReadFile(kFile), file);
  EXPECT_NE(s.ReadFile("server_bans.xml.tmp").find("4.4.4.4"), std::string::npos);

  // The next run sees the old file, and the leftover does no harm.
  xml::SetSaveFaultForTesting(xml::SaveFault::kNone);
  BanList::Load();
  EXPECT_TRUE(Banned("1.2.3.4"));
  EXPECT_FALSE(Banned("4.4.4.4"));
  BanList::AddAddress("6.6.6.6");
  EXPECT_EQ(s.ReadFile(kFile), BanFile({"1.2.3.4", "6.6.6.6"}));
  EXPECT_FALSE(FileExists(s, "server_bans.xml.tmp"));

  // A failed rename keeps the old file and cleans up.
  const std::string saved = s.ReadFile(kFile);
  xml::SetSaveFaultForTesting(xml::SaveFault::kRenameFails);
  BanList::RemoveAddress("1.2.3.4");
  EXPECT_FALSE(Banned("1.2.3.4"));
  EXPECT_EQ(s.ReadFile(kFile), saved);
  EXPECT_FALSE(FileExists(s, "server_bans.xml.tmp"));

  // So does a temporary file that cannot be written at all.
  xml::SetSaveFaultForTesting(xml::SaveFault::kNone);
  ASSERT_TRUE(std::filesystem::create_directory(s.Dir() + "/server_bans.xml.tmp"));
  BanList::AddAddress("3.3.3.3");
  EXPECT_TRUE(Banned("3.3.3.3"));
  EXPECT_EQ(s.ReadFile(kFile), saved);
}

TEST_F(BanListTest, TheFilesBansRefuseConnectionsFromTheStartUntilLifted) {
  InProcessServer s;
  s.WriteFile(kFile, BanFile({"127.0.0.2"}));
  s.Start();
  support::TestClient banned;
  banned.BindTo("127.0.0.2");
  EXPECT_FALSE(banned.Connect(s.Port()));
  EXPECT_EQ(banned.LastRefusal(), net::ID_CONNECTION_BANNED);
  support::TestClient allowed;
  EXPECT_TRUE(allowed.Connect(s.Port()));

  BanList::RemoveAddress("127.0.0.2");
  support::TestClient again;
  again.BindTo("127.0.0.2");
  EXPECT_TRUE(again.Connect(s.Port()));

  // A reload never shows the network thread a half-loaded list.
  std::string file = "<BanInformation>";
  for (int i = 0; i < 3000; ++i) file += "<10.0." + std::to_string(i) + ".1 />";
  s.WriteFile(kFile, file + "<127.0.0.2 /></BanInformation>");
  BanList::Load();
  std::atomic<bool> loading = true, letIn = false;
  std::thread checker([&] {
    while (loading) letIn = letIn || !Banned("127.0.0.2");
  });
  for (int i = 0; i < 5; ++i) BanList::Load();
  loading = false;
  checker.join();
  EXPECT_FALSE(letIn);
}

}  // namespace
