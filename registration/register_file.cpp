// Per-file registration: the header-stripped copy, its CRC text, the host call
// and the relation file line.
#include "registration/register_file.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "archive/archive.h"
#include "base/state.h"
#include "registration/crc32.h"
#include "registration/scan_dialog.h"

// Every block of every copy goes through this one buffer; the run handles one
// file at a time on one thread.
static char copyBuffer[10240];

int32_t CopyWithoutHeader(const char* destination, const char* source) {
  int32_t headerSize = gState.profile.headerSize;
  if (headerSize < 0) return -1;
  // The size probe opens the source with no sharing at all, so a file that any
  // other process holds open (perhaps still writing it) is not copied.
  HANDLE probe = CreateFileA(source, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return -1;
  DWORD sizeHigh = 0;
  DWORD size = GetFileSize(probe, &sizeHigh);
  CloseHandle(probe);
  // A failed query reports 0xFFFFFFFF, which this bound refuses too: the copy
  // handles sizes below 2 GiB only.
  if (sizeHigh != 0 || size > 0x7FFFFFFF) return -1;

  FILE* in = fopen(source, "rb");
  FILE* out = in != nullptr ? fopen(destination, "wb") : nullptr;
  bool copied = in != nullptr && out != nullptr;
  DWORD remaining = size;
  DWORD headerLeft = static_cast<DWORD>(headerSize);
  while (copied && remaining > 0) {
    DWORD block = remaining < sizeof copyBuffer ? remaining : static_cast<DWORD>(sizeof copyBuffer);
    if (fread(copyBuffer, 1, block, in) != block) {
      copied = false;
      break;
    }
    // The header normally lies within the first block; a larger one is
    // skipped across as many blocks as it takes.
    DWORD skip = headerLeft < block ? headerLeft : block;
    headerLeft -= skip;
    if (block > skip && fwrite(copyBuffer + skip, 1, block - skip, out) != block - skip) copied = false;
    remaining -= block;
  }
  if (out != nullptr && fclose(out) != 0) copied = false;
  if (in != nullptr) fclose(in);
  // A half-written copy must not be taken for a whole one.
  if (!copied && out != nullptr) DeleteFileA(destination);
  return copied ? 0 : -1;
}

int32_t RenameWithTempPrefix(const char* path, char* renamed, size_t renamedSize) {
  const char* name = LastComponent(path);
  if (!FormatText(renamed, renamedSize, "%.*stemp%s", static_cast<int>(name - path), path, name)) {
    renamed[0] = '\0';
    return -1;
  }
  // Only ever used inside tempDir: a file of the prefixed name there was left by
  // an interrupted run, and must not stand in for the entry being moved.
  DeleteFileA(renamed);
  return MoveFileA(path, renamed) ? 0 : -1;
}

static bool IsPlainFile(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// True when folderPath is tempDir itself, however it is spelt: its files would
// be copied onto themselves and then deleted.
static bool IsTempFolder(const char* folderPath) {
  char folder[kPathSize];
  char temp[kPathSize];
  DWORD folderLength = GetFullPathNameA(folderPath, sizeof folder, folder, nullptr);
  DWORD tempLength = GetFullPathNameA(gState.tempDir, sizeof temp, temp, nullptr);
  if (folderLength == 0 || folderLength >= sizeof folder || tempLength == 0 || tempLength >= sizeof temp) {
    return false;
  }
  return lstrcmpiA(folder, temp) == 0;
}

// The archive's first entry, extracted at copyPath, is moved aside under the
// prefixed name and copied back without its header. On failure neither file
// is left behind.
static bool CopyArchiveEntry(const char* copyPath) {
  if (copyPath[0] == '\0' || !IsPlainFile(copyPath)) return false;
  char prefixedPath[kPathSize];
  bool copied = false;
  if (RenameWithTempPrefix(copyPath, prefixedPath, sizeof prefixedPath) == 0) {
    copied = CopyWithoutHeader(copyPath, prefixedPath) == 0;
    DeleteFileA(prefixedPath);
  }
  if (!copied) DeleteFileA(copyPath);
  return copied;
}

int32_t RegisterRomFile(const char* folderPath, HWND dialog, const WIN32_FIND_DATAA* entry) {
  if (gScan.relationStream == nullptr) return kRegisterPassedOver;
  char sourcePath[kPathSize];
  char copyPath[kPathSize] = "";
  if (!FormatText(sourcePath, sizeof sourcePath, "%s%s", folderPath, entry->cFileName) ||
      IsTempFolder(folderPath)) {
    return kRegisterPassedOver;
  }
  if (IsArchivePath(sourcePath)) {
    int32_t extracted = ExtractArchive(sourcePath, copyPath, dialog, gState.tempDir);
    if (extracted != 0) return extracted;
    if (!CopyArchiveEntry(copyPath)) return kRegisterPassedOver;
  } else if (!FormatText(copyPath, sizeof copyPath, "%s%s", gState.tempDir, entry->cFileName) ||
             CopyWithoutHeader(copyPath, sourcePath) != 0) {
    return kRegisterPassedOver;
  }

  // A ROM the host knows but the relation file does not could never be
  // launched, so nothing is registered without its CRC text.
  char crcText[kPathSize];
  int crcResult = FormatCrcText(copyPath, crcText, sizeof crcText);
  if (crcResult == 0 && gState.hostRegister != nullptr) gState.hostRegister(copyPath);
  DeleteFileA(copyPath);
  if (crcResult != 0) return kRegisterPassedOver;
  fprintf(gScan.relationStream, "%s %s\n", crcText, sourcePath);
  return 0;
}
