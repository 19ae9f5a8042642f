#include "archive/archive.h"

#include <cstring>

#include "base/archiver_interface.h"
#include "base/file_io.h"
#include "base/held_files.h"
#include "base/own_files.h"
#include "base/state.h"
#include "base/texts.h"
#include "base/text.h"

// A launch extracts every entry, replacing files; registration names the
// first entry (or a pattern for it) and skips a name already written, so that
// a later entry of the same name cannot replace the first one's bytes.
static constexpr char kEveryEntryFormat[] = "x \"%s\" -aoa -hide \"%s\" *.*";
static constexpr char kFirstEntryFormat[] = "x \"%s\" -aos -hide \"%s\" \"%s\"";
// 23 characters of its own around the archive path, the output folder and the
// entry's name, each up to a path buffer's 259 bytes.
static constexpr size_t kCommandSize = (sizeof kFirstEntryFormat - 1 - 6) + 3 * (kPathSize - 1) + 1;
// Asides of a file at the entry's path: the names tried before giving up.
static constexpr unsigned kAsideNames = 100;

// Tested in this order; byte-exact, so letter case matters.
static const char* const kArchiveExtensions[] = {".zip", ".7z", ".ZIP", ".7Z"};

bool IsArchivePath(const char* path) {
  if (path == nullptr) return false;
  // "." (0x2E) is never the trail byte of a double-byte character, so the last
  // one in the component can be found byte by byte.
  const char* dot = strrchr(LastComponent(path), '.');
  char extension[256];
  // An extension longer than the buffer cannot be one of the four anyway.
  if (!CopyText(extension, sizeof extension, dot != nullptr ? dot : "")) return false;
  for (const char* archiveExtension : kArchiveExtensions) {
    if (strcmp(extension, archiveExtension) == 0) return true;
  }
  return false;
}

static bool IsFile(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A file already where the first entry lands (an earlier extraction's, a
// user's) would pass for the entry if the extraction failed, and is not ours to
// delete before we know it succeeded: it is moved aside in its folder, under a
// name no file holds yet. Launches extract into a fresh private folder, where
// nothing stands, so no record is kept of it. aside is empty when nothing
// stood there. A
// folder there is left alone and refuses the extraction, as does a file that
// cannot be moved.
static bool MoveStaleEntryAside(const char* entryPath, char* aside, size_t asideSize) {
  aside[0] = '\0';
  DWORD attributes = GetFileAttributesA(entryPath);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  for (unsigned number = 1; number <= kAsideNames; ++number) {
    if (!AsidePath(aside, asideSize, entryPath, number)) break;
    if (GetFileAttributesA(aside) != INVALID_FILE_ATTRIBUTES) continue;
    if (MoveOwnFile(entryPath, aside, 0)) return true;
    DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
      ReportSystemError("MoveFileExA", entryPath, error);
      break;
    }
  }
  aside[0] = '\0';
  return false;
}

// Once the commands ran: the entry is there, and the aside goes; or it is not,
// and what stood there comes back over whatever the extraction left.
static void SettleStaleEntry(const char* entryPath, const char* aside, bool extracted) {
  if (aside[0] == '\0') return;
  if (extracted) {
    if (!DeleteFileWaitingOutHolds(aside)) ReportSystemError("DeleteFileA", aside, GetLastError());
  } else if (!MoveOwnFile(aside, entryPath, MOVEFILE_REPLACE_EXISTING)) {
    ReportSystemError("MoveFileExA", aside, GetLastError());
    char text[3 * kPathSize];
    FormatText(text, sizeof text, kTextAsideNotRestored, entryPath, aside);
    MessageBoxA(nullptr, text, nullptr, MB_OK | MB_ICONWARNING | MB_TASKMODAL);
  }
}

// A name the archiver would read as a switch ("-") or a list file ("@"), or
// one that would end its quotation, is passed as a pattern with each such
// character as "?": the first entry and the few that match it are written.
// "-" and "\"" are never a trail byte in code page 932, and "@" only counts as
// the first byte.
static void FirstEntryPattern(char* pattern, const char* entryName) {
  for (size_t i = 0; entryName[i] != '\0'; ++i) {
    bool leading = i == 0 && (entryName[i] == '-' || entryName[i] == '@');
    pattern[i] = leading || entryName[i] == '"' ? '?' : entryName[i];
    pattern[i + 1] = '\0';
  }
}

static bool FirstEntryCommand(char* command, size_t size, const char* archivePath, const char* outputFolder,
                              const char* entryName) {
  char pattern[kPathSize];
  FirstEntryPattern(pattern, entryName);
  return FormatText(command, size, kFirstEntryFormat, archivePath, outputFolder, pattern);
}

// Every entry into outputFolder, then the first one alone into a private
// folder, whose file then goes over the first entry's path: -aoa would leave a
// later entry of the same name there.
static ArchiveResult ExtractEveryEntry(const char* archivePath, const char* entryName, const char* entryPath,
                                       HWND ownerWindow, const char* outputFolder) {
  char command[kCommandSize];
  char firstCommand[kCommandSize];
  char privateFolder[kPathSize];
  char privateEntry[kPathSize];
  if (!FormatText(command, sizeof command, kEveryEntryFormat, archivePath, outputFolder)) return kArchiveRefused;
  // Tests extract without a data folder: the private folder is then made in
  // the output folder, and goes again all the same.
  if (!MakePrivateFolder(gState.tempDir[0] != '\0' ? gState.tempDir : outputFolder, privateFolder,
                         sizeof privateFolder)) {
    return kArchiveRefused;
  }
  ArchiveResult result = kArchiveRefused;
  char aside[kPathSize] = "";
  char output[512];
  if (FormatText(privateEntry, sizeof privateEntry, "%s%s", privateFolder, entryName) &&
      FirstEntryCommand(firstCommand, sizeof firstCommand, archivePath, privateFolder, entryName) &&
      MoveStaleEntryAside(entryPath, aside, sizeof aside)) {
    bool extracted = ArcRunCommand(ownerWindow, command, output, sizeof output) == 0 &&
                     ArcRunCommand(ownerWindow, firstCommand, output, sizeof output) == 0 && IsFile(privateEntry) &&
                     MoveOwnFile(privateEntry, entryPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
    SettleStaleEntry(entryPath, aside, extracted);
    result = extracted ? kArchiveExtracted : kArchiveNotExtracted;
  }
  RemoveFolderTree(privateFolder);
  CloseOwnRecord();
  return result;
}

// Learns the first entry's name through its own open/find/name/close before
// anything is extracted, so that a name that would land outside outputFolder,
// or a failed close, stops the call with nothing written.
ArchiveResult ExtractArchive(const char* archivePath, char* firstEntryPath, HWND ownerWindow, const char* outputFolder,
                             ExtractScope scope) {
  if (ArcIsBusy()) return kArchiveBusy;
  firstEntryPath[0] = '\0';
  // Without its final "\" the folder and a name would join into a path beside it.
  if (!IsArchivePath(archivePath) || !EndsWithBackslash(outputFolder)) return kArchiveRefused;

  ArcHandle archive = ArcOpen(nullptr, archivePath, 0);
  if (archive == nullptr) return kArchiveRefused;
  char entryName[kPathSize];
  memset(entryName, 0, sizeof entryName);
  int found = ArcFindFirst(archive, "*.*", nullptr);
  // Asked even after a failed find: the name operation then reports that there
  // is no current entry.
  int named = ArcGetEntryName(archive, entryName, sizeof entryName);
  if (ArcClose(archive) != 0) return kArchiveRefused;

  // An empty archive or an unreadable name leaves nothing defined to point at.
  if (found != 0 || named != 0) return kArchiveRefused;
  if (memchr(entryName, '\0', sizeof entryName) == nullptr) return kArchiveRefused;
  // Nothing named: the folder itself is no entry to point at.
  if (entryName[0] == '\0' || !NameStaysInsideFolder(entryName)) return kArchiveRefused;

  // A cut path or command would name another file or folder: refuse instead.
  char entryPath[kPathSize];
  if (!FormatText(entryPath, sizeof entryPath, "%s%s", outputFolder, entryName)) return kArchiveRefused;
  ArchiveResult result = kArchiveRefused;
  if (scope == kExtractEveryEntry) {
    result = ExtractEveryEntry(archivePath, entryName, entryPath, ownerWindow, outputFolder);
  } else {
    char command[kCommandSize];
    char output[512];
    if (!FirstEntryCommand(command, sizeof command, archivePath, outputFolder, entryName)) return kArchiveRefused;
    // The archiver's answer counts: a failed command may have left a part.
    result = ArcRunCommand(ownerWindow, command, output, sizeof output) == 0 && IsFile(entryPath)
                 ? kArchiveExtracted
                 : kArchiveNotExtracted;
  }
  if (result == kArchiveExtracted) CopyText(firstEntryPath, kPathSize, entryPath);
  return result;
}
