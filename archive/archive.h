// ROM archives (".zip", ".7z") and their extraction through 7-zip32.dll.
#pragma once
#include <windows.h>

#include <cstdint>

// True when the last path component's extension is exactly ".zip", ".7z", ".ZIP" or ".7Z".
bool IsArchivePath(const char* path);

enum ArchiveResult : int32_t {
  kArchiveExtracted = 0,
  // Not an archive, cannot be opened or closed, an unusable first entry name,
  // no room for a path or the command, an output folder without its final
  // "\", or a folder (or a file that cannot be moved aside) at the entry's path.
  kArchiveRefused = -1,
  kArchiveBusy = -2,
  // The archiver's command failed, or left no file at the first entry's path;
  // a file that stood there before is back as it was.
  kArchiveNotExtracted = -3,
  // The first entry is named outside the code page, and the file written for
  // it has no name the ANSI calls open (no short name), or shares its
  // spelling with another.
  kArchiveNameNotInCodePage = -4,
};

// Registration needs only the first entry; a launch takes every entry, since a
// game may need its other files.
enum ExtractScope { kExtractFirstEntry, kExtractEveryEntry };

// Extracts archivePath into outputFolder (which must end with "\") and puts the
// path of the archive's first entry there into firstEntryPath (a 260-byte
// buffer). The file there holds the first entry's bytes, also when a later
// entry has the same name. firstEntryPath is empty on every result but
// kArchiveExtracted and kArchiveBusy (which leaves it untouched).
//  - kExtractFirstEntry: outputFolder is a fresh, empty folder of the caller's
//    own; the first entry, and at most the few entries whose names match its
//    pattern, are written there.
//  - kExtractEveryEntry: every entry, replacing what is there. A file already
//    at the first entry's path is moved aside first (and recorded, so that a
//    kill cannot lose it), deleted once the entry is there and put back
//    otherwise; a put-back that fails is named in a box.
ArchiveResult ExtractArchive(const char* archivePath, char* firstEntryPath, HWND ownerWindow, const char* outputFolder,
                             ExtractScope scope);
