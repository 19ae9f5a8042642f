// The tests' stand-in for the host application: a top-level window made active,
// "TComboBox" children carrying dataset names, and the two host services
// recording every call. It brings the shared file, text and dialog-driving
// helpers along, which every test uses.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "base/host_interface.h"
#include "support/dialog_driver.h"
#include "support/files.h"

struct HostCall {
  std::string path;     // as handed over, code page 932
  bool existed;         // whether a file was there during the call
  long long size;       // its size then, or -1
  std::string content;  // its bytes then
};

struct HostDouble {
  HWND window = nullptr;
  std::vector<HostCall> registerCalls;
  std::vector<HostCall> launchCalls;
  int registerResult = 0;
  int launchResult = 0;
  // Runs inside hostRegister, after the call was recorded (e.g. to cancel a run).
  std::function<void(const char* path)> onRegister;
};

extern HostDouble gHost;

// Creates the host window, visible and active. HostClose destroys it.
void HostOpen();
void HostClose();
// A visible or hidden child of class "TComboBox" holding text, width pixels wide
// (client area), placed under parent (the host window when null).
HWND HostAddCombo(const char* text, int width, bool visible = true, HWND parent = nullptr);
// Clears the recorded calls.
void HostReset();

int __stdcall HostRegister(const char* path);
int __stdcall HostLaunch(const char* path);

// The plug-in as the host sees it: Corvane.dll loaded and its eleven entry points.
struct LoadedPlugin {
  HMODULE module = nullptr;
  decltype(&::getAuthor) getAuthor = nullptr;
  decltype(&::getName) getName = nullptr;
  decltype(&::getSDKVersion) getSDKVersion = nullptr;
  decltype(&::getSmallComment) getSmallComment = nullptr;
  decltype(&::getVersion) getVersion = nullptr;
  decltype(&::initPlugin) initPlugin = nullptr;
  decltype(&::closePlugin) closePlugin = nullptr;
  decltype(&::inMenu) inMenu = nullptr;
  decltype(&::onMenuClick) onMenuClick = nullptr;
  decltype(&::inPopupMenu) inPopupMenu = nullptr;
  decltype(&::onPopupMenuClick) onPopupMenuClick = nullptr;
};
bool LoadPlugin(LoadedPlugin* plugin);  // false when the DLL or an entry point is missing
void UnloadPlugin(LoadedPlugin* plugin);

// Starts the plug-in code linked into the test executable (its dialog templates
// are linked in too) as initPlugin would for the host double's services.
int StartLinkedPlugin(const std::string& dataDir);
