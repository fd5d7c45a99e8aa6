// The "XML" script library: files and nodes.
//
// Nodes reach the script as handles (xml_documents.h); every function
// resolves its handle first and refuses the call when it names no live
// element. Refusals of functions with a result give nil.
#include <tinyxml.h>

#include <cstdio>
#include <memory>
#include <string>

#include "core/log.h"
#include "script/libraries.h"
#include "script/natives.h"
#include "script/xml_documents.h"

namespace {

constexpr size_t kMaxTextLength = 100;

TiXmlElement* ArgElement(lua_State* L, int index) {
  if (lua_type(L, index) != LUA_TLIGHTUSERDATA) return nullptr;
  return xml::ResolveHandle(lua_touserdata(L, index));
}

// A text argument of at most kMaxTextLength characters (and at least one when
// `nonEmpty`), else null.
const char* ArgLimitedText(lua_State* L, int index, bool nonEmpty = false) {
  size_t length = 0;
  const char* text = script::ArgText(L, index, &length);
  if (!text || length > kMaxTextLength || (nonEmpty && length == 0)) return nullptr;
  return text;
}

int PushElement(lua_State* L, TiXmlElement* element) {
  if (element) {
    lua_pushlightuserdata(L, xml::HandleOf(*element));
  } else {
    lua_pushnil(L);
  }
  return 1;
}

int PushNil(lua_State* L) {
  lua_pushnil(L);
  return 1;
}

// The outcome is not reported to the script; the operator learns of a refusal
// (a protected or odd file) from the log.
void Save(const TiXmlDocument& document, const char* path) {
  std::string why;
  if (!xml::SaveDocument(document, path, &why)) {
    LogPrint(1, "[SCRIPT] The XML file '%s' was not saved: %s.", path, why.c_str());
  }
}

template <typename Node>
Node* Link(TiXmlNode& parent, std::unique_ptr<Node> child) {
  Node* linked = child.release();
  parent.LinkEndChild(linked);
  return linked;
}

int CreateFile(lua_State* L) {
  const char* path = ArgLimitedText(L, 1, true);
  const char* rootName = ArgLimitedText(L, 2, true);
  if (!path || !rootName) return PushNil(L);
  TiXmlDocument& document = xml::NewDocument(path);
  // Whatever the file holds stays in front of the new root; a file that is
  // missing or does not parse adds nothing.
  xml::LoadDocument(document, path);
  Link(document, std::make_unique<TiXmlDeclaration>("1.0", "", ""));
  return PushElement(L, Link(document, std::make_unique<TiXmlElement>(rootName)));
}

int SaveFile(lua_State* L) {
  TiXmlElement* element = ArgElement(L, 1);
  if (!element) return 0;
  if (const TiXmlDocument* document = element->GetDocument()) {
    Save(*document, document->Value());
  }
  return 0;
}

int LoadFile(lua_State* L) {
  const char* path = ArgLimitedText(L, 1, true);
  if (!path) return PushNil(L);
  TiXmlDocument& document = xml::NewDocument(path);
  if (!xml::LoadDocument(document, path)) return PushNil(L);
  return PushElement(L, document.FirstChildElement());
}

int CopyFile(lua_State* L) {
  TiXmlElement* element = ArgElement(L, 1);
  const char* path = ArgLimitedText(L, 2, true);
  if (!element || !path) return PushNil(L);
  if (const TiXmlDocument* document = element->GetDocument()) {
    Save(*document, path);
  }
  return 0;
}

int DestroyNode(lua_State* L) {
  TiXmlElement* element = ArgElement(L, 1);
  if (!element || !element->Parent()) return 0;
  xml::ForgetSubtree(*element);
  element->Parent()->RemoveChild(element);
  return 0;
}

int CreateNode(lua_State* L) {
  TiXmlElement* parent = ArgElement(L, 1);
  const char* name = script::ArgText(L, 2);
  if (!parent || !name || xml::DepthOf(*parent) >= xml::kMaxElementDepth) return PushNil(L);
  return PushElement(L, Link(*parent, std::make_unique<TiXmlElement>(name)));
}

int SetNodeStringAttribute(lua_State* L) {
  TiXmlElement* element = ArgElement(L, 1);
  const char* name = ArgLimitedText(L, 2);
  const char* value = ArgLimitedText(L, 3);
  if (element && name && value) element->SetAttribute(name, value);
  return 0;
}

int SetNodeFloatAttribute(lua_State* L) {
  TiXmlElement* element = ArgElement(L, 1);
  const char* name = ArgLimitedText(L, 2);
  if (!element || !name) return 0;
  char text[64];  // "%f" of the largest float is 46 characters
  std::snprintf(text, sizeof text, "%f", static_cast<double>(script::ArgFloat(L, 3)));
  element->SetAttribute(name, text);
  return 0;
}

int SetNodeIntegerAttribute(lua_State* L) {
  TiXmlElement* element = ArgElement(L, 1);
  const char* name = ArgLimitedText(L, 2);
  if (!element || !name) return 0;
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(script::ArgInt(L, 3)));
  element->SetAttribute(name, text);
  return 0;
}

int SetNodeTitle(lua_State* L) {
  TiXmlElement* element = ArgElement(L, 1);
  const char* title = ArgLimitedText(L, 2);
  if (element && title) element->SetValue(title);
  return 0;
}

int SetNodeValue(lua_State* L) {
  TiXmlElement* element = ArgElement(L, 1);
  const char* text = ArgLimitedText(L, 2);
  if (element && text) Link(*element, std::make_unique<TiXmlText>(text));
  return 0;
}

int GetNodeValue(lua_State* L) {
  TiXmlElement* element = ArgElement(L, 1);
  const TiXmlNode* first = element ? element->FirstChild() : nullptr;
  if (!first || !first->ToText()) return PushNil(L);
  lua_pushstring(L, first->Value());
  return 1;
}

int GetLoadedRootNode(lua_State* L) {
  TiXmlDocument* document = xml::LoadedDocument();
  return PushElement(L, document ? document->FirstChildElement() : nullptr);
}

int GetNode(lua_State* L) {
  TiXmlElement* parent = ArgElement(L, 1);
  const char* name = script::ArgText(L, 2);
  if (!parent || !name) return PushNil(L);
  return PushElement(L, parent->FirstChildElement(name));
}

int GetParentNode(lua_State* L) {
  TiXmlElement* element = ArgElement(L, 1);
  TiXmlNode* parent = element ? element->Parent() : nullptr;
  return PushElement(L, parent ? parent->ToElement() : nullptr);
}

int GetNodeAttribute(lua_State* L) {
  TiXmlElement* element = ArgElement(L, 1);
  const char* name = script::ArgText(L, 2);
  const char* value = element && name ? element->Attribute(name) : nullptr;
  if (!value) return PushNil(L);
  lua_pushstring(L, value);
  return 1;
}

int GetNodeTitle(lua_State* L) {
  TiXmlElement* element = ArgElement(L, 1);
  if (!element) return PushNil(L);
  lua_pushstring(L, element->Value());
  return 1;
}

int FileExists(lua_State* L) {
  const char* path = script::ArgText(L, 1);
  lua_pushnumber(L, path && xml::IsReadableFile(path) ? 1 : 0);
  return 1;
}

int RemoveAttribute(lua_State* L) {
  TiXmlElement* element = ArgElement(L, 1);
  const char* name = ArgLimitedText(L, 2);
  if (element && name) element->RemoveAttribute(name);
  return 0;
}

}  // namespace

const luaL_Reg kXmlLibrary[] = {
    LibraryFunction<CreateFile, Exactly(2), WrongCount::kNil>("createFile"),
    LibraryFunction<SaveFile, Exactly(1)>("saveFile"),
    LibraryFunction<LoadFile, Exactly(1), WrongCount::kNil>("loadFile"),
    LibraryFunction<CopyFile, Exactly(2), WrongCount::kNil>("copyFile"),
    LibraryFunction<DestroyNode, Exactly(1)>("destroyNode"),
    LibraryFunction<CreateNode, Exactly(2)>("createNode"),
    LibraryFunction<SetNodeStringAttribute, Exactly(3)>("setNodeStringAttribute"),
    LibraryFunction<SetNodeFloatAttribute, Exactly(3)>("setNodeFloatAttribute"),
    LibraryFunction<SetNodeIntegerAttribute, Exactly(3)>("setNodeIntegerAttribute"),
    LibraryFunction<SetNodeTitle, Exactly(2)>("setNodeTitle"),
    LibraryFunction<SetNodeValue, Exactly(2)>("setNodeValue"),
    LibraryFunction<GetNodeValue, Exactly(1)>("getNodeValue"),
    LibraryFunction<GetLoadedRootNode, Exactly(0)>("getLoadedRootNode"),
    LibraryFunction<GetNode, Exactly(2)>("getNode"),
    LibraryFunction<GetParentNode, Exactly(1)>("getParentNode"),
    LibraryFunction<GetNodeAttribute, Exactly(2)>("getNodeAttribute"),
    LibraryFunction<GetNodeTitle, Exactly(1)>("getNodeTitle"),
    LibraryFunction<FileExists, Exactly(1), WrongCount::kZero>("fileExists"),
    LibraryFunction<RemoveAttribute, Exactly(2)>("removeAttribute"),
    {nullptr, nullptr},
};
