// The header-stripped copy of the file in hand (see RegistrationRun's file).
#pragma once
#include <windows.h>

#include <cstdint>

struct RegistrationRun;
struct FileInHand;

enum CopyResult {
  kCopyDone,
  kCopyUnreadable,  // the source could not be opened or read
  kCopyTooLarge,    // 2 GiB or more: beyond what the copy supports
  kCopyNotWritten,  // the copy could not be created or written
  kCopyLater,       // another program holds the source or the copy's name for now
  kCopyBadHeader,   // a header size below 0 (a profile edited by hand) names no bytes to drop
};

// The reason of the run's list for a copy that failed; nullptr for one that did not.
const char* SkipReasonOf(CopyResult copied, bool archive);

// Opens the file in hand's readPath and creates the copy at its copyPath, a
// try at a time while another program holds either; the bytes follow in
// pieces, the header dropped from the first of them.
CopyResult StartCopy(RegistrationRun* run);

// One piece: read, written past what is left of the header, and added to the CRC.
CopyResult CopyPiece(RegistrationRun* run);

// The whole copy (or link) of file->readPath at file->copyPath at once, for
// the worker thread that prepares the next file: nothing waits on a hold and
// nothing of the run is touched. Anything but kCopyDone (a hold, a name
// taken, a failed read or write, *stop set) leaves the file to the run's own
// way; *made tells whether a copy or link stands at copyPath (recorded as the
// plug-in's own) to be removed first.
CopyResult PrepareCopyAtOnce(FileInHand* file, int32_t headerSize, char* buffer, size_t bufferSize, volatile LONG* stop,
                             bool* made);

// Closes what the file in hand holds open; a copy that is not whole is deleted
// so that it can never be taken for one.
void CloseFileInHand(RegistrationRun* run, bool copyWhole);
