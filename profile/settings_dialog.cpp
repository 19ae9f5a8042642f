// The settings dialog: shows the current dataset's profile, checks the edited
// values and saves them to the dataset's profile file.
#include "profile/settings_dialog.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdint>
#include <cstring>

#include "base/state.h"
#include "base/window.h"
#include "base/texts.h"
#include "profile/folder_picker.h"
#include "profile/profile.h"
#include "resources/resource.h"

static constexpr uint32_t kMaxHeaderSize = 1024;

// Index = depthChoice.
static const char* const kDepthChoices[] = {
    kTextDepthNone, kTextDepthAll, kTextDepth1, kTextDepth2, kTextDepth3, kTextDepth4,
    kTextDepth5,    kTextDepth6,   kTextDepth7, kTextDepth8, kTextDepth9, kTextDepth10,
};
static constexpr int kDepthChoiceCount = sizeof kDepthChoices / sizeof kDepthChoices[0];

void FillDepthChoices(HWND dialog) {
  for (const char* choice : kDepthChoices) {
    SendDlgItemMessageA(dialog, IDC_DEPTH, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice));
  }
}

void ShowProfileInDialog(HWND dialog) {
  const DatasetProfile& profile = gState.profile;
  char number[16];
  FormatText(number, sizeof number, "%d", static_cast<int>(profile.headerSize));
  SetDlgItemTextA(dialog, IDC_HEADER_SIZE, number);
  SetDlgItemTextA(dialog, IDC_ROM_FOLDER, profile.romFolder);
  bool known = profile.depthChoice >= 0 && profile.depthChoice < kDepthChoiceCount;
  SendDlgItemMessageA(dialog, IDC_DEPTH, CB_SETCURSEL, known ? profile.depthChoice : -1, 0);
  CheckDlgButton(dialog, IDC_EXTRACT_ON_LAUNCH, profile.extractOnLaunch != 0 ? BST_CHECKED : BST_UNCHECKED);
  SetDlgItemTextA(dialog, IDC_EXTRACT_FOLDER, profile.extractFolder);
}

void UpdateExtractControls(HWND dialog) {
  BOOL on = SendDlgItemMessageA(dialog, IDC_EXTRACT_ON_LAUNCH, BM_GETCHECK, 0, 0) == BST_CHECKED;
  EnableWindow(GetDlgItem(dialog, IDC_EXTRACT_FOLDER_LABEL), on);
  EnableWindow(GetDlgItem(dialog, IDC_EXTRACT_FOLDER), on);
  EnableWindow(GetDlgItem(dialog, IDC_EXTRACT_FOLDER_BROWSE), on);
}

static bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The header size as atoi reads it (leading white space, an optional sign, the
// digits up to the first other character, 0 without digits), except that a
// value beyond 32 bits saturates instead of wrapping, so "4294967312" cannot
// pass as 16.
static int32_t ParseHeaderSize(const char* text) {
  const char* p = text;
  while (IsSpace(*p)) ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  int64_t magnitude = 0;
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > limit) return negative ? INT32_MIN : INT32_MAX;
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

// Reads a folder edit box into a profile field. False when the typed text does
// not fit the field, or leaves no room for the final "\": such a folder is
// refused rather than cut.
static bool ReadFolder(HWND dialog, int id, char* field, size_t size) {
  char typed[2 * kPathSize] = "";
  GetDlgItemTextA(dialog, id, typed, sizeof typed);
  bool fits = CopyText(field, size, typed);
  char withBackslash[kPathSize];
  return fits && CopyText(withBackslash, sizeof withBackslash, field) &&
         EnsureTrailingBackslash(withBackslash, sizeof withBackslash);
}

static void ShowRefusal(HWND dialog, const char* text) {
  MessageBoxA(dialog, text, nullptr, MB_OK | MB_ICONINFORMATION);
}

int AcceptSettings(HWND dialog) {
  // Every control goes into the profile before anything is checked, so a
  // refused value stays in force until the profile file is loaded again.
  DatasetProfile& profile = gState.profile;
  char headerText[kPathSize] = "";
  GetDlgItemTextA(dialog, IDC_HEADER_SIZE, headerText, sizeof headerText);
  profile.headerSize = ParseHeaderSize(headerText);
  bool romFolderFits = ReadFolder(dialog, IDC_ROM_FOLDER, profile.romFolder, sizeof profile.romFolder);
  profile.depthChoice = static_cast<int32_t>(SendDlgItemMessageA(dialog, IDC_DEPTH, CB_GETCURSEL, 0, 0));
  profile.extractOnLaunch = IsDlgButtonChecked(dialog, IDC_EXTRACT_ON_LAUNCH) == BST_CHECKED ? 1 : 0;
  bool extractFolderFits = ReadFolder(dialog, IDC_EXTRACT_FOLDER, profile.extractFolder, sizeof profile.extractFolder);

  // Compared unsigned, so every negative size fails as well.
  if (static_cast<uint32_t>(profile.headerSize) > kMaxHeaderSize) {
    ShowRefusal(dialog, kTextBadHeaderSize);
    return -1;
  }
  if (!romFolderFits || !PathIsDirectoryA(profile.romFolder)) {
    ShowRefusal(dialog, kTextBadRomFolder);
    return -1;
  }
  // The extraction folder need only exist when extraction is on, but it is
  // saved in either case and must not be saved cut or without its "\".
  if (!extractFolderFits || (profile.extractOnLaunch == 1 && !PathIsDirectoryA(profile.extractFolder))) {
    ShowRefusal(dialog, kTextBadExtractFolder);
    return -1;
  }

  EnsureTrailingBackslash(profile.romFolder, sizeof profile.romFolder);
  EnsureTrailingBackslash(profile.extractFolder, sizeof profile.extractFolder);
  if (SaveDatasetProfile() != 0) {
    // Not saved is not accepted: the user keeps the dialog to retry or cancel.
    char path[kPathSize];
    if (!DatasetFilePath(path, sizeof path, ".fol")) {
      FormatText(path, sizeof path, "%s%s.fol", gState.dataDir, gState.datasetName);
    }
    char text[2 * kPathSize];
    FormatText(text, sizeof text, kTextProfileNotSaved, path);
    ShowRefusal(dialog, text);
    return -1;
  }
  return 0;
}

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      CenterOnWorkArea(dialog);
      FillDepthChoices(dialog);
      ShowProfileInDialog(dialog);
      UpdateExtractControls(dialog);
      // The system then focuses the first tab stop, the header size.
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_ROM_FOLDER_BROWSE:
          PickFolder(dialog, kTextPickRomPrompt, kTextPickRomCaption, gState.lastRomBrowseFolder, IDC_ROM_FOLDER);
          break;
        case IDC_EXTRACT_ON_LAUNCH:
          if (HIWORD(wParam) == BN_CLICKED) UpdateExtractControls(dialog);
          break;
        case IDC_EXTRACT_FOLDER_BROWSE:
          PickFolder(dialog, kTextPickExtractPrompt, kTextPickExtractCaption, gState.lastExtractBrowseFolder,
                     IDC_EXTRACT_FOLDER);
          break;
        case IDOK:
          if (AcceptSettings(dialog) == 0) EndDialog(dialog, IDOK);
          break;
        case IDCANCEL:
          EndDialog(dialog, IDCANCEL);
          break;
        default:
          break;
      }
      return FALSE;
    default:
      break;
  }
  return FALSE;
}
