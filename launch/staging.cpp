#include "launch/staging.h"

#include <windows.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "archive/archive.h"
#include "base/file_identity.h"
#include "base/file_io.h"
#include "base/held_files.h"
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
  return name == dataRelative && (IsNamed(name, "Setting.ini") || IsNamed(name, kOwnRecordName) ||
                                  IsNamed(name, kExtractionRecordName) || IsNamed(name, kExtractionRecordPendingName));
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
  StagingOutcome* outcome;
};

static WalkAnswer FailWalk(const StagedWalk& walk, StagingFailure failure, const char* path) {
  walk.outcome->failure = failure;
  CopyText(walk.outcome->path, sizeof walk.outcome->path, path);
  return kWalkStop;
}

// A folder's tag is where the path relative to the data directory starts in
// the entry's relative path, or -1 when the folder does not lie in it.
// Looking, a stop means a file would land on a plug-in file, a folder or in
// the private folder, has no room for its destination path, or would replace
// a file another program holds; moving, it means a rename failed.
static WalkAnswer VisitStaged(void* context, WalkedEntry* entry) {
  const StagedWalk& walk = *static_cast<const StagedWalk*>(context);
  int dataStart = entry->levelTag;
  const char* name = entry->relative;
  char destination[kPathSize];
  char child[kPathSize];
  if (name == nullptr) return FailWalk(walk, kStagingPathTooLong, walk.staging);
  if (!FormatText(destination, sizeof destination, "%s%s", walk.extractFolder, name)) {
    return FailWalk(walk, kStagingPathTooLong, name);
  }
  if (IsFolderEntry(*entry->found)) {
    // Its entries could not be named below it.
    if (!FormatText(child, sizeof child, "%s%s\\", walk.staging, name)) {
      return FailWalk(walk, kStagingPathTooLong, name);
    }
    entry->childTag = dataStart;
    if (walk.moving) {
      CreateDirectoryA(destination, nullptr);
    } else if (IsSamePath(destination, walk.staging)) {
      // An entry named like the private folder would be moved into itself.
      return kWalkStop;
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
    if (onFolder || (dataStart >= 0 && WouldReplacePluginFile(name + dataStart, destination))) return kWalkStop;
    if (attributes == INVALID_FILE_ATTRIBUTES) return kWalkOn;
    // A rename cannot replace a read-only file; no hold to wait out there.
    if (attributes & FILE_ATTRIBUTE_READONLY) return FailWalk(walk, kStagingRefused, destination);
    // Asked now, while nothing has moved: a file another program holds would
    // stop the renames halfway.
    bool replaceable = WaitOutHolds([&](HoldRetry* retry) { return TryCheckReplaceable(destination, retry); });
    if (!replaceable && IsHeldError(GetLastError())) return FailWalk(walk, kStagingInUse, destination);
    return replaceable ? kWalkOn : FailWalk(walk, kStagingRefused, destination);
  }
  // One volume: a rename, never a copy, so that what stands at destination is
  // either what stood there or the whole entry. A file handed out by its short
  // name (its own holds characters the code page lacks) keeps its own name.
  const WIN32_FIND_DATAA& found = *entry->found;
  bool byShortName = found.cAlternateFileName[0] != '\0' && strcmp(found.cFileName, found.cAlternateFileName) == 0;
  char destinationFolder[kPathSize];
  bool moved = false;
  if (byShortName && CopyText(destinationFolder, sizeof destinationFolder, destination)) {
    destinationFolder[LastComponent(destinationFolder) - destinationFolder] = '\0';
    moved = MoveOwnFileUnderLongName(entry->path, destinationFolder, MOVEFILE_REPLACE_EXISTING);
  }
  if (moved || (!byShortName && MoveOwnFile(entry->path, destination, MOVEFILE_REPLACE_EXISTING))) {
    if (walk.note != nullptr) walk.note->moved(walk.note->context, name, destination);
    return kWalkOn;
  }
  DWORD error = GetLastError();
  ReportSystemError("MoveFileExA", destination, error);
  return FailWalk(walk, IsHeldError(error) ? kStagingInUse : kStagingRefused, destination);
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
// Failures are left to the private folder's making, which reports them.
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

// The longest name a private folder takes: "corvane-", a process number, "-",
// a number below 100, and its "\".
static constexpr size_t kPrivateFolderNameMax = 8 + 10 + 1 + 2 + 1;

// An extraction that failed on a volume without room: the archiver tells no
// reason, so the volume is asked. Less room left than the archive takes is
// taken as the cause (the staged part is still there while this is asked).
static bool IsOutOfRoom(const char* folder, const char* archivePath) {
  ULARGE_INTEGER available = {};
  WIN32_FILE_ATTRIBUTE_DATA archive;
  if (!GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr) ||
      !GetFileAttributesExA(archivePath, GetFileExInfoStandard, &archive)) {
    return false;
  }
  uint64_t archiveSize = (static_cast<uint64_t>(archive.nFileSizeHigh) << 32) | archive.nFileSizeLow;
  return available.QuadPart < archiveSize || available.QuadPart < (1u << 20);
}

// Whether the archiver's first entry landed where its name says, spelt as the
// extraction spells it (by its short name where the code page lacks some of
// its characters).
static bool IsStagedFirstEntry(const char* stagedFirst, const char* archiverFolder, const char* entryName) {
  char expected[kPathSize];
  return FormatText(expected, sizeof expected, "%s%s", archiverFolder, entryName) &&
         SpellOpenablePath(expected, sizeof expected) && strcmp(stagedFirst, expected) == 0;
}

void ExtractThroughStaging(const char* archivePath, const char* extractFolder, const char* dataDir,
                           char* firstEntryPath, const MovedFileNote* note, const volatile LONG* abandoned,
                           StagingOutcome* outcome) {
  *outcome = StagingOutcome();
  StagedWalk walk = {nullptr, extractFolder, dataDir, note, false, outcome};
  // Without its final "\" the folder and a name would join into a path beside it.
  FileIdentity dataIdentity = {};
  if (!EndsWithBackslash(extractFolder) || !GetFileIdentity(dataDir, &dataIdentity)) return;
  // The first entry's name first: a path to launch that cannot be named is
  // refused before anything is made.
  char entryName[kPathSize];
  char launchPath[kPathSize];
  outcome->result = ReadFirstEntryName(archivePath, entryName, sizeof entryName);
  if (outcome->result != kArchiveExtracted) {
    outcome->result = outcome->result == kArchiveBusy ? kArchiveBusy : kArchiveRefused;
    return;
  }
  outcome->result = kArchiveRefused;
  if (!FormatText(launchPath, sizeof launchPath, "%s%s", extractFolder, entryName)) {
    outcome->failure = kStagingPathTooLong;
    CopyText(outcome->path, sizeof outcome->path, entryName);
    return;
  }
  MakeFolderAndParents(extractFolder, kMaxTreeDepth);
  char staging[kPathSize];
  if (!MakePrivateFolder(extractFolder, staging, sizeof staging)) {
    bool tooLong = strlen(extractFolder) + kPrivateFolderNameMax >= kPathSize;
    outcome->failure = tooLong                                   ? kStagingPathTooLong
                       : IsOutOfRoom(extractFolder, archivePath) ? kStagingNoRoom
                                                                 : kStagingRefused;
    CopyText(outcome->path, sizeof outcome->path, extractFolder);
    return;
  }
  walk.staging = staging;
  // The archiver is handed the folder's short name where it has one: its
  // paths then stay as close as they can to the final ones in length.
  char shortStaging[kPathSize];
  DWORD shortLength = GetShortPathNameA(staging, shortStaging, sizeof shortStaging);
  const char* archiverFolder = shortLength > 0 && shortLength < strlen(staging) ? shortStaging : staging;
  char stagedFirst[kPathSize] = "";
  ArchiveResult extracted = ExtractArchive(archivePath, stagedFirst, nullptr, archiverFolder, kExtractEveryEntry);
  int dataStart = IsSamePath(extractFolder, dataDir) ? 0 : -1;
  if (extracted == kArchiveBusy) {
    outcome->result = kArchiveBusy;
  } else if (extracted != kArchiveExtracted) {
    char staged[kPathSize];
    if (!FormatText(staged, sizeof staged, "%s%s", archiverFolder, entryName)) {
      outcome->failure = kStagingPathTooLong;
      CopyText(outcome->path, sizeof outcome->path, launchPath);
    } else if (IsOutOfRoom(extractFolder, archivePath)) {
      outcome->failure = kStagingNoRoom;
      CopyText(outcome->path, sizeof outcome->path, extractFolder);
    }
  } else if (IsStagedFirstEntry(stagedFirst, archiverFolder, entryName) && WalkStaged(&walk, dataStart) &&
             (abandoned == nullptr || *abandoned == 0)) {
    walk.moving = true;
    // A name the code page lacks characters of is launched by its short name.
    if (WalkStaged(&walk, dataStart) && SpellOpenablePath(launchPath, sizeof launchPath)) {
      outcome->result = kArchiveExtracted;
      outcome->failure = kStagingDone;
      CopyText(firstEntryPath, kPathSize, launchPath);
    }
  }
  RemoveFolderTree(staging);
}
