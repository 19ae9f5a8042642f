// The add-ROMs run: the modal "CVADDDLG" dialog driven by timer ticks.
#pragma once
#include <windows.h>

#include <cstdint>

INT_PTR CALLBACK RegistrationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Test switch: the longest a tick works before it lets the dialog breathe, in
// milliseconds; 0 handles one directory entry or copy piece per tick (the
// folder walk then goes a few entries a tick). Negative restores the default.
void SetScanSliceMs(int32_t milliseconds);
