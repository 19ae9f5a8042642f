// The add-ROMs run. A 1 ms timer drives it in small steps so that the modal
// dialog stays responsive: phase 1 collects the folders and counts their
// files, phase 2 handles one directory entry per tick, phase 3 ends the dialog.
#include "registration/scan_dialog.h"

#include <windows.h>
#include <commctrl.h>

#include "base/state.h"
#include "base/window.h"
#include "base/texts.h"
#include "profile/profile.h"
#include "registration/folders.h"
#include "registration/register_file.h"
#include "resources/resource.h"

RegistrationScan gScan;

static constexpr UINT kScanTimerPeriodMs = 1;
static constexpr int kProgressRange = 1000;
static constexpr INT_PTR kScanDialogResult = IDCANCEL;
// An archive that cannot be opened or closed is offered this many more times,
// on later ticks, before the run passes over it.
static constexpr int32_t kFailedRetries = 3;

static void StartTimer(HWND dialog) { SetTimer(dialog, IDT_SCAN, kScanTimerPeriodMs, nullptr); }
static void StopTimer(HWND dialog) { KillTimer(dialog, IDT_SCAN); }

static bool IsDirectory(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

static void CloseFolderSearch() {
  if (gScan.folderSearch != INVALID_HANDLE_VALUE && gScan.folderSearch != nullptr) FindClose(gScan.folderSearch);
  gScan.folderSearch = INVALID_HANDLE_VALUE;
  gScan.folderUnlisted = false;
}

// Releases everything the run holds; harmless when it holds nothing.
static void ReleaseRun() {
  CloseFolderSearch();
  ReleaseFolderList();
  if (gScan.relationStream != nullptr) fclose(gScan.relationStream);
  gScan.relationStream = nullptr;
  gScan.scanPhase = 0;
}

static void EndRun(HWND dialog) {
  StopTimer(dialog);
  ReleaseRun();
  EndDialog(dialog, kScanDialogResult);
}

// "processed/total(percent%)" and the bar. With no files counted nothing is
// divided; files that appeared after the count never push the bar past its end.
static void ShowProgress(HWND dialog) {
  int64_t processed = gScan.processedFiles;
  int64_t total = gScan.totalFiles;
  int percent = total > 0 ? static_cast<int>(processed * 100 / total) : 0;
  int64_t position = total > 0 ? processed * kProgressRange / total : 0;
  if (position > kProgressRange) position = kProgressRange;
  char counter[64];
  FormatText(counter, sizeof counter, "%5d/%5d(%2d%%)", static_cast<int>(processed), static_cast<int>(total),
             percent);
  SetDlgItemTextA(dialog, IDC_SCAN_COUNTER, counter);
  SendDlgItemMessageA(dialog, IDC_SCAN_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

// Files (entries without the directory attribute) in every listed folder.
static int32_t CountFiles() {
  int32_t files = 0;
  for (int32_t i = 0; i < gFolders.count; ++i) {
    char pattern[kPathSize];
    if (!FormatText(pattern, sizeof pattern, "%s*.*", gFolders.entries[i])) continue;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) continue;
    do {
      if (!IsDirectory(entry)) ++files;
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  return files;
}

// Opens the relation file for the run, created or truncated. When it cannot be
// opened the run ends before anything is registered: a ROM the host knows
// without a relation line could never be launched.
static bool OpenRelationFile(HWND dialog) {
  char path[kPathSize];
  bool named = DatasetFilePath(path, sizeof path, ".rel");
  gScan.relationStream = named ? fopen(path, "w") : nullptr;
  if (gScan.relationStream != nullptr) return true;
  char shown[2 * kPathSize];
  if (named) {
    CopyText(shown, sizeof shown, path);
  } else {
    FormatText(shown, sizeof shown, "%s%s.rel", gState.dataDir, gState.datasetName);
  }
  char message[3 * kPathSize];
  FormatText(message, sizeof message, kTextRelationNotOpened, shown);
  StopTimer(dialog);
  MessageBoxA(dialog, message, nullptr, MB_OK | MB_ICONINFORMATION);
  return false;
}

static void CollectAndCount(HWND dialog) {
  SetDlgItemTextA(dialog, IDC_SCAN_STATUS, kTextSearchingRoms);
  // Without its list the run has nothing to do.
  if (!BuildFolderList(gState.profile.romFolder, gState.profile.depthChoice)) {
    EndRun(dialog);
    return;
  }
  gScan.totalFiles = CountFiles();
  gScan.scanPhase = 2;
  if (!OpenRelationFile(dialog)) {
    EndRun(dialog);
    return;
  }
  // A root too long to be an entry leaves the list empty.
  if (gFolders.count == 0) gScan.scanPhase = 3;
}

static void ConfirmCancel(HWND dialog);

static void ProcessCurrentEntry(HWND dialog) {
  // No tick may start while the file is in hand, even if the host callback or
  // the archiver runs a message loop.
  StopTimer(dialog);
  gScan.fileInHand = true;
  int32_t result = RegisterRomFile(gFolders.entries[gScan.folderIndex], dialog, &gScan.currentEntry);
  gScan.fileInHand = false;
  if (!IsWindow(dialog)) {
    ReleaseRun();
    return;
  }
  if (result == 0) ++gScan.processedFiles;
  if (result == -1) {
    if (++gScan.failedAttempts > kFailedRetries) result = kRegisterPassedOver;
  }
  if (result != -1) gScan.failedAttempts = 0;
  gScan.lastResult = result;
  StartTimer(dialog);
  ShowProgress(dialog);
  if (gScan.cancelRequested) {
    gScan.cancelRequested = false;
    ConfirmCancel(dialog);
  }
}

// -1 (archive not openable, within its retries) and -2 (archiver busy) offer
// the same entry again; every other result moves on.
static bool RetriesCurrentEntry() { return gScan.lastResult == -1 || gScan.lastResult == -2; }

// One directory entry of the current folder per tick.
static void ProcessNextEntry(HWND dialog) {
  bool searching = gScan.folderSearch != INVALID_HANDLE_VALUE;
  if (!searching && !gScan.folderUnlisted) {
    const char* folder = gFolders.entries[gScan.folderIndex];
    SetDlgItemTextA(dialog, IDC_SCAN_STATUS, folder);
    gScan.lastResult = 0;
    gScan.failedAttempts = 0;
    char pattern[kPathSize];
    if (FormatText(pattern, sizeof pattern, "%s*.*", folder)) {
      gScan.folderSearch = FindFirstFileA(pattern, &gScan.currentEntry);
    }
    // A folder that cannot be listed is passed over on the next tick.
    if (gScan.folderSearch == INVALID_HANDLE_VALUE) {
      gScan.folderUnlisted = true;
      return;
    }
    if (!IsDirectory(gScan.currentEntry)) ProcessCurrentEntry(dialog);
    return;
  }
  if (searching && RetriesCurrentEntry()) {
    ProcessCurrentEntry(dialog);
    return;
  }
  if (searching && FindNextFileA(gScan.folderSearch, &gScan.currentEntry)) {
    if (IsDirectory(gScan.currentEntry)) {
      ShowProgress(dialog);
    } else {
      ProcessCurrentEntry(dialog);
    }
    return;
  }
  // The folder is exhausted (or unlisted): its end takes this tick.
  CloseFolderSearch();
  if (++gScan.folderIndex >= gFolders.count) gScan.scanPhase = 3;
  ShowProgress(dialog);
}

static void FinishScan(HWND dialog) { EndRun(dialog); }

static void ScanTick(HWND dialog) {
  if (gScan.fileInHand) return;
  switch (gScan.scanPhase) {
    case 1:
      CollectAndCount(dialog);
      break;
    case 2:
      ProcessNextEntry(dialog);
      break;
    case 3:
      FinishScan(dialog);
      break;
    default:
      StopTimer(dialog);
      break;
  }
}

// The run stands still while the question is shown; declining resumes it where
// it stood, confirming keeps the relation lines written so far.
static void ConfirmCancel(HWND dialog) {
  if (gScan.scanPhase == 0) return;
  StopTimer(dialog);
  int answer = MessageBoxA(dialog, kTextCancelQuestion, kTextCancelCaption, MB_OKCANCEL);
  if (answer == IDCANCEL) {
    StartTimer(dialog);
    return;
  }
  EndRun(dialog);
}

static void StartScan(HWND dialog) {
  CenterOnWorkArea(dialog);
  gScan = RegistrationScan();
  gScan.folderSearch = INVALID_HANDLE_VALUE;
  gScan.scanPhase = 1;
  SendDlgItemMessageA(dialog, IDC_SCAN_PROGRESS, PBM_SETRANGE32, 0, kProgressRange);
  StartTimer(dialog);
}

INT_PTR CALLBACK RegistrationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      StartScan(dialog);
      return TRUE;
    case WM_TIMER:
      if (wParam != IDT_SCAN) return FALSE;
      ScanTick(dialog);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) != IDCANCEL) return FALSE;
      // Cancel pressed inside a message loop of the host or the archiver is
      // answered once the file in hand is done, never under its feet.
      if (gScan.fileInHand) {
        gScan.cancelRequested = true;
      } else {
        ConfirmCancel(dialog);
      }
      return TRUE;
    case WM_DESTROY:
      // Ended by anything else than the run itself: release what it holds.
      StopTimer(dialog);
      if (!gScan.fileInHand) ReleaseRun();
      return FALSE;
    default:
      return FALSE;
  }
}
