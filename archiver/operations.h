// The six operations the plug-in binds by ordinal (see 7-zip32.def), as this
// library defines them. The plug-in declares its side of the binding on its
// own; the .def's decorated names (Name@bytes) make the link fail if an
// argument list here changes size.
#pragma once
#include <windows.h>

typedef void* ArcHandle;

extern "C" {
// Ordinal 1: runs  x "ARCHIVE" -aoa -hide "OUTDIR" PATTERN; 0 on success, a
// short report in output.
int __stdcall ArcRunCommand(HWND ownerWindow, const char* command, char* output, DWORD outputSize);
// Ordinal 10: non-zero while an operation is under way.
BOOL __stdcall ArcIsBusy(void);
// Ordinal 21: opens an archive for listing; null when it cannot be read.
ArcHandle __stdcall ArcOpen(HWND ownerWindow, const char* archivePath, DWORD mode);
// Ordinal 22: closes a handle from ArcOpen; 0 on success.
int __stdcall ArcClose(ArcHandle archive);
// Ordinal 23: stands on the first entry matching pattern; 0 found, -1 none.
int __stdcall ArcFindFirst(ArcHandle archive, const char* pattern, void* info);
// Ordinal 40: the current entry's name (code page 932, "\" separators); 0 on
// success, non-zero when it does not fit or there is no current entry.
int __stdcall ArcGetEntryName(ArcHandle archive, char* buffer, int bufferSize);
}
