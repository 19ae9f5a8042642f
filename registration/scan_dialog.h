// The add-ROMs run: the modal "CVADDDLG" dialog driven by timer ticks.
#pragma once
#include <windows.h>

#include <cstdint>

INT_PTR CALLBACK RegistrationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
