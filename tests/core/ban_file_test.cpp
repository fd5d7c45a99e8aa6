// The ban list against real files in the server's temporary working directory
// and the real game peer.
#include "core/ban_file.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"
#include "core/netgame.h"
#include "core/rpc.h"
#include "core/world.h"
#include "core/xml_file.h"
#include "support/count.h"
#include "support/server_fixture.h"
#include "support/test_client.h"

namespace {

constexpr const char* kFile = "server_bans.xml";
namespace fs = std::filesystem;

net::Peer& GamePeer() { return *GetGamePeer(); }
bool Banned(const std::string& ip) { return GamePeer().IsBanned(ip.c_str()); }
// The file as a save writes it.
std::string BanFile(std::initializer_list<const char*> ips) {
  std::string file = "<BanInformation>\n";
  for (const char* ip : ips) file += std::string("    <") + ip + " />\n";
  return file + "</BanInformation>\n";
}
bool Exists(const InProcessServer& s, const std::string& name) {
  return fs::exists(s.Dir() + "/" + name);
}
// The name of a save's temporary file left in the directory ("" for none).
std::string TempFileLeft(const InProcessServer& s) {
  for (const fs::directory_entry& e : fs::directory_iterator(s.Dir())) {
    const std::string name = e.path().filename().string();
    if (name.rfind("server_bans.xml.", 0) == 0 && name.size() > 4 &&
        name.compare(name.size() - 4, 4, ".tmp") == 0 && name != "server_bans.xml.tmp") {
      return name;
    }
  }
  return "";
}
unsigned Mode(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 01000;
}

// One step: "+ip" adds, "-ip" removes, "load", "clear" (the peer's list),
// "peer+ip" / "peer-ip" (the peer alone), "write:text" or "rm" (the file); then the
// file and the addresses banned and not banned.
struct Step {
  std::string action;
  std::string file;
  std::vector<std::string> banned;
  std::vector<std::string> free;
};
void Steps(const InProcessServer& s, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    const std::string& a = step.action;
    if (a[0] == '+') BanList::AddAddress(a.c_str() + 1);
    if (a[0] == '-') BanList::RemoveAddress(a.c_str() + 1);
    if (a == "load") BanList::Load();
    if (a == "clear") GamePeer().ClearBanList();
    if (a.rfind("peer+", 0) == 0) GamePeer().AddToBanList(a.c_str() + 5);
    if (a.rfind("peer-", 0) == 0) GamePeer().RemoveFromBanList(a.c_str() + 5);
    if (a.rfind("write:", 0) == 0) s.WriteFile(kFile, a.substr(6));
    if (a == "rm") fs::remove(s.Dir() + "/" + kFile);
    EXPECT_EQ(s.ReadFile(kFile), step.file) << a;
    for (const std::string& ip : step.banned) EXPECT_TRUE(Banned(ip)) << a << ": " << ip;
    for (const std::string& ip : step.free) EXPECT_FALSE(Banned(ip)) << a << ": " << ip;
  }
}

TEST(BanList, AddRemoveLoadAndWhatFilesHold) {
  const std::string hand =
      "<?xml version=\"1.0\" ?>\n<Bans>\n    5.6.7.8\n    <ban>7.7.7.7</ban>\n"
      "    <!--9.9.9.9 banned for cheating-->\n    <1.1.1.1 />\n</Bans>\n";
  const std::string handSaved =
      "<?xml version=\"1.0\" ?>\n<Bans>5.6.7.8\n    <ban>7.7.7.7</ban>\n"
      "    <!--9.9.9.9 banned for cheating-->\n    <1.1.1.1 />\n    <2.2.2.2 />\n</Bans>\n";
  const std::string broken = "<BanInformation>\n    <1.2.3.4 />\n    <5.5.5.5 />\n";  // no end tag
  const std::string wild = BanFile({"1.2.3.*"});
  const std::string one = BanFile({"1.2.3.4"});
  const std::string two = BanFile({"1.2.3.4", "5.6.7.8"});
  const std::string none = "<BanInformation />\n";
  InProcessServer s;
  s.WriteFile(kFile, hand);
  s.Start();
  // clang-format off
  Steps(s, {
      // Loaded at the start: a text child; an element bans its name, not its
      // content; a comment up to its first blank; under a root of any name.
      {"",             hand,      {"5.6.7.8", "ban", "9.9.9.9", "1.1.1.1"}, {"7.7.7.7"}},
      // The text child lacks " /": lifted in the peer only, back at the next load.
      {"-5.6.7.8",     hand,      {},                   {"5.6.7.8"}},
      {"load",         hand,      {"5.6.7.8"},          {}},
      {"+2.2.2.2",     handSaved, {"2.2.2.2"},          {}},  // under whatever root the file has
      {"clear",        handSaved, {},                   {"5.6.7.8"}},
      {"load",         handSaved, {"5.6.7.8", "ban", "9.9.9.9", "1.1.1.1", "2.2.2.2"}, {}},
      // A file that vanished leaves the list empty.
      {"rm",           "",        {},                   {}},
      {"load",         "",        {},                   {"2.2.2.2", "1.2.3.4"}},
      {"+1.2.3.4",     one,       {"1.2.3.4"},          {"1.2.3.5"}},
      {"clear",        one,       {},                   {"1.2.3.4"}},
      {"load",         one,       {"1.2.3.4"},          {}},  // the written element reads back
      {"+1.2.3.4",     one,       {"1.2.3.4"},          {}},
      // An entry the peer has lost is found as a duplicate: the peer bans again.
      {"clear",        one,       {},                   {"1.2.3.4"}},
      {"+1.2.3.4",     one,       {"1.2.3.4"},          {}},
      {"+5.6.7.8",     two,       {"5.6.7.8"},          {}},
      {"peer+9.9.9.9", two,       {"9.9.9.9"},          {}},
      {"load",         two,       {"1.2.3.4"},          {"9.9.9.9"}},  // replaces the peer's list
      {"-1.2.3.4",     BanFile({"5.6.7.8"}), {},        {"1.2.3.4"}},
      {"-5.6.7.8",     none,      {},                   {"5.6.7.8"}},
      {"load",         none,      {},                   {"1.2.3.4", "5.6.7.8"}},
      // A wildcard covers an add; a remove takes only the exact text.
      {"write:" + wild, wild,     {},                   {}},
      {"load",         wild,      {"1.2.3.9"},          {}},
      {"+1.2.3.9",     wild,      {"1.2.3.9"},          {}},
      {"-1.2.3.9",     wild,      {"1.2.3.9"},          {}},
      // The add put nothing of its own into the peer.
      {"peer-1.2.3.*", wild,      {},                   {"1.2.3.9"}},
  });
  // clang-format on
  // Text that would break the file is banned but not written.
  for (const char* bad : {"1.2>3.4", "!--1.2.3", "1.2 3.4", "<1.2.3.4", "?1.2.3.4"}) {
    Steps(s, {{std::string("+") + bad, wild, {bad}, {}}});
  }
  EXPECT_EQ(TempFileLeft(s), "");
  EXPECT_FALSE(Exists(s, "server_bans.xml.bad"));
  // A file that does not parse is read as far as it goes and kept beside the
  // saved one at the first change that saves; so is text that is not XML.
  Steps(s, {{"write:" + broken, broken, {}, {}},
            {"load", broken, {"1.2.3.4", "5.5.5.5"}, {}},
            {"-6.6.6.6", broken, {}, {}}});
  EXPECT_FALSE(Exists(s, "server_bans.xml.bad"));
  Steps(s, {{"+7.7.7.7", BanFile({"1.2.3.4", "5.5.5.5", "7.7.7.7"}), {"7.7.7.7"}, {}}});
  EXPECT_EQ(s.ReadFile("server_bans.xml.bad"), broken);
  const std::string text = "bans: 1.2.3.4, 5.5.5.5";
  Steps(s, {{"write:" + text, text, {}, {}},
            {"clear", text, {}, {}},
            {"load", text, {}, {"1.2.3.4"}},
            {"+8.8.8.8", BanFile({"8.8.8.8"}), {"8.8.8.8"}, {}}});
  EXPECT_EQ(s.ReadFile("server_bans.xml.bad"), text);
  // Letters and digits are written as they are.
  Steps(s, {{"+az.AZ09", BanFile({"8.8.8.8", "az.AZ09"}), {"az.AZ09"}, {}}});
}

TEST(BanList, FilesThatCannotBeReadOrWrittenAreNeitherTrustedNorReplaced) {
  InProcessServer s;
  s.Start();
  const std::string path = s.Dir() + "/" + kFile;
  std::string deep;
  for (int i = 0; i < 1001; ++i) deep += "<a>";
  const struct {
    const char* what;
    std::function<void()> make;
  } files[] = {
      {"nested too deep", [&] { s.WriteFile(kFile, deep); }},
      {"larger than 16 MiB",
       [&] {
         s.WriteFile(kFile, BanFile({"1.2.3.4"}));
         truncate(path.c_str(), 17 << 20);
       }},
      {"a directory", [&] { fs::create_directory(path); }},
      {"a fifo", [&] { mkfifo(path.c_str(), 0644); }},
      {"a link to a device", [&] { fs::create_symlink("/dev/zero", path); }},
  };
  // The kind of file at the path, and the text of a regular one.
  const auto kind = [&] { return static_cast<int>(fs::symlink_status(path).type()); };
  const auto text = [&] {
    return fs::is_regular_file(fs::symlink_status(path)) ? s.ReadFile(kFile) : "";
  };
  for (const auto& file : files) {
    SCOPED_TRACE(file.what);
    fs::remove_all(path);
    file.make();
    const int kindBefore = kind();
    const std::string textBefore = text();
    GamePeer().ReplaceBanList({"9.9.9.9"});
    EXPECT_FALSE(BanList::Load());
    BanList::AddAddress("8.8.8.8");
    EXPECT_TRUE(Banned("9.9.9.9"));
    EXPECT_TRUE(Banned("8.8.8.8"));
    EXPECT_EQ(kind(), kindBefore);
    EXPECT_EQ(text(), textBefore);
    EXPECT_FALSE(Exists(s, "server_bans.xml.bad"));
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

  // The process dies after writing the new file and before the rename: the
  // next run sees the old file, and the leftover does no harm.
  fs::remove_all(path);
  s.WriteFile(kFile, BanFile({"1.2.3.4"}));
  BanList::Load();
  xml::SetSaveFaultForTesting(xml::SaveFault::kStopBeforeRename);
  BanList::AddAddress("4.4.4.4");
  xml::SetSaveFaultForTesting(xml::SaveFault::kNone);
  EXPECT_EQ(s.ReadFile(kFile), BanFile({"1.2.3.4"}));
  const std::string left = TempFileLeft(s);
  ASSERT_NE(left, "");
  EXPECT_EQ(s.ReadFile(left), BanFile({"1.2.3.4", "4.4.4.4"}));
  fs::remove(s.Dir() + "/" + left);
  const std::string saved = BanFile({"1.2.3.4", "6.6.6.6"});
  Steps(s, {{"load", BanFile({"1.2.3.4"}), {"1.2.3.4"}, {"4.4.4.4"}}, {"+6.6.6.6", saved, {}, {}}});
  EXPECT_EQ(TempFileLeft(s), "");
  // A failed rename keeps the old file and cleans up.
  xml::SetSaveFaultForTesting(xml::SaveFault::kRenameFails);
  Steps(s, {{"-1.2.3.4", saved, {}, {"1.2.3.4"}}});
  xml::SetSaveFaultForTesting(xml::SaveFault::kNone);
  EXPECT_EQ(TempFileLeft(s), "");
  // A file of that name with ".tmp" added is somebody else's: a save leaves it be.
  s.WriteFile("server_bans.xml.tmp", "keep me");
  Steps(s, {{"+3.3.3.3", BanFile({"1.2.3.4", "6.6.6.6", "3.3.3.3"}), {"3.3.3.3"}, {}}});
  EXPECT_EQ(s.ReadFile("server_bans.xml.tmp"), "keep me");
  EXPECT_EQ(TempFileLeft(s), "");
}

// Takes root's power to write where the mode forbids from the calling thread
// alone (capabilities belong to a thread), so a directory of mode 0555 refuses
// new files to it whoever runs the tests. False when the change failed.
bool DropFileOverrideOfThisThread() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  data[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
  data[0].permitted &= ~(1u << CAP_DAC_OVERRIDE);
  return syscall(SYS_capset, &header, data) == 0;
}

// A save whose new file cannot be created: the ban still holds in memory, the
// old file stays whole and nothing is left beside it, and the log says why.
TEST(BanList, ASaveThatCannotCreateItsNewFileKeepsTheOldFileAndSaysWhy) {
  InProcessServer s;
  const std::string old = BanFile({"1.2.3.4"});
  s.WriteFile(kFile, old);
  s.Start();
  ASSERT_NE(s.ReadFile(kLogFileName), "");  // appended to, not created, below
  ASSERT_EQ(chmod(s.Dir().c_str(), 0555), 0);
  bool dropped = false;
  std::thread saver([&] {
    dropped = DropFileOverrideOfThisThread();
    if (dropped) BanList::AddAddress("5.6.7.8");
  });
  saver.join();
  ASSERT_EQ(chmod(s.Dir().c_str(), 0700), 0);
  ASSERT_TRUE(dropped);
  EXPECT_TRUE(Banned("5.6.7.8"));
  EXPECT_EQ(s.ReadFile(kFile), old);
  EXPECT_EQ(TempFileLeft(s), "");
  // The reason names the new file and the system's word for the refusal.
  const std::string log = s.ReadFile(kLogFileName);
  const std::string why = ".tmp: Permission denied): the bans in memory still hold.";
  EXPECT_EQ(support::CountOccurrences(log, "] [BANS] server_bans.xml was not saved ("), 1u);
  EXPECT_EQ(support::CountOccurrences(log, why), 1u);
}

// Over loopback: the file's bans refuse a connection from the start until lifted.
TEST(BanList, RefusesConnectionsFromTheStartUntilLifted) {
  InProcessServer s;
  s.WriteFile(kFile, BanFile({"127.0.0.2"}));
  s.Start();
  support::TestClient banned;
  support::TestClient allowed;
  support::TestClient again;
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
  std::atomic<bool> loading = true;
  std::atomic<bool> letIn = false;
  std::thread checker([&] {
    while (loading) {
      if (!Banned("127.0.0.2")) letIn = true;
    }
  });
  for (int i = 0; i < 5; ++i) BanList::Load();
  loading = false;
  checker.join();
  EXPECT_FALSE(letIn);
}

}  // namespace
