#include "archive/archive.h"

#include <cstring>

#include "base/archiver_interface.h"
#include "base/file_io.h"
#include "base/folder_listing.h"
#include "base/text.h"

// Both go into a fresh folder and skip a name already written, so that a later
// entry of the same name cannot replace the first one's bytes: a launch takes
// every entry in one pass, registration names the first (or a pattern for it).
static constexpr char kEveryEntryFormat[] = "x \"%s\" -aos -hide \"%s\" *.*";
static constexpr char kFirstEntryFormat[] = "x \"%s\" -aos -hide \"%s\" \"%s\"";
// 23 characters of its own around the archive path, the output folder and the
// entry's name, each up to a path buffer's 259 bytes.
static constexpr size_t kCommandSize = (sizeof kFirstEntryFormat - 1 - 6) + 3 * (kPathSize - 1) + 1;

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

// An entry named outside the code page is reported with "?" for what it
// lacks and extracted by that spelling as a pattern; once written, its path
// (a path buffer) is spelt as the ANSI calls open it. False, with *lost set
// unless nothing was written there, when it cannot be.
static bool SpellEntryPath(char* path, bool* lost) {
  if (SpellOpenablePath(path, kPathSize)) return true;
  DWORD error = GetLastError();
  ReportSystemError("SpellOpenablePath", path, error);
  *lost = *lost || error != ERROR_FILE_NOT_FOUND;
  return false;
}

ArchiveResult ReadFirstEntryName(const char* archivePath, char* entryName, size_t size) {
  if (ArcIsBusy()) return kArchiveBusy;
  entryName[0] = '\0';
  if (!IsArchivePath(archivePath)) return kArchiveRefused;
  ArcHandle archive = ArcOpen(nullptr, archivePath, 0);
  if (archive == nullptr) return kArchiveRefused;
  char name[kPathSize];
  memset(name, 0, sizeof name);
  int found = ArcFindFirst(archive, "*.*", nullptr);
  // Asked even after a failed find: the name operation then reports that there
  // is no current entry.
  int named = ArcGetEntryName(archive, name, sizeof name);
  if (ArcClose(archive) != 0) return kArchiveRefused;
  // An empty archive or an unreadable name leaves nothing defined to point at;
  // nothing named, the folder itself is no entry; and a name must not lead out.
  if (found != 0 || named != 0 || memchr(name, '\0', sizeof name) == nullptr) return kArchiveRefused;
  if (name[0] == '\0' || !NameStaysInsideFolder(name)) return kArchiveRefused;
  return CopyText(entryName, size, name) ? kArchiveExtracted : kArchiveRefused;
}

// Learns the first entry's name through its own open/find/name/close before
// anything is extracted, so that a name that would land outside outputFolder,
// or a failed close, stops the call with nothing written.
ArchiveResult ExtractArchive(const char* archivePath, char* firstEntryPath, HWND ownerWindow, const char* outputFolder,
                             ExtractScope scope) {
  if (ArcIsBusy()) return kArchiveBusy;
  firstEntryPath[0] = '\0';
  // Without its final "\" the folder and a name would join into a path beside it.
  if (!EndsWithBackslash(outputFolder)) return kArchiveRefused;
  char entryName[kPathSize];
  ArchiveResult named = ReadFirstEntryName(archivePath, entryName, sizeof entryName);
  if (named != kArchiveExtracted) return named;

  // A cut path or command would name another file or folder: refuse instead.
  char entryPath[kPathSize];
  char command[kCommandSize];
  char output[512];
  if (!FormatText(entryPath, sizeof entryPath, "%s%s", outputFolder, entryName)) return kArchiveRefused;
  bool composed = scope == kExtractEveryEntry
                      ? FormatText(command, sizeof command, kEveryEntryFormat, archivePath, outputFolder)
                      : FirstEntryCommand(command, sizeof command, archivePath, outputFolder, entryName);
  if (!composed) return kArchiveRefused;
  // The archiver's answer counts: a failed command may have left a part.
  bool lost = false;
  bool extracted = ArcRunCommand(ownerWindow, command, output, sizeof output) == 0 &&
                   SpellEntryPath(entryPath, &lost) && IsFile(entryPath);
  if (!extracted) return lost ? kArchiveNameNotInCodePage : kArchiveNotExtracted;
  CopyText(firstEntryPath, kPathSize, entryPath);
  return kArchiveExtracted;
}
