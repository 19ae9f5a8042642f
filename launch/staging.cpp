#include "launch/staging.h"

#include <windows.h>

#include <climits>
#include <cstring>

#include "archive/archive.h"
#include "base/file_identity.h"
#include "base/file_io.h"
#include "base/folder_listing.h"
#include "base/own_files.h"
#include "base/tree_walk.h"
#include "base/text.h"
#include "launch/extraction_record.h"

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

static bool IsNamed(const char* name, const char* fixed) {
  return MeaningfulLength(name) == strlen(fixed) && NameEndsWith(name, fixed);
}

// The plug-in's own files, by their path relative to the data directory:
// Setting.ini and the extraction record at its top, and any dataset's
// relation, profile and log file (a dataset name may lead into a subfolder,
// so those at any depth).
static bool IsPluginFileName(const char* dataRelative) {
  const char* name = LastComponent(dataRelative);
  if (NameEndsWith(name, ".rel") || NameEndsWith(name, ".fol") || NameEndsWith(name, ".log")) return true;
  return name == dataRelative &&
         (IsNamed(name, "Setting.ini") || IsNamed(name, kOwnRecordName) || IsNamed(name, kExtractionRecordName));
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
  const char* dataDir;
  const MovedFileNote* note;
  bool moving;  // false: only look; true: move each file into place
};

// A folder's tag is where the path relative to the data directory starts in
// the entry's relative path, or -1 when the folder does not lie in it.
// Looking, a stop means a file would land on a plug-in file or a folder, or
// has no room for its destination path; moving, it means a move failed.
static WalkAnswer VisitStaged(void* context, WalkedEntry* entry) {
  const StagedWalk& walk = *static_cast<const StagedWalk*>(context);
  int dataStart = entry->levelTag;
  const char* name = entry->relative;
  char destination[kPathSize];
  char child[kPathSize];
  if (name == nullptr || !FormatText(destination, sizeof destination, "%s%s", walk.extractFolder, name)) {
    return kWalkStop;
  }
  if (IsFolderEntry(*entry->found)) {
    // Its entries could not be named below it.
    if (!FormatText(child, sizeof child, "%s%s\\", walk.staging, name)) return kWalkStop;
    entry->childTag = dataStart;
    if (walk.moving) {
      CreateDirectoryA(destination, nullptr);
    } else if (IsSamePath(destination, walk.dataDir)) {
      // The data directory under whatever name the entries give it (another
      // case, an 8.3 alias, a link below the extraction folder).
      entry->childTag = static_cast<int>(strlen(name) + 1);
    } else if (dataStart >= 0 && IsPluginFileName(name + dataStart)) {
      // A folder named like a plug-in file would stand in the way of one.
      return kWalkStop;
    }
    return kWalkDescend;
  }
  if (!walk.moving) {
    DWORD attributes = GetFileAttributesA(destination);
    bool onFolder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    return onFolder || (dataStart >= 0 && WouldReplacePluginFile(name + dataStart, destination)) ? kWalkStop : kWalkOn;
  }
  // The extraction folder may lie on another volume than the temp folder
  // (another drive, a linked folder): the move then copies.
  if (MoveOwnFile(entry->path, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    if (walk.note != nullptr) walk.note->moved(walk.note->context, name, destination);
    return kWalkOn;
  }
  ReportSystemError("MoveFileExA", destination, GetLastError());
  return kWalkStop;
}

// Every file below the staging folder looked at or moved; false when the
// visitor stopped or the staging folder could not be listed.
static bool WalkStaged(StagedWalk* walk, int dataStart) {
  TreeWalk tree;
  if (!StartTreeWalk(&tree, walk->staging, dataStart)) return false;
  StepTreeWalk(&tree, INT_MAX, {VisitStaged, nullptr, walk});
  bool stopped = tree.stopped;
  EndTreeWalk(&tree);
  return !stopped;
}

// The extraction folder and every folder on the way to it, as the archiver
// makes them for its output folder: one the user removed is made again.
// Failures are left to the moves, which report them.
static void MakeFolderAndParents(const char* folder, int levelsLeft) {
  DWORD attributes = GetFileAttributesA(folder);
  if ((attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) || levelsLeft == 0) return;
  char parent[kPathSize];
  if (CopyText(parent, sizeof parent, folder) && EndsWithBackslash(parent)) {
    parent[strlen(parent) - 1] = '\0';
    const char* last = LastComponent(parent);
    parent[last - parent] = '\0';
    if (last != parent) MakeFolderAndParents(parent, levelsLeft - 1);
  }
  CreateDirectoryA(folder, nullptr);
}

ArchiveResult ExtractThroughStaging(const char* archivePath, const char* extractFolder, const char* dataDir,
                                    const char* tempDir, char* firstEntryPath, const MovedFileNote* note) {
  StagedWalk walk = {nullptr, extractFolder, dataDir, note, false};
  // Without its final "\" the folder and a name would join into a path beside it.
  FileIdentity dataIdentity = {};
  if (!EndsWithBackslash(extractFolder) || !GetFileIdentity(dataDir, &dataIdentity)) return kArchiveRefused;
  char staging[kPathSize];
  if (!MakePrivateFolder(tempDir, staging, sizeof staging)) return kArchiveRefused;
  walk.staging = staging;
  char stagedFirst[kPathSize] = "";
  ArchiveResult result = ExtractArchive(archivePath, stagedFirst, nullptr, staging, kExtractEveryEntry);
  if (result == kArchiveExtracted) {
    // The path to launch stays the extraction folder joined with the entry's name.
    char launchPath[kPathSize];
    const char* entryName = stagedFirst + strlen(staging);
    int dataStart = IsSamePath(extractFolder, dataDir) ? 0 : -1;
    if (!FormatText(launchPath, sizeof launchPath, "%s%s", extractFolder, entryName) || !WalkStaged(&walk, dataStart)) {
      result = kArchiveRefused;
    } else {
      walk.moving = true;
      MakeFolderAndParents(extractFolder, kMaxTreeDepth);
      result = WalkStaged(&walk, dataStart) ? kArchiveExtracted : kArchiveRefused;
      if (result == kArchiveExtracted) CopyText(firstEntryPath, kPathSize, launchPath);
    }
  }
  RemoveFolderTree(staging);
  return result;
}
