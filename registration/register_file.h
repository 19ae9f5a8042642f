// One found file of the registration run: a header-stripped copy in tempDir,
// its CRC text, the host's registration and the relation file line.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

struct RelationFile;

// What became of one file.
enum RegisterResult : int32_t {
  kRegisterDone = 0,
  // The archiver could not open or close the archive: offered again later.
  kRegisterArchiveRefused = -1,
  // The archiver is busy: offered again later.
  kRegisterArchiverBusy = -2,
  // Nothing was registered and offering it again would not help (no copy, a
  // path too long, a file of our own temporary folder, a failed write of the
  // relation file).
  kRegisterPassedOver = -3,
};

// Registers folderPath + entry->cFileName and appends its line to relation.
// When the file is passed over, *skipReason gets the reason's text for the
// run's list, or nullptr when the file is not the user's concern (a copy of
// our own, or the relation file failed, which the run reports itself).
RegisterResult RegisterRomFile(const char* folderPath, HWND dialog, const WIN32_FIND_DATAA* entry,
                               RelationFile* relation, const char** skipReason);

// Copies source to destination without its first headerSize bytes (the
// profile's). 0 done; -1 not done, and no partial destination is left.
int32_t CopyWithoutHeader(const char* destination, const char* source);

// Moves path to "temp" + its name in the same folder, removing a stale file of
// that name first; renamed (a path buffer of renamedSize bytes) gets the new
// path. 0 moved; -1 not (renamed is then empty when the name did not fit).
int32_t RenameWithTempPrefix(const char* path, char* renamed, size_t renamedSize);
