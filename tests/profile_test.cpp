// The current dataset's name from the host window, and its profile file.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/test_switches.h"
#include "base/file_io.h"
#include "base/state.h"
#include "resources/resource.h"
#include "profile/active_dataset.h"
#include "profile/profile.h"
#include "support/host_double.h"
#include "support/settings_steps.h"

namespace {

class Dataset : public ::testing::Test {
 protected:
  void SetUp() override {
    data = MakeScratchFolder("profile");
    ASSERT_FALSE(data.empty());
    ASSERT_EQ(StartLinkedPlugin(data), 0);
    HostOpen();
  }
  void TearDown() override {
    StopDriving();
    HostClose();
    RemoveTree(data);
  }
  // The dataset's name as its files are named.
  std::string Name() {
    FindActiveDatasetName();
    char path[kPathSize];
    if (!DatasetFilePath(path, sizeof path, "")) return "<no file>";
    return std::string(path).substr(data.size());
  }
  std::string data;
};

TEST_F(Dataset, WidestVisibleComboNamesTheDataset) {
  HostAddCombo("Narrow", 60);
  HWND first = HostAddCombo("FirstWide", 150);
  HostAddCombo("SecondWide", 150);
  HostAddCombo("Hidden", 400, false);
  EXPECT_EQ(Name(), "FirstWide");
  // Grandchildren count; a hidden ancestor hides them.
  HWND panel =
      CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 300, 100, gHost.window, nullptr, nullptr, nullptr);
  HostAddCombo("Nested", 200, true, panel);
  EXPECT_EQ(Name(), "Nested");
  ShowWindow(panel, SW_HIDE);
  EXPECT_EQ(Name(), "FirstWide");
  // Class names must match exactly.
  SetWindowTextA(first, "Renamed");
  EXPECT_EQ(Name(), "Renamed");
}

TEST_F(Dataset, NameIsKeptWhenNoComboCanGiveIt) {
  HWND combo = HostAddCombo("NES", 120);
  EXPECT_EQ(Name(), "NES");
  ShowWindow(combo, SW_HIDE);
  CreateWindowExA(0, "COMBOBOX", "Other", WS_CHILD | WS_VISIBLE, 0, 0, 300, 100, gHost.window, nullptr, nullptr,
                  nullptr);
  HostAddCombo("ZeroWidth", 0);
  EXPECT_EQ(Name(), "NES");
}

TEST_F(Dataset, ElevenVisibleCombosStoreOnlyTheFirstTen) {
  for (int i = 0; i < 10; ++i) HostAddCombo(("Set" + std::to_string(i)).c_str(), 50 + i);
  HostAddCombo("Eleventh", 500);
  EXPECT_EQ(Name(), "Set9");
}

TEST_F(Dataset, LongComboTextIsCutTo259Bytes) {
  std::string name(300, 'n');
  HostAddCombo(name.c_str(), 100);
  // No file can carry a name this long, so only the name held shows the cut.
  FindActiveDatasetName();
  EXPECT_EQ(std::string(gState.datasetName), std::string(259, 'n'));
  HostClose();
  HostOpen();
  HostAddCombo("", 100);
  EXPECT_EQ(Name(), "");
}

// The profile file is the documented 532-byte record, each field whole (bytes
// behind a text's NUL included), and it reads back the same.
TEST_F(Dataset, ProfileRoundTripKeepsEveryByte) {
  HostAddCombo("NES", 100);
  FindActiveDatasetName();
  DatasetProfile& profile = gState.profile;
  profile.headerSize = 513;
  memset(profile.romFolder, 'a', sizeof profile.romFolder);
  CopyText(profile.romFolder, sizeof profile.romFolder, "C:\\roms\\");
  profile.depthChoice = 11;
  profile.extractOnLaunch = 1;
  memset(profile.extractFolder, 'b', sizeof profile.extractFolder);
  CopyText(profile.extractFolder, sizeof profile.extractFolder, "D:\\out\\");
  profile.extractFolder[259] = '\0';
  ASSERT_EQ(SaveDatasetProfile(), 0);

  // headerSize int32 LE at 0, romFolder 260 bytes at 4, depthChoice int32 LE
  // at 264, extractOnLaunch int32 LE at 268, extractFolder 260 bytes at 272.
  std::string romField = std::string("C:\\roms\\", 9) + std::string(251, 'a');
  std::string extractField = std::string("D:\\out\\", 8) + std::string(251, 'b') + '\0';
  std::string expected = std::string("\x01\x02\0\0", 4) + romField + std::string("\x0B\0\0\0", 4) +
                         std::string("\x01\0\0\0", 4) + extractField;
  ASSERT_EQ(expected.size(), 532u);
  EXPECT_EQ(ReadBytes(data + "NES.fol"), expected);

  // Loaded over other values and saved again: the same bytes.
  memset(&profile, 0x55, sizeof profile);
  LoadDatasetProfile();
  ASSERT_TRUE(DeleteFileA((data + "NES.fol").c_str()));
  ASSERT_EQ(SaveDatasetProfile(), 0);
  EXPECT_EQ(ReadBytes(data + "NES.fol"), expected);
}

TEST_F(Dataset, ProfileValuesAreLoadedUncheckedAndShortFilesReplaceOnlyTheirBytes) {
  HostAddCombo("PCE", 100);
  struct Case {
    std::string file;
    ShownSettings shown;
  } cases[] = {
      {ProfileFileBytes(5000, "E:\\pce", 15, 7, "F:\\x\\"), {"5000", "E:\\pce", CB_ERR, true, "F:\\x\\"}},
      // 4 + 10 bytes: the header size and the ROM folder up to its NUL only.
      {ProfileFileBytes(32, "G:\\short\\", 1, 0, "").substr(0, 14), {"32", "G:\\short\\", CB_ERR, true, "F:\\x\\"}},
      // A path field without a NUL is used only up to 259 bytes; the extraction
      // folder has no room for its final "\".
      {ProfileFileBytes(0, std::string(260, 'p'), 0, 0, std::string(260, 'q')),
       {"0", std::string(259, 'p'), 0, false, "F:\\x\\"}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteBytes(data + "PCE.fol", c.file));
    EXPECT_EQ(SettingsAsShown(), c.shown);
  }
}

TEST_F(Dataset, SwitchingToADatasetWithoutProfileKeepsTheValuesInForce) {
  HWND combo = HostAddCombo("NES", 100);
  ASSERT_TRUE(WriteBytes(data + "NES.fol", ProfileFileBytes(0, "C:\\nes\\", 3, 1, "C:\\x\\")));
  const ShownSettings nes = {"0", "C:\\nes\\", 3, true, "C:\\x\\"};
  ASSERT_EQ(SettingsAsShown(), nes);
  // Changed on disk, so that showing it again would mean FDS was never looked for.
  ASSERT_TRUE(WriteBytes(data + "NES.fol", ProfileFileBytes(64, "C:\\other\\", 0, 0, "")));
  SetWindowTextA(combo, "FDS");
  EXPECT_EQ(SettingsAsShown(), nes);
  EXPECT_FALSE(FileExists(data + "FDS.fol"));
}

TEST_F(Dataset, NamesThatLeadOutOfTheDataDirectoryHaveNoProfile) {
  CreateDirectoryA((data + "NES").c_str(), nullptr);
  HWND combo = HostAddCombo("NES\\Japan", 100);
  FindActiveDatasetName();
  ASSERT_EQ(SaveDatasetProfile(), 0);
  EXPECT_TRUE(FileExists(data + "NES\\Japan.fol"));

  std::string outside = data + "..\\escaped.fol";
  ASSERT_TRUE(WriteBytes(outside, ProfileFileBytes(99, "X:\\", 0, 0, "")));
  for (const char* name :
       {"..\\escaped", "NES\\..\\..\\escaped", "C:escaped", "\\escaped", "/escaped", "..", "NES\\. .\\x", "..."}) {
    SetWindowTextA(combo, name);
    EXPECT_EQ(SettingsAsShown().headerSize, "16") << name;
    EXPECT_EQ(SaveDatasetProfile(), -1) << name;
    char path[kPathSize] = "unchanged";
    EXPECT_FALSE(DatasetFilePath(path, sizeof path, ".rel")) << name;
    EXPECT_EQ(path[0], '\0');
  }
  EXPECT_EQ(ReadBytes(outside).substr(0, 1), "c");  // 99, untouched
  DeleteFileA(outside.c_str());

  // A profile path longer than 259 bytes is no profile at all. One of 259
  // bytes is saved whole, though "<name>.fol.new" would not fit beside it.
  SetWindowTextA(combo, std::string(259 - data.size() - 3, 'n').c_str());
  EXPECT_EQ(SaveDatasetProfile(), -1);
  const std::string longest(259 - data.size() - 4, 'n');
  SetWindowTextA(combo, longest.c_str());
  FindActiveDatasetName();
  EXPECT_EQ(SaveDatasetProfile(), 0);
  EXPECT_EQ(FileSizeOf(data + longest + ".fol"), 532);
  EXPECT_EQ(FolderEntries(data).size(), 3u);  // NES, the profile and temp: no aside file left
}

TEST_F(Dataset, AddRomsRefusesARomFolderThatIsNoDirectory) {
  HostAddCombo("NES", 100);
  std::string file = data + "rom.nes";
  ASSERT_TRUE(WriteBytes(file, "x"));
  for (const std::string& folder : {std::string(), file}) {
    ASSERT_TRUE(WriteBytes(data + "NES.fol", ProfileFileBytes(16, folder, 0, 0, "")));
    std::string text;
    HWND owner = nullptr;
    bool otherDialog = false;
    DriveDialogs({[&](HWND active) {
      if (!IsDialogWindow(active)) return false;
      if (GetDlgItem(active, 0xFFFF) == nullptr) {
        otherDialog = true;
      } else {
        text = MessageBoxText(active);
        owner = GetWindow(active, GW_OWNER);
      }
      PressButton(active, IDOK);
      return true;
    }});
    onMenuClick(1);
    EXPECT_FALSE(DriveTimedOut());
    EXPECT_FALSE(otherDialog);
    EXPECT_EQ(Utf8(text), u8"ロムフォルダのパスが不正です");
    EXPECT_EQ(owner, gHost.window);
  }
}

TEST_F(Dataset, FailedSaveLeavesTheEarlierProfileWholeAndIsReported) {
  HostAddCombo("NES", 100);
  std::string roms = data + "roms\\";
  ASSERT_TRUE(CreateDirectoryA(roms.c_str(), nullptr));
  const std::string earlier = ProfileFileBytes(48, roms, 2, 1, data);
  ASSERT_TRUE(WriteBytes(data + "NES.fol", earlier));

  // The message names the file, the dialog stays open, and not a byte of the
  // earlier file changed, no aside file left.
  std::vector<SeenMessageBox> seen;
  bool stillOpen = false;
  gTestSwitches.writeFault[kWriteProfile] = 1;
  DialogRun run = RunSettingsDialog({
      WhenSettingsActive([](HWND dialog) {
        SetItemText(dialog, IDC_HEADER_SIZE, "32");
        PostClick(dialog, IDOK);
      }),
      DismissMessageBox(&seen),
      WhenSettingsActive([&](HWND dialog) {
        stillOpen = true;
        PostClick(dialog, IDCANCEL);
      }),
  });
  gTestSwitches.writeFault[kWriteProfile] = 0;
  EXPECT_TRUE(run.Complete()) << (run.unexpected.empty() ? "" : run.unexpected[0]);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(Utf8(seen[0].text), std::string(u8"設定ファイルを保存できませんでした\n") + Utf8(data + "NES.fol"));
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(ReadBytes(data + "NES.fol"), earlier);
  EXPECT_EQ(FolderEntries(data), (std::vector<std::string>{"NES.fol", "roms", "temp"}));
}

// Device names, in any component and any case, with or without an extension,
// name no file: nothing is read from or written to them, and nothing waits on
// a console.
TEST_F(Dataset, DeviceNamesAreNoDatasetFiles) {
  HWND combo = HostAddCombo("NES", 100);
  const char* devices[] = {"NUL", "con", "COM1", "aux.x", "Prn", "lpt9", "NES\\nul", "com5.tar.gz", "CON ", "conin$"};
  for (const char* name : devices) {
    SetWindowTextA(combo, name);
    onMenuClick(9);  // reads the name and would load its profile
    char path[kPathSize] = "unchanged";
    EXPECT_FALSE(DatasetFilePath(path, sizeof path, ".rel")) << name;
    EXPECT_EQ(path[0], '\0') << name;
    EXPECT_EQ(SaveDatasetProfile(), -1) << name;
    HostSelection selection = {0, "DEADBEEF"};
    EXPECT_EQ(onPopupMenuClick(0, &selection), 0) << name;
  }
  // Names that only look like devices are ordinary datasets.
  for (const char* name : {"CONSOLE", "COM10", "LPT", "NULL.x", "x.con", "com1x"}) {
    SetWindowTextA(combo, name);
    FindActiveDatasetName();
    EXPECT_EQ(SaveDatasetProfile(), 0) << name;
    EXPECT_TRUE(FileExists(data + name + ".fol")) << name;
  }
  EXPECT_EQ(FolderEntries(data).size(), 7u);  // the six profiles and temp
}

// "表" is 0x95 0x5C, whose trail byte is no final "\". A folder with no room
// for its "\" leaves the one loaded before it in force.
TEST_F(Dataset, ExtractionFolderGetsItsFinalBackslashOnLoad) {
  HostAddCombo("NES", 100);
  const std::string hyou = Cp932(u8"表");
  struct Case {
    std::string saved, loaded;
  } cases[] = {
      {"C:\\" + hyou, "C:\\" + hyou + "\\"},
      {"C:\\" + hyou + "\\", "C:\\" + hyou + "\\"},
      {"C:\\out\\", "C:\\out\\"},
      {"C:\\out", "C:\\out\\"},
      {std::string(259, 'q'), "C:\\out\\"},
      {"", ""},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteBytes(data + "NES.fol", ProfileFileBytes(16, "C:\\" + hyou, 0, 1, c.saved)));
    // The ROM folder is left as read; it gets its "\" where it is used.
    EXPECT_EQ(SettingsAsShown(), (ShownSettings{"16", "C:\\" + hyou, 0, true, c.loaded})) << c.saved;
  }
}

}  // namespace
