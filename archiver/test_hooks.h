// Named exports of the archiver stand-in for tests only (the plug-in never binds
// them): switches that force busy, open, close and extraction failures, a pause
// inside the next operation, and records of what the operations were given.
#pragma once
#include <windows.h>

extern "C" {
// Clears the call log, the records and every switch.
void __stdcall ArcTestReset(void);
// Non-zero: the busy query reports busy until switched off.
void __stdcall ArcTestSetBusy(int busy);
// Non-zero: every open gives null until switched off.
void __stdcall ArcTestFailOpen(int fail);
// Non-zero: the next close still releases the handle but returns 1.
void __stdcall ArcTestFailNextClose(int fail);
// Non-zero: every run-command reports a failed extraction without touching a
// file (a file already at an entry's path stays) until switched off.
void __stdcall ArcTestFailExtraction(int fail);
// How many handles are open (opened and not yet closed).
int __stdcall ArcTestOpenHandles(void);
// The ordinals called since the last reset, e.g. "10,21,23,40,22,1". 0 when the
// whole log fit into buffer; non-zero when it did not (or the log overflowed).
int __stdcall ArcTestCallLog(char* buffer, int bufferSize);
// The command text of the last run-command call; 0 when it fit.
int __stdcall ArcTestLastCommand(char* buffer, int bufferSize);
// The owner window given to the last run-command call.
HWND __stdcall ArcTestLastRunOwner(void);
// The next operation (other than the busy query) sets reached once it counts as
// under way, then waits for resume (at most 10 seconds) before doing its work.
void __stdcall ArcTestPauseNextOperation(HANDLE reached, HANDLE resume);
}
