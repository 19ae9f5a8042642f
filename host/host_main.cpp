// CorvaneHost.exe: the demo catalogue host.
//   CorvaneHost.exe [--data DIR] [--plugin DLL] [--dataset NAME]
//   CorvaneHost.exe --script DEMO_DIR [--report FILE] [--shots DIR] [--data DIR] [--status FILE]
//   CorvaneHost.exe --register [--launch CRC[,CRC...]] [--hold-at|--pause-at NAME EVENT] [--data DIR]
//                   [--dataset NAME]
// Without --script it opens the window for a person; with it, it runs the
// demo's steps by itself and exits with 0 only when every check passed. With
// --register it registers the dataset's collection unattended, then launches
// the ROM of CRC; it exits with 0 when that ended and the launch succeeded.
// --hold-at keeps it inside the host's registration call for the copy NAME,
// after setting EVENT, for a test to kill it there; --pause-at only until the
// test resets EVENT.
#include <cstring>

#include "host/host.h"
#include "host/host_texts.h"

static std::string ExeFolder() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return std::string();
  std::string folder(path, length);
  return folder.substr(0, folder.size() - BaseName(folder).size());
}

static const char* OptionValue(int argc, char** argv, const char* name) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (strcmp(argv[i], name) == 0) return argv[i + 1];
  }
  return nullptr;
}

// The second value of an option that takes two.
static const char* SecondValue(int argc, char** argv, const char* name) {
  for (int i = 1; i + 2 < argc; ++i) {
    if (strcmp(argv[i], name) == 0) return argv[i + 2];
  }
  return nullptr;
}

static void Complain(const std::string& text, bool scripted) {
  if (scripted) {
    fprintf(stderr, "CorvaneHost: %s\n", text.c_str());
  } else {
    MessageBoxA(nullptr, text.c_str(), kTextHostCaption, MB_OK | MB_ICONERROR);
  }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  int argc = __argc;
  char** argv = __argv;
  gApp.instance = instance;
  gApp.exeDir = ExeFolder();
  const char* script = OptionValue(argc, argv, "--script");
  bool unattended = argc > 1 && strcmp(argv[1], "--register") == 0;
  bool scripted = script != nullptr || unattended;

  ScriptOptions options;
  if (script != nullptr) {
    options.demoDir = WithBackslash(FullPath(script));
    const char* report = OptionValue(argc, argv, "--report");
    const char* shots = OptionValue(argc, argv, "--shots");
    options.reportPath = report != nullptr ? FullPath(report) : options.demoDir + "report.txt";
    options.shotsDir = WithBackslash(shots != nullptr ? FullPath(shots) : options.demoDir);
  }
  const char* data = OptionValue(argc, argv, "--data");
  if (data != nullptr) {
    gApp.dataDir = WithBackslash(FullPath(data));
  } else {
    gApp.dataDir = script != nullptr ? options.demoDir + "data\\" : gApp.exeDir + "data\\";
  }
  CreateDirectoryA(gApp.dataDir.c_str(), nullptr);
  LoadCatalogueFile(CataloguePath(), &gApp.catalogue);

  const char* pluginOption = OptionValue(argc, argv, "--plugin");
  std::string pluginPath = pluginOption != nullptr ? FullPath(pluginOption) : gApp.exeDir + "Corvane.dll";
  if (!LoadPluginBinding(pluginPath, &gApp.plugin)) {
    Complain(Format(kTextPluginMissing, pluginPath.c_str()), scripted);
    return 2;
  }
  gApp.menuEntries = SplitEntryList(gApp.plugin.inMenu());
  gApp.popupEntries = SplitEntryList(gApp.plugin.inPopupMenu());
  // The real host's 1st, 3rd and 5th arguments carry nothing the plug-in uses.
  int started = gApp.plugin.initPlugin(0, HostLaunch, 0, HostRegister, 0, gApp.dataDir.c_str());
  gApp.pluginStarted = started == 0;
  if (!gApp.pluginStarted) {
    Complain(Format("initPlugin(%s) = %d", gApp.dataDir.c_str(), started), scripted);
    if (scripted) {
      UnloadPluginBinding(&gApp.plugin);
      return 2;
    }
  }

  if (!CreateMainWindow(OptionValue(argc, argv, "--dataset"))) {
    Complain("the main window could not be created", scripted);
    UnloadPluginBinding(&gApp.plugin);
    return 2;
  }
  ShowWindow(gApp.window, scripted ? SW_SHOWNORMAL : show);
  UpdateWindow(gApp.window);
  SetForegroundWindow(gApp.window);

  int exitCode = 0;
  if (unattended) {
    const char* launch = OptionValue(argc, argv, "--launch");
    bool pause = OptionValue(argc, argv, "--pause-at") != nullptr;
    const char* option = pause ? "--pause-at" : "--hold-at";
    const char* holdAt = OptionValue(argc, argv, option);
    const char* event = SecondValue(argc, argv, option);
    if (holdAt != nullptr && event != nullptr) HoldAtRegisterOf(holdAt, event, pause);
    const int kRunSeconds = 120;
    exitCode = RegisterUnattended(kRunSeconds) && (launch == nullptr || LaunchUnattended(launch)) ? 0 : 1;
    DestroyWindow(gApp.window);
    PumpMessages();
  } else if (scripted) {
    gApp.waitForEmulator = true;
    exitCode = RunScript(options);
    DestroyWindow(gApp.window);
    PumpMessages();
  } else {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  if (gApp.pluginStarted && gApp.plugin.closePlugin() != 0) {
    Complain("closePlugin failed", scripted);
    if (exitCode == 0 && scripted) exitCode = 1;
  }
  UnloadPluginBinding(&gApp.plugin);
  // On a desktop of its own the exit code does not reach the caller: a file does.
  const char* status = OptionValue(argc, argv, "--status");
  if (status != nullptr) WriteBytes(FullPath(status), Format("%d\n", exitCode));
  return exitCode;
}
