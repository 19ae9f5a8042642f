// The settings dialog as the host's menu entry 0 opens it: what it shows, what
// OK accepts, refuses and saves, and the extraction controls.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/state.h"
#include "resources/resource.h"
#include "support/host_double.h"
#include "support/screenshot.h"
#include "support/settings_steps.h"

namespace {

const char* const kHeaderMessage = u8"ヘッダサイズが不正です\n0以上1024以下の値を入力してください";
const char* const kRomFolderMessage = u8"ロムフォルダのパスが不正です";
const char* const kExtractFolderMessage = u8"解凍先のフォルダのパスが不正です";

class SettingsDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    data = MakeTempFolder("settings");
    ASSERT_FALSE(data.empty());
    gState.profile = DatasetProfile();
    ASSERT_EQ(StartLinkedPlugin(data), 0);
    roms = data + "roms\\";
    ASSERT_TRUE(CreateDirectoryA(roms.c_str(), nullptr));
    HostOpen();
    HostAddCombo("NES", 150);
    profilePath = data + "NES.fol";
  }
  void TearDown() override {
    StopDriving();
    HostClose();
    RemoveTree(data);
  }

  // Opens the dialog, fills the controls, presses OK; the OK must be accepted.
  void AcceptWith(std::function<void(HWND)> fill) {
    DialogRun run = RunSettingsDialog({WhenSettingsActive([fill](HWND dialog) {
      fill(dialog);
      PostClick(dialog, IDOK);
    })});
    EXPECT_TRUE(run.Complete()) << (run.unexpected.empty() ? "" : run.unexpected[0]);
  }

  // Opens the dialog, fills the controls, presses OK, expects one refusal,
  // then checks the dialog is still open and cancels it. The refusal's text.
  std::string RefusalFor(std::function<void(HWND)> fill) {
    std::vector<SeenMessageBox> seen;
    HWND shown = nullptr;
    HWND afterwards = nullptr;
    DialogRun run = RunSettingsDialog({
        WhenSettingsActive([&](HWND dialog) {
          shown = dialog;
          fill(dialog);
          PostClick(dialog, IDOK);
        }),
        DismissMessageBox(&seen),
        WhenSettingsActive([&](HWND dialog) {
          afterwards = dialog;
          PostClick(dialog, IDCANCEL);
        }),
    });
    EXPECT_TRUE(run.Complete()) << (run.unexpected.empty() ? "" : run.unexpected[0]);
    EXPECT_EQ(afterwards, shown) << "the dialog must stay open after a refusal";
    if (seen.size() != 1) return "<" + std::to_string(seen.size()) + " message boxes>";
    EXPECT_EQ(seen[0].owner, shown);
    return Utf8(seen[0].text);
  }

  std::string data;
  std::string roms;
  std::string profilePath;
};

void FillValid(HWND dialog, const std::string& header, const std::string& romFolder) {
  SetItemText(dialog, IDC_HEADER_SIZE, header);
  SetItemText(dialog, IDC_ROM_FOLDER, romFolder);
}

TEST_F(SettingsDialog, ShowsTheLoadedProfileCentredWithTwelveDepthChoices) {
  std::string extract = data + "out\\";
  ASSERT_TRUE(WriteBytes(profilePath, ProfileFileBytes(-7, roms, 3, 5, extract)));
  std::vector<std::string> choices;
  std::string header, rom, extractText;
  LRESULT selected = -2;
  bool checked = false, labelOn = false, editOn = false, buttonOn = false;
  bool centred = false;
  DialogRun run = RunSettingsDialog({WhenSettingsActive([&](HWND dialog) {
    HWND combo = GetDlgItem(dialog, IDC_DEPTH);
    for (LRESULT i = 0; i < SendMessageA(combo, CB_GETCOUNT, 0, 0); ++i) {
      char text[64] = "";
      SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
      choices.push_back(Utf8(text));
    }
    selected = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    header = ItemText(dialog, IDC_HEADER_SIZE);
    rom = ItemText(dialog, IDC_ROM_FOLDER);
    extractText = ItemText(dialog, IDC_EXTRACT_FOLDER);
    checked = IsDlgButtonChecked(dialog, IDC_EXTRACT_ON_LAUNCH) == BST_CHECKED;
    labelOn = IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT_FOLDER_LABEL));
    editOn = IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT_FOLDER));
    buttonOn = IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT_FOLDER_BROWSE));
    centred = IsCentredOnWorkArea(dialog);
    PostClick(dialog, IDCANCEL);
  })});
  ASSERT_TRUE(run.Complete());
  std::vector<std::string> expected = {u8"指定なし", u8"全て",    u8"第1階層", u8"第2階層",
                                       u8"第3階層", u8"第4階層", u8"第5階層", u8"第6階層",
                                       u8"第7階層", u8"第8階層", u8"第9階層", u8"第10階層"};
  EXPECT_EQ(choices, expected);
  EXPECT_EQ(selected, 3);
  EXPECT_EQ(header, "-7");
  EXPECT_EQ(rom, roms);
  EXPECT_EQ(extractText, extract);
  // Any non-zero flag means on.
  EXPECT_TRUE(checked);
  EXPECT_TRUE(labelOn && editOn && buttonOn);

  EXPECT_TRUE(centred);
  // Cancel saved nothing.
  EXPECT_EQ(ReadBytes(profilePath), ProfileFileBytes(-7, roms, 3, 5, extract));
}

TEST_F(SettingsDialog, HeaderSizeIsReadAsAtoiAndAcceptedFrom0To1024) {
  struct Case {
    const char* typed;
    int32_t saved;
  };
  const Case accepted[] = {{"1024", 1024}, {"0", 0},     {"16abc", 16}, {"", 0},
                           {"abc", 0},     {" +7", 7},  {"0016", 16},  {"00000000000000000000512", 512}};
  for (const Case& c : accepted) {
    SCOPED_TRACE(c.typed);
    DeleteFileA(profilePath.c_str());
    AcceptWith([&](HWND dialog) { FillValid(dialog, c.typed, roms); });
    ProfileFields saved = ReadProfileFile(profilePath);
    EXPECT_EQ(saved.size, 532u);
    EXPECT_EQ(saved.headerSize, c.saved);
    EXPECT_EQ(gState.profile.headerSize, c.saved);
  }
  // Out of range, negative, or too many digits for 32 bits ("4294967312" would
  // wrap to 16).
  const char* refused[] = {"1025", "-1", "-2147483648", "2147483647", "4294967312", "99999999999999999999"};
  for (const char* typed : refused) {
    SCOPED_TRACE(typed);
    DeleteFileA(profilePath.c_str());
    EXPECT_EQ(RefusalFor([&](HWND dialog) { FillValid(dialog, typed, roms); }), kHeaderMessage);
    EXPECT_FALSE(FileExists(profilePath));
  }
}

TEST_F(SettingsDialog, ChecksRunInOrderAndOnlyTheFirstFailureIsShown) {
  std::string missing = data + "missing";
  EXPECT_EQ(RefusalFor([&](HWND dialog) {
              FillValid(dialog, "2000", missing);
              CheckDlgButton(dialog, IDC_EXTRACT_ON_LAUNCH, BST_CHECKED);
              SetItemText(dialog, IDC_EXTRACT_FOLDER, missing);
            }),
            kHeaderMessage);
  EXPECT_EQ(RefusalFor([&](HWND dialog) {
              FillValid(dialog, "16", missing);
              CheckDlgButton(dialog, IDC_EXTRACT_ON_LAUNCH, BST_CHECKED);
              SetItemText(dialog, IDC_EXTRACT_FOLDER, missing);
            }),
            kRomFolderMessage);
  // A ROM folder that is a file is no folder.
  ASSERT_TRUE(WriteBytes(data + "file.bin", "x"));
  EXPECT_EQ(RefusalFor([&](HWND dialog) { FillValid(dialog, "16", data + "file.bin"); }), kRomFolderMessage);
  EXPECT_FALSE(FileExists(profilePath));
}

TEST_F(SettingsDialog, ExtractionFolderIsCheckedOnlyWhenExtractionIsOn) {
  std::string missing = data + "nowhere";
  // Extraction off: a missing or empty folder passes; the empty one is saved as "\".
  AcceptWith([&](HWND dialog) {
    FillValid(dialog, "16", roms);
    SetItemText(dialog, IDC_EXTRACT_FOLDER, missing);
  });
  EXPECT_EQ(ReadProfileFile(profilePath).extractFolder, missing + "\\");
  AcceptWith([&](HWND dialog) {
    FillValid(dialog, "16", roms);
    SetItemText(dialog, IDC_EXTRACT_FOLDER, "");
  });
  ProfileFields saved = ReadProfileFile(profilePath);
  EXPECT_EQ(saved.extractFolder, "\\");
  EXPECT_EQ(saved.extractOnLaunch, 0);

  // Extraction on: the folder must exist.
  DeleteFileA(profilePath.c_str());
  EXPECT_EQ(RefusalFor([&](HWND dialog) {
              FillValid(dialog, "16", roms);
              CheckDlgButton(dialog, IDC_EXTRACT_ON_LAUNCH, BST_CHECKED);
              SetItemText(dialog, IDC_EXTRACT_FOLDER, missing);
            }),
            kExtractFolderMessage);
  EXPECT_FALSE(FileExists(profilePath));
  AcceptWith([&](HWND dialog) {
    FillValid(dialog, "16", roms);
    CheckDlgButton(dialog, IDC_EXTRACT_ON_LAUNCH, BST_CHECKED);
    SetItemText(dialog, IDC_EXTRACT_FOLDER, roms);
  });
  saved = ReadProfileFile(profilePath);
  EXPECT_EQ(saved.extractOnLaunch, 1);
  EXPECT_EQ(saved.extractFolder, roms);
}

TEST_F(SettingsDialog, SavesEveryFieldWithFoldersEndingInOneBackslash) {
  // "表" ends in the byte 0x5C, which is no separator: the folder still needs one.
  std::string table = data + Cp932(u8"表");
  ASSERT_TRUE(CreateDirectoryA(table.c_str(), nullptr));
  std::string romsTyped = roms.substr(0, roms.size() - 1);
  AcceptWith([&](HWND dialog) {
    FillValid(dialog, "512", romsTyped);
    SendDlgItemMessageA(dialog, IDC_DEPTH, CB_SETCURSEL, 11, 0);
    CheckDlgButton(dialog, IDC_EXTRACT_ON_LAUNCH, BST_CHECKED);
    SetItemText(dialog, IDC_EXTRACT_FOLDER, table);
  });
  ProfileFields saved = ReadProfileFile(profilePath);
  EXPECT_EQ(saved.size, 532u);
  EXPECT_EQ(saved.headerSize, 512);
  EXPECT_EQ(saved.romFolder, roms);
  EXPECT_EQ(saved.depthChoice, 11);
  EXPECT_EQ(saved.extractOnLaunch, 1);
  EXPECT_EQ(saved.extractFolder, table + "\\");

  // Folders that already end with "\" are kept as they are.
  AcceptWith([&](HWND dialog) {
    FillValid(dialog, "16", roms);
    SetItemText(dialog, IDC_EXTRACT_FOLDER, table + "\\");
  });
  saved = ReadProfileFile(profilePath);
  EXPECT_EQ(saved.romFolder, roms);
  EXPECT_EQ(saved.extractFolder, table + "\\");
}

TEST_F(SettingsDialog, RefusedValuesStayInMemoryAfterCancel) {
  std::string elsewhere = data + "elsewhere";
  EXPECT_EQ(RefusalFor([&](HWND dialog) {
              FillValid(dialog, "1025", elsewhere);
              SendDlgItemMessageA(dialog, IDC_DEPTH, CB_SETCURSEL, 4, 0);
              CheckDlgButton(dialog, IDC_EXTRACT_ON_LAUNCH, BST_CHECKED);
              SetItemText(dialog, IDC_EXTRACT_FOLDER, "X");
            }),
            kHeaderMessage);
  EXPECT_EQ(gState.profile.headerSize, 1025);
  EXPECT_EQ(std::string(gState.profile.romFolder), elsewhere);
  EXPECT_EQ(gState.profile.depthChoice, 4);
  EXPECT_EQ(gState.profile.extractOnLaunch, 1);
  EXPECT_EQ(std::string(gState.profile.extractFolder), "X");
  EXPECT_FALSE(FileExists(profilePath));

  // With no profile file, the next opening shows the refused values.
  std::string header;
  DialogRun run = RunSettingsDialog({WhenSettingsActive([&](HWND dialog) {
    header = ItemText(dialog, IDC_HEADER_SIZE);
    PostClick(dialog, IDCANCEL);
  })});
  EXPECT_TRUE(run.Complete());
  EXPECT_EQ(header, "1025");
}

TEST_F(SettingsDialog, UnknownDepthChoiceShowsNoSelectionAndSavesMinusOne) {
  ASSERT_TRUE(WriteBytes(profilePath, ProfileFileBytes(16, roms, 15, 0, data)));
  LRESULT selected = 0;
  AcceptWith([&](HWND dialog) { selected = SendDlgItemMessageA(dialog, IDC_DEPTH, CB_GETCURSEL, 0, 0); });
  EXPECT_EQ(selected, CB_ERR);
  EXPECT_EQ(ReadProfileFile(profilePath).depthChoice, -1);
}

TEST_F(SettingsDialog, CheckBoxTogglesTheThreeExtractionControls) {
  auto enabled = [](HWND dialog) {
    return std::vector<bool>{IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT_FOLDER_LABEL)) != FALSE,
                             IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT_FOLDER)) != FALSE,
                             IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT_FOLDER_BROWSE)) != FALSE};
  };
  std::vector<std::vector<bool>> states;
  DialogRun run = RunSettingsDialog({WhenSettingsActive([&](HWND dialog) {
    states.push_back(enabled(dialog));
    ClickCheckBox(dialog, IDC_EXTRACT_ON_LAUNCH);
    states.push_back(enabled(dialog));
    ClickCheckBox(dialog, IDC_EXTRACT_ON_LAUNCH);
    states.push_back(enabled(dialog));
    PostClick(dialog, IDCANCEL);
  })});
  ASSERT_TRUE(run.Complete());
  const std::vector<bool> off = {false, false, false}, on = {true, true, true};
  EXPECT_EQ(states, (std::vector<std::vector<bool>>{off, on, off}));
}

TEST_F(SettingsDialog, FolderWithNoRoomForItsBackslashIsRefusedNotCut) {
  std::string longest = MakeFolderOf259Bytes(data);
  ASSERT_EQ(longest.size(), 259u);
  ASSERT_TRUE(GetFileAttributesA(longest.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(RefusalFor([&](HWND dialog) { FillValid(dialog, "16", longest); }), kRomFolderMessage);
  // Text longer than a path buffer whose first 259 bytes name that folder.
  EXPECT_EQ(RefusalFor([&](HWND dialog) { FillValid(dialog, "16", longest + "\\sub"); }), kRomFolderMessage);
  // Also with extraction off, since the folder is saved either way.
  EXPECT_EQ(RefusalFor([&](HWND dialog) {
              FillValid(dialog, "16", roms);
              SetItemText(dialog, IDC_EXTRACT_FOLDER, longest);
            }),
            kExtractFolderMessage);
  EXPECT_FALSE(FileExists(profilePath));
}

TEST_F(SettingsDialog, ProfileThatCannotBeSavedKeepsTheDialogOpen) {
  // A folder in the profile file's place: the file cannot be created.
  ASSERT_TRUE(CreateDirectoryA(profilePath.c_str(), nullptr));
  std::vector<SeenMessageBox> seen;
  HWND shown = nullptr;
  DialogRun run = RunSettingsDialog({
      WhenSettingsActive([&](HWND dialog) {
        shown = dialog;
        FillValid(dialog, "32", roms);
        PostClick(dialog, IDOK);
      }),
      DismissMessageBox(&seen),
      WhenSettingsActive([&](HWND dialog) {
        // Out of the way; the second OK then saves.
        RemoveDirectoryA(profilePath.c_str());
        PostClick(dialog, IDOK);
      }),
  });
  EXPECT_TRUE(run.Complete()) << (run.unexpected.empty() ? "" : run.unexpected[0]);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].owner, shown);
  EXPECT_EQ(Utf8(seen[0].text), std::string(u8"設定ファイルを保存できませんでした\n") + Utf8(profilePath));
  ProfileFields saved = ReadProfileFile(profilePath);
  EXPECT_EQ(saved.size, 532u);
  EXPECT_EQ(saved.headerSize, 32);
}

// Every control where the template puts it, with its text, in tab order; and
// a picture of the dialog for a person to look at (scripts/screenshot_settings.sh
// turns it into build/screenshots/settings_dialog.png).
TEST_F(SettingsDialog, ControlsStandWhereTheTemplatePutsThem) {
  std::string japaneseRoms = Cp932(u8"C:\\ロム\\ファミコン\\");
  ASSERT_TRUE(WriteBytes(profilePath, ProfileFileBytes(16, japaneseRoms, 1, 1, data)));
  struct Control {
    int id;
    const char* textUtf8;  // nullptr: filled from the profile
    RECT units;            // x, y, width, height in dialog units
  };
  const Control controls[] = {
      {IDC_SETTING_ROM_GROUP, u8"ロムフォルダ(ヘッダ付)設定", {10, 10, 240, 100}},
      {IDC_HEADER_SIZE_LABEL, u8"ヘッダサイズ", {20, 29, 40, 12}},
      {IDC_HEADER_SIZE, "16", {65, 27, 30, 12}},
      {IDC_HEADER_SIZE_UNIT, u8"バイト", {100, 29, 30, 12}},
      {IDC_ROM_FOLDER_LABEL, u8"ロムフォルダ", {20, 52, 40, 12}},
      {IDC_ROM_FOLDER, u8"C:\\ロム\\ファミコン\\", {20, 65, 180, 12}},
      {IDC_ROM_FOLDER_BROWSE, u8"参照", {210, 65, 30, 14}},
      {IDC_DEPTH_LABEL, u8"サブフォルダ", {20, 88, 40, 12}},
      {IDC_DEPTH, u8"全て", {65, 86, 50, 200}},
      {IDC_EMULATOR_GROUP, u8"エミュレータ設定", {10, 120, 240, 80}},
      {IDC_EXTRACT_ON_LAUNCH, u8"ロムファイルを解凍する", {20, 140, 100, 10}},
      {IDC_EXTRACT_FOLDER_LABEL, u8"解凍先のフォルダ", {20, 160, 70, 12}},
      {IDC_EXTRACT_FOLDER, nullptr, {20, 173, 180, 12}},
      {IDC_EXTRACT_FOLDER_BROWSE, u8"参照", {210, 173, 30, 14}},
      {IDOK, "OK", {53, 210, 50, 14}},
      {IDCANCEL, u8"キャンセル", {156, 210, 50, 14}},
  };
  std::string picture = BinFolder() + "..\\screenshots\\";
  CreateDirectoryA(picture.c_str(), nullptr);
  picture += "settings_dialog.bmp";
  DeleteFileA(picture.c_str());
  bool captured = false;
  int colours = 0;
  int ticks = 0;
  auto checkLayout = [&](HWND dialog) {
    RECT client = {}, expected = {0, 0, 260, 235};
    GetClientRect(dialog, &client);
    MapDialogRect(dialog, &expected);
    EXPECT_EQ(client.right, expected.right);
    EXPECT_EQ(client.bottom, expected.bottom);
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const Control& c : controls) {
      SCOPED_TRACE(c.id);
      ASSERT_NE(child, nullptr);
      EXPECT_EQ(GetDlgCtrlID(child), c.id) << "tab order";
      std::string text = c.textUtf8 != nullptr ? Cp932(c.textUtf8) : data;
      EXPECT_EQ(TextOf(child), text);
      // Position and size are converted separately, as the system places controls.
      RECT place = c.units;
      MapDialogRect(dialog, &place);
      RECT actual = {};
      GetWindowRect(child, &actual);
      MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
      EXPECT_EQ(actual.left, place.left);
      EXPECT_EQ(actual.top, place.top);
      EXPECT_EQ(actual.right - actual.left, place.right);
      // A drop-down list's template height is that of its opened list.
      if (c.id != IDC_DEPTH) {
        EXPECT_EQ(actual.bottom - actual.top, place.bottom);
      }
      child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "more controls than the template's sixteen";
  };
  auto photograph = [&](HWND active) {
    // Let the dialog finish painting before it is photographed.
    if (++ticks < 10) return false;
    captured = CaptureWindowBmp(active, picture, true, &colours);
    PostClick(active, IDCANCEL);
    return true;
  };
  DialogRun run = RunSettingsDialog({WhenSettingsActive(checkLayout), photograph});
  EXPECT_TRUE(run.Complete());
  EXPECT_TRUE(captured) << picture;
  // Text, frames and controls give a picture of many colours, not a blank.
  EXPECT_GT(colours, 8);
}

}  // namespace
