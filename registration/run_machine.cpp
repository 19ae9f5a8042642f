// The run's events and its one end. Each event handler works on the state the
// run is in and returns what the dialog is to show or arm.
#include "registration/run_machine.h"

#include <shlwapi.h>

#include "base/file_io.h"
#include "base/leftovers.h"
#include "base/test_switches.h"
#include "base/texts.h"
#include "registration/register_file.h"
#include "registration/run_log.h"
#include "registration/run_steps.h"

// A millisecond clock finer than GetTickCount's 10 to 16 ms, which is the
// length of a whole input check.
static DWORD SystemClock() {
  static LONGLONG ticksPerMs = 0;
  LARGE_INTEGER now;
  if (ticksPerMs == 0) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ticksPerMs = frequency.QuadPart / 1000 > 0 ? frequency.QuadPart / 1000 : 1;
  }
  QueryPerformanceCounter(&now);
  return static_cast<DWORD>(now.QuadPart / ticksPerMs);
}

// The one place a run is freed: every end comes here.
static void FreeEndedRun(RegistrationRun* run, RunView* view) {
  EnterState(run, kRunEnded);
  FreeRegistrationRun(run);
  view->freed = true;
}

// What the window's end leaves: the lines written so far are kept without
// waiting on any hold (the rest of the earlier file carried over unprobed, a
// held move left pending), and what another program holds stays for the next
// action to take back.
static void KeepLinesWithoutWaiting(RegistrationRun* run) {
  if (!FinishRelationWithoutWaiting(&run->relation))
    ReportSystemError("FinishRelationWithoutWaiting", run->relation.path, GetLastError());
}

static void EndWithoutWaiting(RegistrationRun* run, RunView* view) {
  bool keep = run->relationBegun && !run->relation.failed && run->state < kRunSaveLog &&
              (run->state != kRunCommit || run->outcome <= kRunCancelled) && !run->commit.relationInPlace;
  if (run->state < kRunMerge || run->state == kRunAsking) {
    FinishOrDropRomFile(run);
    CloseKeptEntries(&run->process.folderListing);
    ReleaseFolderWalk(&run->folders);
  }
  // What another program holds in the last archive's private folder is left
  // to the next action.
  EndFolderRemoval(&run->tempCleanup);
  if (keep) KeepLinesWithoutWaiting(run);
  if (run->relation.aside != INVALID_HANDLE_VALUE) DiscardRelationFile(&run->relation);
  EndHeldCopies(
      &run->heldCopies,
      [](void* report, const char* path) {
        NoteWarning(static_cast<RunReport*>(report), kTextWarnTempNotDeleted, path, "");
      },
      &run->report);
  if (run->relationBegun && run->state < kRunTelling) {
    HoldRetry once = {};
    bool aside = WriteRunLogAside(&run->report, run->logPath);
    TryPutRunLogInPlace(run->logPath, aside, &once);
  }
  run->outcome = kRunWindowDestroyed;
  run->relationBegun = false;
  run->commit.relationInPlace = false;
  FreeEndedRun(run, view);
}

// Each text or bar the dialog sets is a few round trips to the window system,
// more than a small file's whole work: what the user sees changes at most
// this often while the run goes on, and at once when it moves to another
// state, asks or ends.
static constexpr DWORD kShowEveryMs = 100;

// The counter and the last folder named since the last showing, when due.
static void ShowIfDue(RegistrationRun* run, RunView* view) {
  DWORD now = run->clock();
  bool goesOn = run->state == kRunCollect || run->state == kRunProcess || run->state == kRunMerge ||
                run->state == kRunCommit || run->state == kRunSaveLog;
  if (goesOn && run->state == run->shownState && now - run->shownAt < kShowEveryMs && !run->showNow) return;
  run->shownAt = now;
  run->shownState = run->state;
  if (run->statusWaiting) {
    view->showStatus = CopyText(view->status, sizeof view->status, run->waitingStatus);
    run->statusWaiting = false;
  }
  if (run->processedFiles != run->shownFiles || run->totalFiles != run->shownTotal || run->state == kRunTelling) {
    view->showCounter = true;
    view->processed = run->shownFiles = run->processedFiles;
    view->total = run->shownTotal = run->totalFiles;
  }
}

// The outermost handler is back: what came meanwhile is acted on, and the
// view says what to show next.
static RunView Settle(RegistrationRun* run, RunView view) {
  if (run->windowGone) {
    EndWithoutWaiting(run, &view);
    return view;
  }
  if (view.showStatus) {
    CopyText(run->waitingStatus, sizeof run->waitingStatus, view.status);
    run->statusWaiting = true;
    view.showStatus = false;
  }
  // A Cancel that came before the files ended is asked, also when they ended
  // in the same slice; one that comes later changes nothing.
  if (run->cancelPending) {
    run->cancelPending = false;
    if (run->state <= kRunMerge && run->state != kRunAsking) {
      run->ask.resume = run->state;
      EnterState(run, kRunAsking);
    }
  }
  ShowIfDue(run, &view);
  // Cut only to show: the slice goes on once the dialog has shown it.
  bool goOn = run->showNow && run->state == kRunProcess;
  run->showNow = false;
  if (run->state == kRunAsking) {
    view.box = kBoxCancelQuestion;
    view.boxText = kTextCancelQuestion;
    view.boxCaption = kTextCancelCaption;
  } else if (run->state == kRunTelling && run->telling.next < run->telling.count) {
    view.box = kBoxEndMessage;
    view.boxText = run->telling.text[run->telling.next];
    view.boxCaption = run->telling.caption[run->telling.next];
  } else if (run->state == kRunTelling) {
    FreeEndedRun(run, &view);
  } else {
    view.tick = true;
    view.goOn = goOn;
  }
  run->sliceGoesOn = view.goOn;
  return view;
}

RegistrationRun* StartRegistrationRun(HWND owner, RunClock clock, RunView* view) {
  *view = RunView();
  RegistrationRun* run = MakeRegistrationRun();
  if (run == nullptr) return nullptr;
  run->archiverOwner = owner;
  run->clock = clock != nullptr ? clock : SystemClock;
  run->shownFiles = run->shownTotal = -1;
  view->showStatus = CopyText(view->status, sizeof view->status, kTextSearchingRoms);
  run->state = kRunCollect;
  // Without a temporary folder no copy can be made: say so rather than pass
  // over every file in silence. Copies another program held through the last
  // run's end go first.
  if (!PathIsDirectoryA(run->tempDir)) {
    EndRun(run, kRunTempMissing);
  } else {
    RemoveProvenLeftovers();
    run->tempIdentified = GetFileIndex(run->tempDir, &run->tempIdentity);
    if (!BeginFolderWalk(&run->folders, run->romFolder, run->depthChoice, &run->report)) {
      EndRun(run, kRunListNotMade);
    } else {
      EnterState(run, kRunCollect);
    }
  }
  *view = Settle(run, *view);
  return view->freed ? nullptr : run;
}

// What an event that changes nothing leaves: the ticks go on where they went.
static RunView Unchanged(const RegistrationRun* run) {
  RunView view = {};
  view.tick = run->handlersOnStack > 0 || (run->state != kRunAsking && run->state < kRunTelling);
  return view;
}

RunView TickRun(RegistrationRun* run) {
  // A tick inside the host's or the archiver's message loop waits for the
  // handler on the stack; one in a box's loop or after the end does nothing.
  if (run->handlersOnStack > 0 || run->state == kRunAsking || run->state >= kRunTelling) return Unchanged(run);
  // A Cancel pressed between ticks is asked now, before any more work.
  if (run->cancelPending) return Settle(run, RunView());
  RunView view = {};
  ++run->handlersOnStack;
  if (!run->sliceGoesOn) StartSlice(run);
  run->sliceGoesOn = false;
  if (run->heldCopies.count > 0 && run->state < kRunCommit) RetryHeldCopies(&run->heldCopies);
  // A state that ends early in the slice hands the rest of it to the next, so
  // that a small run does not wait a timer period for each state.
  for (RunState before = run->state;; before = run->state) {
    StepState(run, &view);
    if (run->state == before || run->state >= kRunTelling || run->windowGone || SliceEnds(run)) break;
  }
  --run->handlersOnStack;
  return Settle(run, view);
}

RunView PressRunCancel(RegistrationRun* run) {
  if (run->state != kRunCollect && run->state != kRunProcess) return Unchanged(run);
  // It is asked on the next tick, or once the handler on the stack (inside the
  // host's or the archiver's loop) is back: the loop first serves what fell
  // due during the slice just ended (the host's timers, a repaint), so that
  // making the box does not lengthen that stand-still.
  run->cancelPending = true;
  return Unchanged(run);
}

RunView AnswerRunBox(RegistrationRun* run, int answer) {
  RunView view = {};
  if (run->state == kRunAsking) {
    RunState resume = run->ask.resume;
    EnterState(run, resume);
    // Cancelled before its relation file was begun, the run has nothing to keep;
    // confirmed after the last file, there is nothing left to stop.
    if (answer == IDOK && resume != kRunMerge) EndRun(run, kRunCancelled);
  } else if (run->state == kRunTelling) {
    ++run->telling.next;
  }
  return Settle(run, view);
}

RunView CloseRunWindow(RegistrationRun* run) {
  RunView view = Unchanged(run);
  run->windowGone = true;
  if (run->handlersOnStack > 0) return view;
  EndWithoutWaiting(run, &view);
  return view;
}
