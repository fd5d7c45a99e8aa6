// The "XML" script library through a real Lua state in a temporary working
// directory, and the nesting scan checked against TinyXML's own parser.
#include <gtest/gtest.h>
#include <lua.hpp>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tinyxml.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "script/engine.h"
#include "script/script_host.h"
#include "script/xml_documents.h"
#include "core/xml_file.h"

using scripttest::Eval;
using scripttest::RunLua;
using scripttest::ScriptHost;

namespace {

const char kDeclaration[] = "<?xml version=\"1.0\" ?>\n";

// A file of the working directory, or "<missing>".
std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Names in the working directory that look like a save's temporary file.
std::vector<std::string> TempFiles() {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) found.push_back(name);
  }
  return found;
}

std::string Nested(size_t depth) {
  std::string text;
  for (size_t i = 0; i < depth; ++i) text += "<a>";
  for (size_t i = 0; i < depth; ++i) text += "</a>";
  return text;
}

void SetGlobalLightUserdata(lua_State* L, const char* name, void* value) {
  lua_pushlightuserdata(L, value);
  lua_setglobal(L, name);
}

class XmlLibraryTest : public ::testing::Test {
 protected:
  ScriptHost host_{""};
};

// --- Files -------------------------------------------------------------------

TEST_F(XmlLibraryTest, CreateSaveCopyAndLoadFiles) {
  // A new file exists only once it is saved: the declaration and an empty root.
  EXPECT_EQ(Eval("type(XML.createFile('new.xml', 'root'))"), "'userdata'");
  EXPECT_EQ(ReadFile("new.xml"), "<missing>");
  EXPECT_EQ(RunLua("root = XML.getLoadedRootNode(); XML.saveFile(root)"), "");
  EXPECT_EQ(ReadFile("new.xml"), std::string(kDeclaration) + "<root />\n");

  // Saving through any element of the document writes the whole document
  // under its own name; a copy goes elsewhere and leaves that name alone.
  EXPECT_EQ(RunLua("child = XML.createNode(root, 'child')\n"
                   "XML.setNodeStringAttribute(child, 'k', 'v')\n"
                   "XML.copyFile(child, 'copy.xml')\n"
                   "XML.setNodeTitle(root, 'renamed')\n"
                   "XML.saveFile(child)"),
            "");
  EXPECT_EQ(ReadFile("copy.xml"),
            std::string(kDeclaration) + "<root>\n    <child k=\"v\" />\n</root>\n");
  EXPECT_EQ(ReadFile("new.xml"),
            std::string(kDeclaration) + "<renamed>\n    <child k=\"v\" />\n</renamed>\n");
  EXPECT_EQ(Eval("XML.copyFile(root, 'copy2.xml')"), "");  // no results

  // Loading gives the first top-level element and makes it the loaded root.
  EXPECT_EQ(Eval("XML.getNodeTitle(XML.loadFile('copy.xml'))"), "'root'");
  EXPECT_EQ(Eval("XML.getNodeAttribute(XML.getNode(XML.getLoadedRootNode(), 'child'), 'k')"),
            "'v'");
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(XmlLibraryTest, CreateFileOnAnExistingFileKeepsItsNodes) {
  host_.Write("old.xml", "<?xml version=\"1.0\" ?>\n<old a=\"1\" />\n<!-- note -->\n");
  EXPECT_EQ(Eval("XML.getNodeTitle(XML.createFile('old.xml', 'fresh'))"), "'fresh'");
  EXPECT_EQ(Eval("XML.getNodeTitle(XML.getLoadedRootNode())"), "'old'");
  EXPECT_EQ(RunLua("XML.saveFile(XML.getLoadedRootNode())"), "");
  EXPECT_EQ(ReadFile("old.xml"), std::string(kDeclaration) + "<old a=\"1\" />\n<!-- note -->\n" +
                                     kDeclaration + "<fresh />\n");

  // A file that does not parse adds nothing, not even what parsed before the
  // error.
  host_.Write("broken.xml", "<kept><half>");
  EXPECT_EQ(Eval("XML.getNodeTitle(XML.createFile('broken.xml', 'fresh'))"), "'fresh'");
  EXPECT_EQ(Eval("XML.getNodeTitle(XML.getLoadedRootNode())"), "'fresh'");
}

TEST_F(XmlLibraryTest, UnreadableMalformedAndHostileFilesLoadAsNothing) {
  ASSERT_EQ(mkfifo("pipe", 0644), 0);  // opening it to read must not block
  ASSERT_TRUE(std::filesystem::create_directory("folder"));
  host_.Write("good.xml", "<good />");
  host_.Write("empty.xml", "");
  host_.Write("partial.xml", "<a><b x=\"1\"/><c></a>");
  host_.Write("text.xml", "just text");
  host_.Write("comment.xml", "<!-- no element -->");
  host_.Write("nul.xml", std::string("<a/>\0<b></a>", 13));
  host_.Write("utf8-attr.xml", "<?xml version=\"1.0\"?><a b=\"\xF0");
  host_.Write("utf8-text.xml", "<?xml version=\"1.0\"?><a>x\xF0");
  host_.Write("entity.xml", "<a b=\"&#x");
  host_.Write("deep.xml", Nested(xml::kMaxElementDepth + 1));
  // Deep nesting hidden in what the parser takes for an attribute value: in
  // UTF-8 mode the lead byte \xF0 swallows the closing quote, so the "<a>"s
  // that follow are content to TinyXML.
  host_.Write("hidden.xml", "<?xml version=\"1.0\"?><r v=\"\xF0\"> <x w=\"> " +
                                Nested(xml::kMaxElementDepth + 5) + " </r>");

  for (const char* path : {"missing.xml", "pipe", "folder", "empty.xml", "partial.xml",
                           "text.xml", "comment.xml", "utf8-attr.xml", "utf8-text.xml",
                           "entity.xml", "deep.xml", "hidden.xml"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Eval("XML.getNodeTitle(XML.loadFile('good.xml'))"), "'good'");
    EXPECT_EQ(Eval(std::string("XML.loadFile('") + path + "')"), "nil");
    EXPECT_EQ(Eval("XML.getLoadedRootNode()"), "nil");
  }
  // The text ends at a NUL, and line ends become "\n", as with TinyXML's own
  // loader.
  EXPECT_EQ(Eval("XML.getNodeTitle(XML.loadFile('nul.xml'))"), "'a'");
  host_.Write("crlf.xml", "<a v=\"x\r\ny\rz\" />");
  EXPECT_EQ(Eval("XML.getNodeAttribute(XML.loadFile('crlf.xml'), 'v')"), "'x\ny\nz'");

  // A path of 101 characters is refused before the loaded document changes.
  EXPECT_EQ(Eval("XML.getNodeTitle(XML.loadFile('good.xml'))"), "'good'");
  EXPECT_EQ(Eval("XML.loadFile('" + std::string(101, 'p') + "')"), "nil");
  EXPECT_EQ(Eval("XML.getNodeTitle(XML.getLoadedRootNode())"), "'good'");
  EXPECT_EQ(Eval("XML.loadFile(''), XML.loadFile(nil), XML.loadFile({})"), "nil,nil,nil");
}

TEST_F(XmlLibraryTest, NestingUpToTheLimitLoadsSavesAndGrowsNoFurther) {
  host_.Write("deep.xml", Nested(xml::kMaxElementDepth));
  ASSERT_EQ(Eval("type(XML.loadFile('deep.xml'))"), "'userdata'");
  EXPECT_EQ(RunLua("node = XML.getLoadedRootNode()\n"
                   "while XML.getNode(node, 'a') do node = XML.getNode(node, 'a') end"),
            "");
  EXPECT_EQ(Eval("XML.createNode(node, 'deeper')"), "nil");
  EXPECT_EQ(Eval("type(XML.createNode(XML.getParentNode(node), 'sibling'))"), "'userdata'");
  EXPECT_EQ(RunLua("XML.setNodeValue(node, 'leaf'); XML.copyFile(node, 'copy.xml')"), "");
  EXPECT_EQ(Eval("XML.getNodeTitle(XML.loadFile('copy.xml'))"), "'a'");
  // A chain built by a script stops at the same depth.
  EXPECT_EQ(Eval("(function() local n, made = XML.createFile('chain.xml', 'c'), 1\n"
                 "  while true do local c = XML.createNode(n, 'c')\n"
                 "    if not c then return made end n, made = c, made + 1 end end)()"),
            std::to_string(xml::kMaxElementDepth));
  EXPECT_EQ(RunLua("XML.destroyNode(XML.getLoadedRootNode())"), "");
}

TEST_F(XmlLibraryTest, SavingNeverLeavesAHalfWrittenFile) {
  host_.Write("data.xml", "<old />");
  ASSERT_EQ(chmod("data.xml", 0640), 0);
  ASSERT_EQ(RunLua("root = XML.createFile('data.xml', 'big')\n"
                   "for i = 1, 60 do XML.setNodeStringAttribute(root, 'a' .. i, "
                   "string.rep('x', 100)) end"),
            "");
  const std::string before = ReadFile("data.xml");

  // A write that fails part way (the file size limit here) leaves the old
  // file as it was and no temporary file behind.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 2048;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string failed = RunLua("XML.saveFile(root)");
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(failed, "");
  EXPECT_EQ(ReadFile("data.xml"), before);
  EXPECT_TRUE(TempFiles().empty());

  // Without the limit it is replaced whole and keeps its permission bits.
  EXPECT_EQ(RunLua("XML.saveFile(root)"), "");
  EXPECT_GT(ReadFile("data.xml").size(), 6000u);
  struct stat info;
  ASSERT_EQ(stat("data.xml", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(XmlLibraryTest, SavesGoThroughLinksAndNeverReplaceWhatIsNotAFile) {
  ASSERT_TRUE(std::filesystem::create_directory("real"));
  host_.Write("real/target.xml", "<t />");
  std::filesystem::create_symlink("real/target.xml", "link.xml");
  ASSERT_EQ(RunLua("XML.createNode(XML.loadFile('link.xml'), 'added')\n"
                   "XML.saveFile(XML.getLoadedRootNode())"),
            "");
  EXPECT_TRUE(std::filesystem::is_symlink("link.xml"));
  EXPECT_EQ(ReadFile("real/target.xml"), "<t>\n    <added />\n</t>\n");

  ASSERT_EQ(mkfifo("pipe", 0644), 0);
  ASSERT_TRUE(std::filesystem::create_directory("folder"));
  EXPECT_EQ(RunLua("XML.copyFile(XML.getLoadedRootNode(), 'pipe')\n"
                   "XML.copyFile(XML.getLoadedRootNode(), 'folder')\n"
                   "XML.copyFile(XML.getLoadedRootNode(), 'nowhere/x.xml')\n"
                   "XML.saveFile(XML.createFile('nowhere/y.xml', 'y'))"),
            "");
  EXPECT_TRUE(std::filesystem::is_fifo("pipe"));
  EXPECT_TRUE(std::filesystem::is_directory("folder"));
  EXPECT_TRUE(std::filesystem::is_empty("folder"));
  EXPECT_FALSE(std::filesystem::exists("nowhere"));
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(XmlLibraryTest, FileExistsOpensRegularFilesOnly) {
  host_.Write("here.xml", "x");
  host_.Write("5", "x");
  ASSERT_EQ(mkfifo("pipe", 0644), 0);
  ASSERT_TRUE(std::filesystem::create_directory("folder"));
  EXPECT_EQ(Eval("XML.fileExists('here.xml'), XML.fileExists(5), XML.fileExists('gone.xml')"),
            "1,1,0");
  EXPECT_EQ(Eval("XML.fileExists(''), XML.fileExists(nil), XML.fileExists('folder'), "
                 "XML.fileExists('pipe')"),
            "0,0,0,0");
}

// --- Elements, attributes, texts --------------------------------------------

TEST_F(XmlLibraryTest, ElementsAttributesAndTexts) {
  ASSERT_EQ(RunLua("root = XML.createFile('n.xml', 'root')\n"
                   "a = XML.createNode(root, 'item')\n"
                   "b = XML.createNode(root, 'item')\n"
                   "c = XML.createNode(a, 'leaf')"),
            "");
  // Handles of one element are equal whichever way they were reached.
  EXPECT_EQ(Eval("XML.getNode(root, 'item') == a, XML.getParentNode(c) == a, "
                 "XML.getParentNode(a) == root, XML.getNode(root, 'item') == b"),
            "true,true,true,false");
  EXPECT_EQ(Eval("XML.getParentNode(root), XML.getNode(root, 'none'), XML.getNode(root, nil)"),
            "nil,nil,nil");

  EXPECT_EQ(RunLua("XML.setNodeStringAttribute(a, 'name', 'x y')\n"
                   "XML.setNodeStringAttribute(a, 'name', 'replaced')\n"
                   "XML.setNodeFloatAttribute(a, 'f', 1.5)\n"
                   "XML.setNodeFloatAttribute(a, 'g', -0.25)\n"
                   "XML.setNodeIntegerAttribute(a, 'i', 3.9)\n"
                   "XML.setNodeIntegerAttribute(a, 'j', -2.5)\n"
                   "XML.setNodeIntegerAttribute(a, 'k', 2^31)\n"
                   "XML.setNodeIntegerAttribute(a, 'n', '12')\n"
                   "XML.setNodeStringAttribute(a, 'num', 7)\n"
                   "XML.setNodeStringAttribute(a, 'gone', 'soon')\n"
                   "XML.removeAttribute(a, 'gone')\n"
                   "XML.removeAttribute(a, 'never')"),
            "");
  EXPECT_EQ(Eval("XML.getNodeAttribute(a, 'name'), XML.getNodeAttribute(a, 'f'), "
                 "XML.getNodeAttribute(a, 'g'), XML.getNodeAttribute(a, 'i'), "
                 "XML.getNodeAttribute(a, 'j'), XML.getNodeAttribute(a, 'k'), "
                 "XML.getNodeAttribute(a, 'n'), XML.getNodeAttribute(a, 'num'), "
                 "XML.getNodeAttribute(a, 'gone'), XML.getNodeAttribute(a, 'absent')"),
            "'replaced','1.500000','-0.250000','3','-2','-2147483648','12','7',nil,nil");

  // setNodeValue appends a text each time; getNodeValue reads the first
  // child, and only when it is a text.
  EXPECT_EQ(RunLua("XML.setNodeValue(b, 'first'); XML.setNodeValue(b, 'second')"), "");
  EXPECT_EQ(Eval("XML.getNodeValue(b), XML.getNodeValue(a), XML.getNodeValue(c)"),
            "'first',nil,nil");
  EXPECT_EQ(RunLua("XML.setNodeTitle(c, 'renamed')"), "");
  EXPECT_EQ(Eval("XML.getNodeTitle(c), XML.getNodeTitle(root)"), "'renamed','root'");

  EXPECT_EQ(RunLua("XML.saveFile(root)"), "");
  EXPECT_EQ(ReadFile("n.xml"),
            std::string(kDeclaration) +
                "<root>\n"
                "    <item name=\"replaced\" f=\"1.500000\" g=\"-0.250000\" i=\"3\" j=\"-2\" "
                "k=\"-2147483648\" n=\"12\" num=\"7\">\n"
                "        <renamed />\n"
                "    </item>\n"
                "    <item>firstsecond\n"
                "    </item>\n"
                "</root>\n");
}

TEST_F(XmlLibraryTest, TextsOverOneHundredCharactersAreRefusedWhereChecked) {
  const std::string ok(100, 'o');
  const std::string tooLong(101, 'l');
  ASSERT_EQ(RunLua("root = XML.createFile('" + ok + "', '" + ok + "')"), "");
  EXPECT_EQ(Eval("XML.getNodeTitle(root)"), "'" + ok + "'");
  EXPECT_EQ(Eval("XML.createFile('" + tooLong + "', 'r'), XML.createFile('p', '" + tooLong +
                 "'), XML.createFile('', 'r'), XML.createFile('p', '')"),
            "nil,nil,nil,nil");
  EXPECT_EQ(Eval("XML.copyFile(root, '" + tooLong + "')"), "nil");
  EXPECT_EQ(RunLua("XML.setNodeStringAttribute(root, '" + tooLong + "', 'v')\n"
                   "XML.setNodeStringAttribute(root, 's', '" + tooLong + "')\n"
                   "XML.setNodeFloatAttribute(root, '" + tooLong + "', 1)\n"
                   "XML.setNodeIntegerAttribute(root, '" + tooLong + "', 1)\n"
                   "XML.setNodeTitle(root, '" + tooLong + "')\n"
                   "XML.setNodeValue(root, '" + tooLong + "')\n"
                   "XML.setNodeStringAttribute(root, 'keep', '" + ok + "')\n"
                   "XML.removeAttribute(root, '" + tooLong + "')"),
            "");
  EXPECT_EQ(RunLua("XML.saveFile(root)"), "");
  EXPECT_EQ(ReadFile(ok), std::string(kDeclaration) + "<" + ok + " keep=\"" + ok + "\" />\n");
  // No limit where the table sets none.
  EXPECT_EQ(Eval("XML.getNodeTitle(XML.createNode(root, '" + tooLong + "'))"),
            "'" + tooLong + "'");
  EXPECT_FALSE(std::filesystem::exists(tooLong));
}

// --- Handles -----------------------------------------------------------------

// Every function that takes a handle, called with `handle` (a Lua
// expression): each must refuse, with nil where it has a result.
void ExpectRefused(const std::string& handle) {
  SCOPED_TRACE(handle);
  const std::pair<std::string, std::string> calls[] = {
      {"XML.saveFile(H)", ""},
      {"XML.copyFile(H, 'refused-copy.xml')", "nil"},
      {"XML.destroyNode(H)", ""},
      {"XML.createNode(H, 'n')", "nil"},
      {"XML.setNodeStringAttribute(H, 'a', 'v')", ""},
      {"XML.setNodeFloatAttribute(H, 'a', 1)", ""},
      {"XML.setNodeIntegerAttribute(H, 'a', 1)", ""},
      {"XML.setNodeTitle(H, 't')", ""},
      {"XML.setNodeValue(H, 'v')", ""},
      {"XML.getNodeValue(H)", "nil"},
      {"XML.getNode(H, 'n')", "nil"},
      {"XML.getParentNode(H)", "nil"},
      {"XML.getNodeAttribute(H, 'a')", "nil"},
      {"XML.getNodeTitle(H)", "nil"},
      {"XML.removeAttribute(H, 'a')", ""},
  };
  for (const auto& [call, expected] : calls) {
    std::string chunk = call;
    chunk.replace(chunk.find('H'), 1, handle);
    EXPECT_EQ(Eval(chunk), expected) << chunk;
  }
  EXPECT_FALSE(std::filesystem::exists("refused-copy.xml"));
}

TEST_F(XmlLibraryTest, StaleHandlesAreRefusedEvenWhenTheirMemoryIsReused) {
  ASSERT_EQ(RunLua("root = XML.createFile('s.xml', 'root')\n"
                   "child = XML.createNode(root, 'child')\n"
                   "grandchild = XML.createNode(child, 'grandchild')\n"
                   "XML.setNodeValue(grandchild, 'text')\n"
                   "sibling = XML.createNode(root, 'sibling')"),
            "");
  const size_t before = xml::LiveHandleCount();
  EXPECT_EQ(RunLua("XML.destroyNode(child)"), "");
  EXPECT_EQ(xml::LiveHandleCount(), before - 2);
  // New elements may take the freed memory; the old handles still name
  // nothing.
  ASSERT_EQ(RunLua("for i = 1, 50 do XML.createNode(root, 'child') end"), "");
  ExpectRefused("child");
  ExpectRefused("grandchild");
  EXPECT_EQ(Eval("XML.getNode(root, 'child') == child"), "false");
  EXPECT_EQ(Eval("XML.getNodeTitle(sibling)"), "'sibling'");

  // Destroying the root: the loaded document's next element takes its place.
  EXPECT_EQ(RunLua("XML.destroyNode(root)"), "");
  ExpectRefused("root");
  ExpectRefused("sibling");
  EXPECT_EQ(Eval("XML.getLoadedRootNode()"), "nil");
  EXPECT_EQ(RunLua("XML.saveFile(root)"), "");
  EXPECT_FALSE(std::filesystem::exists("s.xml"));
}

TEST_F(XmlLibraryTest, ForgedAndWrongKindHandlesAreRefused) {
  ASSERT_EQ(RunLua("root = XML.createFile('f.xml', 'root')"), "");
  lua_State* L = host_.L();
  // An element of no document of the library, and the real address of a live
  // one: handles are not pointers, so neither is reached.
  TiXmlElement stray("stray");
  SetGlobalLightUserdata(L, "strayHandle", &stray);
  lua_getglobal(L, "root");
  TiXmlElement* live = xml::ResolveHandle(lua_touserdata(L, -1));
  lua_pop(L, 1);
  ASSERT_NE(live, nullptr);
  SetGlobalLightUserdata(L, "liveAddress", live);
  SetGlobalLightUserdata(L, "madeUp", reinterpret_cast<void*>(uintptr_t{0x7fffffff0000}));
  SetGlobalLightUserdata(L, "nullHandle", nullptr);

  for (const char* handle : {"strayHandle", "liveAddress", "madeUp", "nullHandle", "nil", "0",
                             "1", "'root'", "{}", "io.stdout", "print", "true"}) {
    ExpectRefused(handle);
  }
  EXPECT_EQ(stray.FirstAttribute(), nullptr);
  EXPECT_EQ(std::string(stray.Value()), "stray");
  EXPECT_EQ(Eval("XML.getNodeTitle(root), XML.getNode(root, 'n')"), "'root',nil");
}

TEST(XmlHandles, OutliveARestartOfTheGameMode) {
  ScriptHost host("");
  host.Write("kept.xml", "<kept><inner/></kept>");
  ASSERT_EQ(RunLua("inner = XML.getNode(XML.loadFile('kept.xml'), 'inner')"), "");
  lua_getglobal(host.L(), "inner");
  void* handle = lua_touserdata(host.L(), -1);
  lua_pop(host.L(), 1);

  PublishNewScriptEngine();
  RegisterScriptNatives();
  EXPECT_EQ(Eval("inner"), "nil");
  EXPECT_EQ(Eval("XML.getNodeTitle(XML.getLoadedRootNode())"), "'kept'");
  SetGlobalLightUserdata(host.L(), "carried", handle);
  EXPECT_EQ(Eval("XML.getNodeTitle(XML.getParentNode(carried)), "
                 "XML.getParentNode(carried) == XML.getLoadedRootNode()"),
            "'kept',true");
}

// --- Argument counts ---------------------------------------------------------

TEST_F(XmlLibraryTest, AWrongArgumentCountDoesNothing) {
  host_.Write("base.xml", "<root keep=\"1\"><child/><text>t</text></root>");
  ASSERT_EQ(RunLua("root = XML.loadFile('base.xml')\n"
                   "child = XML.getNode(root, 'child')\n"
                   "text = XML.getNode(root, 'text')"),
            "");
  EXPECT_EQ(Eval("(function() local n = 0 for _ in pairs(XML) do n = n + 1 end return n end)()"),
            "19");
  // Each function with arguments that would make it act, then one short and
  // one over: name, arguments, result of a wrong count.
  struct Row {
    const char* name;
    const char* args;
    const char* wrong;
  };
  const Row rows[] = {
      {"createFile", "'wc.xml', 'r'", "nil"},
      {"saveFile", "root", ""},
      {"loadFile", "'base.xml'", "nil"},
      {"copyFile", "root, 'wc.xml'", "nil"},
      {"destroyNode", "child", ""},
      {"createNode", "root, 'made'", ""},
      {"setNodeStringAttribute", "root, 's', 'v'", ""},
      {"setNodeFloatAttribute", "root, 'f', 1.5", ""},
      {"setNodeIntegerAttribute", "root, 'i', 2", ""},
      {"setNodeTitle", "root, 'renamed'", ""},
      {"setNodeValue", "root, 'value'", ""},
      {"getNodeValue", "text", ""},
      {"getLoadedRootNode", "", ""},
      {"getNode", "root, 'child'", ""},
      {"getParentNode", "child", ""},
      {"getNodeAttribute", "root, 'keep'", ""},
      {"getNodeTitle", "root", ""},
      {"fileExists", "'base.xml'", "0"},
      {"removeAttribute", "root, 'keep'", ""},
  };
  for (const Row& row : rows) {
    const std::string args = row.args;
    const std::string over = args.empty() ? "1" : args + ", 1";
    const size_t comma = args.rfind(", ");
    const std::string shorter = comma == std::string::npos ? "" : args.substr(0, comma);
    EXPECT_EQ(Eval(std::string("XML.") + row.name + "(" + over + ")"), row.wrong) << row.name;
    if (!args.empty()) {
      EXPECT_EQ(Eval(std::string("XML.") + row.name + "(" + shorter + ")"), row.wrong)
          << row.name;
    }
  }
  // Nothing changed.
  EXPECT_FALSE(std::filesystem::exists("wc.xml"));
  EXPECT_EQ(RunLua("XML.saveFile(root)"), "");
  EXPECT_EQ(ReadFile("base.xml"),
            "<root keep=\"1\">\n    <child />\n    <text>t</text>\n</root>\n");
  EXPECT_EQ(Eval("XML.getLoadedRootNode() == root"), "true");
}

// --- The nesting scan against TinyXML ---------------------------------------

size_t TreeDepth(const TiXmlNode& node) {
  size_t deepest = 0;
  for (const TiXmlNode* child = node.FirstChild(); child; child = child->NextSibling()) {
    if (child->ToElement()) deepest = std::max(deepest, 1 + TreeDepth(*child));
  }
  return deepest;
}

// What TinyXML builds from `text` (parsed from a padded copy) and what the
// scan predicts.
std::pair<size_t, size_t> ParsedAndPredicted(const std::string& text) {
  std::vector<char> padded(text.size() + 1 + xml::kParsePadding, 0);
  std::memcpy(padded.data(), text.data(), text.size());
  TiXmlDocument document;
  document.Parse(padded.data());
  return {TreeDepth(document), xml::NestingBound(padded.data(), 1000)};
}

TEST(XmlNestingBound, NeverBelowWhatTinyXmlReachesOnRandomText) {
  const char* const pieces[] = {
      "<", "<", ">", "/", "</", "/>", "<a", "<b", "</a", "</b", "<a>", "</a>", "<b>", "</b>",
      "<a/>", "<!--", "-->", "<![CDATA[", "]]>", "<?xml", "?>", "<!", " ", "\n", "\t", "\"",
      "'", "=", "x", "a", "b", "-", "_", "?", "]", "&", "&#", "&#x", "&amp;", ";", "1",
      "\xEF\xBB\xBF", "\xEF", "\xBF", "\xC3", "\xE9", "\xF0", "\xF5", "\x80", "<_", "<?XML",
      " encoding=\"UTF-8\"", " encoding=\"ISO-8859-1\"", " version=\"1.0\"", "<a x=\"", "\">",
      " x='1'", " y=2", "<?xml version=\"1.0\"?>"};
  std::mt19937 random(20240611);
  size_t exact = 0;
  const size_t runs = 20000;
  for (size_t run = 0; run < runs; ++run) {
    std::string text;
    if (random() % 4 == 0) text += "\xEF\xBB\xBF";
    if (random() % 3 == 0) text += "<?xml version=\"1.0\"?>";
    for (size_t n = random() % 60; n > 0; --n) text += pieces[random() % std::size(pieces)];
    const auto [parsed, predicted] = ParsedAndPredicted(text);
    ASSERT_GE(predicted, parsed) << ::testing::PrintToString(text);
    if (predicted == parsed) ++exact;
  }
  // Above the parser only where a declaration leaves the encoding open.
  EXPECT_GT(exact, runs * 99 / 100);
}

}  // namespace
