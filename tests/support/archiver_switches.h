// The stand-in archiver's named test switches, bound from the 7-zip32.dll that
// the plug-in code in the test executable imports.
#pragma once
#include <windows.h>

#include "support/bind.h"

struct ArchiverSwitches {
  void(__stdcall* reset)() = nullptr;
  void(__stdcall* setBusy)(int) = nullptr;
  void(__stdcall* failOpen)(int) = nullptr;
  void(__stdcall* failNextClose)(int) = nullptr;
  void(__stdcall* failExtraction)(int) = nullptr;  // fails leaving every file in place
  int(__stdcall* openHandles)() = nullptr;
  int(__stdcall* callLog)(char*, int) = nullptr;
  int(__stdcall* lastCommand)(char*, int) = nullptr;
  HWND(__stdcall* lastRunOwner)() = nullptr;
};

// False when the library is not loaded or a switch is missing.
bool BindArchiverSwitches(ArchiverSwitches* switches);
// How often the call log names the operation of this ordinal (e.g. "10").
int CountArchiverCalls(const ArchiverSwitches& switches, const char* ordinal);
