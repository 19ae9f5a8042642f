// FakeEmulator.exe: the demo's stand-in for an emulator. It starts nothing; it
// records what it was asked to start and whether that file is there.
//   FakeEmulator.exe --log LOGFILE [--show] ROMPATH
// Appends "OK<TAB>size<TAB>path" (or "MISSING<TAB>-<TAB>path") to LOGFILE,
// with --show also tells the person at the screen, and exits with 0 when the
// file exists, 1 when it does not, 2 on a bad command line.
#include <windows.h>

#include <cstring>
#include <string>

static bool AppendLine(const char* logPath, const std::string& line) {
  // Opened for appending only, so that launches in a row never overwrite each other.
  HANDLE log = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(log);
  return ok && written == line.size();
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const char* logPath = nullptr;
  const char* romPath = nullptr;
  bool show = false;
  for (int i = 1; i < __argc; ++i) {
    if (strcmp(__argv[i], "--log") == 0 && i + 1 < __argc) {
      logPath = __argv[++i];
    } else if (strcmp(__argv[i], "--show") == 0) {
      show = true;
    } else if (romPath == nullptr) {
      romPath = __argv[i];
    } else {
      return 2;
    }
  }
  if (logPath == nullptr || romPath == nullptr) return 2;

  WIN32_FILE_ATTRIBUTE_DATA data;
  bool present = GetFileAttributesExA(romPath, GetFileExInfoStandard, &data) &&
                 !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  std::string size = "-";
  if (present) size = std::to_string((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  std::string line = std::string(present ? "OK" : "MISSING") + "\t" + size + "\t" + romPath + "\r\n";
  if (!AppendLine(logPath, line)) return 2;
  if (show) {
    std::string text = std::string(present ? "Would start: " : "Not found: ") + romPath + "\n(" + size + " bytes)";
    MessageBoxA(nullptr, text.c_str(), "FakeEmulator", MB_OK | (present ? MB_ICONINFORMATION : MB_ICONWARNING));
  }
  return present ? 0 : 1;
}
