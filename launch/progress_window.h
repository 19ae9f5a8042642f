// Waiting for a worker thread on the host's window thread: its messages keep
// being dispatched, so the host's windows are painted and answer, and a long
// wait shows a small window of the plug-in's.
#pragma once
#include <windows.h>

// How long a wait goes on before the window shows.
constexpr DWORD kProgressDelayMs = 300;

// Returns once worker (a thread handle, left open) has ended, dispatching
// this thread's messages meanwhile. Once kProgressDelayMs have gone, the
// window "CVEXTRACTDLG" shows, centred, with the text of the wait and name,
// and owner (may be null) is disabled until it goes, as under a modal dialog.
// A WM_QUIT met on the way is posted again before the return.
void WaitShowingProgress(HANDLE worker, HWND owner, const char* name);
