// ROM archives (".zip", ".7z") and their extraction through 7-zip32.dll.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

// True when the last path component's extension is exactly ".zip", ".7z", ".ZIP" or ".7Z".
bool IsArchivePath(const char* path);

enum ArchiveResult : int32_t {
  kArchiveExtracted = 0,
  // Not an archive, cannot be opened or closed, an unusable first entry name,
  // no room for a path or the command, or an output folder without its final "\".
  kArchiveRefused = -1,
  kArchiveBusy = -2,
  // The archiver's command failed, or left no file at the first entry's path.
  kArchiveNotExtracted = -3,
  // The first entry is named outside the code page, and the file written for
  // it has no name the ANSI calls open (no short name), or shares its
  // spelling with another.
  kArchiveNameNotInCodePage = -4,
};

// Registration needs only the first entry; a launch takes every entry, since a
// game may need its other files.
enum ExtractScope { kExtractFirstEntry, kExtractEveryEntry };

// The name of the archive's first entry as the archiver reports it, a path
// relative to the folder it is extracted into (into entryName, size bytes).
// kArchiveExtracted when it was read; kArchiveBusy, or kArchiveRefused for an
// archive that cannot be opened or closed or a name that would lead outside.
ArchiveResult ReadFirstEntryName(const char* archivePath, char* entryName, size_t size);

// Extracts archivePath into outputFolder, a fresh, empty folder of the
// caller's own ending with "\", and puts the path of the archive's first entry
// there into firstEntryPath (a 260-byte buffer). The file there holds the
// first entry's bytes, also when a later entry has the same name (the first of
// a name is written, later ones are skipped). firstEntryPath is empty on every
// result but kArchiveExtracted and kArchiveBusy (which leaves it untouched).
//  - kExtractFirstEntry: the first entry, and at most the few entries whose
//    names match its pattern.
//  - kExtractEveryEntry: every entry, in one pass.
ArchiveResult ExtractArchive(const char* archivePath, char* firstEntryPath, HWND ownerWindow, const char* outputFolder,
                             ExtractScope scope);
