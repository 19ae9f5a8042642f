// The plug-in as the host meets it: exports, identity, menus, start and stop.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <set>
#include <string>

#include "plugin/plugin_state.h"
#include "plugin/texts.h"
#include "support/host_double.h"

namespace {

// Names in a loaded module's export and import directories, read from its PE headers.
std::set<std::string> ExportNames(HMODULE module) {
  std::set<std::string> names;
  auto base = reinterpret_cast<const BYTE*>(module);
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (dir.Size == 0) return names;
  auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  auto nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.insert(reinterpret_cast<const char*>(base + nameRvas[i]));
  names.insert("#functions=" + std::to_string(exports->NumberOfFunctions));
  return names;
}

std::set<std::string> ImportNames(HMODULE module) {
  std::set<std::string> names;
  auto base = reinterpret_cast<const BYTE*>(module);
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name != 0; ++d) {
    std::string name = reinterpret_cast<const char*>(base + d->Name);
    for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    names.insert(name);
  }
  return names;
}

class PluginBoundary : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(LoadPlugin(&plugin)) << "Corvane.dll or an entry point is missing"; }
  void TearDown() override { UnloadPlugin(&plugin); }
  LoadedPlugin plugin;
};

TEST_F(PluginBoundary, ExportsExactlyTheElevenEntryPoints) {
  std::set<std::string> expected = {"getAuthor",   "getName", "getSDKVersion", "getSmallComment",
                                    "getVersion",  "initPlugin", "closePlugin", "inMenu",
                                    "onMenuClick", "inPopupMenu", "onPopupMenuClick", "#functions=11"};
  EXPECT_EQ(ExportNames(plugin.module), expected);
}

TEST_F(PluginBoundary, ImportsSystemLibrariesOnly) {
  const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "shell32.dll", "shlwapi.dll",
                                         "comctl32.dll", "ole32.dll",  "msvcrt.dll",  "7-zip32.dll",
                                         "gdi32.dll"};
  for (const std::string& name : ImportNames(plugin.module)) {
    EXPECT_TRUE(allowed.count(name)) << name << " is not a system library";
  }
}

}  // namespace
