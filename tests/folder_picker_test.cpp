// The settings dialog's two "参照" buttons: the shell's folder browser, where it
// starts, and what a choice changes.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <functional>
#include <string>
#include <vector>

#include "base/text.h"
#include "resources/resource.h"
#include "support/host_double.h"
#include "support/settings_steps.h"

namespace {

const char* const kRomCaption = u8"ロムフォルダ選択";
const char* const kExtractCaption = u8"解凍先のフォルダ選択";

// A fresh folder directly below C:\. Wine's browser, asked to select a path
// below the user's profile folder (where the temporary folder lies), now and
// then stops at the profile folder itself; below C:\ it always gets there.
std::string MakePickerFolder() {
  static int counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path =
        "C:\\cv_picker_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter) + "\\";
    if (CreateDirectoryA(path.c_str(), nullptr)) return path;
  }
  return std::string();
}

class FolderPicker : public ::testing::Test {
 protected:
  void SetUp() override {
    data = MakePickerFolder();
    ASSERT_FALSE(data.empty());
    ASSERT_EQ(StartLinkedPlugin(data), 0);
    for (const char* name : {"a", "b", "c", "d"}) {
      folders.push_back(data + name + "\\");
      ASSERT_TRUE(CreateDirectoryA(folders.back().c_str(), nullptr));
    }
    HostOpen();
    HostAddCombo("NES", 150);
  }
  void TearDown() override {
    StopDriving();
    HostClose();
    RemoveTree(data);
  }
  // The folders each picker last chose, kept in Setting.ini across a restart.
  void Remember(std::string rom, std::string extract) {
    rom.resize(260, '\0');
    extract.resize(260, '\0');
    ASSERT_TRUE(WriteBytes(data + "Setting.ini", rom + extract));
    ASSERT_EQ(StartLinkedPlugin(data), 0);
  }
  // The folders remembered, as Setting.ini holds them once the host closes the plug-in.
  std::vector<std::string> Remembered() {
    EXPECT_EQ(closePlugin(), 0);
    std::string records = ReadBytes(data + "Setting.ini") + std::string(520, '\0');
    return {records.c_str(), records.c_str() + 260};
  }
  std::string data;
  std::vector<std::string> folders;  // a\ b\ c\ d\ below data
};

// Browser steps: accept whatever is selected, or choose a folder first.
DialogStep AcceptIn(const char* caption) {
  return WhenActive(caption, [](HWND browser) { PostClick(browser, IDOK); });
}

HTREEITEM TreeNext(HWND tree, UINT relation, HTREEITEM item) {
  return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

std::string TreeText(HWND tree, HTREEITEM item) {
  char text[kPathSize] = "";
  TVITEMA query = {};
  query.mask = TVIF_TEXT;
  query.hItem = item;
  query.pszText = text;
  query.cchTextMax = sizeof text;
  SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query));
  return text;
}

// Clicks a folder in the browser's tree as a user would: from the tree item of
// base (the current selection or one of its ancestors), down by the names
// that follow base in folder, or up by levels (1 = base's parent). Selecting
// by path (BFFM_SETSELECTIONA) is left to the code under test: Wine's browser
// now and then fails to find a folder by path once it has opened.
bool ClickInTree(HWND browser, const std::string& base, const std::string& folder, int levelsUp = 0) {
  HWND tree = FindWindowExA(browser, nullptr, "SysTreeView32", nullptr);
  std::string baseName = base.substr(0, base.size() - 1);
  baseName = baseName.substr(baseName.find_last_of('\\') + 1);
  HTREEITEM item = TreeNext(tree, TVGN_CARET, nullptr);
  while (item != nullptr && TreeText(tree, item) != baseName) item = TreeNext(tree, TVGN_PARENT, item);
  for (int up = 0; up < levelsUp && item != nullptr; ++up) item = TreeNext(tree, TVGN_PARENT, item);
  if (item == nullptr || folder.compare(0, base.size(), base) != 0) return false;
  std::string rest = folder.substr(base.size());
  while (!rest.empty()) {
    // By characters: the trail byte of "表" is 0x5C.
    size_t end = 0;
    while (end < rest.size() && rest[end] != '\\') end += IsDBCSLeadByte(static_cast<BYTE>(rest[end])) ? 2 : 1;
    std::string name = rest.substr(0, end);
    rest = end < rest.size() ? rest.substr(end + 1) : "";
    if (name.empty()) continue;
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    HTREEITEM child = TreeNext(tree, TVGN_CHILD, item);
    while (child != nullptr && TreeText(tree, child) != name) child = TreeNext(tree, TVGN_NEXT, child);
    if (child == nullptr) return false;
    item = child;
  }
  return SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)) != FALSE;
}

// Chooses folder (below base, the test's folder) and presses OK; *clicked
// tells whether the folder was found in the tree.
DialogStep ChooseIn(const char* caption, const std::string& base, const std::string& folder, bool* clicked,
                    int levelsUp = 0) {
  return WhenActive(caption, [=](HWND browser) {
    *clicked = ClickInTree(browser, base, folder, levelsUp);
    PostClick(browser, IDOK);
  });
}

std::string WithoutBackslash(const std::string& folder) { return folder.substr(0, folder.size() - 1); }

TEST_F(FolderPicker, StartsAtTheEditBoxFolderAndWritesTheChoiceToEditAndRememberedFolder) {
  Remember(folders[1], folders[3]);
  std::string prompt, edit;
  bool centred = false;
  DialogRun run = RunSettingsDialog({
      WhenSettingsActive([&](HWND dialog) {
        SetItemText(dialog, IDC_ROM_FOLDER, WithoutBackslash(folders[0]));
        PostClick(dialog, IDC_ROM_FOLDER_BROWSE);
      }),
      WhenActive(kRomCaption,
                 [&](HWND browser) {
                   centred = IsCentredOnWorkArea(browser);
                   // The prompt stands above the tree in a static of its own.
                   for (HWND child = GetWindow(browser, GW_CHILD); child != nullptr;
                        child = GetWindow(child, GW_HWNDNEXT)) {
                     if (ClassOf(child) == "Static" && TextOf(child) == Cp932(u8"ロムフォルダを選択してください")) {
                       prompt = Utf8(TextOf(child));
                     }
                   }
                   PostClick(browser, IDOK);
                 }),
      WhenSettingsActive([&](HWND dialog) {
        edit = ItemText(dialog, IDC_ROM_FOLDER);
        PostClick(dialog, IDCANCEL);
      }),
  });
  ASSERT_TRUE(run.Complete()) << (run.unexpected.empty() ? "" : run.unexpected[0]);
  EXPECT_TRUE(centred);
  EXPECT_EQ(prompt, u8"ロムフォルダを選択してください");
  EXPECT_EQ(edit, folders[0]);
  // The profile changes only on OK in the settings dialog.
  EXPECT_EQ(SettingsAsShown().romFolder, "");
  EXPECT_FALSE(FileExists(data + "NES.fol"));
  // The remembered folder outlives the dialog's Cancel.
  EXPECT_EQ(Remembered(), (std::vector<std::string>{folders[0], folders[3]}));
}

TEST_F(FolderPicker, StartsAtTheRememberedFolderWhenTheEditBoxNamesNoFolder) {
  Remember(folders[1], folders[3]);
  ASSERT_TRUE(WriteBytes(data + "file.bin", "x"));
  std::vector<std::string> edits;
  auto typeAndBrowse = [](const std::string& typed) {
    return WhenSettingsActive([typed](HWND dialog) {
      SetItemText(dialog, IDC_ROM_FOLDER, typed);
      PostClick(dialog, IDC_ROM_FOLDER_BROWSE);
    });
  };
  auto keepEdit = [&](bool cancel) {
    return WhenSettingsActive([&edits, cancel](HWND dialog) {
      edits.push_back(ItemText(dialog, IDC_ROM_FOLDER));
      if (cancel) PostClick(dialog, IDCANCEL);
    });
  };
  DialogRun run = RunSettingsDialog({
      typeAndBrowse(""),
      AcceptIn(kRomCaption),
      keepEdit(false),
      typeAndBrowse(data + "missing"),
      AcceptIn(kRomCaption),
      keepEdit(false),
      // A file is no folder either.
      typeAndBrowse(data + "file.bin"),
      AcceptIn(kRomCaption),
      keepEdit(true),
  });
  ASSERT_TRUE(run.Complete()) << (run.unexpected.empty() ? "" : run.unexpected[0]);
  EXPECT_EQ(edits, std::vector<std::string>(3, folders[1]));
  EXPECT_EQ(Remembered(), (std::vector<std::string>{folders[1], folders[3]}));
}

TEST_F(FolderPicker, FirstUseStartsAtTheTemporaryDirectory) {
  std::string edit;
  DialogRun run = RunSettingsDialog({
      WhenSettingsActive([](HWND dialog) { PostClick(dialog, IDC_ROM_FOLDER_BROWSE); }),
      AcceptIn(kRomCaption),
      WhenSettingsActive([&](HWND dialog) {
        edit = ItemText(dialog, IDC_ROM_FOLDER);
        PostClick(dialog, IDCANCEL);
      }),
  });
  ASSERT_TRUE(run.Complete()) << (run.unexpected.empty() ? "" : run.unexpected[0]);
  EXPECT_EQ(edit, data + "temp\\");
}

TEST_F(FolderPicker, ChosenFoldersEndInExactlyOneBackslash) {
  // "表" ends in the byte 0x5C, which is no separator; a drive root already
  // ends with "\".
  std::string table = data + Cp932(u8"表");
  ASSERT_TRUE(CreateDirectoryA(table.c_str(), nullptr));
  std::vector<std::string> edits;
  bool clicked[3] = {};
  auto browseAndChoose = [&](const std::string& folder, bool* found, int levelsUp) {
    return std::vector<DialogStep>{
        WhenSettingsActive([](HWND dialog) { PostClick(dialog, IDC_ROM_FOLDER_BROWSE); }),
        ChooseIn(kRomCaption, data, folder, found, levelsUp),
        WhenSettingsActive([&edits](HWND dialog) { edits.push_back(ItemText(dialog, IDC_ROM_FOLDER)); }),
    };
  };
  std::vector<DialogStep> steps;
  for (auto part :
       {browseAndChoose(WithoutBackslash(folders[2]), &clicked[0], 0), browseAndChoose(table, &clicked[1], 0),
        browseAndChoose(data, &clicked[2], 1)}) {  // the drive that holds data
    steps.insert(steps.end(), part.begin(), part.end());
  }
  steps.push_back(WhenSettingsActive([](HWND dialog) { PostClick(dialog, IDCANCEL); }));
  DialogRun run = RunSettingsDialog(steps);
  ASSERT_TRUE(run.Complete()) << (run.unexpected.empty() ? "" : run.unexpected[0]);
  EXPECT_TRUE(clicked[0] && clicked[1] && clicked[2]);
  EXPECT_EQ(edits, (std::vector<std::string>{folders[2], table + "\\", "C:\\"}));
  EXPECT_EQ(Remembered()[0], "C:\\");
}

TEST_F(FolderPicker, CancelInTheBrowserChangesNothing) {
  Remember(folders[1], folders[3]);
  std::string edit;
  bool clicked = false;
  DialogRun run = RunSettingsDialog({
      WhenSettingsActive([&](HWND dialog) {
        SetItemText(dialog, IDC_ROM_FOLDER, "typed");
        PostClick(dialog, IDC_ROM_FOLDER_BROWSE);
      }),
      WhenActive(kRomCaption,
                 [&](HWND browser) {
                   clicked = ClickInTree(browser, data, folders[2]);
                   PostClick(browser, IDCANCEL);
                 }),
      WhenSettingsActive([&](HWND dialog) {
        edit = ItemText(dialog, IDC_ROM_FOLDER);
        PostClick(dialog, IDCANCEL);
      }),
  });
  ASSERT_TRUE(run.Complete()) << (run.unexpected.empty() ? "" : run.unexpected[0]);
  EXPECT_TRUE(clicked);
  EXPECT_EQ(edit, "typed");
  EXPECT_EQ(Remembered(), (std::vector<std::string>{folders[1], folders[3]}));
}

TEST_F(FolderPicker, EachButtonUsesAndUpdatesOnlyItsOwnRememberedFolder) {
  // Extraction on, so that its button is enabled, into the data directory.
  ASSERT_TRUE(WriteBytes(data + "NES.fol", ProfileFileBytes(16, "", 0, 1, data)));
  Remember(folders[0], folders[1]);
  std::string startedAt, romEdit, extractEdit, prompt;
  bool clicked = false;
  DialogRun run = RunSettingsDialog({
      WhenSettingsActive([](HWND dialog) { PostClick(dialog, IDC_EXTRACT_FOLDER_BROWSE); }),
      AcceptIn(kExtractCaption),
      WhenSettingsActive([&](HWND dialog) {
        startedAt = ItemText(dialog, IDC_EXTRACT_FOLDER);
        SetItemText(dialog, IDC_EXTRACT_FOLDER, "");
        PostClick(dialog, IDC_EXTRACT_FOLDER_BROWSE);
      }),
      WhenActive(kExtractCaption,
                 [&](HWND browser) {
                   HWND child =
                       FindWindowExA(browser, nullptr, "Static", Cp932(u8"解凍先のフォルダを選択してください").c_str());
                   if (child != nullptr) prompt = Utf8(TextOf(child));
                   clicked = ClickInTree(browser, data, folders[2]);
                   PostClick(browser, IDOK);
                 }),
      WhenSettingsActive([&](HWND dialog) {
        romEdit = ItemText(dialog, IDC_ROM_FOLDER);
        extractEdit = ItemText(dialog, IDC_EXTRACT_FOLDER);
        PostClick(dialog, IDCANCEL);
      }),
  });
  ASSERT_TRUE(run.Complete()) << (run.unexpected.empty() ? "" : run.unexpected[0]);
  // The profile's extraction folder (dataDir) is a folder, so the first run
  // started there, not at either remembered folder.
  EXPECT_EQ(startedAt, data);
  EXPECT_TRUE(clicked);
  EXPECT_EQ(prompt, u8"解凍先のフォルダを選択してください");
  EXPECT_EQ(extractEdit, folders[2]);
  EXPECT_EQ(romEdit, "");
  EXPECT_EQ(Remembered(), (std::vector<std::string>{folders[0], folders[2]}));
}

TEST_F(FolderPicker, ChoiceWithoutAUsablePathChangesNothing) {
  std::string longest = MakeFolderOf259Bytes(data);
  ASSERT_EQ(longest.size(), 259u);
  Remember(folders[1], folders[3]);
  std::vector<std::string> edits;
  bool clicked[2] = {};
  DialogRun run = RunSettingsDialog({
      WhenSettingsActive([&](HWND dialog) {
        SetItemText(dialog, IDC_ROM_FOLDER, folders[0]);
        PostClick(dialog, IDC_ROM_FOLDER_BROWSE);
      }),
      // A 259-byte folder has no room for its final "\".
      ChooseIn(kRomCaption, data, longest, &clicked[0]),
      WhenSettingsActive([&](HWND dialog) {
        edits.push_back(ItemText(dialog, IDC_ROM_FOLDER));
        PostClick(dialog, IDC_ROM_FOLDER_BROWSE);
      }),
      // "My Computer", above the drive, has no file-system path. Its OK button
      // is disabled; the posted command stands in for any item whose path
      // cannot be obtained.
      ChooseIn(kRomCaption, data, data, &clicked[1], 2),
      WhenSettingsActive([&](HWND dialog) {
        edits.push_back(ItemText(dialog, IDC_ROM_FOLDER));
        PostClick(dialog, IDCANCEL);
      }),
  });
  ASSERT_TRUE(run.Complete()) << (run.unexpected.empty() ? "" : run.unexpected[0]);
  EXPECT_TRUE(clicked[0] && clicked[1]);
  EXPECT_EQ(edits, std::vector<std::string>(2, folders[0]));
  EXPECT_EQ(Remembered(), (std::vector<std::string>{folders[1], folders[3]}));
}

// Runs work on a thread of its own and waits for it: a thread with no COM yet.
DWORD WINAPI RunWork(LPVOID param) {
  (*static_cast<std::function<void()>*>(param))();
  return 0;
}

void RunOnFreshThread(std::function<void()> work) {
  HANDLE thread = CreateThread(nullptr, 0, RunWork, &work, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

// The host's thread keeps the COM it had: none (a host may choose either kind
// afterwards), a single-threaded apartment whose count is left balanced, or a
// multithreaded one, in which the picker's own CoInitialize fails and must not
// be answered by a CoUninitialize.
TEST_F(FolderPicker, HostThreadKeepsItsComAsItWas) {
  HostClose();  // each thread below opens a host window of its own
  enum Start { kNone, kSingle, kMulti };
  for (Start start : {kNone, kSingle, kMulti}) {
    std::string edit;
    bool clicked = false;
    bool complete = false;
    HRESULT afterMulti = E_FAIL, afterSingle = E_FAIL;
    RunOnFreshThread([&] {
      if (start == kSingle) CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      if (start == kMulti) CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      HostOpen();
      HostAddCombo("NES", 150);
      DialogRun run = RunSettingsDialog({
          WhenSettingsActive([](HWND dialog) { PostClick(dialog, IDC_ROM_FOLDER_BROWSE); }),
          ChooseIn(kRomCaption, data, folders[2], &clicked),
          WhenSettingsActive([&](HWND dialog) {
            edit = ItemText(dialog, IDC_ROM_FOLDER);
            PostClick(dialog, IDCANCEL);
          }),
      });
      complete = run.Complete();
      HostClose();
      // Give back what the test itself took; then the thread must be bare.
      if (start != kNone) CoUninitialize();
      afterMulti = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      if (SUCCEEDED(afterMulti)) CoUninitialize();
      afterSingle = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      if (SUCCEEDED(afterSingle)) CoUninitialize();
    });
    EXPECT_TRUE(complete) << start;
    EXPECT_TRUE(clicked) << start;
    EXPECT_EQ(edit, folders[2]) << start;
    EXPECT_EQ(afterMulti, S_OK) << start;
    EXPECT_EQ(afterSingle, S_OK) << start;
  }
}

}  // namespace
