// Window pictures for a person to look at: the demo's screenshots and the
// settings dialog's picture in the tests.
#pragma once
#include <windows.h>

#include <string>

// Paints the window and copies it, frame included, into a 24-bit BMP file;
// fromScreen copies the screen area it covers, with whatever lies on top (such
// as an open popup menu). distinctColours, when given, receives how many
// colours the picture holds (a blank one has one or two). False when nothing
// could be captured or written.
bool CaptureWindowBmp(HWND window, const std::string& bmpPath, bool fromScreen, int* distinctColours = nullptr);
