#include "launch/staging.h"

#include <windows.h>

#include <cstring>

#include "archive/archive.h"
#include "archive/temp_cleanup.h"
#include "base/file_identity.h"
#include "base/file_io.h"
#include "base/folder_listing.h"
#include "base/text.h"

bool HoldsDataDirectory(const char* extractFolder, const char* dataDir) {
  FileIdentity extractIdentity = {};
  if (!GetFileIdentity(extractFolder, &extractIdentity)) return false;
  // ".." collapsed first, so that the walk up goes through the data
  // directory's real ancestors; as it stands when that fails, and held (so
  // staged, the safe side) when even that does not fit.
  char folder[kPathSize];
  DWORD length = GetFullPathNameA(dataDir, sizeof folder, folder, nullptr);
  if ((length == 0 || length >= sizeof folder) && !CopyText(folder, sizeof folder, dataDir)) return true;
  // Bounded by the path: each pass takes one component off.
  for (size_t level = 0; level < kPathSize && folder[0] != '\0'; ++level) {
    FileIdentity identity = {};
    if (GetFileIdentity(folder, &identity) && SameIdentity(identity, extractIdentity)) return true;
    if (EndsWithBackslash(folder)) folder[strlen(folder) - 1] = '\0';
    const char* last = LastComponent(folder);
    if (last == folder) break;
    folder[last - folder] = '\0';
  }
  return false;
}

// A folder of tempDir no one else uses: made fresh, never an existing one.
static bool MakeStagingFolder(const char* tempDir, char* staging, size_t size) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    if (!FormatText(staging, size, "%sstaging%lu_%u\\", tempDir, GetCurrentProcessId(), attempt)) return false;
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

// The plug-in's own files, by their path relative to the data directory:
// Setting.ini at its top, and any dataset's relation, profile and log file (a
// dataset name may lead into a subfolder, so those at any depth).
static bool IsPluginFileName(const char* dataRelative) {
  const char* name = LastComponent(dataRelative);
  if (NameEndsWith(name, ".rel") || NameEndsWith(name, ".fol") || NameEndsWith(name, ".log")) return true;
  return name == dataRelative && MeaningfulLength(name) == strlen("Setting.ini") && NameEndsWith(name, "Setting.ini");
}

// Also under the long name of a file that is already there: an entry named
// like its short 8.3 alias (SETTIN~1.INI) would replace it all the same.
static bool WouldReplacePluginFile(const char* dataRelative, const char* destination) {
  if (IsPluginFileName(dataRelative)) return true;
  char longPath[kPathSize];
  DWORD length = GetLongPathNameA(destination, longPath, sizeof longPath);
  if (length == 0 || length >= sizeof longPath) return false;
  const char* longName = LastComponent(longPath);
  char longRelative[kPathSize];
  if (!FormatText(longRelative, sizeof longRelative, "%.*s%s",
                  static_cast<int>(LastComponent(dataRelative) - dataRelative), dataRelative, longName)) {
    return true;
  }
  return IsPluginFileName(longRelative);
}

struct StagedWalk {
  const char* staging;
  const char* extractFolder;
  FileIdentity dataIdentity;
  bool moving;  // false: only look; true: move each file into place
};

// The destination is the data directory under whatever name the entries give it
// (another case, an 8.3 alias, a link below the extraction folder).
static bool IsDataDirectory(const StagedWalk& walk, const char* destination) {
  FileIdentity identity = {};
  return GetFileIdentity(destination, &identity) && SameIdentity(identity, walk.dataIdentity);
}

// Visits the files below staging + relative (relative is "" or ends with "\").
// dataStart is where the path relative to the data directory starts in
// relative, or -1 when this level does not lie in it. Looking, false means a
// file would land on a plug-in file or a folder, or has no room for its
// destination path; moving, false means a move failed.
static bool WalkStaged(const StagedWalk& walk, const char* relative, int dataStart) {
  char prefix[kPathSize];
  if (!FormatText(prefix, sizeof prefix, "%s%s", walk.staging, relative)) return false;
  FolderListing listing;
  if (!OpenListing(&listing, prefix)) return relative[0] != '\0';
  bool fine = true;
  while (fine && NextListedEntry(&listing)) {
    const WIN32_FIND_DATAA& entry = listing.entry;
    char name[kPathSize];
    char source[kPathSize];
    char destination[kPathSize];
    if (!FormatText(name, sizeof name, "%s%s", relative, entry.cFileName) ||
        !FormatText(source, sizeof source, "%s%s", walk.staging, name) ||
        !FormatText(destination, sizeof destination, "%s%s", walk.extractFolder, name)) {
      fine = false;
    } else if (IsFolderEntry(entry)) {
      char child[kPathSize];
      fine = FormatText(child, sizeof child, "%s\\", name);
      int childStart = dataStart;
      if (walk.moving) {
        CreateDirectoryA(destination, nullptr);
      } else if (fine && IsDataDirectory(walk, destination)) {
        childStart = static_cast<int>(strlen(child));
      } else if (dataStart >= 0) {
        // A folder named like a plug-in file would stand in the way of one.
        fine = !IsPluginFileName(name + dataStart);
      }
      fine = fine && WalkStaged(walk, child, childStart);
    } else if (!walk.moving) {
      DWORD attributes = GetFileAttributesA(destination);
      bool onFolder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
      fine = !onFolder && (dataStart < 0 || !WouldReplacePluginFile(name + dataStart, destination));
    } else if (!MoveFileExA(source, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
      // tempDir and the extraction folder may lie on different volumes (a
      // linked temp folder), hence the copy that the move may need.
      ReportSystemError("MoveFileExA", destination, GetLastError());
      fine = false;
    }
  }
  CloseListing(&listing);
  return fine;
}

ArchiveResult ExtractThroughStaging(const char* archivePath, const char* extractFolder, const char* dataDir,
                                    const char* tempDir, char* firstEntryPath) {
  StagedWalk walk = {nullptr, extractFolder, {}, false};
  // Without its final "\" the folder and a name would join into a path beside it.
  if (!EndsWithBackslash(extractFolder) || !GetFileIdentity(dataDir, &walk.dataIdentity)) return kArchiveRefused;
  char staging[kPathSize];
  if (!MakeStagingFolder(tempDir, staging, sizeof staging)) return kArchiveRefused;
  walk.staging = staging;
  char stagedFirst[kPathSize] = "";
  ArchiveResult result = ExtractArchive(archivePath, stagedFirst, nullptr, staging, kExtractEveryEntry);
  if (result == kArchiveExtracted) {
    // The path to launch stays the extraction folder joined with the entry's name.
    char launchPath[kPathSize];
    const char* entryName = stagedFirst + strlen(staging);
    int dataStart = IsDataDirectory(walk, extractFolder) ? 0 : -1;
    if (!FormatText(launchPath, sizeof launchPath, "%s%s", extractFolder, entryName) ||
        !WalkStaged(walk, "", dataStart)) {
      result = kArchiveRefused;
    } else {
      walk.moving = true;
      result = WalkStaged(walk, "", dataStart) ? kArchiveExtracted : kArchiveRefused;
      if (result == kArchiveExtracted) CopyText(firstEntryPath, kPathSize, launchPath);
    }
  }
  RemoveFolderTree(staging);
  return result;
}
