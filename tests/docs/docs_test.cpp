// The docs stay whole: every native the game mode sees is described for
// game-mode authors, and every call name the server registers or sends is
// described for client authors.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "script/natives.h"

namespace {

const std::filesystem::path kSourceDir = QLM_SOURCE_DIR;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool IsIdentifierChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// `word` on its own, not as part of a longer name ("getPlayerPos" is not
// found in "getPlayerPosition").
bool ContainsWord(const std::string& text, const std::string& word) {
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    const size_t end = at + word.size();
    if ((at == 0 || !IsIdentifierChar(text[at - 1])) &&
        (end == text.size() || !IsIdentifierChar(text[end]))) {
      return true;
    }
  }
  return false;
}

// Call names as the sources write them: in every file that sends or registers
// calls, each string literal of two or more capitalised words ("SetPlayerPos",
// "Respawn_RespawnVehicle"), comments left out. Helpers that take the name as
// an argument (SendFloat(L, "SetGravity")) are covered too.
std::set<std::string> CallNamesInSources() {
  const std::regex sendsCalls(R"(\bRpc\b|\bRPC\(|RemoteProcedureCall)");
  const std::regex comment("//[^\n]*");
  const std::regex callName(R"re("([A-Z][a-z]+[A-Z_][A-Za-z_]*)")re");
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(kSourceDir / "src")) {
    if (entry.path().extension() != ".cpp") continue;
    const std::string text = ReadFile(entry.path());
    if (!std::regex_search(text, sendsCalls)) continue;
    const std::string code = std::regex_replace(text, comment, "");
    for (std::sregex_iterator it(code.begin(), code.end(), callName), end; it != end; ++it) {
      names.insert((*it)[1]);
    }
  }
  return names;
}

TEST(Docs, EveryNativeIsInTheScriptingGuide) {
  const std::string doc = ReadFile(kSourceDir / "docs/scripting.md");
  ASSERT_FALSE(doc.empty()) << "docs/scripting.md is missing";
  for (int i = 0; i < kNativeCount; ++i) {
    EXPECT_TRUE(ContainsWord(doc, kNatives[i].name)) << kNatives[i].name;
  }
}

TEST(Docs, EveryCallNameIsInTheProtocol) {
  const std::string doc = ReadFile(kSourceDir / "docs/protocol.md");
  const std::set<std::string> names = CallNamesInSources();
  // A scan that finds next to nothing has lost its way, not proved the docs whole.
  ASSERT_GT(names.size(), 100u);
  for (const std::string& name : names) {
    EXPECT_NE(doc.find("`" + name + "`"), std::string::npos) << name;
  }
}

}  // namespace
