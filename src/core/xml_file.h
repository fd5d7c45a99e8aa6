// Files of the "XML" script library: reading a document without letting a
// hostile file crash the server, saving without ever leaving a half-written
// file, and telling whether a file is there.
#pragma once

#include <tinyxml.h>

#include <cstddef>

namespace xml {

// Elements may nest this deep and no deeper: TinyXML parses, prints and
// destroys trees recursively, and a deeper tree would exhaust the stack.
inline constexpr size_t kMaxElementDepth = 1000;

// Reads the regular file `path` into `document` (which must be new and
// empty) the way TinyXML's LoadFile does: line ends made "\n", the text up to
// its first NUL parsed with the encoding detected from the file. Refused, and
// the document left empty, when the path is not a readable regular file (a
// directory, a FIFO that would block, a device), is empty, does not parse, or
// nests elements deeper than kMaxElementDepth.
bool LoadDocument(TiXmlDocument& document, const char* path);

// Saves the document to `path` (through symbolic links to the file they name)
// by writing a new file beside it and renaming it over the old one, so the
// file holds either its old or its new contents, never part of them; an
// existing file keeps its permission bits. Refused when the path names
// something other than a regular file.
bool SaveDocument(const TiXmlDocument& document, const char* path);

// True when `path` opens for reading and is a regular file.
bool IsReadableFile(const char* path);

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
