// The documents of the "XML" script library and the handles through which
// scripts name their elements.
//
// A handle is a Lua light userdata, which a script can keep after the element
// is gone, pass to the wrong function, or (through other C code) make up. So a
// handle never holds a pointer: it holds a number that this registry hands out
// once per element and never again. Every call resolves it here; a number that
// names no live element resolves to null, and a destroyed element's number is
// forgotten, so a stale handle is refused even when a new element later takes
// the old one's memory.
//
// Documents live until the process ends (across restarts of the game mode),
// so handles stay usable as long as their element exists.
#pragma once

#include <tinyxml.h>

#include <cstddef>

#include "core/xml_file.h"

namespace xml {

// A new empty document named `name` (the path it saves to), kept for the life
// of the process. It becomes the loaded document.
TiXmlDocument& NewDocument(const char* name);
// The document most recently made by NewDocument, or null before the first.
TiXmlDocument* LoadedDocument();

// The handle of a live element of a registered document (the same handle
// every time for the same element).
void* HandleOf(TiXmlElement& element);
// The element a handle names, or null when it names none (never issued,
// destroyed, or not a handle at all).
TiXmlElement* ResolveHandle(const void* handle);
// Forgets the handles of `node` and of everything below it; call before
// destroying them.
void ForgetSubtree(const TiXmlNode& node);

// 1 for a top-level element, 2 for its children, and so on.
size_t DepthOf(const TiXmlNode& node);

// How many handles name live elements (for tests).
size_t LiveHandleCount();

}  // namespace xml
