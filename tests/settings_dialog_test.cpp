// The settings dialog as the host's menu entry 0 opens it: what it shows, what
// OK accepts, refuses and saves, and the extraction controls.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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
    data = MakeScratchFolder("settings");
    ASSERT_FALSE(data.empty());
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
  bool labelOn = false, editOn = false, buttonOn = false;
  bool centred = false;
  DialogRun run = RunSettingsDialog({WhenSettingsActive([&](HWND dialog) {
    HWND combo = GetDlgItem(dialog, IDC_DEPTH);
    for (LRESULT i = 0; i < SendMessageA(combo, CB_GETCOUNT, 0, 0); ++i) {
      char text[64] = "";
      SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
      choices.push_back(Utf8(text));
    }
    labelOn = IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT_FOLDER_LABEL));
    editOn = IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT_FOLDER));
    buttonOn = IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT_FOLDER_BROWSE));
    centred = IsCentredOnWorkArea(dialog);
    PostClick(dialog, IDCANCEL);
  })});
  ASSERT_TRUE(run.Complete());
  std::vector<std::string> expected = {u8"指定なし", u8"全て",    u8"第1階層", u8"第2階層", u8"第3階層", u8"第4階層",
                                       u8"第5階層",  u8"第6階層", u8"第7階層", u8"第8階層", u8"第9階層", u8"第10階層"};
  EXPECT_EQ(choices, expected);
  // Any non-zero flag means on.
  EXPECT_EQ(SettingsAsShown(), (ShownSettings{"-7", roms, 3, true, extract}));
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
  const Case accepted[] = {{"1024", 1024}, {"0", 0},   {"16abc", 16}, {"", 0},
                           {"abc", 0},     {" +7", 7}, {"0016", 16},  {"00000000000000000000512", 512}};
  for (const Case& c : accepted) {
    SCOPED_TRACE(c.typed);
    DeleteFileA(profilePath.c_str());
    AcceptWith([&](HWND dialog) { FillValid(dialog, c.typed, roms); });
    ProfileFields saved = ReadProfileFile(profilePath);
    EXPECT_EQ(saved.size, 532u);
    EXPECT_EQ(saved.headerSize, c.saved);
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
  EXPECT_FALSE(FileExists(profilePath));
  // With no profile file, the next opening shows the refused values.
  EXPECT_EQ(SettingsAsShown(), (ShownSettings{"1025", elsewhere, 4, true, "X"}));
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

// What a user sees of a control: where it stands in the dialog's client area
// and, for a label, how wide and tall its text is in the control's own font.
struct ShownControl {
  int id;
  std::string className;
  LONG style;
  RECT place;       // in the dialog's client coordinates
  SIZE textExtent;  // {0, 0} without text
  int roomForText;  // client width left for the text, past a check box or button edge
  int clientHeight;
};

ShownControl Shown(HWND dialog, HWND child) {
  ShownControl shown = {};
  shown.id = GetDlgCtrlID(child);
  shown.className = ClassOf(child);
  shown.style = GetWindowLongA(child, GWL_STYLE);
  GetWindowRect(child, &shown.place);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&shown.place), 2);
  RECT client = {};
  GetClientRect(child, &client);
  shown.clientHeight = client.bottom;
  shown.roomForText = client.right;
  LONG kind = shown.style & BS_TYPEMASK;
  if (_stricmp(shown.className.c_str(), "Button") == 0) {
    // A check box's text starts past its box; a push button's inside its 3-D edges.
    if (kind == BS_AUTOCHECKBOX || kind == BS_CHECKBOX) {
      shown.roomForText -= GetSystemMetrics(SM_CXMENUCHECK) + GetSystemMetrics(SM_CXEDGE);
    } else if (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON) {
      shown.roomForText -= 2 * GetSystemMetrics(SM_CXEDGE);
    }
  }
  std::string text = TextOf(child);
  HDC dc = GetDC(child);
  HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(child, WM_GETFONT, 0, 0)));
  if (!text.empty()) GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &shown.textExtent);
  SelectObject(dc, previous);
  ReleaseDC(child, dc);
  return shown;
}

bool IsGroupBox(const ShownControl& c) {
  return _stricmp(c.className.c_str(), "Button") == 0 && (c.style & BS_TYPEMASK) == BS_GROUPBOX;
}

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

std::string Describe(const ShownControl& c) {
  char text[96];
  snprintf(text, sizeof text, "control %d (%s) at %ld,%ld-%ld,%ld", c.id, c.className.c_str(), c.place.left,
           c.place.top, c.place.right, c.place.bottom);
  return text;
}

// Every control with its text, in tab order, laid out so that a user can read
// it all: inside the client area, no two controls on top of each other (a
// group box holds whole controls or none), no label cut by its control; and a
// picture of the dialog for a person to look at (scripts/screenshot_settings.sh
// turns it into build/screenshots/settings_dialog.png).
TEST_F(SettingsDialog, EveryControlIsShownWholeInTabOrder) {
  std::string japaneseRoms = Cp932(u8"C:\\ロム\\ファミコン\\");
  ASSERT_TRUE(WriteBytes(profilePath, ProfileFileBytes(16, japaneseRoms, 1, 1, data)));
  struct Control {
    int id;
    const char* textUtf8;  // nullptr: filled from the profile
  };
  const Control controls[] = {
      {IDC_SETTING_ROM_GROUP, u8"ロムフォルダ(ヘッダ付)設定"},
      {IDC_HEADER_SIZE_LABEL, u8"ヘッダサイズ"},
      {IDC_HEADER_SIZE, "16"},
      {IDC_HEADER_SIZE_UNIT, u8"バイト"},
      {IDC_ROM_FOLDER_LABEL, u8"ロムフォルダ"},
      {IDC_ROM_FOLDER, u8"C:\\ロム\\ファミコン\\"},
      {IDC_ROM_FOLDER_BROWSE, u8"参照"},
      {IDC_DEPTH_LABEL, u8"サブフォルダ"},
      {IDC_DEPTH, u8"全て"},
      {IDC_EMULATOR_GROUP, u8"エミュレータ設定"},
      {IDC_EXTRACT_ON_LAUNCH, u8"ロムファイルを解凍する"},
      {IDC_EXTRACT_FOLDER_LABEL, u8"解凍先のフォルダ"},
      {IDC_EXTRACT_FOLDER, nullptr},
      {IDC_EXTRACT_FOLDER_BROWSE, u8"参照"},
      {IDOK, "OK"},
      {IDCANCEL, u8"キャンセル"},
  };
  std::string picture = BinFolder() + "..\\screenshots\\";
  CreateDirectoryA(picture.c_str(), nullptr);
  picture += "settings_dialog.bmp";
  DeleteFileA(picture.c_str());
  bool captured = false;
  int colours = 0;
  int ticks = 0;
  std::vector<ShownControl> shown;
  RECT client = {};
  auto checkControls = [&](HWND dialog) {
    GetClientRect(dialog, &client);
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const Control& c : controls) {
      SCOPED_TRACE(c.id);
      ASSERT_NE(child, nullptr);
      EXPECT_EQ(GetDlgCtrlID(child), c.id) << "tab order";
      std::string text = c.textUtf8 != nullptr ? Cp932(c.textUtf8) : data;
      EXPECT_EQ(TextOf(child), text);
      shown.push_back(Shown(dialog, child));
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
  DialogRun run = RunSettingsDialog({WhenSettingsActive(checkControls), photograph});
  EXPECT_TRUE(run.Complete());
  ASSERT_EQ(shown.size(), sizeof controls / sizeof controls[0]);

  for (size_t i = 0; i < shown.size(); ++i) {
    const ShownControl& c = shown[i];
    EXPECT_TRUE(Inside(c.place, client)) << Describe(c) << " leaves the client area";
    for (size_t j = i + 1; j < shown.size(); ++j) {
      const ShownControl& d = shown[j];
      RECT common = {};
      if (!IntersectRect(&common, &c.place, &d.place)) continue;
      bool held = (IsGroupBox(c) && !IsGroupBox(d) && Inside(d.place, c.place)) ||
                  (IsGroupBox(d) && !IsGroupBox(c) && Inside(c.place, d.place));
      EXPECT_TRUE(held) << Describe(c) << " overlaps " << Describe(d);
    }
    // Labels only: an edit's or a list's text is the user's, and scrolls.
    bool label = _stricmp(c.className.c_str(), "Static") == 0 || _stricmp(c.className.c_str(), "Button") == 0;
    if (label) {
      EXPECT_LE(c.textExtent.cx, c.roomForText) << Describe(c) << ": its text is cut";
      if (!IsGroupBox(c)) {
        EXPECT_LE(c.textExtent.cy, c.clientHeight) << Describe(c) << ": its text is cut";
      }
    }
  }

  EXPECT_TRUE(captured) << picture;
  // Text, frames and controls give a picture of many colours, not a blank.
  EXPECT_GT(colours, 8);
}

}  // namespace
