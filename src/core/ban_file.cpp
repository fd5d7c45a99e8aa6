#include "core/ban_file.h"

#include <fcntl.h>
#include <tinyxml.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/netgame.h"
#include "core/world.h"

namespace BanList {

namespace {

constexpr const char* kBanFile = "server_bans.xml";
// The new content is written here and renamed over the file, so a crash or a
// full disk never leaves the file half-written.
constexpr const char* kBanTempFile = "server_bans.xml.tmp";
// A file that did not parse is kept here before it is replaced.
constexpr const char* kBanBadFile = "server_bans.xml.bad";
constexpr const char* kRootName = "BanInformation";

SaveFault gSaveFault = SaveFault::kNone;

net::Peer* GamePeer() { return gNetGame ? gNetGame->gamePeer : nullptr; }

struct BanDocument {
  TiXmlDocument doc{kBanFile};
  TiXmlNode* root = nullptr;
  bool unparsed = false;    // the file exists but did not parse (wholly)
  bool unreadable = false;  // the file exists but could not be opened
};

// Loads the file afresh; the root is the first element, or a new
// BanInformation (in memory only) when there is none.
void LoadDocument(BanDocument& d) {
  if (!d.doc.LoadFile()) {
    if (d.doc.ErrorId() == TiXmlBase::TIXML_ERROR_OPENING_FILE)
      d.unreadable = access(kBanFile, F_OK) == 0;
    else
      d.unparsed = true;
  }
  for (TiXmlNode* node = d.doc.FirstChild(); node; node = node->NextSibling()) {
    if (node->ToElement()) {
      d.root = node;
      break;
    }
  }
  if (!d.root) d.root = d.doc.LinkEndChild(new TiXmlElement(kRootName));
}

// Entries the server writes read back as unknown nodes whose value is the
// address followed by " /".
TiXmlNode* FindEntry(TiXmlNode* root, const char* address) {
  const std::string key = std::string(address) + " /";
  for (TiXmlNode* child = root->FirstChild(); child; child = child->NextSibling())
    if (key == child->Value()) return child;
  return nullptr;
}

// An entry is written as <address />. Texts with characters that would change
// how the file parses (a '>' or '<', a blank, a leading '!' or '?', ...) would
// damage the entries after them, so only these characters are written.
bool CanWriteAsEntry(const char* address) {
  if (!*address) return false;
  for (const char* c = address; *c; ++c) {
    const auto u = static_cast<unsigned char>(*c);
    const bool ok = (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                    u == '.' || u == '*' || u == ':' || u == '-' || u == '_';
    if (!ok) return false;
  }
  return true;
}

bool WriteAndSync(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return fsync(fd) == 0;
}

bool ReadWholeFile(const char* path, std::string& out) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool KeepCopy(const std::string& original) {
  const int fd = open(kBanBadFile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool kept = WriteAndSync(fd, original);
  return close(fd) == 0 && kept;
}

// Saves the document through the temporary file and a rename.
bool WriteThroughTemp(const TiXmlDocument& doc) {
  const int fd = open(kBanTempFile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  FILE* f = fdopen(fd, "w");
  if (!f) {
    close(fd);
    unlink(kBanTempFile);
    return false;
  }
  bool written = doc.SaveFile(f);
  written = std::fflush(f) == 0 && written;
  written = fsync(fd) == 0 && written;
  written = std::fclose(f) == 0 && written;
  if (gSaveFault == SaveFault::kStopBeforeRename) return false;
  if (!written || gSaveFault == SaveFault::kRenameFails ||
      std::rename(kBanTempFile, kBanFile) != 0) {
    unlink(kBanTempFile);
    return false;
  }
  return true;
}

bool SaveDocument(const BanDocument& d) {
  // Never replace a file that exists but could not be read: what it holds is
  // unknown.
  if (d.unreadable) return false;
  if (d.unparsed) {
    // Keep the operator's original before it is replaced by what parsed.
    std::string original;
    if (!ReadWholeFile(kBanFile, original)) return false;
    if (!original.empty() && !KeepCopy(original)) return false;
  }
  return WriteThroughTemp(d.doc);
}

}  // namespace

void Load() {
  net::Peer* peer = GamePeer();
  if (!peer) return;
  peer->ClearBanList();
  BanDocument d;
  LoadDocument(d);
  for (TiXmlNode* child = d.root->FirstChild(); child; child = child->NextSibling()) {
    std::string value = child->Value();
    const size_t blank = value.find(' ');
    if (blank != std::string::npos) value.resize(blank);
    peer->AddToBanList(value.c_str(), 0);
  }
}

void AddAddress(const char* address) {
  net::Peer* peer = GamePeer();
  if (!peer || !address) return;
  if (peer->IsBanned(address)) return;
  peer->AddToBanList(address, 0);
  if (!CanWriteAsEntry(address)) return;
  BanDocument d;
  LoadDocument(d);
  if (FindEntry(d.root, address)) return;
  d.root->LinkEndChild(new TiXmlElement(address));
  SaveDocument(d);
}

void RemoveAddress(const char* address) {
  net::Peer* peer = GamePeer();
  if (!peer || !address) return;
  if (!peer->IsBanned(address)) return;
  peer->RemoveFromBanList(address);
  BanDocument d;
  LoadDocument(d);
  TiXmlNode* entry = FindEntry(d.root, address);
  if (!entry) return;
  d.root->RemoveChild(entry);
  SaveDocument(d);
}

void SetSaveFaultForTesting(SaveFault fault) { gSaveFault = fault; }

}  // namespace BanList
