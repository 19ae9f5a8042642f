// Waiting for a worker thread on the host's window thread: its messages keep
// being dispatched, so the host's windows are painted and answer, and a long
// wait shows a small window of the plug-in's.
#pragma once
#include <windows.h>

// How long a wait goes on before the window shows.
constexpr DWORD kProgressDelayMs = 300;

// Returns once worker (a thread handle, left open) has ended, or once
// *abandoned is set (by a call the host makes meanwhile), dispatching this
// thread's messages meanwhile; true when the worker ended. owner (may be
// null) is disabled from the start until the return, as under a modal dialog,
// so that no click reaches it; once kProgressDelayMs have gone, the window
// "CVEXTRACTDLG" shows, centred, with the text of the wait and name. A
// WM_QUIT met on the way is posted again before the return.
bool WaitShowingProgress(HANDLE worker, HWND owner, const char* name, const volatile LONG* abandoned);
