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
namespace fs = std::filesystem;

net::Peer& GamePeer() { return *GetGamePeer(); }
bool Banned(const char* ip) { return GamePeer().IsBanned(ip); }
// The file as a save writes it.
std::string BanFile(std::initializer_list<const char*> ips) {
  std::string file = "<BanInformation>\n";
  for (const char* ip : ips) file += std::string("    <") + ip + " />\n";
  return file + "</BanInformation>\n";
}
bool Exists(const InProcessServer& s, const std::string& name) { return fs::exists(s.Dir() + "/" + name); }
unsigned Mode(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 01000;
}

TEST(BanList, AddReloadRemoveAndWildcards) {
  InProcessServer s;
  s.Start();
  EXPECT_FALSE(Exists(s, kFile) || Banned("1.2.3.4"));
  BanList::AddAddress("1.2.3.4");
  EXPECT_TRUE(Banned("1.2.3.4") && !Banned("1.2.3.5"));
  EXPECT_EQ(s.ReadFile(kFile), BanFile({"1.2.3.4"}));
  // The written element reads back as the node the operations look for.
  GamePeer().ClearBanList();
  BanList::Load();
  EXPECT_TRUE(Banned("1.2.3.4"));
  // Already banned: neither the list nor the file changes; an entry the peer
  // has lost is found as a duplicate: the peer bans again, the file keeps one.
  BanList::AddAddress("1.2.3.4");
  GamePeer().ClearBanList();
  BanList::AddAddress("1.2.3.4");
  EXPECT_TRUE(Banned("1.2.3.4"));
  EXPECT_EQ(s.ReadFile(kFile), BanFile({"1.2.3.4"}));
  BanList::AddAddress("5.6.7.8");
  EXPECT_EQ(s.ReadFile(kFile), BanFile({"1.2.3.4", "5.6.7.8"}));
  // A load replaces the peer's list.
  GamePeer().AddToBanList("9.9.9.9");
  BanList::Load();
  EXPECT_TRUE(Banned("1.2.3.4") && !Banned("9.9.9.9"));
  BanList::RemoveAddress("1.2.3.4");
  BanList::RemoveAddress("5.6.7.8");
  EXPECT_FALSE(Banned("1.2.3.4"));
  EXPECT_EQ(s.ReadFile(kFile), "<BanInformation />\n");
  BanList::Load();
  EXPECT_FALSE(Banned("1.2.3.4"));
  EXPECT_FALSE(Exists(s, "server_bans.xml.tmp") || Exists(s, "server_bans.xml.bad"));

  // A wildcard entry covers an add; a remove takes only the exact text.
  const std::string wild = BanFile({"1.2.3.*"});
  s.WriteFile(kFile, wild);
  BanList::Load();
  BanList::AddAddress("1.2.3.9");
  EXPECT_EQ(s.ReadFile(kFile), wild);
  BanList::RemoveAddress("1.2.3.9");
  EXPECT_TRUE(Banned("1.2.3.9"));
  EXPECT_EQ(s.ReadFile(kFile), wild);
  GamePeer().RemoveFromBanList("1.2.3.*");  // the add put nothing of its own into the peer
  EXPECT_FALSE(Banned("1.2.3.9"));
  // A file that vanished leaves the list empty.
  GamePeer().AddToBanList("1.2.3.4");
  fs::remove(s.Dir() + "/" + kFile);
  BanList::Load();
  EXPECT_FALSE(Banned("1.2.3.4"));
}

TEST(BanList, HandWrittenAndBrokenFiles) {
  InProcessServer s;
  const std::string file =
      "<?xml version=\"1.0\" ?>\n<Bans>\n    5.6.7.8\n    <ban>7.7.7.7</ban>\n"
      "    <!--9.9.9.9 banned for cheating-->\n    <1.1.1.1 />\n</Bans>\n";
  s.WriteFile(kFile, file);
  s.Start();
  // A text child; an element bans its name, not its content; a comment up to
  // its first blank; all under a root of any name.
  for (const char* ip : {"5.6.7.8", "ban", "9.9.9.9", "1.1.1.1"}) EXPECT_TRUE(Banned(ip)) << ip;
  EXPECT_FALSE(Banned("7.7.7.7"));
  // The text child lacks " /": lifted in the peer only, back at the next load.
  BanList::RemoveAddress("5.6.7.8");
  EXPECT_FALSE(Banned("5.6.7.8"));
  EXPECT_EQ(s.ReadFile(kFile), file);
  BanList::Load();
  EXPECT_TRUE(Banned("5.6.7.8"));
  // New entries go under whatever root the file has.
  BanList::AddAddress("2.2.2.2");
  EXPECT_EQ(s.ReadFile(kFile),
            "<?xml version=\"1.0\" ?>\n<Bans>5.6.7.8\n    <ban>7.7.7.7</ban>\n"
            "    <!--9.9.9.9 banned for cheating-->\n    <1.1.1.1 />\n    <2.2.2.2 />\n</Bans>\n");
  GamePeer().ClearBanList();
  BanList::Load();
  for (const char* ip : {"5.6.7.8", "ban", "9.9.9.9", "1.1.1.1", "2.2.2.2"}) EXPECT_TRUE(Banned(ip)) << ip;

  // A file that does not parse is read as far as it goes, and kept beside the
  // saved one at the first change that saves.
  const std::string broken = "<BanInformation>\n    <1.2.3.4 />\n    <5.5.5.5 />\n";  // no end tag
  s.WriteFile(kFile, broken);
  BanList::Load();
  EXPECT_TRUE(Banned("1.2.3.4") && Banned("5.5.5.5"));
  BanList::RemoveAddress("6.6.6.6");
  EXPECT_FALSE(Exists(s, "server_bans.xml.bad"));
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
  // Text that would break the file is banned but not written.
  for (const char* text : {"1.2>3.4", "!--1.2.3", "1.2 3.4", "<1.2.3.4", "?1.2.3.4"}) {
    BanList::AddAddress(text);
    EXPECT_TRUE(Banned(text)) << text;
    EXPECT_EQ(s.ReadFile(kFile), BanFile({"8.8.8.8"})) << text;
  }
}

TEST(BanList, FilesThatCannotBeReadOrWrittenAreNeitherTrustedNorReplaced) {
  InProcessServer s;
  s.Start();
  const std::string path = s.Dir() + "/" + kFile;
  const std::function<void()> makers[] = {
      [&] { s.WriteFile(kFile, [] { std::string d; for (int i = 0; i < 1001; ++i) d += "<a>"; return d; }()); },
      [&] { s.WriteFile(kFile, BanFile({"1.2.3.4"})), truncate(path.c_str(), 17 << 20); },
      [&] { fs::create_directory(path); },
      [&] { mkfifo(path.c_str(), 0644); },
      [&] { fs::create_symlink("/dev/zero", path); },
  };
  const auto shape = [&] {
    const auto status = fs::symlink_status(path);
    return std::to_string(static_cast<int>(status.type())) + (fs::is_regular_file(status) ? s.ReadFile(kFile) : "");
  };
  for (size_t i = 0; i < std::size(makers); ++i) {
    fs::remove_all(path);
    makers[i]();
    const std::string before = shape();
    GamePeer().ReplaceBanList({"9.9.9.9"});
    EXPECT_FALSE(BanList::Load()) << i;
    BanList::AddAddress("8.8.8.8");
    EXPECT_TRUE(Banned("9.9.9.9") && Banned("8.8.8.8")) << i;
    EXPECT_EQ(shape(), before) << i;
    EXPECT_FALSE(Exists(s, "server_bans.xml.bad")) << i;
  }

  // Saves write through links and keep the mode; a read-only file is spared.
  fs::remove_all(path);
  const std::string real = s.Dir() + "/real.xml";
  s.WriteFile("real.xml", "<BanInformation>\n    <1.2.3.4 />\n");  // no end tag
  ASSERT_EQ(chmod(real.c_str(), 0600), 0);
  fs::create_symlink("real.xml", path);
  BanList::Load();
  BanList::AddAddress("5.6.7.8");
  EXPECT_TRUE(fs::is_symlink(path));
  EXPECT_EQ(s.ReadFile("real.xml"), BanFile({"1.2.3.4", "5.6.7.8"}));
  EXPECT_EQ(Mode(real), 0600u);
  EXPECT_EQ(Mode(s.Dir() + "/server_bans.xml.bad"), 0600u);
  ASSERT_EQ(chmod(real.c_str(), 0444), 0);
  BanList::AddAddress("6.6.6.6");
  EXPECT_TRUE(Banned("6.6.6.6"));
  EXPECT_EQ(s.ReadFile("real.xml"), BanFile({"1.2.3.4", "5.6.7.8"}));
}

TEST(BanList, InterruptedSaveLeavesTheOldFileIntact) {
  InProcessServer s;
  s.WriteFile(kFile, BanFile({"1.2.3.4"}));
  s.Start();
  // The process dies after writing the new file and before the rename.
  xml::SetSaveFaultForTesting(xml::SaveFault::kStopBeforeRename);
  BanList::AddAddress("4.4.4.4");
  xml::SetSaveFaultForTesting(xml::SaveFault::kNone);
  EXPECT_EQ(s.ReadFile(kFile), BanFile({"1.2.3.4"}));
  EXPECT_NE(s.ReadFile("server_bans.xml.tmp").find("4.4.4.4"), std::string::npos);
  // The next run sees the old file, and the leftover does no harm.
  BanList::Load();
  EXPECT_TRUE(Banned("1.2.3.4") && !Banned("4.4.4.4"));
  BanList::AddAddress("6.6.6.6");
  const std::string saved = BanFile({"1.2.3.4", "6.6.6.6"});
  EXPECT_EQ(s.ReadFile(kFile), saved);
  EXPECT_FALSE(Exists(s, "server_bans.xml.tmp"));
  // A failed rename keeps the old file and cleans up.
  xml::SetSaveFaultForTesting(xml::SaveFault::kRenameFails);
  BanList::RemoveAddress("1.2.3.4");
  xml::SetSaveFaultForTesting(xml::SaveFault::kNone);
  EXPECT_FALSE(Banned("1.2.3.4"));
  EXPECT_EQ(s.ReadFile(kFile), saved);
  EXPECT_FALSE(Exists(s, "server_bans.xml.tmp"));
  // So does a temporary file that cannot be written at all.
  ASSERT_TRUE(fs::create_directory(s.Dir() + "/server_bans.xml.tmp"));
  BanList::AddAddress("3.3.3.3");
  EXPECT_TRUE(Banned("3.3.3.3"));
  EXPECT_EQ(s.ReadFile(kFile), saved);
}

// Over loopback: the file's bans refuse a connection from the start until lifted.
TEST(BanList, RefusesConnectionsFromTheStartUntilLifted) {
  InProcessServer s;
  s.WriteFile(kFile, BanFile({"127.0.0.2"}));
  s.Start();
  support::TestClient banned, allowed, again;
  banned.BindTo("127.0.0.2");
  EXPECT_FALSE(banned.Connect(s.Port()));
  EXPECT_EQ(banned.LastRefusal(), net::ID_CONNECTION_BANNED);
  EXPECT_TRUE(allowed.Connect(s.Port()));
  BanList::RemoveAddress("127.0.0.2");
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
