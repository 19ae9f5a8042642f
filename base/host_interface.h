// What the host and the plug-in see of each other: the callback type, the
// popup's selection record and the eleven exports. The DLL, the demo host, the
// test double and the benchmarks all take these declarations from here.
#pragma once
#include <cstdint>

// The host's two services; both take a code page 932 path that lives only
// during the call.
typedef int(__stdcall* HostPathCallback)(const char* path);

// The host's selection record for the popup action: only the second field, the
// selected ROM's CRC text, is read.
struct HostSelection {
  int32_t unused;
  const char* crcText;
};

// The exported entry points (undecorated names through Corvane.def). A host
// that binds them at run time types its pointers as decltype(&initPlugin).
extern "C" {
const char* __stdcall getAuthor();
const char* __stdcall getName();
const char* __stdcall getSDKVersion();
const char* __stdcall getSmallComment();
const char* __stdcall getVersion();
int __stdcall initPlugin(int hostValue1, HostPathCallback launch, int hostValue3, HostPathCallback registerRom,
                         int hostValue5, const char* dataDir);
int __stdcall closePlugin();
const char* __stdcall inMenu();
void __stdcall onMenuClick(int index);
const char* __stdcall inPopupMenu();
int __stdcall onPopupMenuClick(int hostValue1, const HostSelection* selection);
}
