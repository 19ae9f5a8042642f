// The one process-wide record of the plug-in's state, zero when the library
// is loaded.
#pragma once
#include <windows.h>

#include <cstdint>

#include "plugin/text.h"

// The host's two services; both take a code page 932 path that lives only
// during the call.
typedef int(__stdcall* HostPathCallback)(const char* path);

// The host's selection record for the popup action: only the second field, the
// selected ROM's CRC text, is read.
struct HostSelection {
  int32_t unused;
  const char* crcText;
};

// The five per-dataset settings, persisted in the profile file in this order.
struct DatasetProfile {
  int32_t headerSize;
  char romFolder[kPathSize];
  int32_t depthChoice;
  int32_t extractOnLaunch;
  char extractFolder[kPathSize];
};

struct PluginState {
  HINSTANCE moduleInstance;
  // Set by a successful initPlugin; clicks and closePlugin do nothing without it.
  bool started;
  char dataDir[kPathSize];
  char tempDir[kPathSize];
  char lastRomBrowseFolder[kPathSize];
  char lastExtractBrowseFolder[kPathSize];
  char datasetName[kPathSize];
  HostPathCallback hostLaunch;
  HostPathCallback hostRegister;
  DatasetProfile profile;
};

extern PluginState gState;

// The longest data directory (with its trailing "\") for which every file name
// the plug-in composes from it fits a path buffer ("Setting.ini" is the longest).
constexpr size_t kMaxDataDirLength = 248;

// What the library entry routine does on attach and detach; the tests call them
// for a plug-in linked into their own executable.
void PluginAttach(HINSTANCE instance);
void PluginDetach();

// Moves a window to the centre of the desktop work area without resizing it.
void CenterOnWorkArea(HWND window);

int LoadGlobalSettings();
int SaveGlobalSettings();

// The exported entry points (undecorated names through Corvane.def).
extern "C" {
const char* __stdcall getAuthor();
const char* __stdcall getName();
const char* __stdcall getSDKVersion();
const char* __stdcall getSmallComment();
const char* __stdcall getVersion();
int __stdcall initPlugin(int hostValue1, HostPathCallback launch, int hostValue3,
                         HostPathCallback registerRom, int hostValue5, const char* dataDir);
int __stdcall closePlugin();
const char* __stdcall inMenu();
void __stdcall onMenuClick(int index);
const char* __stdcall inPopupMenu();
int __stdcall onPopupMenuClick(int hostValue1, const HostSelection* selection);
}
