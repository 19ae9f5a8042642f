// Per-file registration: the header-stripped copy, its CRC text, the host call
// and the relation file line.
#include "registration/register_file.h"

#include <windows.h>

#include <cstring>

#include "archive/archive.h"
#include "archive/temp_cleanup.h"
#include "base/file_identity.h"
#include "base/file_io.h"
#include "base/state.h"
#include "base/texts.h"
#include "registration/crc32.h"
#include "registration/relation_file.h"

// Every block of every copy goes through this one buffer; the run handles one
// file at a time on one thread. Large enough that most ROMs take one read and
// one write.
static char copyBuffer[256 * 1024];

enum CopyResult {
  kCopyDone,
  kCopyUnreadable,  // the source could not be opened or read
  kCopyNotWritten,  // the copy could not be created or written
  kCopySameFile,    // the destination is the source under another name
};

// Creates the copy. The common case, no file of that name yet, takes one call;
// an existing one is replaced unless it is the source itself under another
// name, which would be emptied and then deleted with the copy.
static HANDLE CreateCopy(const char* destination, const char* source, CopyResult* refusal) {
  HANDLE out = CreateFileA(destination, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (out != INVALID_HANDLE_VALUE) return out;
  DWORD error = GetLastError();
  *refusal = kCopyNotWritten;
  if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return INVALID_HANDLE_VALUE;
  if (SameFileIdentity(destination, source)) {
    *refusal = kCopySameFile;
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileA(destination, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// The copy's CRC is taken from the bytes as they are written: the same value
// a second pass over the copy would give, without reading it again.
static CopyResult CopyRom(const char* destination, const char* source, uint32_t* crc) {
  int32_t headerSize = gState.profile.headerSize;
  if (headerSize < 0) return kCopyUnreadable;
  // The source is opened with no sharing at all, so a file that any other
  // process holds open (perhaps still writing it) is not copied.
  HANDLE in = CreateFileA(source, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (in == INVALID_HANDLE_VALUE) return kCopyUnreadable;
  HANDLE out = INVALID_HANDLE_VALUE;
  CopyResult result = kCopyUnreadable;
  LARGE_INTEGER size = {};
  LARGE_INTEGER skip = {};
  uint32_t running = 0;
  // The copy handles sizes below 2 GiB only.
  if (!GetFileSizeEx(in, &size) || size.QuadPart > 0x7FFFFFFF) goto done;
  out = CreateCopy(destination, source, &result);
  if (out == INVALID_HANDLE_VALUE) goto done;
  skip.QuadPart = headerSize < size.QuadPart ? headerSize : size.QuadPart;
  if (skip.QuadPart > 0 && !SetFilePointerEx(in, skip, nullptr, FILE_BEGIN)) goto done;
  for (LONGLONG remaining = size.QuadPart - skip.QuadPart; remaining > 0;) {
    DWORD want = remaining < static_cast<LONGLONG>(sizeof copyBuffer) ? static_cast<DWORD>(remaining)
                                                                      : static_cast<DWORD>(sizeof copyBuffer);
    DWORD got = 0;
    if (!ReadFile(in, copyBuffer, want, &got, nullptr) || got != want) {
      result = kCopyUnreadable;
      goto done;
    }
    if (!WriteChecked(out, copyBuffer, got, kWriteCopy)) {
      result = kCopyNotWritten;
      goto done;
    }
    running = Crc32Update(running, copyBuffer, got);
    remaining -= got;
  }
  result = kCopyDone;
done:
  if (out != INVALID_HANDLE_VALUE && !CloseHandle(out) && result == kCopyDone) result = kCopyNotWritten;
  CloseHandle(in);
  // A half-written copy must not be taken for a whole one.
  if (out != INVALID_HANDLE_VALUE && result != kCopyDone) DeleteFileA(destination);
  if (crc != nullptr) *crc = running;
  return result;
}

int32_t CopyWithoutHeader(const char* destination, const char* source) {
  return CopyRom(destination, source, nullptr) == kCopyDone ? 0 : -1;
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

// True when folderPath is spelt as tempDir itself. Other spellings of it (a
// link, a short name, another drive) are caught by the copy's identity check.
// A folder's files come one after another, so the answer is kept per folder.
static bool IsTempFolder(const char* folderPath) {
  static char lastFolder[kPathSize];
  static char lastTemp[kPathSize];
  static bool lastAnswer;
  if (strcmp(folderPath, lastFolder) == 0 && strcmp(gState.tempDir, lastTemp) == 0) return lastAnswer;
  char folder[kPathSize];
  char temp[kPathSize];
  DWORD folderLength = GetFullPathNameA(folderPath, sizeof folder, folder, nullptr);
  DWORD tempLength = GetFullPathNameA(gState.tempDir, sizeof temp, temp, nullptr);
  lastAnswer = folderLength != 0 && folderLength < sizeof folder && tempLength != 0 && tempLength < sizeof temp &&
               lstrcmpiA(folder, temp) == 0;
  // Only a folder and temp folder that fit are remembered; others are looked at anew.
  if (!CopyText(lastFolder, sizeof lastFolder, folderPath) || !CopyText(lastTemp, sizeof lastTemp, gState.tempDir)) {
    lastFolder[0] = '\0';
  }
  return lastAnswer;
}

// The archive's first entry, extracted at copyPath, is moved aside under the
// prefixed name and copied back without its header. On failure neither file
// is left behind.
static CopyResult CopyArchiveEntry(const char* copyPath, uint32_t* crc) {
  if (copyPath[0] == '\0' || !IsPlainFile(copyPath)) return kCopyUnreadable;
  char prefixedPath[kPathSize];
  CopyResult copied = kCopyNotWritten;
  if (RenameWithTempPrefix(copyPath, prefixedPath, sizeof prefixedPath) == 0) {
    copied = CopyRom(copyPath, prefixedPath, crc);
    DeleteFileA(prefixedPath);
  }
  if (copied != kCopyDone) DeleteFileA(copyPath);
  return copied;
}

static const char* SkipReasonOf(CopyResult copied, bool archive) {
  switch (copied) {
    case kCopyUnreadable:
      return archive ? kTextSkipArchive : kTextSkipUnreadable;
    case kCopyNotWritten:
      return kTextSkipNotCopied;
    default:
      return nullptr;
  }
}

// The host's registration of the copy and the relation line; the copy is
// deleted before the line is written, as soon as the host is done with it.
static RegisterResult RegisterCopy(const char* copyPath, uint32_t crc, const char* sourcePath, RelationFile* relation) {
  char crcText[kCrcTextSize];
  CrcToText(crc, crcText, sizeof crcText);
  if (gState.hostRegister != nullptr) gState.hostRegister(copyPath);
  DeleteFileA(copyPath);
  return WriteRelationLine(relation, crcText, sourcePath) ? kRegisterDone : kRegisterPassedOver;
}

// An archive is extracted into tempDir and its first entry registered; all the
// extraction added there is removed afterwards, whatever happened, and nothing
// that was there before is touched.
static RegisterResult RegisterArchive(const char* sourcePath, HWND dialog, RelationFile* relation,
                                      const char** skipReason) {
  FolderSnapshot before = {};
  bool snapshot = SnapshotFolder(gState.tempDir, &before);
  char copyPath[kPathSize] = "";
  RegisterResult result = kRegisterArchiverBusy;
  int extracted = ExtractArchive(sourcePath, copyPath, dialog, gState.tempDir);
  if (extracted == 0) {
    uint32_t crc = 0;
    CopyResult copied = CopyArchiveEntry(copyPath, &crc);
    if (copied == kCopyDone) {
      result = RegisterCopy(copyPath, crc, sourcePath, relation);
    } else {
      *skipReason = SkipReasonOf(copied, true);
      result = kRegisterPassedOver;
    }
  } else if (extracted != -2) {
    result = kRegisterArchiveRefused;
  }
  if (snapshot) RemoveAddedEntries(gState.tempDir, &before);
  ReleaseSnapshot(&before);
  return result;
}

RegisterResult RegisterRomFile(const char* folderPath, HWND dialog, const WIN32_FIND_DATAA* entry,
                               RelationFile* relation, const char** skipReason) {
  *skipReason = nullptr;
  if (relation == nullptr || relation->failed) return kRegisterPassedOver;
  char sourcePath[kPathSize];
  char copyPath[kPathSize] = "";
  if (!FormatText(sourcePath, sizeof sourcePath, "%s%s", folderPath, entry->cFileName)) {
    *skipReason = kTextSkipPathTooLong;
    return kRegisterPassedOver;
  }
  if (IsTempFolder(folderPath)) return kRegisterPassedOver;
  // A name the system could not give in the ANSI code page comes back with
  // "?", which no real file name holds: the file cannot be opened by it.
  if (strchr(entry->cFileName, '?') != nullptr) {
    *skipReason = kTextSkipUnreadable;
    return kRegisterPassedOver;
  }
  if (IsArchivePath(sourcePath) == 1) return RegisterArchive(sourcePath, dialog, relation, skipReason);
  if (!FormatText(copyPath, sizeof copyPath, "%s%s", gState.tempDir, entry->cFileName)) {
    *skipReason = kTextSkipPathTooLong;
    return kRegisterPassedOver;
  }
  uint32_t crc = 0;
  CopyResult copied = CopyRom(copyPath, sourcePath, &crc);
  if (copied != kCopyDone) {
    bool ours = copied == kCopyUnreadable && IsRelationAside(relation, sourcePath);
    *skipReason = ours ? nullptr : SkipReasonOf(copied, false);
    return kRegisterPassedOver;
  }
  return RegisterCopy(copyPath, crc, sourcePath, relation);
}
