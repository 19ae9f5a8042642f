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

// With nothing to strip, a link to the source is the copy without a byte
// written, recorded as a copy is. Where none can be made (another volume, a
// file system or share without links) the file is copied; only a name
// already taken is reported, as it is for a copy.
static TryResult MakeCopyOrLink(FileInHand* file, const char* path, LONGLONG length) {
  if (file->linked) {
    if (CreateOwnLink(path, file->readPath, file->in, length)) return kTryDone;
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
      SetLastError(error);
      return kTryFailed;
    }
    file->linked = false;
  }
  return CreateNewCopy(path, length, &file->out);
}

// A file already of that name is not ours (what earlier actions left, each
// action's start took back; a launch may have extracted a user's file there):
// the copy then goes, under the same name, into a private folder of its own.
static CopyResult CreateCopy(RegistrationRun* run, LONGLONG length) {
  FileInHand* file = &run->file;
  TryResult created = MakeCopyOrLink(file, file->copyPath, length);
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
    created = MakeCopyOrLink(file, file->copyPath, length);
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
  // Deleting a link deletes only that name; the source stays. A whole copy
  // that waited for the dialog to show goes too: the host never had it.
  if (!copyWhole && (copyOpen || file->linked || file->awaitsShowing)) {
    DeleteOrKeepForLater(&run->heldCopies, file->copyPath);
  }
  file->awaitsShowing = false;
  file->in = file->out = INVALID_HANDLE_VALUE;
  if (!copyWhole) file->linked = false;
}

// The open source's size, and whether a link may stand for its copy. (Not
// GetFileInformationByHandle: it asks the volume for its serial number too,
// which under Wine is a round trip to a device driver's process.)
static CopyResult SizeUpSource(FileInHand* file, int32_t headerSize) {
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file->in, &size)) return kCopyUnreadable;
  // Files of 2 GiB and more are not supported: the host's own records of a ROM
  // are 32-bit.
  if (size.QuadPart > 0x7FFFFFFF) return kCopyTooLarge;
  file->size = size.QuadPart;
  // Deleting a link to a read-only file would need the attribute taken off,
  // which is the user's file's own: such a source is copied.
  FILE_BASIC_INFO basic;
  file->linked = headerSize == 0 && !file->archive &&
                 GetFileInformationByHandleEx(file->in, FileBasicInfo, &basic, sizeof basic) &&
                 !(basic.FileAttributes & FILE_ATTRIBUTE_READONLY);
  return kCopyDone;
}

// What the copy of the sized-up source holds once whole: the most its record
// may say it holds.
static LONGLONG CopyLengthOf(const FileInHand* file, int32_t headerSize) {
  return headerSize < file->size ? file->size - headerSize : 0;
}

// Once the copy stands: the bytes to read and the header to drop.
static CopyResult BeginPieces(FileInHand* file, int32_t headerSize, size_t pieceSize) {
  file->remaining = file->size;
  file->skip = headerSize < file->size ? headerSize : file->size;
  // A header larger than a piece is stepped over rather than read.
  if (file->skip > static_cast<LONGLONG>(pieceSize)) {
    LARGE_INTEGER skip = {};
    skip.QuadPart = file->skip;
    if (!SetFilePointerEx(file->in, skip, nullptr, FILE_BEGIN)) return kCopyUnreadable;
    file->remaining -= file->skip;
    file->skip = 0;
  }
  file->crc = 0;
  return kCopyDone;
}

// The source is opened with no sharing at all, so that a file another process
// is still writing is not copied half-done.
CopyResult StartCopy(RegistrationRun* run) {
  FileInHand* file = &run->file;
  if (run->headerSize < 0) return kCopyBadHeader;
  TryResult opened = TryOpenSource(file->readPath, 0, &file->openRetry, &file->in);
  if (opened != kTryDone) return opened == kTryLater ? kCopyLater : kCopyUnreadable;
  CopyResult sized = SizeUpSource(file, run->headerSize);
  if (sized != kCopyDone) return sized;
  CopyResult created = CreateCopy(run, CopyLengthOf(file, run->headerSize));
  if (created != kCopyDone) {
    // The source is opened again with the copy's next try.
    CloseHandle(file->in);
    file->in = INVALID_HANDLE_VALUE;
    return created;
  }
  file->openRetry = HoldRetry();
  return BeginPieces(file, run->headerSize, run->copyBufferSize);
}

// The CRC is taken from the bytes as they are written, which gives what a
// second pass over the copy would, without reading it again.
static CopyResult CopyPieceWith(FileInHand* file, char* buffer, size_t bufferSize) {
  size_t piece = bufferSize;
#ifdef CORVANE_TEST_SWITCHES
  if (gTestSwitches.copyPieceSize != 0 && gTestSwitches.copyPieceSize < piece) piece = gTestSwitches.copyPieceSize;
#endif
  DWORD want =
      file->remaining < static_cast<LONGLONG>(piece) ? static_cast<DWORD>(file->remaining) : static_cast<DWORD>(piece);
  DWORD got = 0;
  if (!ReadFile(file->in, buffer, want, &got, nullptr) || got != want) return kCopyUnreadable;
  if (file->remaining == file->size) {
    file->headLength = got < sizeof file->head ? got : sizeof file->head;
    memcpy(file->head, buffer, file->headLength);
  }
  file->remaining -= got;
  DWORD dropped = file->skip < got ? static_cast<DWORD>(file->skip) : got;
  file->skip -= dropped;
  if (got == dropped) return kCopyDone;
  if (!file->linked && !WriteChecked(file->out, buffer + dropped, got - dropped, kWriteCopy)) return kCopyNotWritten;
  file->crc = Crc32Update(file->crc, buffer + dropped, got - dropped);
  file->copyLength += got - dropped;
  return kCopyDone;
}

CopyResult CopyPiece(RegistrationRun* run) { return CopyPieceWith(&run->file, run->copyBuffer, run->copyBufferSize); }

CopyResult PrepareCopyAtOnce(FileInHand* file, int32_t headerSize, char* buffer, size_t bufferSize, volatile LONG* stop,
                             bool* made) {
  *made = false;
  file->in = CreateFileA(file->readPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file->in == INVALID_HANDLE_VALUE) return kCopyLater;
  CopyResult result = SizeUpSource(file, headerSize);
  // A name already taken, as any failure before the copy stands, is left to
  // the run: it has the private folders and the waits.
  if (result != kCopyDone || MakeCopyOrLink(file, file->copyPath, CopyLengthOf(file, headerSize)) != kTryDone) {
    CloseHandle(file->in);
    file->in = INVALID_HANDLE_VALUE;
    file->linked = false;
    return kCopyLater;
  }
  *made = true;
  result = BeginPieces(file, headerSize, bufferSize);
  while (result == kCopyDone && file->remaining > 0) {
    if (*stop != 0) result = kCopyLater;
    if (result == kCopyDone) result = CopyPieceWith(file, buffer, bufferSize);
  }
  CloseHandle(file->in);
  file->in = INVALID_HANDLE_VALUE;
  // The copy's last write only counts once its handle closed without error.
  if (file->out != INVALID_HANDLE_VALUE && !CloseHandle(file->out) && result == kCopyDone) result = kCopyNotWritten;
  file->out = INVALID_HANDLE_VALUE;
  return result;
}
