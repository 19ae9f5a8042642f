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

#include "base/texts.h"
#include "base/window.h"
#include "registration/run_machine.h"
#include "resources/resource.h"

// The system gives 10 ms at best, whatever is asked for; the timer is armed
// as each tick starts, so that the next follows the slice's end at once.
static constexpr UINT kScanTimerPeriodMs = 1;
static constexpr int kProgressRange = 1000;

static RegistrationRun* RunOf(HWND dialog) {
  return reinterpret_cast<RegistrationRun*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// "processed/total(percent%)" and the bar. With no files counted nothing is
// divided; files that appeared after the count never push either past its end.
static void ShowCounter(HWND dialog, int32_t processedFiles, int32_t totalFiles) {
  int64_t processed = processedFiles;
  int64_t total = totalFiles;
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

// Does what the machine returned, and goes on with each box's answer until
// the machine wants a tick, or the run or the window is gone.
static void Show(HWND dialog, RegistrationRun* run, RunView view) {
  for (;;) {
    if (view.showStatus) SetDlgItemTextA(dialog, IDC_SCAN_STATUS, view.status);
    if (view.showCounter) ShowCounter(dialog, view.processed, view.total);
    if (view.freed) {
      SetWindowLongPtrA(dialog, DWLP_USER, 0);
      KillTimer(dialog, IDT_SCAN);
      EndDialog(dialog, IDCANCEL);
      return;
    }
    if (view.box == kBoxNone) {
      if (!view.tick) KillTimer(dialog, IDT_SCAN);
      return;
    }
    KillTimer(dialog, IDT_SCAN);
    UINT flags = view.box == kBoxCancelQuestion ? MB_OKCANCEL : MB_OK | MB_ICONINFORMATION;
    int answer = MessageBoxA(dialog, view.boxText, view.boxCaption, flags);
    // The window went while the box was open: the run went with it.
    if (RunOf(dialog) != run) return;
    view = AnswerRunBox(run, answer);
    if (view.tick && !view.freed) SetTimer(dialog, IDT_SCAN, kScanTimerPeriodMs, nullptr);
  }
}

// Without memory for the run there is nothing to do, but the user is told.
static void RefuseRun(HWND dialog) {
  MessageBoxA(dialog, kTextOutOfMemory, nullptr, MB_OK | MB_ICONINFORMATION);
  EndDialog(dialog, IDCANCEL);
}

INT_PTR CALLBACK RegistrationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  RegistrationRun* run = RunOf(dialog);
  RunView view = {};
  switch (message) {
    case WM_INITDIALOG:
      CenterOnWorkArea(dialog);
      SendDlgItemMessageA(dialog, IDC_SCAN_PROGRESS, PBM_SETRANGE32, 0, kProgressRange);
      run = StartRegistrationRun(dialog, nullptr, &view);
      if (run == nullptr && !view.freed) {
        RefuseRun(dialog);
        return TRUE;
      }
      SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(run));
      if (view.tick) SetTimer(dialog, IDT_SCAN, kScanTimerPeriodMs, nullptr);
      Show(dialog, run, view);
      return TRUE;
    case WM_TIMER:
      if (wParam != IDT_SCAN) return FALSE;
      if (run == nullptr) return TRUE;
      SetTimer(dialog, IDT_SCAN, kScanTimerPeriodMs, nullptr);
      Show(dialog, run, TickRun(run));
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) != IDCANCEL) return FALSE;
      if (run != nullptr) Show(dialog, run, PressRunCancel(run));
      return TRUE;
    case WM_DESTROY:
      KillTimer(dialog, IDT_SCAN);
      if (run == nullptr) return FALSE;
      // Ended by anything else than the run itself: the run keeps what it
      // registered and ends without waiting.
      SetWindowLongPtrA(dialog, DWLP_USER, 0);
      CloseRunWindow(run);
      return FALSE;
    default:
      return FALSE;
  }
}
