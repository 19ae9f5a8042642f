// ROM archives (".zip", ".7z") and their extraction through 7-zip32.dll.
#pragma once
#include <windows.h>

// 1 when the last path component's extension is exactly ".zip", ".7z", ".ZIP" or ".7Z".
int IsArchivePath(const char* path);

// Extracts archivePath into outputFolder (ending with "\") and puts the path of
// the archive's first entry there into firstEntryPath (a 260-byte buffer). A
// file already at that path is removed before the extraction, so the file is
// there afterwards only if this extraction wrote it. 0 done; -1 not an archive,
// cannot be opened or closed, an unusable first entry name, or a folder (or a
// file that cannot be removed) at the entry's path (firstEntryPath then empty);
// -2 the archiver is busy (firstEntryPath untouched).
int ExtractArchive(const char* archivePath, char* firstEntryPath, HWND ownerWindow, const char* outputFolder);
