// The library entry routine; only in Corvane.dll, not in the tests' copy of the code.
#include <windows.h>

#include "plugin/plugin.h"

// It runs under the loader lock, where nothing that may load a library or wait
// on another thread is allowed (COM, the common controls): it only records the
// module handle. Those are set up where they are first needed.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      PluginAttach(instance);
      break;
    default:
      break;
  }
  return TRUE;
}
