#include "core/ban_file.h"

#include <tinyxml.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/netgame.h"
#include "core/rpc.h"
#include "core/xml_file.h"

namespace BanList {

namespace {

constexpr const char* kBanFile = "server_bans.xml";
// A file that did not parse is kept here before it is replaced.
constexpr const char* kBanBadFile = "server_bans.xml.bad";
constexpr const char* kRootName = "BanInformation";

struct BanDocument {
  TiXmlDocument doc;
  TiXmlNode* root = nullptr;
  xml::ReadResult read = xml::ReadResult::kMissing;
};

// Loads the file afresh; the root is the first element, or a new
// BanInformation (in memory only) when there is none.
void LoadDocument(BanDocument& d) {
  std::string why;
  d.read = xml::ReadDocument(d.doc, kBanFile, &why);
  if (d.read == xml::ReadResult::kUnreadable) {
    LogPrint(1, "[BANS] %s cannot be read (%s): the bans in memory stay as they are and the file "
             "is left untouched.", kBanFile, why.c_str());
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

// Keeps the operator's original of a file that did not parse before it is
// replaced by what parsed, with the original's permissions.
bool KeepOriginal(std::string& why) {
  std::string original;
  if (xml::ReadFileBytes(kBanFile, original, &why) != xml::ReadResult::kRead) return false;
  if (original.empty()) return true;
  const auto write = [&](FILE* f) {
    return std::fwrite(original.data(), 1, original.size(), f) == original.size();
  };
  return xml::SaveFile(kBanBadFile, write, &why, kBanFile);
}

void SaveDocument(const BanDocument& d) {
  // Never replace a file that could not be read: what it holds is unknown.
  if (d.read == xml::ReadResult::kUnreadable) return;
  std::string why;
  if ((d.read == xml::ReadResult::kMalformed && !KeepOriginal(why)) ||
      !xml::SaveDocument(d.doc, kBanFile, &why)) {
    LogPrint(1, "[BANS] %s was not saved (%s): the bans in memory still hold.", kBanFile,
             why.c_str());
  }
}

}  // namespace

bool Load() {
  net::Peer* peer = GetGamePeer();
  if (!peer) return false;
  BanDocument d;
  LoadDocument(d);
  if (d.read == xml::ReadResult::kUnreadable) return false;
  // Built aside and swapped in at once: a connection checked meanwhile never
  // meets a half-loaded list.
  std::vector<std::string> addresses;
  for (TiXmlNode* child = d.root->FirstChild(); child; child = child->NextSibling()) {
    std::string value = child->Value();
    const size_t blank = value.find(' ');
    if (blank != std::string::npos) value.resize(blank);
    addresses.push_back(std::move(value));
  }
  peer->ReplaceBanList(addresses);
  return true;
}

void AddAddress(const char* address) {
  net::Peer* peer = GetGamePeer();
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
  net::Peer* peer = GetGamePeer();
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

}  // namespace BanList
