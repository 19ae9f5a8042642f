// One found file of the registration run: a header-stripped copy in tempDir,
// its CRC text, the host's registration and the relation file line.
#pragma once
#include <windows.h>

#include <cstdint>

// Results of RegisterRomFile besides 0 (done) and ExtractArchive's -1 (archive
// not openable or closable) and -2 (archiver busy), which are offered again.
// The file could not be handled at all (no copy, no CRC, a path too long, or a
// file of our own temporary folder): nothing was registered, and offering it
// again would not help.
constexpr int32_t kRegisterPassedOver = -3;

// Registers folderPath + entry->cFileName and appends its line to the run's
// relation file (gScan.relationStream, which must be open).
int32_t RegisterRomFile(const char* folderPath, HWND dialog, const WIN32_FIND_DATAA* entry);

// Copies source to destination without its first headerSize bytes (the
// profile's). 0 done; -1 not done, and no partial destination is left.
int32_t CopyWithoutHeader(const char* destination, const char* source);

// Moves path to "temp" + its name in the same folder, removing a stale file of
// that name first; renamed (a path buffer of renamedSize bytes) gets the new
// path. 0 moved; -1 not (renamed is then empty when the name did not fit).
int32_t RenameWithTempPrefix(const char* path, char* renamed, size_t renamedSize);
