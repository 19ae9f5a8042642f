// The one process-wide record of the plug-in's state, zero when the library
// is loaded.
#pragma once
#include <windows.h>

#include <cstdint>

#include "base/host_interface.h"
#include "base/text.h"

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
  // One action at a time: the host may call back in while a run, the settings
  // dialog or a launch is under way (from hostRegister, from a timer, from its
  // own menu while a modal dialog pumps messages). Such a call returns at once
  // and changes nothing, so the action in progress keeps its dataset and profile.
  bool actionInProgress;
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

// The longest data directory (with its trailing "\") for which "Setting.ini"
// and the temp folder fit a path buffer. A dataset's files, their aside names
// and the staging folders are longer with a long dataset name or data
// directory; each is checked where it is composed and refused when it does not fit.
constexpr size_t kMaxDataDirLength = 248;
