// The plug-in as the host meets it: exports, identity, menus, start and stop.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <set>
#include <string>

#include "base/test_switches.h"
#include "base/file_io.h"
#include "base/state.h"
#include "base/texts.h"
#include "resources/resource.h"
#include "support/host_double.h"
#include "support/settings_steps.h"

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
  if (dir.Size == 0) return names;
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
  std::set<std::string> expected = {"getAuthor",   "getName",     "getSDKVersion",    "getSmallComment",
                                    "getVersion",  "initPlugin",  "closePlugin",      "inMenu",
                                    "onMenuClick", "inPopupMenu", "onPopupMenuClick", "#functions=11"};
  EXPECT_EQ(ExportNames(plugin.module), expected);
}

TEST_F(PluginBoundary, ImportsSystemLibrariesOnly) {
  const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "shell32.dll", "shlwapi.dll", "comctl32.dll",
                                         "ole32.dll",    "msvcrt.dll", "7-zip32.dll", "gdi32.dll"};
  std::set<std::string> imports = ImportNames(plugin.module);
  // Every Win32 DLL imports kernel32: a walk that finds nothing must fail, not pass.
  EXPECT_TRUE(imports.count("kernel32.dll")) << "kernel32.dll not among the imports read";
  for (const std::string& name : imports) {
    EXPECT_TRUE(allowed.count(name)) << name << " is not a system library";
  }
}

}  // namespace

namespace {

// Bytes of a static buffer up to and including `extra` bytes past its text.
std::string BytesWithTail(const char* text, size_t extra) { return std::string(text, strlen(text) + 1 + extra); }

// Loading and unloading the library must leave COM on the loading thread to
// the host: a host thread that then wants a multithreaded apartment gets one.
struct LoadOutcome {
  bool loaded = false;
  HRESULT whileLoaded = E_FAIL, afterUnload = E_FAIL;
};

DWORD WINAPI LoadUnloadThenAskForMultithreaded(LPVOID param) {
  LoadOutcome* result = static_cast<LoadOutcome*>(param);
  LoadedPlugin plugin;
  result->loaded = LoadPlugin(&plugin);
  result->whileLoaded = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(result->whileLoaded)) CoUninitialize();
  UnloadPlugin(&plugin);
  result->afterUnload = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(result->afterUnload)) CoUninitialize();
  return 0;
}

TEST(PluginLoading, LeavesTheLoadingThreadsComToTheHost) {
  ASSERT_EQ(GetModuleHandleA("Corvane.dll"), nullptr) << "the library must not be loaded already";
  LoadOutcome outcome;
  HANDLE thread = CreateThread(nullptr, 0, LoadUnloadThenAskForMultithreaded, &outcome, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_TRUE(outcome.loaded);
  EXPECT_EQ(outcome.whileLoaded, S_OK);
  EXPECT_EQ(outcome.afterUnload, S_OK);
}

TEST_F(PluginBoundary, IdentityTextsAreCodePage932AndZeroPadded) {
  EXPECT_EQ(BytesWithTail(plugin.getAuthor(), 3), std::string("Tamsk\0\0\0\0", 9));
  EXPECT_EQ(BytesWithTail(plugin.getName(), 3), std::string("Corvane\0\0\0\0", 11));
  EXPECT_EQ(BytesWithTail(plugin.getSDKVersion(), 3), std::string("0.7\0\0\0\0", 7));
  EXPECT_EQ(BytesWithTail(plugin.getVersion(), 3), std::string("1.0\0\0\0\0", 7));
  EXPECT_EQ(BytesWithTail(plugin.getSmallComment(), 3),
            Cp932(u8"ヘッダを無視したCRC32値でロムファイルを管理します") + std::string(4, '\0'));
}

TEST_F(PluginBoundary, MenuListsAreEntryListsEndedByAnEmptyEntry) {
  const char* menu = plugin.inMenu();
  std::string expected = Cp932(u8"設定") + '\0' + Cp932(u8"ロムの追加") + '\0' + '\0';
  ASSERT_EQ(expected.size(), 17u);
  EXPECT_EQ(std::string(menu, 17), expected);
  EXPECT_EQ(std::string(menu + 17, 260 - 17), std::string(260 - 17, '\0'));
  // The same buffer and bytes on every call.
  EXPECT_EQ(plugin.inMenu(), menu);
  EXPECT_EQ(std::string(plugin.inMenu(), 17), expected);

  const char* popup = plugin.inPopupMenu();
  std::string popupEntry = Cp932(u8"エミュレータ起動(Corvane)");
  EXPECT_EQ(std::string(popup, popupEntry.size() + 2), popupEntry + '\0' + '\0');
}

// "Setting.ini" keeps both records whole, bytes behind the NUL included, across
// an unload and a reload of the library.
TEST_F(PluginBoundary, GlobalSettingsSurviveUnloadAndReload) {
  std::string data = MakeScratchFolder("settings");
  ASSERT_EQ(plugin.initPlugin(0, HostLaunch, 0, HostRegister, 0, data.c_str()), 0);
  ASSERT_EQ(plugin.closePlugin(), 0);
  std::string written = ReadBytes(data + "Setting.ini");
  ASSERT_EQ(written.size(), 520u);
  std::string temp = data + "temp\\";
  EXPECT_EQ(written.substr(0, temp.size() + 1), temp + '\0');
  EXPECT_EQ(written.substr(260, temp.size() + 1), temp + '\0');

  std::string records(520, 'x');
  std::string rom = "C:\\roms\\", extract = "D:\\emu\\";
  records.replace(0, rom.size() + 1, rom + '\0');
  records.replace(260, extract.size() + 1, extract + '\0');
  ASSERT_TRUE(WriteBytes(data + "Setting.ini", records));

  UnloadPlugin(&plugin);
  ASSERT_TRUE(LoadPlugin(&plugin));
  ASSERT_EQ(plugin.initPlugin(0, HostLaunch, 0, HostRegister, 0, data.c_str()), 0);
  ASSERT_EQ(plugin.closePlugin(), 0);
  EXPECT_EQ(ReadBytes(data + "Setting.ini"), records);
  RemoveTree(data);
}

}  // namespace

// The plug-in code linked into the test executable, for what the boundary cannot show.
namespace {

class LinkedPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    base = MakeScratchFolder("plugin");
    ASSERT_FALSE(base.empty());
  }
  void TearDown() override {
    StopDriving();
    HostClose();
    RemoveTree(base);
  }
  std::string base;
};

TEST_F(LinkedPlugin, DataDirectoryGetsItsBackslashAndBothFoldersAreCreated) {
  std::string data = base + "data";  // no trailing "\"
  ASSERT_EQ(StartLinkedPlugin(data), 0);
  EXPECT_TRUE(FolderExists(data + "\\temp"));
  // A dataset without a profile: header size 16, extraction off, into the data directory.
  HostOpen();
  HostAddCombo("NES", 100);
  EXPECT_EQ(SettingsAsShown(), (ShownSettings{"16", "", 0, false, data + "\\"}));
  // Both folder pickers start in the temp folder, as Setting.ini keeps them.
  ASSERT_EQ(closePlugin(), 0);
  std::string record = data + "\\temp\\";
  record.resize(260, '\0');
  EXPECT_EQ(ReadBytes(data + "\\Setting.ini"), record + record);

  // A directory that already ends with "\" and exists is kept as it is; only
  // the last level is ever created.
  std::string marker = data + "\\temp\\keep.txt";
  ASSERT_TRUE(WriteBytes(marker, "x"));
  ASSERT_TRUE(DeleteFileA((data + "\\Setting.ini").c_str()));
  ASSERT_EQ(StartLinkedPlugin(data + "\\"), 0);
  ASSERT_EQ(closePlugin(), 0);
  EXPECT_EQ(ReadBytes(data + "\\Setting.ini"), record + record);
  EXPECT_TRUE(FileExists(marker));
}

TEST_F(LinkedPlugin, TooLongDataDirectoryLeavesThePluginUnstarted) {
  // 248 characters with the "\" is the longest accepted.
  std::string longest = base + std::string(248 - base.size() - 1, 'd') + "\\";
  ASSERT_EQ(longest.size(), 248u);
  ASSERT_EQ(StartLinkedPlugin(longest), 0);
  EXPECT_EQ(closePlugin(), 0);
  EXPECT_TRUE(FileExists(longest + "Setting.ini"));

  std::string tooLong = base + std::string(248 - base.size(), 'e');  // 249 with its "\"
  memset(&gState, 0, sizeof gState);
  EXPECT_EQ(StartLinkedPlugin(tooLong), -1);
  EXPECT_EQ(GetFileAttributesA(tooLong.c_str()), INVALID_FILE_ATTRIBUTES);
  // Nothing runs and nothing is written without a start.
  HostOpen();
  HostAddCombo("NES", 100);
  bool boxShown = false;
  DriveDialogs({[&](HWND active) {
                 if (IsDialogWindow(active)) {
                   boxShown = true;
                   EndDialog(active, IDOK);
                 }
                 return true;
               }},
               15, 50);
  onMenuClick(1);
  PumpMessages();
  EXPECT_FALSE(boxShown);
  EXPECT_EQ(closePlugin(), -1);
}

TEST_F(LinkedPlugin, GlobalSettingsFaultsAreReportedNotCrashed) {
  std::string data = base + "data\\";
  // A short file fills the first record only; a record without a NUL is cut to 259 bytes.
  CreateDirectoryA(data.c_str(), nullptr);
  ASSERT_TRUE(WriteBytes(data + "Setting.ini", std::string(300, 'r')));
  ASSERT_EQ(StartLinkedPlugin(data), 0);
  ASSERT_EQ(closePlugin(), 0);
  // The 40 bytes that reach the second record replace its start; the rest keeps the temp folder.
  std::string second = data + "temp\\";
  second.resize(260, '\0');
  second.replace(0, 40, std::string(40, 'r'));
  EXPECT_EQ(ReadBytes(data + "Setting.ini"), std::string(259, 'r') + '\0' + second);

  // "Setting.ini" that exists but cannot be opened, or created: -1, records kept.
  std::string other = base + "other\\";
  CreateDirectoryA(other.c_str(), nullptr);
  CreateDirectoryA((other + "Setting.ini").c_str(), nullptr);
  EXPECT_EQ(StartLinkedPlugin(other), -1);
  EXPECT_EQ(closePlugin(), -1);
}

TEST_F(LinkedPlugin, UnusableDataDirectoryLeavesThePluginIdleAndCreatesNothing) {
  // "" would make "\" the data directory: temp and Setting.ini at the root of
  // the drive. Only the last level of a data directory is ever made.
  DWORD tempBefore = GetFileAttributesA("\\temp");
  DWORD settingsBefore = GetFileAttributesA("\\Setting.ini");
  for (const std::string& dataDir : {std::string(), base + "missing\\deeper\\"}) {
    memset(&gState, 0, sizeof gState);
    EXPECT_EQ(StartLinkedPlugin(dataDir), -1) << dataDir;
    EXPECT_EQ(closePlugin(), -1) << dataDir;
  }
  EXPECT_EQ(GetFileAttributesA("\\temp"), tempBefore);
  EXPECT_EQ(GetFileAttributesA("\\Setting.ini"), settingsBefore);
  EXPECT_EQ(GetFileAttributesA((base + "missing").c_str()), INVALID_FILE_ATTRIBUTES);
}

// A temp folder that cannot be made is told when ROMs are to be added, in a
// box over the host's window, and nothing is registered.
TEST_F(LinkedPlugin, TempFolderThatCannotBeMadeIsToldWhenRomsAreAdded) {
  std::string data = base + "data\\";
  ASSERT_TRUE(CreateDirectoryA(data.c_str(), nullptr));
  // A file where the temp folder should be: it cannot be made.
  ASSERT_TRUE(WriteBytes(data + "temp", "a file"));
  ASSERT_TRUE(WriteBytes(base + "game.nes", "0123456789abcdefROM"));
  ASSERT_TRUE(WriteBytes(data + "NES.fol", ProfileFileBytes(16, base, 0, 0, data)));
  ASSERT_EQ(StartLinkedPlugin(data), 0);
  HostOpen();
  HostAddCombo("NES", 100);
  HostReset();
  std::string message;
  HWND rootOwner = nullptr;
  DriveDialogs({[&](HWND active) {
                 if (!IsDialogWindow(active) || GetDlgItem(active, 0xFFFF) == nullptr) return false;
                 message = Utf8(MessageBoxText(active));
                 rootOwner = GetAncestor(active, GA_ROOTOWNER);
                 PressButton(active, IDOK);
                 return true;
               }},
               15, 300);
  onMenuClick(1);
  EXPECT_FALSE(DriveTimedOut());
  StopDriving();
  EXPECT_EQ(message, std::string(u8"一時フォルダを作成できませんでした\n") + Utf8(data) + "temp\\");
  EXPECT_EQ(rootOwner, gHost.window);
  EXPECT_TRUE(gHost.registerCalls.empty());
}

// Setting.ini whole after a failed save, also in the longest data directory,
// where "Setting.ini" with a suffix would not fit a path buffer.
TEST_F(LinkedPlugin, FailedSettingsSaveLeavesTheEarlierFileWhole) {
  std::string longest = base + std::string(248 - base.size() - 1, 'd') + "\\";
  for (const std::string& data : {base + "data\\", longest}) {
    ASSERT_EQ(StartLinkedPlugin(data), 0);
    ASSERT_EQ(closePlugin(), 0);
    std::string earlier = ReadBytes(data + "Setting.ini");
    ASSERT_EQ(earlier.size(), 520u);
    CopyText(gState.lastRomBrowseFolder, kPathSize, "C:\\elsewhere\\");
    gTestSwitches.writeFault[kWriteGlobalSettings] = 1;
    EXPECT_EQ(closePlugin(), -1) << data;
    gTestSwitches.writeFault[kWriteGlobalSettings] = 0;
    EXPECT_EQ(ReadBytes(data + "Setting.ini"), earlier) << data;
    EXPECT_FALSE(FileExists(data + "Setting.ini.new")) << data;
    EXPECT_FALSE(FileExists(data + "Setting~ini")) << data;
    // Saved whole the next time.
    EXPECT_EQ(closePlugin(), 0) << data;
    EXPECT_EQ(ReadBytes(data + "Setting.ini").substr(0, 14), std::string("C:\\elsewhere\\\0", 14)) << data;
  }
}

// What a host that calls back in saw: each nested call changes the host's
// dataset first, so a call that got through would switch or reload it.
struct NestedCalls {
  int popupResult = -100;
  size_t dialogsSeen = 0;
  bool made = false;
};
NestedCalls nested;
HWND nestedCombo;

void CallBackIn() {
  SetWindowTextA(nestedCombo, "SNES");
  onMenuClick(1);
  onMenuClick(0);
  HostSelection selection = {0, "DEADBEEF"};
  nested.popupResult = onPopupMenuClick(0, &selection);
  SetWindowTextA(nestedCombo, "NES");
  nested.made = true;
}

void CALLBACK CallBackInOnTimer(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  CallBackIn();
}

// A host whose launch service runs its message loop (a timer of its own fires
// there) before it answers.
int __stdcall LaunchThatPumpsMessages(const char* path) {
  HostLaunch(path);
  SetTimer(nullptr, 0, 1, CallBackInOnTimer);
  for (int i = 0; i < 400 && !nested.made; ++i) {
    PumpMessages();
    Sleep(5);
  }
  return 5;
}

TEST_F(LinkedPlugin, AHostCallingBackInDuringAnActionChangesNothing) {
  std::string data = base + "data\\";
  std::string roms = data + "roms\\";
  ASSERT_EQ(StartLinkedPlugin(data), 0);
  ASSERT_EQ(initPlugin(0, LaunchThatPumpsMessages, 0, HostRegister, 0, data.c_str()), 0);
  ASSERT_TRUE(CreateDirectoryA(roms.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(roms + "game.nes", "0123456789abcdefROM"));
  ASSERT_TRUE(WriteBytes(data + "NES.fol", ProfileFileBytes(16, roms, 0, 0, data)));
  ASSERT_TRUE(WriteBytes(data + "SNES.fol", ProfileFileBytes(99, data, 1, 0, data)));
  ASSERT_TRUE(WriteBytes(data + "NES.rel", "DEADBEEF " + roms + "game.nes\r\n"));
  HostOpen();
  nestedCombo = HostAddCombo("NES", 100);
  HostReset();
  auto expectNothingChanged = [&](const char* during) {
    EXPECT_TRUE(nested.made) << during;
    EXPECT_EQ(nested.popupResult, 0) << during;
    EXPECT_TRUE(gHost.registerCalls.empty()) << during;
    EXPECT_FALSE(FileExists(data + "SNES.rel")) << during;
  };

  // During a launch. Any dialog that a nested call opened is counted and ended.
  nested = NestedCalls();
  DriveDialogs({[](HWND active) {
                 if (IsDialogWindow(active)) {
                   ++nested.dialogsSeen;
                   EndDialog(active, IDCANCEL);
                 }
                 return false;
               }},
               15, 300);
  HostSelection selection = {0, "DEADBEEF"};
  EXPECT_EQ(onPopupMenuClick(0, &selection), 5);
  StopDriving();
  EXPECT_EQ(nested.dialogsSeen, 0u);
  EXPECT_EQ(gHost.launchCalls.size(), 1u);
  expectNothingChanged("launch");

  // During the settings dialog (its driver's timer is the host's timer here):
  // its OK still saves the dataset it opened for.
  nested = NestedCalls();
  DialogRun run = RunSettingsDialog({
      WhenSettingsActive([](HWND) { CallBackIn(); }),
      WhenSettingsActive([](HWND dialog) {
        SetItemText(dialog, IDC_HEADER_SIZE, "32");
        PostClick(dialog, IDOK);
      }),
  });
  EXPECT_TRUE(run.Complete()) << (run.unexpected.empty() ? "" : run.unexpected[0]);
  EXPECT_EQ(gHost.launchCalls.size(), 1u);
  expectNothingChanged("settings dialog");
  EXPECT_EQ(ReadProfileFile(data + "NES.fol").headerSize, 32);
  EXPECT_EQ(ReadBytes(data + "SNES.fol"), ProfileFileBytes(99, data, 1, 0, data));

  // Afterwards each action runs again.
  SetWindowTextA(nestedCombo, "SNES");
  EXPECT_EQ(SettingsAsShown().headerSize, "99");
}

}  // namespace
