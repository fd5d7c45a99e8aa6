#include "core/xml_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace xml {
namespace {

// --- Nesting scan -----------------------------------------------------------
//
// TinyXML parses an element by recursion (element, its content, the child
// element, ...), so a file of a few hundred kilobytes of "<a>" overflows the
// stack. The scan below walks the text the way TinyXML 2.6.2's parser does,
// step for step, keeping the open elements in a vector instead of on the
// stack. Where the parser gives up, the scan may go on: that only raises the
// bound. The parser's steps that matter for where tags begin and end:
// - in UTF-8 mode (after a byte order mark, or a first top-level declaration
//   with no or a UTF-8 encoding), quoted attribute values and text step over
//   whole UTF-8 sequences by their lead byte, even across a quote or '<';
// - '&' starts an entity, skipped as a whole when it is a valid one;
// - comments, CDATA and unknown tags ("<!...>", "<?...>") are skipped byte by
//   byte to their end marker.

// The scan is a copy of one TinyXML's rules. When the version moves, compare
// TiXmlElement::Parse and ReadValue, TiXmlNode::Identify, TiXmlBase's
// SkipWhiteSpace, ReadText, GetEntity and the UTF-8 lead-byte table, and the
// declaration's encoding rule in TiXmlDocument::Parse, with the scan below;
// then update this check.
static_assert(TIXML_MAJOR_VERSION == 2 && TIXML_MINOR_VERSION == 6 && TIXML_PATCH_VERSION == 2,
              "the nesting scan follows TinyXML 2.6.2's parser");

using Byte = unsigned char;

bool IsSpace(Byte c) { return std::isspace(c) || c == '\n' || c == '\r'; }
bool IsNameStart(Byte c) { return c >= 127 || std::isalpha(c) || c == '_'; }
bool IsNameChar(Byte c) {
  return c >= 127 || std::isalnum(c) || c == '_' || c == '-' || c == '.' || c == ':';
}
int Lower(Byte c) { return c < 128 ? std::tolower(c) : c; }

bool StartsWith(const Byte* p, const char* tag, bool ignoreCase = false) {
  if (!*p) return false;
  for (; *p && *tag; ++p, ++tag) {
    const Byte t = static_cast<Byte>(*tag);
    if (ignoreCase ? Lower(*p) != Lower(t) : *p != t) return false;
  }
  return *tag == 0;
}

const Byte* SkipSpace(const Byte* p, bool utf8) {
  while (*p) {
    if (utf8 && p[0] == 0xEF &&
        ((p[1] == 0xBB && p[2] == 0xBF) || (p[1] == 0xBF && (p[2] == 0xBE || p[2] == 0xBF)))) {
      p += 3;
    } else if (IsSpace(*p)) {
      ++p;
    } else {
      break;
    }
  }
  return p;
}

const Byte* ReadName(const Byte* p) {
  if (!IsNameStart(*p) || !*p) return nullptr;
  while (*p && IsNameChar(*p)) ++p;
  return p;
}

bool IsHexDigit(Byte c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Past the entity at p ('&'); null where the parser stops on a broken
// character reference.
const Byte* SkipEntity(const Byte* p) {
  if (p[1] == '#' && p[2]) {
    const bool hex = p[2] == 'x';
    if (hex && !p[3]) return nullptr;
    const Byte* end = reinterpret_cast<const Byte*>(
        std::strchr(reinterpret_cast<const char*>(p + (hex ? 3 : 2)), ';'));
    if (!end) return nullptr;
    for (const Byte* q = end - 1; *q != (hex ? 'x' : '#'); --q) {
      if (hex ? !IsHexDigit(*q) : !(*q >= '0' && *q <= '9')) return nullptr;
    }
    return end + 1;
  }
  static const char* const kEntities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
  for (const char* entity : kEntities) {
    const size_t length = std::strlen(entity);
    if (std::strncmp(entity, reinterpret_cast<const char*>(p), length) == 0) return p + length;
  }
  return p + 1;
}

// One character of text or of a quoted value.
const Byte* StepChar(const Byte* p, bool utf8) {
  const int length = utf8 ? TiXmlBase::utf8ByteTable[*p] : 1;
  if (length == 1) return *p == '&' ? SkipEntity(p) : p + 1;
  return length > 0 ? p + length : nullptr;
}

// Text read up to and past `end`; null when the text ends first.
const Byte* SkipTextTo(const Byte* p, const char* end, bool utf8) {
  while (*p && !StartsWith(p, end)) {
    p = StepChar(p, utf8);
    if (!p) return nullptr;
  }
  return *p ? p + std::strlen(end) : nullptr;
}

// An element's text content: to the next '<' (left in place).
const Byte* SkipContentText(const Byte* p, bool utf8) {
  p = SkipSpace(p, utf8);
  while (*p && *p != '<') {
    p = IsSpace(*p) ? p + 1 : StepChar(p, utf8);
    if (!p) return nullptr;
  }
  return *p ? p : nullptr;
}

const Byte* SkipAttribute(const Byte* p, bool utf8) {
  p = SkipSpace(p, utf8);
  p = ReadName(p);
  if (!p || !*p) return nullptr;
  p = SkipSpace(p, utf8);
  if (*p != '=') return nullptr;
  p = SkipSpace(p + 1, utf8);
  if (!*p) return nullptr;
  if (*p == '\'') return SkipTextTo(p + 1, "'", utf8);
  if (*p == '"') return SkipTextTo(p + 1, "\"", utf8);
  while (*p && !IsSpace(*p) && *p != '/' && *p != '>') {
    if (*p == '\'' || *p == '"') return nullptr;
    ++p;
  }
  return p;
}

const Byte* SkipDeclaration(const Byte* p, bool utf8) {
  p += 5;  // "<?xml"
  while (*p) {
    if (*p == '>') return p + 1;
    p = SkipSpace(p, utf8);
    if (StartsWith(p, "version", true) || StartsWith(p, "encoding", true) ||
        StartsWith(p, "standalone", true)) {
      p = SkipAttribute(p, utf8);
      if (!p) return nullptr;
    } else {
      while (*p && *p != '>' && !IsSpace(*p)) ++p;
    }
  }
  return nullptr;
}

const Byte* SkipComment(const Byte* p) {
  p += 4;  // "<!--"
  while (*p && !StartsWith(p, "-->")) ++p;
  return *p ? p + 3 : p;
}

const Byte* SkipCdata(const Byte* p, bool utf8) {
  p += 9;  // "<![CDATA["
  while (*p && !StartsWith(p, "]]>")) ++p;
  return SkipTextTo(p, "]]>", utf8);
}

const Byte* SkipUnknown(const Byte* p) {
  ++p;
  while (*p && *p != '>') ++p;
  return *p ? p + 1 : p;
}

enum class NodeKind { kDeclaration, kComment, kCdata, kUnknown, kElement };

NodeKind Identify(const Byte* p) {
  if (StartsWith(p, "<?xml", true)) return NodeKind::kDeclaration;
  if (StartsWith(p, "<!--")) return NodeKind::kComment;
  if (StartsWith(p, "<![CDATA[")) return NodeKind::kCdata;
  if (StartsWith(p, "<!")) return NodeKind::kUnknown;
  if (IsNameStart(p[1]) && p[1]) return NodeKind::kElement;
  return NodeKind::kUnknown;
}

const Byte* SkipLeaf(NodeKind kind, const Byte* p, bool utf8) {
  switch (kind) {
    case NodeKind::kDeclaration:
      return SkipDeclaration(p, utf8);
    case NodeKind::kComment:
      return SkipComment(p);
    case NodeKind::kCdata:
      return SkipCdata(p, utf8);
    default:
      return SkipUnknown(p);
  }
}

struct OpenElement {
  const Byte* name;
  size_t length;
};

// Past the end tag of `open` at p ("</name", spaces, '>'), or null.
const Byte* SkipEndTag(const Byte* p, const OpenElement& open, bool utf8) {
  p += 2;
  for (size_t i = 0; i < open.length; ++i, ++p) {
    if (*p != open.name[i]) return nullptr;
  }
  p = SkipSpace(p, utf8);
  return *p == '>' ? p + 1 : nullptr;
}

// A top-level element starting at p and everything in it: past its end, or
// null where the parse ends. `maxDepth` grows to the most elements open at
// once.
const Byte* ScanElement(const Byte* p, bool utf8, size_t& maxDepth, size_t stopAbove) {
  std::vector<OpenElement> open;
  for (;;) {
    // p is at the '<' of a start tag.
    open.push_back({nullptr, 0});
    maxDepth = std::max(maxDepth, open.size());
    if (maxDepth > stopAbove) return nullptr;
    const Byte* name = SkipSpace(p + 1, utf8);
    p = ReadName(name);
    if (!p || !*p) return nullptr;
    open.back() = {name, static_cast<size_t>(p - name)};
    bool empty = false;
    for (;;) {
      p = SkipSpace(p, utf8);
      if (!*p) return nullptr;
      if (*p == '/') {
        if (p[1] != '>') return nullptr;
        p += 2;
        empty = true;
        break;
      }
      if (*p == '>') {
        ++p;
        break;
      }
      p = SkipAttribute(p, utf8);
      if (!p || !*p) return nullptr;
    }
    if (empty) {
      open.pop_back();
      if (open.empty()) return p;
    }
    // The content of open.back(), until a child element starts.
    for (;;) {
      p = SkipSpace(p, utf8);
      if (!*p) return nullptr;
      if (*p != '<') {
        p = SkipContentText(p, utf8);
        if (!p) return nullptr;
        continue;
      }
      if (StartsWith(p, "</")) {
        p = SkipEndTag(p, open.back(), utf8);
        if (!p) return nullptr;
        open.pop_back();
        if (open.empty()) return p;
        continue;
      }
      const NodeKind kind = Identify(p);
      if (kind == NodeKind::kElement) break;
      p = SkipLeaf(kind, p, utf8);
      if (!p) return nullptr;
    }
  }
}

// The document level; `declarationMeansUtf8` stands for what the first
// top-level declaration's encoding tells the parser.
size_t ScanDocument(const Byte* p, bool declarationMeansUtf8, size_t stopAbove) {
  bool utf8 = false;
  bool encodingKnown = false;
  if (p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
    utf8 = true;
    encodingKnown = true;
  }
  size_t maxDepth = 0;
  p = SkipSpace(p, utf8);
  while (*p == '<') {
    const NodeKind kind = Identify(p);
    if (kind == NodeKind::kElement) {
      p = ScanElement(p, utf8, maxDepth, stopAbove);
    } else {
      p = SkipLeaf(kind, p, utf8);
      if (kind == NodeKind::kDeclaration && !encodingKnown) {
        utf8 = declarationMeansUtf8;
        encodingKnown = true;
      }
    }
    if (!p) break;
    p = SkipSpace(p, utf8);
  }
  return maxDepth;
}

// --- Reading -----------------------------------------------------------------

struct FileDescriptor {
  int fd = -1;
  ~FileDescriptor() {
    if (fd >= 0) close(fd);
  }
};

bool Fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

ReadResult Unreadable(std::string* why, const std::string& text) {
  Fail(why, text);
  return ReadResult::kUnreadable;
}

std::string ErrnoText() { return std::strerror(errno); }

// Opens without blocking (a FIFO with no writer would hold the main thread)
// and accepts regular files only.
bool OpenRegularFile(const char* path, FileDescriptor& file, struct stat& info) {
  file.fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  return file.fd >= 0 && fstat(file.fd, &info) == 0 && S_ISREG(info.st_mode);
}

// As TinyXML's LoadFile: "\r\n" and a lone "\r" become "\n", and the text
// ends at its first NUL. Everything after the end is zeroed.
void NormaliseLineEnds(char* text, size_t size) {
  const char* read = text;
  char* write = text;
  while (*read) {
    if (*read == '\r') {
      *write++ = '\n';
      if (*++read == '\n') ++read;
    } else {
      *write++ = *read++;
    }
  }
  std::memset(write, 0, static_cast<size_t>(text + size - write) + 1);
}

// --- Writing -----------------------------------------------------------------

// Root may write any file, so for root a file without any write permission
// bit counts as one the operator protected.
bool MayReplace(const std::string& path, const struct stat& info) {
  if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return false;
  return geteuid() != 0 || (info.st_mode & 0222) != 0;
}

// Where a save lands: the file a symbolic link names, or the path as given
// when it does not resolve (a new file).
bool SaveTarget(const char* path, std::string& target) {
  if (char* resolved = realpath(path, nullptr)) {
    target = resolved;
    std::free(resolved);
    return true;
  }
  struct stat link;
  target = path;
  // A link to nothing: writing the path would replace the link itself.
  return lstat(path, &link) != 0 || !S_ISLNK(link.st_mode);
}

SaveFault saveFault = SaveFault::kNone;
std::atomic<uint64_t> saveCounter{0};

}  // namespace

size_t NestingBound(const char* text, size_t stopAbove) {
  const Byte* p = reinterpret_cast<const Byte*>(text);
  const size_t asUtf8 = ScanDocument(p, true, stopAbove);
  if (asUtf8 > stopAbove) return asUtf8;
  return std::max(asUtf8, ScanDocument(p, false, stopAbove));
}

ReadResult ReadFileBytes(const char* path, std::string& bytes, std::string* why) {
  bytes.clear();
  FileDescriptor file;
  struct stat info;
  if (!OpenRegularFile(path, file, info)) {
    if (file.fd < 0 && errno == ENOENT) return ReadResult::kMissing;
    return Unreadable(why, file.fd < 0 ? ErrnoText() : "it is not a regular file");
  }
  if (static_cast<uint64_t>(info.st_size) > kMaxFileBytes) {
    return Unreadable(why, "it is larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB");
  }
  bytes.resize(static_cast<size_t>(info.st_size));
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = read(file.fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      bytes.clear();
      return Unreadable(why, n < 0 ? ErrnoText() : "it shrank while it was read");
    }
    got += static_cast<size_t>(n);
  }
  return ReadResult::kRead;
}

ReadResult ReadDocument(TiXmlDocument& document, const char* path, std::string* why) {
  std::string text;
  const ReadResult read = ReadFileBytes(path, text, why);
  if (read != ReadResult::kRead) return read;
  const size_t size = text.size();
  text.append(1 + kParsePadding, '\0');
  NormaliseLineEnds(text.data(), size);
  if (NestingBound(text.data(), kMaxElementDepth) > kMaxElementDepth) {
    return Unreadable(why, "its elements nest deeper than " + std::to_string(kMaxElementDepth));
  }
  try {
    document.Parse(text.data(), nullptr, TIXML_DEFAULT_ENCODING);
  } catch (const std::exception&) {
    document.Clear();
    return Unreadable(why, "it does not fit in memory");
  }
  return document.Error() ? ReadResult::kMalformed : ReadResult::kRead;
}

bool LoadDocument(TiXmlDocument& document, const char* path) {
  if (ReadDocument(document, path) == ReadResult::kRead) return true;
  // What parsed before an error stays linked in the document: drop it, so a
  // failed load leaves nothing behind.
  document.Clear();
  document.ClearError();
  return false;
}

bool SaveFile(const char* path, const std::function<bool(FILE*)>& write, std::string* why,
              const char* modeFrom) {
  if (!path || !*path) return Fail(why, "it has no name");
  std::string target;
  if (!SaveTarget(path, target)) return Fail(why, "it is a symbolic link to nothing");
  struct stat existing;
  const bool exists = stat(target.c_str(), &existing) == 0;
  // Renaming over a device or FIFO would replace it; a directory cannot be.
  if (exists && !S_ISREG(existing.st_mode)) return Fail(why, "it is not a regular file");
  if (exists && !MayReplace(target, existing)) return Fail(why, "it is not writable");
  struct stat like = existing;
  const bool hasLike = modeFrom ? stat(modeFrom, &like) == 0 : exists;

  // The new file gets a name of its own beside the target: no file the game
  // mode keeps is ever touched, and two servers saving into one directory
  // never write or rename each other's file. O_EXCL never follows a link
  // planted under the name.
  std::string temp;
  FileDescriptor file;
  for (int attempt = 0; attempt < 100 && file.fd < 0; ++attempt) {
    temp = target + "." + std::to_string(getpid()) + "." + std::to_string(saveCounter++) + ".tmp";
    file.fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file.fd < 0 && errno != EEXIST) break;
  }
  if (file.fd < 0) return Fail(why, temp + ": " + ErrnoText());
  if (hasLike) {
    // The owner first: changing it clears the set-id bits that the mode restores.
    if (fchown(file.fd, like.st_uid, like.st_gid) != 0) (void)!fchown(file.fd, -1, like.st_gid);
    (void)fchmod(file.fd, like.st_mode & 07777);
  }

  FILE* stream = fdopen(file.fd, "w");
  if (!stream) {
    unlink(temp.c_str());
    return Fail(why, ErrnoText());
  }
  file.fd = -1;  // the stream owns it now
  bool written = false;
  try {
    written = write(stream);
  } catch (const std::exception&) {
    written = false;
  }
  written = std::fflush(stream) == 0 && written;
  written = std::ferror(stream) == 0 && written;
  written = fsync(fileno(stream)) == 0 && written;
  const int writeErrno = errno;
  written = std::fclose(stream) == 0 && written;
  if (saveFault == SaveFault::kStopBeforeRename) return Fail(why, "stopped before the rename");
  if (!written) {
    unlink(temp.c_str());
    return Fail(why, std::string("the write failed: ") + std::strerror(writeErrno));
  }
  if (saveFault == SaveFault::kRenameFails || std::rename(temp.c_str(), target.c_str()) != 0) {
    const std::string error = saveFault == SaveFault::kRenameFails ? "rename failed" : ErrnoText();
    unlink(temp.c_str());
    return Fail(why, error);
  }
  return true;
}

bool SaveDocument(const TiXmlDocument& document, const char* path, std::string* why) {
  return SaveFile(path, [&](FILE* stream) { return document.SaveFile(stream); }, why);
}

bool IsReadableFile(const char* path) {
  FileDescriptor file;
  struct stat info;
  return OpenRegularFile(path, file, info);
}

void SetSaveFaultForTesting(SaveFault fault) { saveFault = fault; }

}  // namespace xml
