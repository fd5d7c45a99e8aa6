// The "XML" script library through a real Lua state in a temporary working
// directory, and the nesting scan checked against TinyXML's own parser.
#include <gtest/gtest.h>
#include <lua.hpp>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tinyxml.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/xml_file.h"
#include "script/engine.h"
#include "script/script_host.h"
#include "script/xml_documents.h"

using namespace scripttest;
namespace fs = std::filesystem;

namespace {

// The chunk runs through ExpectLua with, on its first line: D the saved
// declaration, file(path) a file's contents or '<missing>', put(path, text),
// nest(n) n nested <a>, MAX the deepest nesting, and R(...) the call's results
// as Run shows them between brackets ("[nil]", "[]", "['x',1]").
void Xml(const std::string& chunk) {
  ExpectLua("local D, MAX = '<?xml version=\"1.0\" ?>\\n', " +
            std::to_string(xml::kMaxElementDepth) +
            " local function file(p) local f = io.open(p, 'rb') if not f then return '<missing>' end "
            "local s = f:read('*a') f:close() return s end "
            "local function put(p, s) local f = io.open(p, 'wb') f:write(s) f:close() end "
            "local function nest(n) return string.rep('<a>', n) .. string.rep('</a>', n) end "
            "local function R(...) local t = {} for i = 1, select('#', ...) do local v = select(i, ...) "
            "t[i] = type(v) == 'string' and \"'\" .. v .. \"'\" or tostring(v) end "
            "return '[' .. table.concat(t, ',') .. ']' end " + chunk);
}

// No temporary file of a save is left in the working directory.
void ExpectNoTempFiles() {
  for (const auto& entry : fs::directory_iterator(".")) {
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  }
}

class XmlLibraryTest : public ::testing::Test {
 protected:
  ScriptHost host_{""};
};

TEST_F(XmlLibraryTest, CreateSaveCopyAndLoadFiles) {
  // A new file exists only once it is saved. Saving through any element
  // writes the whole document under its own name; a copy goes elsewhere.
  // Loading gives the first top-level element and makes it the loaded root.
  // createFile on an existing file keeps its nodes; one that does not parse
  // adds nothing, not even what parsed before the error.
  Xml(R"(eq('userdata,<missing>', type(XML.createFile('new.xml', 'root')), file('new.xml'))
    root = XML.getLoadedRootNode() XML.saveFile(root) eq(D .. '<root />\n', file('new.xml'))
    child = XML.createNode(root, 'child') XML.setNodeStringAttribute(child, 'k', 'v')
    XML.copyFile(child, 'copy.xml') XML.setNodeTitle(root, 'renamed') XML.saveFile(child)
    eq(D .. '<root>\n    <child k="v" />\n</root>\n', file('copy.xml'))
    eq(D .. '<renamed>\n    <child k="v" />\n</renamed>\n', file('new.xml'))
    eq('[]', R(XML.copyFile(root, 'copy2.xml')))
    eq('root', XML.getNodeTitle(XML.loadFile('copy.xml')))
    eq('v', XML.getNodeAttribute(XML.getNode(XML.getLoadedRootNode(), 'child'), 'k'))
    put('old.xml', '<?xml version="1.0" ?>\n<old a="1" />\n<!-- note -->\n')
    eq('fresh,old', XML.getNodeTitle(XML.createFile('old.xml', 'fresh')), XML.getNodeTitle(XML.getLoadedRootNode()))
    XML.saveFile(XML.getLoadedRootNode())
    eq(D .. '<old a="1" />\n<!-- note -->\n' .. D .. '<fresh />\n', file('old.xml'))
    put('broken.xml', '<kept><half>')
    eq('fresh,fresh', XML.getNodeTitle(XML.createFile('broken.xml', 'fresh')), XML.getNodeTitle(XML.getLoadedRootNode())))");
  ExpectNoTempFiles();
}

TEST_F(XmlLibraryTest, UnreadableMalformedAndHostileFilesLoadAsNothing) {
  ASSERT_EQ(mkfifo("pipe", 0644), 0);  // opening it to read must not block
  ASSERT_TRUE(fs::create_directory("folder"));
  // hidden.xml: deep nesting inside what the parser takes for an attribute
  // value (in UTF-8 mode the lead byte 240 swallows the closing quote). A
  // text ends at a NUL, and line ends become "\n", as with TinyXML's loader.
  // A path of 101 characters is refused before the loaded document changes.
  Xml(R"(put('good.xml', '<good />') put('empty.xml', '') put('partial.xml', '<a><b x="1"/><c></a>')
    put('text.xml', 'just text') put('comment.xml', '<!-- no element -->') put('deep.xml', nest(MAX + 1))
    put('utf8-attr.xml', '<?xml version="1.0"?><a b="\240') put('utf8-text.xml', '<?xml version="1.0"?><a>x\240')
    put('entity.xml', '<a b="&#x') put('hidden.xml', '<?xml version="1.0"?><r v="\240"> <x w="> ' .. nest(MAX + 5) .. ' </r>')
    for _, p in ipairs({'missing.xml', 'pipe', 'folder', 'empty.xml', 'partial.xml', 'text.xml', 'comment.xml',
                        'utf8-attr.xml', 'utf8-text.xml', 'entity.xml', 'deep.xml', 'hidden.xml'}) do
      eq('good', XML.getNodeTitle(XML.loadFile('good.xml')))
      eq(p .. ',[nil],nil', p, R(XML.loadFile(p)), XML.getLoadedRootNode())
    end
    put('nul.xml', '<a/>\0<b></a>') eq('a', XML.getNodeTitle(XML.loadFile('nul.xml')))
    put('crlf.xml', '<a v="x\r\ny\rz" />') eq('x\ny\nz', XML.getNodeAttribute(XML.loadFile('crlf.xml'), 'v'))
    XML.loadFile('good.xml') eq('[nil]', R(XML.loadFile(string.rep('p', 101))))
    eq('good', XML.getNodeTitle(XML.getLoadedRootNode()))
    eq('[nil,nil,nil]', R(XML.loadFile(''), XML.loadFile(nil), XML.loadFile({}))))");
}

TEST_F(XmlLibraryTest, NestingUpToTheLimitLoadsSavesAndGrowsNoFurther) {
  // A chain built by a script stops at the same depth.
  Xml(R"(put('deep.xml', nest(MAX)) eq('userdata', type(XML.loadFile('deep.xml')))
    node = XML.getLoadedRootNode() while XML.getNode(node, 'a') do node = XML.getNode(node, 'a') end
    eq('[nil],userdata', R(XML.createNode(node, 'deeper')), type(XML.createNode(XML.getParentNode(node), 'sibling')))
    XML.setNodeValue(node, 'leaf') XML.copyFile(node, 'copy.xml') eq('a', XML.getNodeTitle(XML.loadFile('copy.xml')))
    local n, made = XML.createFile('chain.xml', 'c'), 1
    while XML.createNode(n, 'c') do n, made = XML.getNode(n, 'c'), made + 1 end
    eq(tostring(MAX), made) XML.destroyNode(XML.getLoadedRootNode()))");
}

TEST_F(XmlLibraryTest, SavingNeverLeavesAHalfWrittenFileAndKeepsThePermissions) {
  Xml("put('data.xml', '<old />') root = XML.createFile('data.xml', 'big') "
      "for i = 1, 60 do XML.setNodeStringAttribute(root, 'a' .. i, string.rep('x', 100)) end");
  ASSERT_EQ(chmod("data.xml", 0640), 0);
  // A write that fails part way (the file size limit here) leaves the old
  // file as it was and no temporary file behind.
  struct rlimit saved, small;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  small = saved;
  small.rlim_cur = 2048;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string failed = RunLua("XML.saveFile(root)");
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(failed, "");
  Xml("eq('<old />', file('data.xml'))");
  ExpectNoTempFiles();
  Xml("XML.saveFile(root) eq('true', #file('data.xml') > 6000)");
  struct stat info;
  ASSERT_EQ(stat("data.xml", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  ExpectNoTempFiles();
}

TEST_F(XmlLibraryTest, SavesGoThroughLinksAndNeverReplaceWhatIsNotAFile) {
  ASSERT_TRUE(fs::create_directory("real"));
  fs::create_symlink("real/target.xml", "link.xml");
  ASSERT_EQ(mkfifo("pipe", 0644), 0);
  ASSERT_TRUE(fs::create_directory("folder"));
  Xml(R"(put('real/target.xml', '<t />') XML.createNode(XML.loadFile('link.xml'), 'added')
    XML.saveFile(XML.getLoadedRootNode()) eq('<t>\n    <added />\n</t>\n', file('real/target.xml'))
    XML.copyFile(XML.getLoadedRootNode(), 'pipe') XML.copyFile(XML.getLoadedRootNode(), 'folder')
    XML.copyFile(XML.getLoadedRootNode(), 'nowhere/x.xml') XML.saveFile(XML.createFile('nowhere/y.xml', 'y')))");
  EXPECT_TRUE(fs::is_symlink("link.xml"));
  EXPECT_TRUE(fs::is_fifo("pipe"));
  EXPECT_TRUE(fs::is_empty("folder"));
  EXPECT_FALSE(fs::exists("nowhere"));
  ExpectNoTempFiles();
  // fileExists opens regular files only.
  Xml(R"(put('here.xml', 'x') put('5', 'x')
    eq('1,1,0,0,0,0,0', XML.fileExists('here.xml'), XML.fileExists(5), XML.fileExists('gone.xml'),
       XML.fileExists(''), XML.fileExists(nil), XML.fileExists('folder'), XML.fileExists('pipe')))");
}

TEST_F(XmlLibraryTest, ElementsAttributesAndTexts) {
  // Handles of one element are equal whichever way they were reached.
  // setNodeValue appends a text each time; getNodeValue reads the first
  // child, and only when it is a text.
  Xml(R"(root = XML.createFile('n.xml', 'root') a = XML.createNode(root, 'item')
    b = XML.createNode(root, 'item') c = XML.createNode(a, 'leaf')
    eq('true,true,true,false', XML.getNode(root, 'item') == a, XML.getParentNode(c) == a,
       XML.getParentNode(a) == root, XML.getNode(root, 'item') == b)
    eq('[nil,nil,nil]', R(XML.getParentNode(root), XML.getNode(root, 'none'), XML.getNode(root, nil)))
    XML.setNodeStringAttribute(a, 'name', 'x y') XML.setNodeStringAttribute(a, 'name', 'replaced')
    XML.setNodeFloatAttribute(a, 'f', 1.5) XML.setNodeFloatAttribute(a, 'g', -0.25)
    XML.setNodeIntegerAttribute(a, 'i', 3.9) XML.setNodeIntegerAttribute(a, 'j', -2.5)
    XML.setNodeIntegerAttribute(a, 'k', 2^31) XML.setNodeIntegerAttribute(a, 'n', '12')
    XML.setNodeStringAttribute(a, 'num', 7) XML.setNodeStringAttribute(a, 'gone', 'soon')
    XML.removeAttribute(a, 'gone') XML.removeAttribute(a, 'never')
    local function at(k) return XML.getNodeAttribute(a, k) end
    eq("['replaced','1.500000','-0.250000','3','-2','-2147483648','12','7',nil,nil]",
       R(at'name', at'f', at'g', at'i', at'j', at'k', at'n', at'num', at'gone', at'absent'))
    XML.setNodeValue(b, 'first') XML.setNodeValue(b, 'second')
    eq("['first',nil,nil]", R(XML.getNodeValue(b), XML.getNodeValue(a), XML.getNodeValue(c)))
    XML.setNodeTitle(c, 'renamed') eq('renamed,root', XML.getNodeTitle(c), XML.getNodeTitle(root))
    XML.saveFile(root)
    eq(D .. '<root>\n    <item name="replaced" f="1.500000" g="-0.250000" i="3" j="-2" k="-2147483648" n="12" num="7">\n'
       .. '        <renamed />\n    </item>\n    <item>firstsecond\n    </item>\n</root>\n', file('n.xml')))");
}

TEST_F(XmlLibraryTest, TextsOverOneHundredCharactersAreRefusedWhereChecked) {
  // No limit where the table sets none (createNode's name).
  Xml(R"(local ok, long = string.rep('o', 100), string.rep('l', 101)
    root = XML.createFile(ok, ok) eq(ok, XML.getNodeTitle(root))
    eq('[nil,nil,nil,nil]', R(XML.createFile(long, 'r'), XML.createFile('p', long), XML.createFile('', 'r'), XML.createFile('p', '')))
    eq('[nil]', R(XML.copyFile(root, long)))
    XML.setNodeStringAttribute(root, long, 'v') XML.setNodeStringAttribute(root, 's', long)
    XML.setNodeFloatAttribute(root, long, 1) XML.setNodeIntegerAttribute(root, long, 1)
    XML.setNodeTitle(root, long) XML.setNodeValue(root, long) XML.setNodeStringAttribute(root, 'keep', ok)
    XML.removeAttribute(root, long) XML.saveFile(root)
    eq(D .. '<' .. ok .. ' keep="' .. ok .. '" />\n', file(ok))
    eq(long, XML.getNodeTitle(XML.createNode(root, long))) eq('<missing>', file(long)))");
}

// refused(h): every function that takes a handle refuses `h`, with nil where
// it has a result.
const char* const kRefused = R"(local function refused(h)
  eq('[],[nil],[],[nil],[],[],[],[],[],[nil],[nil],[nil],[nil],[nil],[]', R(XML.saveFile(h)),
    R(XML.copyFile(h, 'refused-copy.xml')), R(XML.destroyNode(h)), R(XML.createNode(h, 'n')),
    R(XML.setNodeStringAttribute(h, 'a', 'v')), R(XML.setNodeFloatAttribute(h, 'a', 1)),
    R(XML.setNodeIntegerAttribute(h, 'a', 1)), R(XML.setNodeTitle(h, 't')), R(XML.setNodeValue(h, 'v')),
    R(XML.getNodeValue(h)), R(XML.getNode(h, 'n')), R(XML.getParentNode(h)),
    R(XML.getNodeAttribute(h, 'a')), R(XML.getNodeTitle(h)), R(XML.removeAttribute(h, 'a')))
  eq('<missing>', file('refused-copy.xml')) end
)";

TEST_F(XmlLibraryTest, StaleHandlesAreRefusedEvenWhenTheirMemoryIsReused) {
  Xml("root = XML.createFile('s.xml', 'root') child = XML.createNode(root, 'child') "
      "grandchild = XML.createNode(child, 'grandchild') XML.setNodeValue(grandchild, 'text') "
      "sibling = XML.createNode(root, 'sibling')");
  const size_t before = xml::LiveHandleCount();
  EXPECT_EQ(RunLua("XML.destroyNode(child)"), "");
  EXPECT_EQ(xml::LiveHandleCount(), before - 2);
  // New elements may take the freed memory; the old handles still name
  // nothing. Destroying the root: the document's next element takes its place.
  Xml(std::string(kRefused) + R"(for i = 1, 50 do XML.createNode(root, 'child') end
    refused(child) refused(grandchild) eq('false,sibling', XML.getNode(root, 'child') == child, XML.getNodeTitle(sibling))
    XML.destroyNode(root) refused(root) refused(sibling) eq('nil', XML.getLoadedRootNode())
    XML.saveFile(root) eq('<missing>', file('s.xml')))");
}

TEST_F(XmlLibraryTest, ForgedAndWrongKindHandlesAreRefused) {
  ASSERT_EQ(RunLua("root = XML.createFile('f.xml', 'root')"), "");
  lua_State* L = host_.L();
  // An element of no document of the library, and the real address of a live
  // one: handles are not pointers, so neither is reached.
  TiXmlElement stray("stray");
  lua_getglobal(L, "root");
  void* const forged[] = {&stray, xml::ResolveHandle(lua_touserdata(L, -1)),
                          reinterpret_cast<void*>(uintptr_t{0x7fffffff0000}), nullptr};
  lua_pop(L, 1);
  ASSERT_NE(forged[1], nullptr);
  for (int i = 0; i < 4; ++i) {
    lua_pushlightuserdata(L, forged[i]);
    lua_setglobal(L, ("forged" + std::to_string(i)).c_str());
  }
  Xml(std::string(kRefused) + R"(for _, h in ipairs({forged0, forged1, forged2, forged3, 0, 1, 'root', {}, io.stdout, print, true}) do
      refused(h) end refused(nil) eq('root,nil', XML.getNodeTitle(root), XML.getNode(root, 'n')))");
  EXPECT_EQ(stray.FirstAttribute(), nullptr);
  EXPECT_EQ(std::string(stray.Value()), "stray");
}

TEST(XmlHandles, OutliveARestartOfTheGameMode) {
  ScriptHost host("");
  host.Write("kept.xml", "<kept><inner/></kept>");
  ASSERT_EQ(RunLua("inner = XML.getNode(XML.loadFile('kept.xml'), 'inner')"), "");
  lua_getglobal(host.L(), "inner");
  void* handle = lua_touserdata(host.L(), -1);
  PublishNewScriptEngine();
  RegisterScriptNatives();
  EXPECT_EQ(Eval("inner"), "nil");
  lua_pushlightuserdata(host.L(), handle);
  lua_setglobal(host.L(), "carried");
  EXPECT_EQ(Eval("XML.getNodeTitle(XML.getLoadedRootNode()), XML.getNodeTitle(XML.getParentNode(carried)), "
                 "XML.getParentNode(carried) == XML.getLoadedRootNode()"),
            "'kept','kept',true");
}

TEST_F(XmlLibraryTest, AWrongArgumentCountDoesNothing) {
  // Each function with arguments that would make it act, then one short and
  // one over: name, arguments, results of a wrong count. Nothing changes.
  Xml(R"(put('base.xml', '<root keep="1"><child/><text>t</text></root>')
    root = XML.loadFile('base.xml') child = XML.getNode(root, 'child') text = XML.getNode(root, 'text')
    local count = 0 for _ in pairs(XML) do count = count + 1 end eq('19', count)
    for _, r in ipairs({{'createFile', {'wc.xml', 'r'}, '[nil]'}, {'saveFile', {root}, '[]'},
        {'loadFile', {'base.xml'}, '[nil]'}, {'copyFile', {root, 'wc.xml'}, '[nil]'}, {'destroyNode', {child}, '[]'},
        {'createNode', {root, 'made'}, '[]'}, {'setNodeStringAttribute', {root, 's', 'v'}, '[]'},
        {'setNodeFloatAttribute', {root, 'f', 1.5}, '[]'}, {'setNodeIntegerAttribute', {root, 'i', 2}, '[]'},
        {'setNodeTitle', {root, 'renamed'}, '[]'}, {'setNodeValue', {root, 'value'}, '[]'},
        {'getNodeValue', {text}, '[]'}, {'getLoadedRootNode', {}, '[]'}, {'getNode', {root, 'child'}, '[]'},
        {'getParentNode', {child}, '[]'}, {'getNodeAttribute', {root, 'keep'}, '[]'}, {'getNodeTitle', {root}, '[]'},
        {'fileExists', {'base.xml'}, '[0]'}, {'removeAttribute', {root, 'keep'}, '[]'}}) do
      local over = {unpack(r[2])} over[#over + 1] = 1
      eq(r[1] .. ',' .. r[3], r[1], R(XML[r[1]](unpack(over))))
      if #r[2] > 0 then eq(r[1] .. ',' .. r[3], r[1], R(XML[r[1]](unpack(r[2], 1, #r[2] - 1)))) end
    end
    XML.saveFile(root) eq('<missing>,true', file('wc.xml'), XML.getLoadedRootNode() == root)
    eq('<root keep="1">\n    <child />\n    <text>t</text>\n</root>\n', file('base.xml')))");
}

// --- The nesting scan against TinyXML ---------------------------------------

size_t TreeDepth(const TiXmlNode& node) {
  size_t deepest = 0;
  for (const TiXmlNode* child = node.FirstChild(); child; child = child->NextSibling()) {
    if (child->ToElement()) deepest = std::max(deepest, 1 + TreeDepth(*child));
  }
  return deepest;
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
    // What TinyXML builds from a padded copy, and what the scan predicts.
    std::vector<char> padded(text.size() + 1 + xml::kParsePadding, 0);
    std::memcpy(padded.data(), text.data(), text.size());
    TiXmlDocument document;
    document.Parse(padded.data());
    const size_t parsed = TreeDepth(document);
    const size_t predicted = xml::NestingBound(padded.data(), 1000);
    ASSERT_GE(predicted, parsed) << ::testing::PrintToString(text);
    if (predicted == parsed) ++exact;
  }
  // Above the parser only where a declaration leaves the encoding open.
  EXPECT_GT(exact, runs * 99 / 100);
}

}  // namespace
