// Small window helpers shared by the plug-in's dialogs.
#pragma once
#include <windows.h>

// Moves a window to the centre of the desktop work area without resizing it.
void CenterOnWorkArea(HWND window);
