#include "archive/archive.h"

#include <cstring>

#include "base/archiver_interface.h"
#include "base/file_io.h"
#include "base/held_files.h"
#include "base/text.h"

// The extraction command for every entry: 22 characters of its own around the
// archive path and the output folder, each up to a path buffer's 259 bytes.
// The first entry alone is named in its place where the name fits that size.
static constexpr char kCommandFormat[] = "x \"%s\" -aoa -hide \"%s\" *.*";
static constexpr char kNamedCommandFormat[] = "x \"%s\" -aoa -hide \"%s\" \"%s\"";
static constexpr size_t kCommandSize = (sizeof kCommandFormat - 1 - 4) + 2 * (kPathSize - 1) + 1;
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

// A file already where the first entry lands (an earlier extraction's, a
// user's) would pass for the entry if the extraction failed, and is not ours to
// delete before we know it succeeded: it is moved aside in its folder, under a
// name of our own that no file holds yet. aside is empty when nothing stood
// there. A folder there is left alone and refuses the extraction, as does a
// file that cannot be moved.
static bool MoveStaleEntryAside(const char* entryPath, char* aside, size_t asideSize) {
  aside[0] = '\0';
  DWORD attributes = GetFileAttributesA(entryPath);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  for (unsigned attempt = 0; attempt < kAsideNames; ++attempt) {
    if (!FormatText(aside, asideSize, "%s.corvane-aside%u", entryPath, attempt)) break;
    if (MoveFileExA(entryPath, aside, 0)) return true;
    DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
      ReportSystemError("MoveFileExA", entryPath, error);
      break;
    }
  }
  aside[0] = '\0';
  return false;
}

// Once the command ran: the entry is there, and the aside goes; or it is not,
// and what stood there comes back.
static bool SettleStaleEntry(const char* entryPath, const char* aside) {
  DWORD attributes = GetFileAttributesA(entryPath);
  bool extracted = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  if (aside[0] == '\0') return extracted;
  if (extracted) {
    if (!DeleteOwnFile(aside)) ReportSystemError("DeleteFileA", aside, GetLastError());
  } else if (!MoveFileExA(aside, entryPath, 0)) {
    ReportSystemError("MoveFileExA", aside, GetLastError());
  }
  return extracted;
}

// A name the archiver would read as a switch ("-") or a list file ("@"), or
// one that would end its quotation, cannot be passed: every entry is then
// extracted, and the extra ones are the caller's to remove.
static bool NameCommand(char* command, size_t size, const char* archivePath, const char* outputFolder,
                        const char* entryName) {
  if (entryName[0] == '-' || entryName[0] == '@' || strchr(entryName, '"') != nullptr) return false;
  return FormatText(command, size, kNamedCommandFormat, archivePath, outputFolder, entryName);
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
  char command[kCommandSize];
  if ((scope != kExtractFirstEntry || !NameCommand(command, sizeof command, archivePath, outputFolder, entryName)) &&
      !FormatText(command, sizeof command, kCommandFormat, archivePath, outputFolder)) {
    return kArchiveRefused;
  }
  char aside[kPathSize];
  if (!MoveStaleEntryAside(entryPath, aside, sizeof aside)) return kArchiveRefused;

  // The archiver's report and result are not examined: whether the entry is
  // there afterwards says all the caller needs.
  char output[512];
  ArcRunCommand(ownerWindow, command, output, sizeof output);
  if (!SettleStaleEntry(entryPath, aside)) return kArchiveEntryMissing;
  CopyText(firstEntryPath, kPathSize, entryPath);
  return kArchiveExtracted;
}
