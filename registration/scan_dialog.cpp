// The add-ROMs run. A timer drives it in slices of a few tens of milliseconds
// so that the modal dialog stays responsive: the folders are listed and their
// files counted, then registered, then the earlier relation lines still wanted
// are carried over, and the run ends. The timer asks for 1 ms; the system
// gives 10 ms at best, so a tick does as much as a slice allows.
//
// Re-entry: the host callback, the archiver and every message box pump
// messages. The timer is stopped before any box the run shows, a tick or the
// cancel question never starts while another handler of the run is on the
// stack, and a window destroyed under a handler is ended by that handler when
// it unwinds.
#include "registration/scan_dialog.h"

#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>

#include "base/state.h"
#include "base/test_switches.h"
#include "base/texts.h"
#include "base/window.h"
#include "profile/profile.h"
#include "registration/register_file.h"
#include "registration/report_box.h"
#include "registration/run.h"
#include "resources/resource.h"

static constexpr UINT kScanTimerPeriodMs = 1;
static constexpr int kProgressRange = 1000;
static constexpr INT_PTR kScanDialogResult = IDCANCEL;
// An archive that cannot be opened or closed is offered this many more times,
// on later ticks, before the run passes over it.
static constexpr int32_t kFailedRetries = 3;
// Long enough that what comes between two slices (the progress, a repaint,
// the host's own messages) costs little, short enough that the dialog and the
// host answer well within a twentieth of a second.
static constexpr int32_t kDefaultSliceMs = 40;
// Directory entries the folder walk takes, and earlier relation lines the
// merge looks at, between two looks at the clock.
static constexpr int32_t kWalkStep = 16;
static constexpr int kMergeStep = 4;
// The shortest period the system gives a timer, whatever is asked for.
static constexpr int32_t kTimerFloorMs = 10;
// Asking the system for waiting input costs a round trip to the window system,
// more than the rest of a small file's work: it is asked every 10 ms, which
// keeps Cancel well within a tenth of a second.
static constexpr int32_t kInputCheckMs = 10;
// The least time between two showings of the progress.
static constexpr int32_t kProgressMs = 100;

static int32_t SliceMs() {
#ifdef CORVANE_TEST_SWITCHES
  if (gTestSwitches.sliceMs >= 0) return gTestSwitches.sliceMs;
#endif
  return kDefaultSliceMs;
}

static void StartTimer(HWND dialog) { SetTimer(dialog, IDT_SCAN, kScanTimerPeriodMs, nullptr); }
static void StopTimer(HWND dialog) { KillTimer(dialog, IDT_SCAN); }

static RegistrationRun* RunOf(HWND dialog) {
  return reinterpret_cast<RegistrationRun*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

static LONGLONG Ticks() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

static void StartSlice(RegistrationRun* run) {
  run->sliceStart = run->lastInputCheck = Ticks();
  run->timerArmed = false;
}

static LONGLONG ElapsedMs(const RegistrationRun* run, LONGLONG since) { return (Ticks() - since) / run->ticksPerMs; }

// Arms the timer once the slice is within the timer's floor of its end, so
// that the next tick follows the slice's end instead of waiting a whole floor
// after it; a tick that comes while the slice still works does nothing.
static void ArmNextTickNearSliceEnd(RegistrationRun* run, HWND dialog) {
  if (run->timerArmed || ElapsedMs(run, run->sliceStart) < SliceMs() - kTimerFloorMs) return;
  StartTimer(dialog);
  run->timerArmed = true;
}

// True when the slice must end: its time is up, Cancel was pressed, or the user
// is waiting. Input, or a command posted to the dialog (a click the host
// relays), is looked for every kInputCheckMs, and ends the slice so that a
// Cancel is answered at once.
static bool PollSliceEnd(RegistrationRun* run) {
  if (SliceMs() == 0 || run->cancel == kCancelPending || run->windowDestroyed) return true;
  if (ElapsedMs(run, run->sliceStart) >= SliceMs()) return true;
  if (ElapsedMs(run, run->lastInputCheck) < kInputCheckMs) return false;
  run->lastInputCheck = Ticks();
  return HIWORD(GetQueueStatus(QS_INPUT | QS_POSTMESSAGE)) != 0;
}

// The dialog, while it is there to own a box; a destroyed one shows none.
static HWND OwnerOf(HWND dialog, const RegistrationRun* run) {
  return run->windowDestroyed || !IsWindow(dialog) ? nullptr : dialog;
}

static void ShowMessage(HWND dialog, const char* format, const char* path) {
  if (dialog == nullptr) return;
  char message[3 * kPathSize];
  FormatText(message, sizeof message, format, path);
  MessageBoxA(dialog, message, nullptr, MB_OK | MB_ICONINFORMATION);
}

// "processed/total(percent%)" and the bar. With no files counted nothing is
// divided; files that appeared after the count never push either past its end.
static void ShowProgress(HWND dialog, const RegistrationRun* run) {
  int64_t processed = run->processedFiles;
  int64_t total = run->totalFiles;
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

// Ends the file in hand and the folder walk; the relation file and the lists
// stay for the run's end.
static void EndFileAndWalk(RegistrationRun* run) {
  FinishOrDropRomFile(run);
  CloseListing(&run->folderListing);
  ReleaseFolderWalk(&run->folders);
}

static void NoteTempNotDeleted(void* report, const char* path) {
  NoteWarning(static_cast<RunReport*>(report), kTextWarnTempNotDeleted, path, "");
}

// The one end of every run. Done and cancelled runs have merged their lines
// with the earlier ones and put them in place (a destroyed window's run does
// it here, waiting out holds); every other end leaves the earlier relation
// file as it was. A run that registered anything tells what it passed over,
// after any relation message. The timer is stopped before the first box, and
// nothing of the run is live while the boxes are open.
static void EndRun(HWND dialog, RegistrationRun* run, RunOutcome outcome) {
  if (run->phase == kPhaseEnded) return;
  run->phase = kPhaseEnded;
  StopTimer(dialog);
  EndFileAndWalk(run);
  EndFolderRemoval(&run->tempCleanup);
  bool relationBegun = run->relationBegun;
  if ((outcome == kRunDone || outcome == kRunCancelled || outcome == kRunWindowDestroyed) && relationBegun &&
      !run->relationCommitted && !CommitRelationFile(&run->relation)) {
    outcome = kRunRelationNotWritten;
  }
  DiscardRelationFile(&run->relation);
  // Done and cancelled runs waited across ticks already; other ends wait here.
  WaitForHeldCopies(&run->heldCopies);
  EndHeldCopies(&run->heldCopies, NoteTempNotDeleted, &run->report);
  switch (outcome) {
    case kRunRelationNotWritten:
      ShowMessage(OwnerOf(dialog, run), kTextRelationNotWritten, run->relation.path);
      break;
    case kRunRelationNotOpened:
      ShowMessage(OwnerOf(dialog, run), kTextRelationNotOpened, run->relation.path);
      break;
    case kRunTempMissing:
      ShowMessage(OwnerOf(dialog, run), kTextTempDirNotMade, run->tempDir);
      break;
    default:
      break;
  }
  if (relationBegun) WriteRunLogAndShowReport(OwnerOf(dialog, run), &run->report, run->logPath);
  ReleaseRunReport(&run->report);
  ReleaseCrcIndex(&run->crcIndex);
  if (OwnerOf(dialog, run) != nullptr) EndDialog(dialog, kScanDialogResult);
}

// Leaves the file walk for the merge with the earlier lines, which ends the run
// as outcome says once it is through.
static void StartMerge(RegistrationRun* run, RunOutcome outcome) {
  EndFileAndWalk(run);
  run->outcome = outcome;
  run->phase = kPhaseMerge;
}

// Without a temporary folder no copy can be made: say so rather than pass over
// every file in silence. Copies another program held through the last run's
// end go first.
static void StartRun(HWND dialog, RegistrationRun* run) {
  SetDlgItemTextA(dialog, IDC_SCAN_STATUS, kTextSearchingRoms);
  if (!PathIsDirectoryA(run->tempDir)) {
    EndRun(dialog, run, kRunTempMissing);
    return;
  }
  DeleteCopiesLeftByLastRun(run->logPath, run->tempDir);
  run->tempIdentified = GetIndexedIdentity(run->tempDir, &run->tempIdentity);
  if (!BeginFolderWalk(&run->folders, run->romFolder, run->depthChoice, &run->report)) {
    EndRun(dialog, run, kRunListNotMade);
  }
}

// Listing and counting, resumed on every tick until complete. Then the relation
// file is checked and begun, on later ticks while another program holds it;
// when it cannot be, the run ends before anything is registered: a ROM the
// host knows without a relation line could never be launched.
static void CollectAndCount(HWND dialog, RegistrationRun* run) {
  bool complete = false;
  do {
    complete = StepFolderWalk(&run->folders, kWalkStep, &run->report);
    ArmNextTickNearSliceEnd(run, dialog);
  } while (!complete && !PollSliceEnd(run));
  run->totalFiles = run->folders.filesCounted;
  if (!complete) return;
  TryResult replaceable = run->relationNamed ? CheckRelationReplaceable(&run->relation) : kTryFailed;
  if (replaceable == kTryLater) return;
  if (replaceable == kTryFailed || !OpenRelationFile(&run->relation)) {
    EndRun(dialog, run, kRunRelationNotOpened);
    return;
  }
  run->relationBegun = true;
  run->phase = kPhaseProcess;
  // A root too long to be an entry leaves the list empty.
  if (run->folders.count == 0) StartMerge(run, kRunDone);
}

// True when the folder in hand is the temp folder under any spelling (a link,
// a short name, another drive): the copies there are our own. The walk knows
// each folder's identity already, and the temp folder's is read once a run.
static bool IsTempFolder(const RegistrationRun* run) {
  const FolderFacts& facts = run->folders.facts[run->folderIndex];
  if (facts.identified && run->tempIdentified) return SameIdentity(facts.identity, run->tempIdentity);
  return IsSameFolder(run->folders.entries[run->folderIndex], run->tempDir);
}

// What became of the current entry, once its file is done with or refused.
// False when the slice must end: the entry waits for a later tick.
static bool NoteResult(RegistrationRun* run, RegisterResult result, const char* skipReason) {
  const char* folder = run->folders.entries[run->folderIndex];
  if (result == kRegisterDone) ++run->processedFiles;
  if (result == kRegisterArchiveRefused && ++run->failedAttempts > kFailedRetries) {
    result = kRegisterPassedOver;
    skipReason = kTextSkipArchive;
  }
  if (result != kRegisterArchiveRefused) run->failedAttempts = 0;
  if (skipReason != nullptr) NoteSkippedJoined(&run->report, skipReason, folder, run->folderListing.entry.cFileName);
  run->entryWaiting = result == kRegisterArchiveRefused || result == kRegisterTryLater;
  return !run->entryWaiting;
}

static void NextFolder(RegistrationRun* run) {
  CloseListing(&run->folderListing);
  if (++run->folderIndex >= run->folders.count) StartMerge(run, kRunDone);
}

// One step of phase 2: a piece of the file in hand, or the next directory
// entry, or the start or end of a folder. False when the slice must end here.
static bool ProcessStep(HWND dialog, RegistrationRun* run) {
  const char* skipReason = nullptr;
  RegisterResult result;
  if (!StepLeftoverRemoval(run)) return true;
  if (run->file.active) {
    result = ContinueRomFile(run, &skipReason);
    if (result == kRegisterInProgress) return true;
    return NoteResult(run, result, skipReason);
  }
  const char* folder = run->folders.entries[run->folderIndex];
  if (!run->entryWaiting) {
    if (run->folderListing.search == INVALID_HANDLE_VALUE) {
      // A static control only repaints later, so naming each folder costs little.
      SetDlgItemTextA(dialog, IDC_SCAN_STATUS, folder);
      run->folderIsTemp = IsTempFolder(run);
      if (!OpenListing(&run->folderListing, folder)) {
        NoteSkipped(&run->report, kTextSkipFolderUnlisted, folder);
        NextFolder(run);
        return run->phase == kPhaseProcess;
      }
    }
    if (!NextListedEntry(&run->folderListing)) {
      // The end of the last folder waits for a tick of its own, which ends the run.
      NextFolder(run);
      return run->phase == kPhaseProcess;
    }
    if (IsFolderEntry(run->folderListing.entry)) return true;
  }
  result = BeginRomFile(run, dialog, folder, &run->folderListing.entry, &skipReason);
  if (result == kRegisterInProgress) return true;
  return NoteResult(run, result, skipReason);
}

static void ConfirmCancel(HWND dialog, RegistrationRun* run);

// The relation file goes in place, on later ticks while another program holds
// it, and the run ends once no held copy waits for another try.
static void CommitStep(HWND dialog, RegistrationRun* run) {
  if (!run->relationCommitted) {
    TryResult moved = StepRelationCommit(&run->relation);
    if (moved == kTryFailed) {
      EndRun(dialog, run, kRunRelationNotWritten);
      return;
    }
    run->relationCommitted = moved == kTryDone;
  }
  if (run->relationCommitted && !RetryHeldCopies(&run->heldCopies)) EndRun(dialog, run, run->outcome);
}

// Works on the phase the run is in until the slice ends or the phase does.
static void StepPhase(HWND dialog, RegistrationRun* run) {
  switch (run->phase) {
    case kPhaseCollect:
      CollectAndCount(dialog, run);
      break;
    case kPhaseProcess:
      while (ProcessStep(dialog, run)) {
        if (run->relation.failed || run->windowDestroyed) break;
        ArmNextTickNearSliceEnd(run, dialog);
        if (PollSliceEnd(run)) break;
      }
      break;
    case kPhaseMerge:
      // What the last archive added to temp goes first, across ticks too.
      while (!StepLeftoverRemoval(run)) {
        ArmNextTickNearSliceEnd(run, dialog);
        if (PollSliceEnd(run)) return;
      }
      while (!StepRelationMerge(&run->relation, kMergeStep)) {
        // Not begun: the earlier file is held, and is tried on a later tick.
        if (run->relation.failed || run->windowDestroyed || run->relation.stage == kMergeNotBegun) break;
        ArmNextTickNearSliceEnd(run, dialog);
        if (PollSliceEnd(run)) break;
      }
      if (run->relation.stage == kMergeComplete) run->phase = kPhaseCommit;
      break;
    case kPhaseCommit:
      CommitStep(dialog, run);
      break;
    default:
      break;
  }
}

static void ScanTick(HWND dialog, RegistrationRun* run) {
  StopTimer(dialog);
  StartSlice(run);
  if (run->heldCopies.count > 0) RetryHeldCopies(&run->heldCopies);
  // A phase that ends early in the slice hands the rest of it to the next,
  // so that a small run does not wait a timer period for each phase.
  for (RunPhase before = run->phase;; before = run->phase) {
    StepPhase(dialog, run);
    if (run->phase == before || run->phase == kPhaseEnded || run->windowDestroyed || run->relation.failed) break;
    // The count is shown whole at the end of every phase.
    ShowProgress(dialog, run);
    run->lastProgress = Ticks();
    if (PollSliceEnd(run)) break;
  }
  if (run->phase == kPhaseEnded || run->windowDestroyed) return;
  if (run->relation.failed) {
    EndRun(dialog, run, kRunRelationNotWritten);
    return;
  }
  // Each showing is a repaint: a few a second are all a user reads.
  if (ElapsedMs(run, run->lastProgress) >= kProgressMs) {
    ShowProgress(dialog, run);
    run->lastProgress = Ticks();
  }
  // Asked even when the files ran out in this slice: the Cancel came before.
  if (run->cancel == kCancelPending) ConfirmCancel(dialog, run);
}

// The run stands still while the question is shown; declining resumes it where
// it stood, confirming keeps the relation lines written so far. A Cancel asked
// about after the last file was done has nothing left to stop.
static void ConfirmCancel(HWND dialog, RegistrationRun* run) {
  run->cancel = kCancelAsking;
  StopTimer(dialog);
  run->timerArmed = false;
  int answer = MessageBoxA(dialog, kTextCancelQuestion, kTextCancelCaption, MB_OKCANCEL);
  run->cancel = kCancelNone;
  if (run->windowDestroyed || run->phase == kPhaseEnded || answer != IDOK) return;
  if (run->phase == kPhaseCollect || run->phase == kPhaseProcess) {
    // Cancelled before its relation file was begun, the run has nothing to keep.
    if (!run->relationBegun) {
      EndRun(dialog, run, kRunCancelled);
      return;
    }
    StartMerge(run, kRunCancelled);
  } else {
    run->outcome = kRunCancelled;
  }
}

// What a Cancel does, by where the run stands: asked at once, asked once the
// handler on the stack is done, or nothing (asked already, or the end is under way).
static bool CancelWaitsForHandler(RegistrationRun* run) {
  if (run->cancel == kCancelAsking || run->phase >= kPhaseMerge) return true;
  if (run->handlersOnStack == 0) return false;
  run->cancel = kCancelPending;
  return true;
}

// Every handler of the run goes through here: it is never entered twice, a
// window destroyed while a handler ran is ended and freed once it is back, and
// a run still live has its timer running when the last handler returns.
template <typename Handler>
static void RunHandler(HWND dialog, RegistrationRun* run, Handler handler) {
  if (run == nullptr || run->phase == kPhaseEnded) return;
  ++run->handlersOnStack;
  handler();
  --run->handlersOnStack;
  if (run->handlersOnStack > 0) return;
  if (run->windowDestroyed) {
    EndRun(dialog, run, kRunWindowDestroyed);
    FreeRegistrationRun(run);
  } else if (run->phase != kPhaseEnded && !run->timerArmed) {
    // Armed near the slice's end already, it is left alone: setting it again
    // would drop the tick that is due and wait a whole period.
    StartTimer(dialog);
    run->timerArmed = true;
  }
}

INT_PTR CALLBACK RegistrationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  RegistrationRun* run = RunOf(dialog);
  switch (message) {
    case WM_INITDIALOG:
      CenterOnWorkArea(dialog);
      SendDlgItemMessageA(dialog, IDC_SCAN_PROGRESS, PBM_SETRANGE32, 0, kProgressRange);
      run = MakeRegistrationRun();
      if (run == nullptr) {
        EndDialog(dialog, kScanDialogResult);
        return TRUE;
      }
      SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(run));
      RunHandler(dialog, run, [&] { StartRun(dialog, run); });
      return TRUE;
    case WM_TIMER:
      if (wParam != IDT_SCAN) return FALSE;
      if (run != nullptr && run->handlersOnStack == 0) RunHandler(dialog, run, [&] { ScanTick(dialog, run); });
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) != IDCANCEL) return FALSE;
      // Cancel pressed while a handler is on the stack (inside a message loop of
      // the host or the archiver) is answered once that handler is done.
      if (run == nullptr || run->phase == kPhaseEnded || CancelWaitsForHandler(run)) return TRUE;
      RunHandler(dialog, run, [&] { ConfirmCancel(dialog, run); });
      return TRUE;
    case WM_DESTROY:
      StopTimer(dialog);
      if (run == nullptr) return FALSE;
      SetWindowLongPtrA(dialog, DWLP_USER, 0);
      // Ended by anything else than the run itself: keep what it registered.
      run->windowDestroyed = true;
      if (run->handlersOnStack == 0) {
        EndRun(dialog, run, kRunWindowDestroyed);
        FreeRegistrationRun(run);
      }
      return FALSE;
    default:
      return FALSE;
  }
}
