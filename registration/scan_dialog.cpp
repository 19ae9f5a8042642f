// The add-ROMs run's dialog: it shows what the run's state machine returns
// (the status line, the counter and bar, its boxes) and forwards its events
// (its start, timer ticks, Cancel, its destruction). It decides nothing.
//
// Re-entry: the host callback, the archiver and every box pump messages. The
// timer is stopped before any box, and a destroyed window's run is ended by
// the machine, at once or as the handler on the stack unwinds; the dialog
// forgets it as soon as it is destroyed.
#include "registration/scan_dialog.h"

#include <windows.h>
#include <commctrl.h>

#include <new>

#include "base/test_switches.h"
#include "base/texts.h"
#include "base/window.h"
#include "registration/run_machine.h"
#include "resources/resource.h"

// The system gives 10 ms at best, whatever is asked for; the timer is armed
// again as each tick starts, so that the next follows the slice's end at once
// but only after the host's own timers due meanwhile: left to its period, it
// could fall due before them and take two slices in a row.
static constexpr UINT kScanTimerPeriodMs = 1;
static constexpr int kProgressRange = 1000;

// What the dialog keeps in its window data: the run, and its controls, each
// found once (every lookup is a round trip to the window system).
struct ScanDialog {
  RegistrationRun* run;
  HWND status;
  HWND counter;
  HWND progress;
  bool timerArmed;
};

static ScanDialog* DialogOf(HWND dialog) {
  return reinterpret_cast<ScanDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

static RegistrationRun* RunOf(HWND dialog) {
  ScanDialog* scan = DialogOf(dialog);
  return scan != nullptr ? scan->run : nullptr;
}

static void ArmTimer(HWND dialog, ScanDialog* scan, bool armed) {
  if (armed && !scan->timerArmed) SetTimer(dialog, IDT_SCAN, kScanTimerPeriodMs, nullptr);
  if (!armed && scan->timerArmed) KillTimer(dialog, IDT_SCAN);
  scan->timerArmed = armed;
}

// "processed/total(percent%)" and the bar. With no files counted nothing is
// divided; files that appeared after the count never push either past its end.
static void ShowCounter(const ScanDialog* scan, int32_t processedFiles, int32_t totalFiles) {
  int64_t processed = processedFiles;
  int64_t total = totalFiles;
  int64_t percent = total > 0 ? processed * 100 / total : 0;
  int64_t position = total > 0 ? processed * kProgressRange / total : 0;
  if (percent > 100) percent = 100;
  if (position > kProgressRange) position = kProgressRange;
  char counter[64];
  FormatText(counter, sizeof counter, "%5d/%5d(%2d%%)", static_cast<int>(processed), static_cast<int>(total),
             static_cast<int>(percent));
  SetWindowTextA(scan->counter, counter);
  SendMessageA(scan->progress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

// Does what the machine returned, and goes on with each box's answer until
// the machine wants a tick, or the run or the window is gone.
static void Show(HWND dialog, ScanDialog* scan, RunView view) {
  RegistrationRun* run = scan->run;
  for (;;) {
    if (view.showStatus) SetWindowTextA(scan->status, view.status);
    if (view.showCounter) ShowCounter(scan, view.processed, view.total);
    if (view.freed) {
      SetWindowLongPtrA(dialog, DWLP_USER, 0);
      ArmTimer(dialog, scan, false);
      delete scan;
      EndDialog(dialog, IDCANCEL);
      return;
    }
    if (view.box == kBoxNone) {
      ArmTimer(dialog, scan, view.tick);
      return;
    }
    ArmTimer(dialog, scan, false);
    UINT flags = view.box == kBoxCancelQuestion ? MB_OKCANCEL : MB_OK | MB_ICONINFORMATION;
    int answer = MessageBoxA(dialog, view.boxText, view.boxCaption, flags);
    // The window went while the box was open: the run went with it.
    if (RunOf(dialog) != run) return;
    view = AnswerRunBox(run, answer);
  }
}

// Without memory for the run there is nothing to do, but the user is told.
// The system's clock, or in the tests' build the one a test set, so that how
// much a slice holds does not depend on the machine's speed.
static RunClock RunClockInForce() {
#ifdef CORVANE_TEST_SWITCHES
  return gTestSwitches.runClock;
#else
  return nullptr;
#endif
}

static void RefuseRun(HWND dialog) {
  MessageBoxA(dialog, kTextOutOfMemory, nullptr, MB_OK | MB_ICONINFORMATION);
  EndDialog(dialog, IDCANCEL);
}

INT_PTR CALLBACK RegistrationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  ScanDialog* scan = DialogOf(dialog);
  RunView view = {};
  switch (message) {
    case WM_INITDIALOG:
      CenterOnWorkArea(dialog);
      scan = new (std::nothrow) ScanDialog{nullptr, GetDlgItem(dialog, IDC_SCAN_STATUS),
                                           GetDlgItem(dialog, IDC_SCAN_COUNTER), GetDlgItem(dialog, IDC_SCAN_PROGRESS),
                                           false};
      if (scan == nullptr) {
        RefuseRun(dialog);
        return TRUE;
      }
      SendMessageA(scan->progress, PBM_SETRANGE32, 0, kProgressRange);
      scan->run = StartRegistrationRun(dialog, RunClockInForce(), &view);
      if (scan->run == nullptr && !view.freed) {
        delete scan;
        RefuseRun(dialog);
        return TRUE;
      }
      SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(scan));
      Show(dialog, scan, view);
      return TRUE;
    case WM_TIMER:
      if (wParam != IDT_SCAN) return FALSE;
      if (scan == nullptr) return TRUE;
      SetTimer(dialog, IDT_SCAN, kScanTimerPeriodMs, nullptr);
      Show(dialog, scan, TickRun(scan->run));
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) != IDCANCEL) return FALSE;
      if (scan != nullptr) Show(dialog, scan, PressRunCancel(scan->run));
      return TRUE;
    case WM_DESTROY:
      KillTimer(dialog, IDT_SCAN);
      if (scan == nullptr) return FALSE;
      // Ended by anything else than the run itself: the run keeps what it
      // registered and ends without waiting.
      SetWindowLongPtrA(dialog, DWLP_USER, 0);
      scan->timerArmed = false;
      // With a tick on the stack the run ends as it unwinds, and that tick's
      // showing lets go of the rest.
      if (CloseRunWindow(scan->run).freed) delete scan;
      return FALSE;
    default:
      return FALSE;
  }
}
