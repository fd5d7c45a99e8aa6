// Files of TinyXML documents, shared by the ban file and the "XML" script
// library: reading without letting a hostile file crash, hang or starve the
// server, and saving without ever leaving a half-written file or replacing
// what the operator protected.
#pragma once

#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace xml {

// Elements may nest this deep and no deeper: TinyXML parses, prints and
// destroys trees recursively, and a deeper tree would exhaust the stack.
inline constexpr size_t kMaxElementDepth = 1000;
// Larger files are not read: a document is held whole in memory, several
// times over while it parses.
inline constexpr uint64_t kMaxFileBytes = 16 << 20;

enum class ReadResult {
  kRead,
  kMissing,     // nothing at the path
  kMalformed,   // read, but empty or not parsed whole
  kUnreadable,  // not a regular file, too large, too deep, or not opened
};

// Reads the file at `path` whole into `bytes`, when it is a regular file of at
// most kMaxFileBytes; opened without blocking (a FIFO with no writer would
// hold the main thread). On kUnreadable `why` (when given) says why.
ReadResult ReadFileBytes(const char* path, std::string& bytes, std::string* why = nullptr);

// Reads the file into `document` (which must be new and empty) the way
// TinyXML's LoadFile does: line ends made "\n", the text up to its first NUL
// parsed with the encoding detected from the file. On kMalformed the document
// holds what parsed before the error, as LoadFile leaves it; on kUnreadable
// (which includes elements nested deeper than kMaxElementDepth) it is empty.
ReadResult ReadDocument(TiXmlDocument& document, const char* path, std::string* why = nullptr);
// ReadDocument that leaves the document empty unless the whole file was read.
bool LoadDocument(TiXmlDocument& document, const char* path);

// Saves to `path` by writing a new file beside it and renaming it over the
// old one, so the file holds either its old or its new contents, never part
// of them. A symbolic link is followed to the file it names, which is
// written. An existing file is replaced only when it is a regular file that
// we may write (for root: one with a write permission bit set), and the new
// file takes its permission bits and, where we may, its owner. `modeFrom`
// names another file whose bits and owner to take instead (when it exists).
// `write` writes the contents. On failure `why` (when given) says why.
bool SaveFile(const char* path, const std::function<bool(FILE*)>& write,
              std::string* why = nullptr, const char* modeFrom = nullptr);
bool SaveDocument(const TiXmlDocument& document, const char* path, std::string* why = nullptr);

// True when `path` opens for reading and is a regular file.
bool IsReadableFile(const char* path);

// Simulated faults of a save, for tests.
enum class SaveFault {
  kNone,
  kStopBeforeRename,  // as if the process died after writing the new file
  kRenameFails,
};
void SetSaveFaultForTesting(SaveFault fault);

// Zero bytes that must follow the terminator of a text handed to TinyXML's
// parser or to NestingBound: both may step up to three bytes past it when the
// text ends inside a UTF-8 sequence.
inline constexpr size_t kParsePadding = 16;

// The deepest element nesting that TinyXML's parser reaches on `text` (whose
// terminator is followed by kParsePadding zero bytes), found without
// recursion by following the parser's own steps. It is exact for TinyXML
// 2.6.2 and never lower than the real depth; the scan stops as soon as the
// depth passes `stopAbove`.
size_t NestingBound(const char* text, size_t stopAbove);

}  // namespace xml
