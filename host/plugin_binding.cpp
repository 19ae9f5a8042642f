// Binding Corvane.dll the way the catalogue application does: by file name and
// the eleven undecorated entry point names.
#include "host/host.h"
#include "support/bind.h"

bool LoadPluginBinding(const std::string& dllPath, PluginBinding* plugin) {
  *plugin = PluginBinding();
  HMODULE module = LoadLibraryA(dllPath.c_str());
  if (module == nullptr) return false;
  bool all = true;
  all &= Bind(module, "getAuthor", &plugin->getAuthor);
  all &= Bind(module, "getName", &plugin->getName);
  all &= Bind(module, "getSDKVersion", &plugin->getSDKVersion);
  all &= Bind(module, "getSmallComment", &plugin->getSmallComment);
  all &= Bind(module, "getVersion", &plugin->getVersion);
  all &= Bind(module, "initPlugin", &plugin->initPlugin);
  all &= Bind(module, "closePlugin", &plugin->closePlugin);
  all &= Bind(module, "inMenu", &plugin->inMenu);
  all &= Bind(module, "onMenuClick", &plugin->onMenuClick);
  all &= Bind(module, "inPopupMenu", &plugin->inPopupMenu);
  all &= Bind(module, "onPopupMenuClick", &plugin->onPopupMenuClick);
  if (!all) {
    FreeLibrary(module);
    *plugin = PluginBinding();
    return false;
  }
  plugin->module = module;
  return true;
}

void UnloadPluginBinding(PluginBinding* plugin) {
  if (plugin->module != nullptr) FreeLibrary(plugin->module);
  *plugin = PluginBinding();
}

// An entry list ends at its first empty entry; the bound keeps a list without
// that terminator from running through memory.
std::vector<std::string> SplitEntryList(const char* list) {
  std::vector<std::string> entries;
  if (list == nullptr) return entries;
  const size_t kMaxListBytes = 4096;
  size_t offset = 0;
  while (offset < kMaxListBytes && list[offset] != '\0') {
    size_t length = strnlen(list + offset, kMaxListBytes - offset);
    entries.emplace_back(list + offset, length);
    offset += length + 1;
  }
  return entries;
}
