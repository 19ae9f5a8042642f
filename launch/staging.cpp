#include "launch/staging.h"

#include <windows.h>

#include <cstring>

#include "archive/archive.h"
#include "archive/temp_cleanup.h"
#include "base/file_io.h"
#include "base/state.h"

// A folder of tempDir no one else uses: made fresh, never an existing one.
static bool MakeStagingFolder(char* staging, size_t size) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    if (!FormatText(staging, size, "%sstaging%lu_%u\\", gState.tempDir, GetCurrentProcessId(), attempt)) {
      return false;
    }
    if (CreateDirectoryA(staging, nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

// Windows drops trailing dots and blanks from a name, so "NES.rel." is NES.rel.
static size_t MeaningfulLength(const char* name) {
  size_t length = strlen(name);
  while (length > 0 && (name[length - 1] == '.' || name[length - 1] == ' ')) --length;
  return length;
}

static bool NameEndsWith(const char* name, const char* ending) {
  size_t length = MeaningfulLength(name);
  size_t endingLength = strlen(ending);
  // "." cannot be the trail byte of a double-byte character, so an ending that
  // starts with it is a whole-character match.
  return length >= endingLength && _strnicmp(name + length - endingLength, ending, endingLength) == 0;
}

// The plug-in's own files in the data directory: Setting.ini at its top, and
// any dataset's relation and profile file (a dataset name may lead into a
// subfolder, so those at any depth).
static bool IsPluginFileName(const char* relative) {
  const char* name = LastComponent(relative);
  if (NameEndsWith(name, ".rel") || NameEndsWith(name, ".fol")) return true;
  return name == relative && MeaningfulLength(name) == strlen("Setting.ini") && NameEndsWith(name, "Setting.ini");
}

// Also under the long name of a file that is already there: an entry named
// like its short 8.3 alias (SETTIN~1.INI) would replace it all the same.
static bool WouldReplacePluginFile(const char* relative, const char* destination) {
  if (IsPluginFileName(relative)) return true;
  char longPath[kPathSize];
  DWORD length = GetLongPathNameA(destination, longPath, sizeof longPath);
  if (length == 0 || length >= sizeof longPath) return false;
  const char* longName = LastComponent(longPath);
  char longRelative[kPathSize];
  if (!FormatText(longRelative, sizeof longRelative, "%.*s%s", static_cast<int>(LastComponent(relative) - relative),
                  relative, longName)) {
    return true;
  }
  return IsPluginFileName(longRelative);
}

struct StagedWalk {
  const char* staging;
  const char* extractFolder;
  bool moving;  // false: only look; true: move each file into place
};

// Visits the files below staging + relative (relative is "" or ends with "\").
// Looking, false means a file would land on a plug-in file or has no room for
// its destination path; moving, false means a move failed.
static bool WalkStaged(const StagedWalk& walk, const char* relative) {
  char pattern[kPathSize];
  if (!FormatText(pattern, sizeof pattern, "%s%s*", walk.staging, relative)) return false;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(pattern, &entry);
  if (search == INVALID_HANDLE_VALUE) return relative[0] != '\0';
  bool fine = true;
  do {
    if (strcmp(entry.cFileName, ".") == 0 || strcmp(entry.cFileName, "..") == 0) continue;
    char name[kPathSize];
    char source[kPathSize];
    char destination[kPathSize];
    if (!FormatText(name, sizeof name, "%s%s", relative, entry.cFileName) ||
        !FormatText(source, sizeof source, "%s%s", walk.staging, name) ||
        !FormatText(destination, sizeof destination, "%s%s", walk.extractFolder, name)) {
      fine = false;
    } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A folder named like a plug-in file would stand in the way of one.
      char child[kPathSize];
      if (walk.moving) CreateDirectoryA(destination, nullptr);
      fine = (walk.moving || !IsPluginFileName(name)) && FormatText(child, sizeof child, "%s\\", name) &&
             WalkStaged(walk, child);
    } else if (!walk.moving) {
      fine = !WouldReplacePluginFile(name, destination);
    } else if (!MoveFileExA(source, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
      // tempDir and the data directory may lie on different volumes (a
      // linked temp folder), hence the copy that the move may need.
      ReportSystemError("MoveFileExA", destination, GetLastError());
      fine = false;
    }
  } while (fine && FindNextFileA(search, &entry));
  FindClose(search);
  return fine;
}

int ExtractIntoDataDirectory(const char* archivePath, const char* extractFolder, char* firstEntryPath) {
  char staging[kPathSize];
  if (!MakeStagingFolder(staging, sizeof staging)) return -1;
  char stagedFirst[kPathSize] = "";
  int result = ExtractArchive(archivePath, stagedFirst, nullptr, staging);
  if (result == 0) {
    // The path to launch stays the extraction folder joined with the entry's name.
    char launchPath[kPathSize];
    const char* entryName = stagedFirst + strlen(staging);
    StagedWalk walk = {staging, extractFolder, false};
    bool extracted = GetFileAttributesA(stagedFirst) != INVALID_FILE_ATTRIBUTES;
    if (!extracted || !FormatText(launchPath, sizeof launchPath, "%s%s", extractFolder, entryName) ||
        !WalkStaged(walk, "")) {
      result = -1;
    } else {
      walk.moving = true;
      result = WalkStaged(walk, "") ? 0 : -1;
      if (result == 0) CopyText(firstEntryPath, kPathSize, launchPath);
    }
  }
  RemoveFolderTree(staging);
  return result;
}
