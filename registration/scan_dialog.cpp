// The add-ROMs run. A timer drives it in slices of a few tens of milliseconds
// so that the modal dialog stays responsive: phase 1 lists the folders and
// counts their files, phase 2 registers them, phase 3 ends the dialog. The
// timer asks for 1 ms; the system gives 10 ms at best, so a tick does as much
// as a slice allows rather than one entry.
#include "registration/scan_dialog.h"

#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>

#include "base/state.h"
#include "base/texts.h"
#include "base/window.h"
#include "registration/folders.h"
#include "registration/skip_list.h"
#include "resources/resource.h"

RegistrationScan gScan;

static constexpr UINT kScanTimerPeriodMs = 1;
static constexpr int kProgressRange = 1000;
static constexpr INT_PTR kScanDialogResult = IDCANCEL;
// An archive that cannot be opened or closed is offered this many more times,
// on later ticks, before the run passes over it.
static constexpr int32_t kFailedRetries = 3;
// Long enough that what comes between two slices (the progress, a repaint,
// the host's own messages) costs little, short enough that the dialog and the
// host answer well within a twentieth of a second.
static constexpr int32_t kDefaultSliceMs = 25;
// Directory entries the folder walk takes between two looks at the clock.
static constexpr int32_t kWalkStep = 16;

// The shortest period the system gives a timer, whatever is asked for.
static constexpr int32_t kTimerFloorMs = 10;

static int32_t sliceMs = kDefaultSliceMs;

void SetScanSliceMs(int32_t milliseconds) { sliceMs = milliseconds < 0 ? kDefaultSliceMs : milliseconds; }

static void StartTimer(HWND dialog) { SetTimer(dialog, IDT_SCAN, kScanTimerPeriodMs, nullptr); }
static void StopTimer(HWND dialog) { KillTimer(dialog, IDT_SCAN); }

// A monotonic clock for the slices, in performance-counter ticks.
struct SliceClock {
  LONGLONG start;
  LONGLONG perMs;
  bool timerArmed;
};

static LONGLONG Ticks() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

static SliceClock StartSlice() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  SliceClock clock = {Ticks(), frequency.QuadPart / 1000, false};
  if (clock.perMs <= 0) clock.perMs = 1;
  return clock;
}

// The slice is over when its time is up or the user is waiting for an answer.
// The timer is armed again once the slice is within the timer's floor of its
// end, so that the next tick follows the slice's end instead of waiting a
// whole floor after it; a tick that comes while the slice still works finds
// it busy and does nothing.
static bool SliceIsOver(HWND dialog, SliceClock* clock) {
  if (sliceMs == 0) return true;
  LONGLONG now = Ticks();
  LONGLONG elapsedMs = (now - clock->start) / clock->perMs;
  if (elapsedMs >= sliceMs) return true;
  if (!clock->timerArmed && elapsedMs >= sliceMs - kTimerFloorMs) {
    StartTimer(dialog);
    clock->timerArmed = true;
  }
  // Input, or a command posted to the dialog (a click the host relays), ends
  // the slice, so that a Cancel is answered once the file in hand is done.
  return HIWORD(GetQueueStatus(QS_INPUT | QS_POSTMESSAGE)) != 0;
}

static bool IsDirectory(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

static void CloseFolderSearch() {
  if (gScan.folderSearch != INVALID_HANDLE_VALUE && gScan.folderSearch != nullptr) FindClose(gScan.folderSearch);
  gScan.folderSearch = INVALID_HANDLE_VALUE;
}

// Releases everything the run holds; harmless when it holds nothing. Lines not
// yet put in place are dropped: the previous relation file stays.
static void ReleaseRun() {
  CloseFolderSearch();
  ReleaseFolderList();
  DiscardRelationFile(&gScan.relation);
  ClearSkipped();
  gScan.scanPhase = kPhaseIdle;
}

static void ShowRelationMessage(HWND dialog, const char* format) {
  char message[3 * kPathSize];
  FormatText(message, sizeof message, format, gScan.relation.path);
  MessageBoxA(dialog, message, nullptr, MB_OK | MB_ICONINFORMATION);
}

// Ends a run that has got nowhere it should keep: nothing is put in place.
static void AbortRun(HWND dialog) {
  StopTimer(dialog);
  ReleaseRun();
  EndDialog(dialog, kScanDialogResult);
}

// Ends a complete or cancelled run: its lines, with the earlier ones it did not
// replace, become the relation file, and what it passed over is reported.
static void FinishRun(HWND dialog) {
  StopTimer(dialog);
  gScan.scanPhase = kPhaseIdle;
  CloseFolderSearch();
  ReleaseFolderList();
  if (CommitRelationFile(&gScan.relation)) {
    ReportSkipped(dialog);
  } else {
    ShowRelationMessage(dialog, kTextRelationNotWritten);
  }
  ReleaseRun();
  EndDialog(dialog, kScanDialogResult);
}

// "processed/total(percent%)" and the bar. With no files counted nothing is
// divided; files that appeared after the count never push either past its end.
static void ShowProgress(HWND dialog) {
  int64_t processed = gScan.processedFiles;
  int64_t total = gScan.totalFiles;
  int64_t percent = total > 0 ? processed * 100 / total : 0;
  int64_t position = total > 0 ? processed * kProgressRange / total : 0;
  if (percent > 100) percent = 100;
  if (position > kProgressRange) position = kProgressRange;
  char counter[64];
  FormatText(counter, sizeof counter, "%5d/%5d(%2d%%)", static_cast<int>(processed), static_cast<int>(total),
             static_cast<int>(percent));
  SetDlgItemTextA(dialog, IDC_SCAN_COUNTER, counter);
  SendDlgItemMessageA(dialog, IDC_SCAN_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

// Without a temporary folder no copy can be made: say so rather than pass over
// every file in silence.
static bool TempFolderReady(HWND dialog) {
  if (PathIsDirectoryA(gState.tempDir)) return true;
  char message[3 * kPathSize];
  FormatText(message, sizeof message, kTextTempDirNotMade, gState.tempDir);
  MessageBoxA(dialog, message, nullptr, MB_OK | MB_ICONINFORMATION);
  return false;
}

// Opens the run's relation file. When it cannot be opened the run ends before
// anything is registered: a ROM the host knows without a relation line could
// never be launched.
static bool StartRelationFile(HWND dialog) {
  if (OpenRelationFile(&gScan.relation)) return true;
  if (gScan.relation.path[0] == '\0') {
    FormatText(gScan.relation.path, sizeof gScan.relation.path, "%s%s.rel", gState.dataDir, gState.datasetName);
  }
  ShowRelationMessage(dialog, kTextRelationNotOpened);
  return false;
}

// Phase 1, resumed on every tick until the list and the count are complete.
static void CollectAndCount(HWND dialog, SliceClock* clock) {
  if (gFolders.entries == nullptr) {
    SetDlgItemTextA(dialog, IDC_SCAN_STATUS, kTextSearchingRoms);
    if (!TempFolderReady(dialog)) {
      AbortRun(dialog);
      return;
    }
    // Without its list the run has nothing to do.
    if (!BeginFolderList(gState.profile.romFolder, gState.profile.depthChoice)) {
      AbortRun(dialog);
      return;
    }
  }
  bool complete = false;
  do {
    complete = StepFolderList(kWalkStep, &gScan.totalFiles);
  } while (!complete && (sliceMs == 0 || !SliceIsOver(dialog, clock)));
  if (!complete) return;
  if (!StartRelationFile(dialog)) {
    AbortRun(dialog);
    return;
  }
  // A root too long to be an entry leaves the list empty.
  gScan.scanPhase = gFolders.count == 0 ? kPhaseFinish : kPhaseProcess;
}

// -1 (archive not openable, within its retries) and -2 (archiver busy) offer
// the same entry again on a later tick; every other result moves on.
static bool RetriesCurrentEntry() {
  return gScan.lastResult == kRegisterArchiveRefused || gScan.lastResult == kRegisterArchiverBusy;
}

// Registers currentEntry. False when the slice must end: the entry waits for a
// later tick, or the run has ended under it.
static bool ProcessCurrentEntry(HWND dialog) {
  const char* folder = gFolders.entries[gScan.folderIndex];
  const char* skipReason = nullptr;
  gScan.fileInHand = true;
  RegisterResult result = RegisterRomFile(folder, dialog, &gScan.currentEntry, &gScan.relation, &skipReason);
  gScan.fileInHand = false;
  // Closed from outside while the file was in hand: keep what was registered.
  if (!IsWindow(dialog)) {
    CommitRelationFile(&gScan.relation);
    ReleaseRun();
    return false;
  }
  if (gScan.relation.failed) {
    ShowRelationMessage(dialog, kTextRelationNotWritten);
    AbortRun(dialog);
    return false;
  }
  if (result == kRegisterDone) ++gScan.processedFiles;
  if (result == kRegisterArchiveRefused && ++gScan.failedAttempts > kFailedRetries) {
    result = kRegisterPassedOver;
    skipReason = kTextSkipArchive;
  }
  if (result != kRegisterArchiveRefused) gScan.failedAttempts = 0;
  if (skipReason != nullptr) NoteSkippedJoined(skipReason, folder, gScan.currentEntry.cFileName);
  gScan.lastResult = result;
  return !RetriesCurrentEntry();
}

static void NextFolder() {
  CloseFolderSearch();
  if (++gScan.folderIndex >= gFolders.count) gScan.scanPhase = kPhaseFinish;
}

// One directory entry of the current folder, or the start or end of a folder.
// False when the slice must end here.
static bool ProcessNextEntry(HWND dialog) {
  if (RetriesCurrentEntry()) return ProcessCurrentEntry(dialog);
  if (gScan.folderSearch == INVALID_HANDLE_VALUE) {
    const char* folder = gFolders.entries[gScan.folderIndex];
    // A static control only repaints later, so naming each folder costs little.
    SetDlgItemTextA(dialog, IDC_SCAN_STATUS, folder);
    char pattern[kPathSize];
    if (FormatText(pattern, sizeof pattern, "%s*.*", folder)) {
      gScan.folderSearch = FindFirstFileA(pattern, &gScan.currentEntry);
    }
    if (gScan.folderSearch == INVALID_HANDLE_VALUE) {
      NoteSkipped(kTextSkipFolderUnlisted, folder);
      NextFolder();
      return gScan.scanPhase == kPhaseProcess;
    }
  } else if (!FindNextFileA(gScan.folderSearch, &gScan.currentEntry)) {
    // The end of the last folder waits for a tick of its own, which ends the run.
    NextFolder();
    return gScan.scanPhase == kPhaseProcess;
  }
  if (IsDirectory(gScan.currentEntry)) return true;
  return ProcessCurrentEntry(dialog);
}

static void ConfirmCancel(HWND dialog);

static void ScanTick(HWND dialog) {
  if (gScan.fileInHand) return;
  // No tick may start while this one works, even if the host callback or the
  // archiver runs a message loop.
  StopTimer(dialog);
  SliceClock clock = StartSlice();
  switch (gScan.scanPhase) {
    case kPhaseCollect:
      CollectAndCount(dialog, &clock);
      break;
    case kPhaseProcess:
      while (ProcessNextEntry(dialog) && !gScan.cancelRequested && !SliceIsOver(dialog, &clock)) {
      }
      break;
    case kPhaseFinish:
      FinishRun(dialog);
      return;
    default:
      return;
  }
  if (!IsWindow(dialog) || gScan.scanPhase == kPhaseIdle) return;
  ShowProgress(dialog);
  if (!clock.timerArmed) StartTimer(dialog);
  if (gScan.cancelRequested) {
    gScan.cancelRequested = false;
    ConfirmCancel(dialog);
  }
}

// The run stands still while the question is shown; declining resumes it where
// it stood, confirming keeps the relation lines written so far.
static void ConfirmCancel(HWND dialog) {
  if (gScan.scanPhase == kPhaseIdle) return;
  StopTimer(dialog);
  int answer = MessageBoxA(dialog, kTextCancelQuestion, kTextCancelCaption, MB_OKCANCEL);
  if (answer == IDCANCEL) {
    StartTimer(dialog);
    return;
  }
  // Cancelled before its relation file was begun, the run has nothing to keep.
  if (gScan.relation.aside == INVALID_HANDLE_VALUE) {
    AbortRun(dialog);
    return;
  }
  FinishRun(dialog);
}

static void StartScan(HWND dialog) {
  CenterOnWorkArea(dialog);
  gScan = RegistrationScan();
  gScan.folderSearch = INVALID_HANDLE_VALUE;
  gScan.scanPhase = kPhaseCollect;
  ClearSkipped();
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
      // Ended by anything else than the run itself: keep what it registered.
      StopTimer(dialog);
      if (!gScan.fileInHand && gScan.scanPhase != kPhaseIdle) {
        gScan.scanPhase = kPhaseIdle;
        CommitRelationFile(&gScan.relation);
        ReleaseRun();
      }
      return FALSE;
    default:
      return FALSE;
  }
}
