// The header-stripped copy of the file in hand, in the temp folder: created
// under the ROM's own name (or in a private folder when that name is taken),
// written in pieces with its CRC taken on the way.
#include "registration/rom_copy.h"

#include <cstring>

#include "base/file_io.h"
#include "base/own_files.h"
#include "base/test_switches.h"
#include "base/texts.h"
#include "base/crc32.h"
#include "registration/held_copies.h"
#include "registration/run.h"

const char* SkipReasonOf(CopyResult copied, bool archive) {
  switch (copied) {
    case kCopyUnreadable:
      return archive ? kTextSkipArchive : kTextSkipUnreadable;
    case kCopyTooLarge:
      return kTextSkipTooLarge;
    case kCopyNotWritten:
      return kTextSkipNotCopied;
    case kCopyBadHeader:
      return kTextSkipHeaderSizeOutOfRange;
    default:
      return nullptr;
  }
}

// Created and recorded at once with its identity and length: a kill leaves
// nothing the next action cannot prove its own.
static TryResult CreateNewCopy(const char* path, LONGLONG length, HANDLE* out) {
  HoldRetry once = {};
  return TryCreateOwnFile(path, GENERIC_WRITE, FILE_FLAG_SEQUENTIAL_SCAN, length, &once, out);
}

// A file already of that name is not ours (what earlier actions left, each
// action's start took back; a launch may have extracted a user's file there):
// the copy then goes, under the same name, into a private folder of its own.
static CopyResult CreateCopy(RegistrationRun* run, LONGLONG length) {
  FileInHand* file = &run->file;
  TryResult created = CreateNewCopy(file->copyPath, length, &file->out);
  if (created == kTryDone) return kCopyDone;
  DWORD error = GetLastError();
  DWORD attributes = GetFileAttributesA(file->copyPath);
  // A folder in the way is a lasting refusal, as it would be for any name.
  bool fileThere = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  if ((error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) && fileThere) {
    char folder[kPathSize];
    char path[kPathSize];
    const char* parent = file->privateFolder[0] != '\0' ? file->privateFolder : run->tempDir;
    if (!MakePrivateFolder(parent, folder, sizeof folder) ||
        !FormatText(path, sizeof path, "%s%s", folder, LastComponent(file->copyPath))) {
      if (folder[0] != '\0') RemoveFolderTree(folder);
      return kCopyNotWritten;
    }
    // A plain file's private folder is the copy's; an archive's holds it.
    if (file->privateFolder[0] == '\0') CopyText(file->privateFolder, sizeof file->privateFolder, folder);
    CopyText(file->copyPath, sizeof file->copyPath, path);
    created = CreateNewCopy(file->copyPath, length, &file->out);
    if (created == kTryDone) return kCopyDone;
    error = GetLastError();
  }
  // A folder that refuses every create: no wait will change that.
  if (created == kTryFailed && error == ERROR_ACCESS_DENIED) return kCopyNotWritten;
  return CountTry(&file->openRetry, error) == kTryLater ? kCopyLater : kCopyNotWritten;
}

void CloseFileInHand(RegistrationRun* run, bool copyWhole) {
  FileInHand* file = &run->file;
  bool copyOpen = file->out != INVALID_HANDLE_VALUE && file->out != nullptr;
  if (file->in != INVALID_HANDLE_VALUE && file->in != nullptr) CloseHandle(file->in);
  if (copyOpen) CloseHandle(file->out);
  if (!copyWhole && copyOpen) DeleteOrKeepForLater(&run->heldCopies, file->copyPath);
  file->in = file->out = INVALID_HANDLE_VALUE;
}

// The source is opened with no sharing at all, so that a file another process
// is still writing is not copied half-done.
CopyResult StartCopy(RegistrationRun* run) {
  FileInHand* file = &run->file;
  if (run->headerSize < 0) return kCopyBadHeader;
  TryResult opened = TryOpenSource(file->readPath, 0, &file->openRetry, &file->in);
  if (opened != kTryDone) return opened == kTryLater ? kCopyLater : kCopyUnreadable;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file->in, &size)) return kCopyUnreadable;
  // Files of 2 GiB and more are not supported: the host's own records of a ROM
  // are 32-bit.
  if (size.QuadPart > 0x7FFFFFFF) return kCopyTooLarge;
  LONGLONG header = run->headerSize < size.QuadPart ? run->headerSize : size.QuadPart;
  CopyResult created = CreateCopy(run, size.QuadPart - header);
  if (created != kCopyDone) {
    // The source is opened again with the copy's next try.
    CloseHandle(file->in);
    file->in = INVALID_HANDLE_VALUE;
    return created;
  }
  file->openRetry = HoldRetry();
  file->size = size.QuadPart;
  file->remaining = size.QuadPart;
  file->skip = run->headerSize < size.QuadPart ? run->headerSize : size.QuadPart;
  // A header larger than a piece is stepped over rather than read.
  if (file->skip > static_cast<LONGLONG>(run->copyBufferSize)) {
    LARGE_INTEGER skip = {};
    skip.QuadPart = file->skip;
    if (!SetFilePointerEx(file->in, skip, nullptr, FILE_BEGIN)) return kCopyUnreadable;
    file->remaining -= file->skip;
    file->skip = 0;
  }
  file->crc = 0;
  return kCopyDone;
}

// The CRC is taken from the bytes as they are written, which gives what a
// second pass over the copy would, without reading it again.
CopyResult CopyPiece(RegistrationRun* run) {
  FileInHand* file = &run->file;
  size_t piece = run->copyBufferSize;
#ifdef CORVANE_TEST_SWITCHES
  if (gTestSwitches.copyPieceSize != 0 && gTestSwitches.copyPieceSize < piece) piece = gTestSwitches.copyPieceSize;
#endif
  DWORD want =
      file->remaining < static_cast<LONGLONG>(piece) ? static_cast<DWORD>(file->remaining) : static_cast<DWORD>(piece);
  DWORD got = 0;
  if (!ReadFile(file->in, run->copyBuffer, want, &got, nullptr) || got != want) return kCopyUnreadable;
  if (file->remaining == file->size) {
    file->headLength = got < sizeof file->head ? got : sizeof file->head;
    memcpy(file->head, run->copyBuffer, file->headLength);
  }
  file->remaining -= got;
  DWORD dropped = file->skip < got ? static_cast<DWORD>(file->skip) : got;
  file->skip -= dropped;
  if (got == dropped) return kCopyDone;
  if (!WriteChecked(file->out, run->copyBuffer + dropped, got - dropped, kWriteCopy)) return kCopyNotWritten;
  file->crc = Crc32Update(file->crc, run->copyBuffer + dropped, got - dropped);
  file->copyLength += got - dropped;
  return kCopyDone;
}
