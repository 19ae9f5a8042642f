#include "archive/archive.h"

#include <cstring>

#include "base/archiver_interface.h"
#include "base/file_io.h"
#include "base/text.h"

// The extraction command: 22 characters of its own around the archive path and
// the output folder, each up to a path buffer's 259 bytes.
static constexpr char kCommandFormat[] = "x \"%s\" -aoa -hide \"%s\" *.*";
static constexpr size_t kCommandSize = (sizeof kCommandFormat - 1 - 4) + 2 * (kPathSize - 1) + 1;

// Tested in this order; byte-exact, so letter case matters.
static const char* const kArchiveExtensions[] = {".zip", ".7z", ".ZIP", ".7Z"};

int IsArchivePath(const char* path) {
  if (path == nullptr) return 0;
  // "." (0x2E) is never the trail byte of a double-byte character, so the last
  // one in the component can be found byte by byte.
  const char* dot = strrchr(LastComponent(path), '.');
  char extension[256];
  // An extension longer than the buffer cannot be one of the four anyway.
  if (!CopyText(extension, sizeof extension, dot != nullptr ? dot : "")) return 0;
  for (const char* archiveExtension : kArchiveExtensions) {
    if (strcmp(extension, archiveExtension) == 0) return 1;
  }
  return 0;
}

// True when a name of an archive entry stays below the folder it is extracted
// into: relative, no drive or stream (":"), no component made only of dots and
// blanks with two or more dots (Windows reads "..", ". ." and "..." as going up
// or collapses them). Walks by characters so that a double-byte character's
// trail byte 0x5C is not taken for a separator.
static bool IsSafeEntryName(const char* name) {
  if (name[0] == '\0' || name[0] == '\\' || name[0] == '/') return false;
  if (strchr(name, ':') != nullptr) return false;
  const char* p = name;
  while (*p != '\0') {
    int dots = 0;
    bool onlyDotsAndBlanks = true;
    while (*p != '\0' && *p != '\\' && *p != '/') {
      if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') {
        onlyDotsAndBlanks = false;
        p += 2;
        continue;
      }
      if (*p == '.') {
        ++dots;
      } else if (*p != ' ') {
        onlyDotsAndBlanks = false;
      }
      ++p;
    }
    if (onlyDotsAndBlanks && dots >= 2) return false;
    if (*p != '\0') ++p;
  }
  return true;
}

// A file already where the first entry lands (an earlier extraction's, a killed
// run's) would pass for the entry if the extraction failed: it goes first. A
// folder there is left alone, and false refuses the extraction, as does a file
// that cannot be removed.
static bool RemoveStaleEntry(const char* entryPath) {
  DWORD attributes = GetFileAttributesA(entryPath);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(entryPath, attributes & ~FILE_ATTRIBUTE_READONLY);
  if (DeleteFileA(entryPath)) return true;
  ReportSystemError("DeleteFileA", entryPath, GetLastError());
  return false;
}

// Learns the first entry's name through its own open/find/name/close before
// anything is extracted, so that a name that would land outside outputFolder,
// or a failed close, stops the call with nothing written.
int ExtractArchive(const char* archivePath, char* firstEntryPath, HWND ownerWindow, const char* outputFolder) {
  if (ArcIsBusy()) return -2;
  firstEntryPath[0] = '\0';
  if (!IsArchivePath(archivePath)) return -1;

  ArcHandle archive = ArcOpen(nullptr, archivePath, 0);
  if (archive == nullptr) return -1;
  char entryName[kPathSize];
  memset(entryName, 0, sizeof entryName);
  int found = ArcFindFirst(archive, "*.*", nullptr);
  // Asked even after a failed find: the name operation then reports that there
  // is no current entry, and the calls stay in their fixed order.
  int named = ArcGetEntryName(archive, entryName, sizeof entryName);
  if (ArcClose(archive) != 0) return -1;

  // An empty archive or an unreadable name leaves nothing defined to point at.
  if (found != 0 || named != 0) return -1;
  if (memchr(entryName, '\0', sizeof entryName) == nullptr) return -1;
  if (!IsSafeEntryName(entryName)) return -1;

  // A cut path or command would name another file or folder: refuse instead.
  char entryPath[kPathSize];
  if (!FormatText(entryPath, sizeof entryPath, "%s%s", outputFolder, entryName)) return -1;
  char command[kCommandSize];
  if (!FormatText(command, sizeof command, kCommandFormat, archivePath, outputFolder)) {
    return -1;
  }
  if (!RemoveStaleEntry(entryPath)) return -1;
  CopyText(firstEntryPath, kPathSize, entryPath);

  // The report and result are not examined: callers find out from whether the
  // file is at firstEntryPath afterwards.
  char output[512];
  ArcRunCommand(ownerWindow, command, output, sizeof output);
  return 0;
}
