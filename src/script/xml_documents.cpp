#include "script/xml_documents.h"

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace xml {
namespace {

struct Registry {
  std::vector<std::unique_ptr<TiXmlDocument>> documents;
  TiXmlDocument* loaded = nullptr;
  std::unordered_map<uintptr_t, TiXmlElement*> elementByHandle;
  std::unordered_map<const TiXmlElement*, uintptr_t> handleByElement;
  uintptr_t nextHandle = 1;  // 0 would be a null pointer
};

// Never destroyed: documents outlive every script state, and nothing may
// reach a destroyed registry from a thread still running at exit.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

}  // namespace

TiXmlDocument& NewDocument(const char* name) {
  Registry& r = TheRegistry();
  r.documents.reserve(r.documents.size() + 1);  // so the push below cannot fail
  auto document = std::make_unique<TiXmlDocument>(name);
  r.documents.push_back(std::move(document));
  r.loaded = r.documents.back().get();
  return *r.loaded;
}

TiXmlDocument* LoadedDocument() { return TheRegistry().loaded; }

void* HandleOf(TiXmlElement& element) {
  Registry& r = TheRegistry();
  auto found = r.handleByElement.find(&element);
  if (found == r.handleByElement.end()) {
    const uintptr_t handle = r.nextHandle;
    r.elementByHandle.emplace(handle, &element);
    try {
      found = r.handleByElement.emplace(&element, handle).first;
    } catch (...) {
      r.elementByHandle.erase(handle);
      throw;
    }
    ++r.nextHandle;
  }
  return reinterpret_cast<void*>(found->second);
}

TiXmlElement* ResolveHandle(const void* handle) {
  Registry& r = TheRegistry();
  const auto found = r.elementByHandle.find(reinterpret_cast<uintptr_t>(handle));
  return found == r.elementByHandle.end() ? nullptr : found->second;
}

void ForgetSubtree(const TiXmlNode& node) {
  Registry& r = TheRegistry();
  std::vector<const TiXmlNode*> pending{&node};
  while (!pending.empty()) {
    const TiXmlNode* current = pending.back();
    pending.pop_back();
    if (const TiXmlElement* element = current->ToElement()) {
      const auto found = r.handleByElement.find(element);
      if (found != r.handleByElement.end()) {
        r.elementByHandle.erase(found->second);
        r.handleByElement.erase(found);
      }
    }
    for (const TiXmlNode* child = current->FirstChild(); child; child = child->NextSibling()) {
      pending.push_back(child);
    }
  }
}

size_t DepthOf(const TiXmlNode& node) {
  size_t depth = 0;
  for (const TiXmlNode* n = &node; n && !n->ToDocument(); n = n->Parent()) ++depth;
  return depth;
}

size_t LiveHandleCount() { return TheRegistry().elementByHandle.size(); }

}  // namespace xml
