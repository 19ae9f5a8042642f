#include "launch/progress_window.h"

#include "base/state.h"
#include "base/texts.h"
#include "base/window.h"
#include "resources/resource.h"

// Messages dispatched before the worker is looked at again: a window that
// keeps posting to itself cannot hold the wait past its end.
static constexpr int kMessagesPerWake = 64;

struct ProgressWait {
  HWND window;
  bool shown;          // the delay has gone (the window may have failed to open)
  bool ownerDisabled;  // by the wait, which enables it again
  bool quit;
  WPARAM quitCode;
};

static INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextA(window, IDC_EXTRACT_TEXT, kTextExtracting);
      SetDlgItemTextA(window, IDC_EXTRACT_NAME, reinterpret_cast<const char*>(lParam));
      CenterOnWorkArea(window);
      return TRUE;
    case WM_CLOSE:
      // Nothing stops the extraction: the window goes when it ends.
      return TRUE;
    default:
      return FALSE;
  }
}

static void ShowProgressWindow(ProgressWait* wait, HWND owner, const char* name) {
  wait->shown = true;
  wait->window = CreateDialogParamA(gState.moduleInstance, "CVEXTRACTDLG", owner, ProgressDialogProc,
                                    reinterpret_cast<LPARAM>(name));
  if (wait->window != nullptr) ShowWindow(wait->window, SW_SHOW);
}

static void DispatchWaiting(ProgressWait* wait) {
  MSG message;
  for (int i = 0; i < kMessagesPerWake && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (message.message == WM_QUIT) {
      wait->quit = true;
      wait->quitCode = message.wParam;
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

bool WaitShowingProgress(HANDLE worker, HWND owner, const char* name, const volatile LONG* abandoned) {
  ProgressWait wait = {};
  // An owner someone else disabled stays so afterwards.
  if (owner != nullptr && IsWindowEnabled(owner)) {
    EnableWindow(owner, FALSE);
    wait.ownerDisabled = true;
  }
  DWORD start = GetTickCount();
  bool ended = false;
  while (*abandoned == 0) {
    DWORD elapsed = GetTickCount() - start;
    if (!wait.shown && elapsed >= kProgressDelayMs) ShowProgressWindow(&wait, owner, name);
    DWORD timeout = wait.shown ? INFINITE : kProgressDelayMs - elapsed;
    // Input already seen but left in the queue wakes the wait too.
    DWORD woken = MsgWaitForMultipleObjectsEx(1, &worker, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woken == WAIT_OBJECT_0) {
      ended = true;
      break;
    }
    if (woken == WAIT_OBJECT_0 + 1) {
      DispatchWaiting(&wait);
    } else if (woken != WAIT_TIMEOUT) {
      // The wait itself failed: the worker is still never left running.
      WaitForSingleObject(worker, INFINITE);
      ended = true;
      break;
    }
  }
  // Enabled before the window goes, so that the owner is activated again.
  if (wait.ownerDisabled) EnableWindow(owner, TRUE);
  if (wait.window != nullptr) DestroyWindow(wait.window);
  if (wait.quit) PostQuitMessage(static_cast<int>(wait.quitCode));
  return ended;
}
