#include "support/screenshot.h"

#include <vector>

#include "support/files.h"

static bool WriteBmp(const std::string& path, int width, int height, const void* bits, DWORD bitsSize) {
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;  // bottom-up, as BMP files keep it
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  info.biSizeImage = bitsSize;
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + bitsSize;
  std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
  bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
  bytes.append(static_cast<const char*>(bits), bitsSize);
  return WriteBytes(path, bytes);
}

static int CountColours(const unsigned char* bits, int width, int height, DWORD stride) {
  std::vector<bool> seen(1 << 24);
  int count = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned char* p = bits + y * stride + x * 3;
      size_t colour = p[0] | (p[1] << 8) | (p[2] << 16);
      if (!seen[colour]) ++count;
      seen[colour] = true;
    }
  }
  return count;
}

bool CaptureWindowBmp(HWND window, const std::string& bmpPath, bool fromScreen, int* distinctColours) {
  if (distinctColours != nullptr) *distinctColours = 0;
  if (window == nullptr || !IsWindowVisible(window)) return false;
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  GdiFlush();
  RECT frame;
  if (!GetWindowRect(window, &frame)) return false;
  int width = frame.right - frame.left;
  int height = frame.bottom - frame.top;
  if (width <= 0 || height <= 0) return false;

  bool ok = false;
  HWND source = fromScreen ? nullptr : window;
  HDC windowDc = fromScreen ? GetDC(nullptr) : GetWindowDC(window);
  int x = fromScreen ? frame.left : 0;
  int y = fromScreen ? frame.top : 0;
  HDC memoryDc = windowDc != nullptr ? CreateCompatibleDC(windowDc) : nullptr;
  void* bits = nullptr;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file stores it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  HBITMAP image = memoryDc != nullptr ? CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
  if (image != nullptr) {
    HGDIOBJ previous = SelectObject(memoryDc, image);
    ok = BitBlt(memoryDc, 0, 0, width, height, windowDc, x, y, SRCCOPY) != FALSE;
    GdiFlush();
    SelectObject(memoryDc, previous);
    DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    if (ok && distinctColours != nullptr) {
      *distinctColours = CountColours(static_cast<const unsigned char*>(bits), width, height, stride);
    }
    if (ok) ok = WriteBmp(bmpPath, width, height, bits, stride * static_cast<DWORD>(height));
    DeleteObject(image);
  }
  if (memoryDc != nullptr) DeleteDC(memoryDc);
  if (windowDc != nullptr) ReleaseDC(source, windowDc);
  return ok;
}
