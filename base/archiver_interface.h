// The six operations of the archiver library 7-zip32.dll that the plug-in uses.
// The plug-in binds them by ordinal only (see archive/7-zip32.def); the names
// below are ours. The stand-in in archiver/ defines exactly these, from this
// one declaration.
#pragma once
#include <windows.h>

typedef void* ArcHandle;

extern "C" {
// Ordinal 1: runs a command line such as  x "ARCHIVE" -aoa -hide "OUTDIR" *.*
// Returns 0 on success, non-zero on failure; writes a short report to output.
int __stdcall ArcRunCommand(HWND ownerWindow, const char* command, char* output, DWORD outputSize);
// Ordinal 10: non-zero while an operation of the library is under way.
BOOL __stdcall ArcIsBusy(void);
// Ordinal 21: opens an archive for listing; null when it cannot be read.
ArcHandle __stdcall ArcOpen(HWND ownerWindow, const char* archivePath, DWORD mode);
// Ordinal 22: closes a handle from ArcOpen; 0 on success.
int __stdcall ArcClose(ArcHandle archive);
// Ordinal 23: positions the handle on the first entry matching pattern; 0 when
// one was found, -1 when there is none.
int __stdcall ArcFindFirst(ArcHandle archive, const char* pattern, void* info);
// Ordinal 40: copies the current entry's name (a relative path, code page 932,
// folders separated by "\") into buffer; 0 on success, non-zero when it does not fit
// or there is no current entry.
int __stdcall ArcGetEntryName(ArcHandle archive, char* buffer, int bufferSize);
}
