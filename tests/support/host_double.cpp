#include "support/host_double.h"

#include <shellapi.h>

#include "plugin/plugin.h"
#include "support/bind.h"

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

void HostOpen() {
  RegisterClasses();
  gHost.window = CreateWindowExA(0, kHostClass, "Corvane test host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 640, 400,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
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
  HWND combo =
      CreateWindowExA(0, "TComboBox", text, WS_CHILD | (visible ? WS_VISIBLE : 0), 10, 10, frame.right - frame.left,
                      frame.bottom - frame.top, parent, nullptr, GetModuleHandleA(nullptr), nullptr);
  return combo;
}

void HostReset() {
  gHost.registerCalls.clear();
  gHost.launchCalls.clear();
}

static HostCall Record(const char* path) {
  HostCall call;
  call.path = path ? path : "";
  // One open where it can be read: each file call costs a round trip to Wine's server.
  call.existed = path != nullptr && (ReadBytes(call.path, &call.content) || FileExists(call.path));
  call.size = call.existed ? static_cast<long long>(call.content.size()) : -1;
  if (call.existed && call.content.empty()) call.size = FileSizeOf(call.path);
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

// --- the plug-in ------------------------------------------------------------

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
