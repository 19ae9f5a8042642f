// The settings dialog over the "CVSETTINGDLG" template.
#pragma once
#include <windows.h>

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void FillDepthChoices(HWND dialog);
void ShowProfileInDialog(HWND dialog);
void UpdateExtractControls(HWND dialog);
int AcceptSettings(HWND dialog);
