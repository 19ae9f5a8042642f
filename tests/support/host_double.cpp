#include "support/host_double.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "base/state.h"
#include "plugin/plugin.h"

HostDouble gHost;

static const char kHostClass[] = "CorvaneTestHost";

static LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

static void RegisterClasses() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSA host = {};
  host.lpfnWndProc = HostWindowProc;
  host.hInstance = GetModuleHandleA(nullptr);
  host.hCursor = LoadCursor(nullptr, IDC_ARROW);
  host.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  host.lpszClassName = kHostClass;
  RegisterClassA(&host);
  // The host's dataset selector: a plain window whose text is the dataset name.
  WNDCLASSA combo = host;
  combo.lpszClassName = "TComboBox";
  RegisterClassA(&combo);
  registered = true;
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void HostOpen() {
  RegisterClasses();
  gHost.window = CreateWindowExA(0, kHostClass, "Corvane test host", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                 50, 50, 640, 400, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  SetForegroundWindow(gHost.window);
  SetActiveWindow(gHost.window);
  PumpMessages();
}

void HostClose() {
  if (gHost.window != nullptr) DestroyWindow(gHost.window);
  gHost.window = nullptr;
  PumpMessages();
}

HWND HostAddCombo(const char* text, int width, bool visible, HWND parent) {
  RegisterClasses();
  if (parent == nullptr) parent = gHost.window;
  RECT frame = {0, 0, width, 20};
  AdjustWindowRectEx(&frame, WS_CHILD, FALSE, 0);
  HWND combo = CreateWindowExA(0, "TComboBox", text, WS_CHILD | (visible ? WS_VISIBLE : 0), 10, 10,
                               frame.right - frame.left, frame.bottom - frame.top, parent, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  return combo;
}

void HostReset() {
  gHost.registerCalls.clear();
  gHost.launchCalls.clear();
}

static HostCall Record(const char* path) {
  HostCall call;
  call.path = path ? path : "";
  call.existed = path != nullptr && FileExists(call.path);
  call.size = call.existed ? FileSizeOf(call.path) : -1;
  call.content = call.existed ? ReadBytes(call.path) : std::string();
  return call;
}

int __stdcall HostRegister(const char* path) {
  gHost.registerCalls.push_back(Record(path));
  if (gHost.onRegister) gHost.onRegister(path);
  return gHost.registerResult;
}

int __stdcall HostLaunch(const char* path) {
  gHost.launchCalls.push_back(Record(path));
  return gHost.launchResult;
}

// --- dialog driving -------------------------------------------------------

static struct {
  std::vector<DialogStep> steps;
  size_t next = 0;
  int ticks = 0;
  int maxTicks = 0;
  bool timedOut = false;
  UINT_PTR timer = 0;
} driver;

static void CALLBACK DriverTick(HWND, UINT, UINT_PTR, DWORD) {
  HWND active = GetActiveWindow();
  if (++driver.ticks > driver.maxTicks) {
    driver.timedOut = true;
    if (active != nullptr && IsDialogWindow(active)) EndDialog(active, IDCANCEL);
    return;
  }
  if (driver.next < driver.steps.size()) {
    // Copy: a step may arm a new drive.
    DialogStep step = driver.steps[driver.next];
    if (step(active)) ++driver.next;
  }
  if (driver.next >= driver.steps.size()) StopDriving();
}

void DriveDialogs(std::vector<DialogStep> steps, UINT periodMs, int maxTicks) {
  StopDriving();
  driver.steps = std::move(steps);
  driver.next = 0;
  driver.ticks = 0;
  driver.maxTicks = maxTicks;
  driver.timedOut = false;
  driver.timer = SetTimer(nullptr, 0, periodMs, DriverTick);
}

void StopDriving() {
  if (driver.timer != 0) KillTimer(nullptr, driver.timer);
  driver.timer = 0;
}

bool DriveTimedOut() { return driver.timedOut; }
size_t DriveStepsDone() { return driver.next; }

std::string ClassOf(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string TextOf(HWND window) {
  int length = GetWindowTextLengthA(window);
  std::string text(length + 1, '\0');
  int got = GetWindowTextA(window, &text[0], length + 1);
  text.resize(got > 0 ? got : 0);
  return text;
}

bool IsDialogWindow(HWND window) { return window != nullptr && ClassOf(window) == "#32770"; }

std::string MessageBoxText(HWND box) { return TextOf(GetDlgItem(box, 0xFFFF)); }

void PressButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

// --- text -----------------------------------------------------------------

static std::string Convert(const std::string& text, UINT from, UINT to) {
  if (text.empty()) return text;
  int wideLength = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), (int)text.size(), nullptr, 0);
  if (wideLength <= 0) return "<unconvertible>";
  std::wstring wide(wideLength, L'\0');
  MultiByteToWideChar(from, 0, text.data(), (int)text.size(), &wide[0], wideLength);
  int length = WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  std::string out(length, '\0');
  WideCharToMultiByte(to, 0, wide.data(), wideLength, &out[0], length, nullptr, nullptr);
  return out;
}

std::string Cp932(const char* utf8) { return Convert(utf8, CP_UTF8, 932); }
std::string Utf8(const std::string& cp932) { return Convert(cp932, 932, CP_UTF8); }

// --- files ----------------------------------------------------------------

std::string MakeTempFolder(const char* tag) {
  static int counter = 0;
  char base[MAX_PATH];
  GetTempPathA(sizeof base, base);
  for (;;) {
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%scv_%s_%lu_%d\\", base, tag, GetCurrentProcessId(), ++counter);
    if (CreateDirectoryA(path, nullptr)) return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  }
}

void RemoveTree(const std::string& path) {
  if (path.empty()) return;
  std::string dir = path;
  if (dir.back() == '\\') dir.pop_back();
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (strcmp(entry.cFileName, ".") == 0 || strcmp(entry.cFileName, "..") == 0) continue;
      std::string child = dir + "\\" + entry.cFileName;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryA(dir.c_str());
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

std::string ReadBytes(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string bytes;
  char block[65536];
  DWORD got = 0;
  while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0) bytes.append(block, got);
  CloseHandle(file);
  return bytes;
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

long long FileSizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string BinFolder() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::string FixturesFolder() { return BinFolder() + "..\\fixtures\\"; }
std::string FixturePath(const char* name) { return FixturesFolder() + name; }

// --- the plug-in ------------------------------------------------------------

template <typename T>
static bool Bind(HMODULE module, const char* name, T* slot) {
  *slot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *slot != nullptr;
}

bool LoadPlugin(LoadedPlugin* plugin) {
  *plugin = LoadedPlugin();
  plugin->module = LoadLibraryA((BinFolder() + "Corvane.dll").c_str());
  if (plugin->module == nullptr) return false;
  HMODULE m = plugin->module;
  bool all = Bind(m, "getAuthor", &plugin->getAuthor) & Bind(m, "getName", &plugin->getName) &
             Bind(m, "getSDKVersion", &plugin->getSDKVersion) & Bind(m, "getSmallComment", &plugin->getSmallComment) &
             Bind(m, "getVersion", &plugin->getVersion) & Bind(m, "initPlugin", &plugin->initPlugin) &
             Bind(m, "closePlugin", &plugin->closePlugin) & Bind(m, "inMenu", &plugin->inMenu) &
             Bind(m, "onMenuClick", &plugin->onMenuClick) & Bind(m, "inPopupMenu", &plugin->inPopupMenu) &
             Bind(m, "onPopupMenuClick", &plugin->onPopupMenuClick);
  return all;
}

void UnloadPlugin(LoadedPlugin* plugin) {
  if (plugin->module != nullptr) FreeLibrary(plugin->module);
  *plugin = LoadedPlugin();
}

int StartLinkedPlugin(const std::string& dataDir) {
  PluginAttach(GetModuleHandleA(nullptr));
  return initPlugin(0, HostLaunch, 0, HostRegister, 0, dataDir.c_str());
}
