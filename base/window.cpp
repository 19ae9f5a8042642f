#include <windows.h>

#include "base/window.h"

void CenterOnWorkArea(HWND window) {
  RECT work = {};
  RECT frame = {};
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0)) return;
  if (!GetWindowRect(window, &frame)) return;
  int x = work.left + ((work.right - work.left) - (frame.right - frame.left)) / 2;
  int y = work.top + ((work.bottom - work.top) - (frame.bottom - frame.top)) / 2;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER);
}
