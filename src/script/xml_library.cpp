// The "XML" script library: files and nodes.
#include "script/libraries.h"
#include "script/natives.h"

// createFile, saveFile, loadFile, copyFile, destroyNode, createNode,
// setNodeStringAttribute, setNodeFloatAttribute, setNodeIntegerAttribute,
// setNodeTitle, setNodeValue, getNodeValue, getLoadedRootNode, getNode,
// getParentNode, getNodeAttribute, getNodeTitle, fileExists, removeAttribute
// join here in this order.
const luaL_Reg kXmlLibrary[] = {
    {nullptr, nullptr},
};
