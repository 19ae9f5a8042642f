// The library entry routine; only in Corvane.dll, not in the tests' copy of the code.
#include <windows.h>

#include "base/state.h"
#include "plugin/plugin.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      PluginAttach(instance);
      break;
    case DLL_PROCESS_DETACH:
      PluginDetach();
      break;
    default:
      break;
  }
  return TRUE;
}
