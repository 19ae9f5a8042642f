// Per-file registration: an archive's first entry extracted, the copy (see
// rom_copy.h) handed to the host, deleted, and the relation file line.
#include "registration/register_file.h"

#include <windows.h>

#include <cstring>

#include "archive/archive.h"
#include "base/file_io.h"
#include "base/own_files.h"
#include "base/test_switches.h"
#include "base/texts.h"
#include "base/crc32.h"
#include "registration/crc_text.h"
#include "registration/file_ahead.h"
#include "registration/header_check.h"
#include "registration/held_copies.h"
#include "relation/relation_file.h"
#include "registration/rom_copy.h"
#include "registration/run_slice.h"
#include "registration/run.h"
#include "registration/same_contents.h"

// How much of a large copy goes at a time once the host is done with it.
static constexpr LONGLONG kCutStep = 64 << 20;

static LONGLONG CutStep() {
#ifdef CORVANE_TEST_SWITCHES
  if (gTestSwitches.copyPieceSize != 0) return static_cast<LONGLONG>(gTestSwitches.copyPieceSize);
#endif
  return kCutStep;
}

// A file of the private folder that another program holds is tried again
// with the run's held copies, and left to the next action after that.
static void KeepHeldForLater(void* context, const char* path) {
  DeleteOrKeepForLater(static_cast<HeldCopies*>(context), path);
}

// Ends the file in hand, whole or not, and starts removing an archive's
// private folder; StepPrivateFolderRemoval goes on with it.
static void EndFileInHand(RegistrationRun* run, bool copyWhole) {
  FileInHand* file = &run->file;
  CloseFileInHand(run, copyWhole);
  if (file->privateFolder[0] != '\0') {
    StartFolderRemoval(&run->tempCleanup, file->privateFolder, KeepHeldForLater, &run->heldCopies);
  }
  file->privateFolder[0] = '\0';
  file->active = false;
}

static RegisterResult FinishCopy(RegistrationRun* run);

// A copy the host already has is finished: its line is owed. The file ahead
// is given up: the host never had it.
void FinishOrDropRomFile(RegistrationRun* run) {
  DropFileAhead(run);
  if (run->file.active && run->file.handedOver) {
    FinishCopy(run);
  } else if (run->file.active || run->file.privateFolder[0] != '\0') {
    EndFileInHand(run, false);
  }
}

// A private folder holds the first entry and the few that match its pattern;
// this many go between two looks at the clock.
static constexpr int kLeftoverStep = 16;

bool StepPrivateFolderRemoval(RegistrationRun* run) { return StepFolderRemoval(&run->tempCleanup, kLeftoverStep); }

static RegisterResult PassOver(RegistrationRun* run, const char** skipReason, const char* reason) {
  EndFileInHand(run, false);
  *skipReason = reason;
  return kRegisterPassedOver;
}

// What a try of the copy's start leads to: under way, later (the file stays in
// hand, and ContinueRomFile tries again when due) or passed over.
static RegisterResult StartCopyOrWait(RegistrationRun* run, const char** skipReason) {
  CopyResult started = StartCopy(run);
  if (started == kCopyDone) return kRegisterInProgress;
  if (started == kCopyLater) return kRegisterTryLater;
  FileInHand* file = &run->file;
  // The relation file's own aside, found in a ROM folder that holds the data folder.
  bool ours = !file->archive && started == kCopyUnreadable && IsRelationAside(&run->relation, file->sourcePath);
  return PassOver(run, skipReason, ours ? nullptr : SkipReasonOf(started, file->archive));
}

static RegisterResult HandCopyToHost(RegistrationRun* run);

// The file as the worker prepared it goes to the host as the run's own would.
// One the worker could not prepare goes the run's own way, from its start,
// once what the worker made is gone: a copy that did not fit beside the one
// the host had may fit now, and a real failure is found and told as always.
// While the worker still has the file, the run waits for it the rest of the
// slice, and then on the next one.
static RegisterResult TakeFileAhead(RegistrationRun* run, const char** skipReason) {
  FileAhead* ahead = &run->ahead;
  if (!WaitForFileAhead(run, SliceLeftMs(run))) return kRegisterTryLater;
  ahead->state = kAheadIdle;
  FileInHand* file = &run->file;
  if (ahead->result == kCopyDone) {
    *file = ahead->file;
    file->active = true;
#ifdef CORVANE_TEST_SWITCHES
    ++gFilesTakenAhead;
#endif
    return HandCopyToHost(run);
  }
  if (ahead->made) DeleteOrKeepForLater(&run->heldCopies, ahead->file.copyPath);
  ahead->made = false;
  file->active = true;
  return StartCopyOrWait(run, skipReason);
}

// The archive's first entry is extracted into a fresh private folder, and
// copied from there without its header to the temp folder under its own name.
// The archive itself is opened first as any source is, so that another
// program's hold is waited out before the archiver is asked.
static RegisterResult BeginArchive(RegistrationRun* run, HWND dialog, const char** skipReason) {
  FileInHand* file = &run->file;
  file->archive = true;
  HANDLE archive = INVALID_HANDLE_VALUE;
  TryResult opened = TryOpenSource(file->sourcePath, FILE_SHARE_READ, &file->openRetry, &archive);
  if (opened == kTryLater) return kRegisterTryLater;
  if (opened == kTryFailed) return PassOver(run, skipReason, kTextSkipArchive);
  CloseHandle(archive);
  file->openRetry = HoldRetry();
  if (!MakePrivateFolder(run->tempDir, file->privateFolder, sizeof file->privateFolder)) {
    return PassOver(run, skipReason, kTextSkipNotCopied);
  }
  ArchiveResult extracted =
      ExtractArchive(file->sourcePath, file->readPath, dialog, file->privateFolder, kExtractFirstEntry);
  if (extracted == kArchiveNotExtracted) return PassOver(run, skipReason, kTextSkipArchive);
  if (extracted == kArchiveNameNotInCodePage) return PassOver(run, skipReason, kTextSkipNameNotInCodePage);
  if (extracted != kArchiveExtracted) {
    EndFileInHand(run, false);
    return extracted == kArchiveBusy ? kRegisterTryLater : kRegisterArchiveRefused;
  }
  if (!FormatText(file->copyPath, sizeof file->copyPath, "%s%s", run->tempDir, LastComponent(file->readPath))) {
    return PassOver(run, skipReason, kTextSkipPathTooLong);
  }
  file->active = true;
  return StartCopyOrWait(run, skipReason);
}

RegisterResult BeginRomFile(RegistrationRun* run, HWND dialog, const char* folderPath, const WIN32_FIND_DATAA* entry,
                            const char** skipReason) {
  *skipReason = nullptr;
  FileInHand* file = &run->file;
  char sourcePath[kPathSize];
  bool named = FormatText(sourcePath, sizeof sourcePath, "%s%s", folderPath, entry->cFileName);
  // The same entry offered again after a hold keeps its count of tries.
  HoldRetry openRetry = named && strcmp(sourcePath, file->sourcePath) == 0 ? file->openRetry : HoldRetry();
  // The worker's file is the next one; any other is not taken.
  if (!named || !IsFileAheadFor(run, sourcePath)) DropFileAhead(run);
  *file = FileInHand();
  file->openRetry = openRetry;
  if (run->relation.failed) return kRegisterPassedOver;
  if (!named) {
    *skipReason = kTextSkipPathTooLong;
    return kRegisterPassedOver;
  }
  CopyText(file->sourcePath, sizeof file->sourcePath, sourcePath);
  // Our own copies, seen through a ROM folder that is the temp folder.
  if (run->folderIsTemp) return kRegisterPassedOver;
  // A name the system could not give in the ANSI code page comes back with
  // "?", which no real file name holds: the file cannot be opened by it.
  if (strchr(entry->cFileName, '?') != nullptr) {
    *skipReason = kTextSkipNameNotInCodePage;
    return kRegisterPassedOver;
  }
  // The name alone carries the extension; the whole path need not be walked.
  if (IsArchivePath(entry->cFileName)) return BeginArchive(run, dialog, skipReason);
  if (!FormatText(file->copyPath, sizeof file->copyPath, "%s%s", run->tempDir, entry->cFileName)) {
    *skipReason = kTextSkipPathTooLong;
    return kRegisterPassedOver;
  }
  CopyText(file->readPath, sizeof file->readPath, file->sourcePath);
  if (IsFileAheadFor(run, file->sourcePath)) return TakeFileAhead(run, skipReason);
  file->active = true;
  RegisterResult started = StartCopyOrWait(run, skipReason);
  // The worker need not wait for the host: the next file goes ahead while
  // this one is copied here (the first of a folder, or one the worker left).
  if (started == kRegisterInProgress) PrepareNextFileAhead(run);
  return started;
}

// Once the host is done with the copy it goes, and then the line is written.
static RegisterResult FinishCopy(RegistrationRun* run) {
  FileInHand* file = &run->file;
  EndFileInHand(run, true);
  DeleteOrKeepForLater(&run->heldCopies, file->copyPath);
  char crcText[kCrcTextSize];
  CrcToText(file->crc, crcText, sizeof crcText);
  if (!WriteRelationLine(&run->relation, crcText, file->sourcePath)) return kRegisterPassedOver;
  // Registered as the header size says either way; the user is told what to
  // look at. An archive is named by its own path.
  const char* headerWarning = HeaderWarningOf(run->headerSize, file->head, file->headLength, file->size);
  if (headerWarning != nullptr) NoteWarning(&run->report, headerWarning, file->sourcePath, "");
  // Every empty copy has the same CRC; saying so of each pair would bury the
  // one thing worth knowing: nothing followed the header.
  if (file->size <= run->headerSize) {
    NoteWarning(&run->report, kTextWarnNoDataAfterHeader, file->sourcePath, "");
    return kRegisterDone;
  }
  size_t sourceOffset = run->relation.lastSourceOffset;
  if (sourceOffset == SIZE_MAX) return kRegisterDone;
  size_t earlier = NoteCrcOrFindEarlier(&run->crcIndex, file->crc, sourceOffset);
  if (earlier != kNoEarlierSource) {
    NoteWarning(&run->report, kTextWarnSameContents, file->sourcePath, run->relation.sources.bytes + earlier);
  }
  return kRegisterDone;
}

// The host registers the whole copy. A large copy is then cut down a piece at
// a time before it is deleted: freeing a gigabyte at once would hold the
// dialog up longer than a slice.
static RegisterResult HandCopyToHost(RegistrationRun* run) {
  FileInHand* file = &run->file;
  // The slice is cut for the dialog to show what is done, and goes on at once.
  if (!file->awaitsShowing && IsCounterBehindForHost(run)) {
    file->awaitsShowing = true;
    run->showNow = true;
    return kRegisterInProgress;
  }
  file->awaitsShowing = false;
  PrepareNextFileAhead(run);
  if (run->hostRegister != nullptr) run->hostRegister(file->copyPath);
  file->handedOver = true;
  // A link is the user's file under another name: it is never cut, only its name goes.
  if (!file->linked && file->copyLength > CutStep()) {
    file->out = CreateFileA(file->copyPath, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file->out != INVALID_HANDLE_VALUE) return kRegisterInProgress;
  }
  return FinishCopy(run);
}

// One cut of a large copy the host is done with; the last one deletes it.
static RegisterResult CutCopy(RegistrationRun* run) {
  FileInHand* file = &run->file;
  file->copyLength -= file->copyLength < CutStep() ? file->copyLength : CutStep();
  LARGE_INTEGER end = {};
  end.QuadPart = file->copyLength;
  if (file->copyLength > 0 && SetFilePointerEx(file->out, end, nullptr, FILE_BEGIN) && SetEndOfFile(file->out)) {
    return kRegisterInProgress;
  }
  return FinishCopy(run);
}

RegisterResult ContinueRomFile(RegistrationRun* run, const char** skipReason) {
  *skipReason = nullptr;
  FileInHand* file = &run->file;
  if (!file->active) return kRegisterPassedOver;
  if (file->awaitsShowing) return HandCopyToHost(run);
  if (file->handedOver) return CutCopy(run);
  if (file->in == INVALID_HANDLE_VALUE) return StartCopyOrWait(run, skipReason);
  if (file->remaining > 0) {
    CopyResult copied = CopyPiece(run);
    if (copied != kCopyDone) return PassOver(run, skipReason, SkipReasonOf(copied, file->archive));
    if (file->remaining > 0) return kRegisterInProgress;
  }
  // The copy's last write only counts once its handle closed without error.
  HANDLE out = file->out;
  file->out = INVALID_HANDLE_VALUE;
  if (!file->linked && !CloseHandle(out)) {
    DeleteOrKeepForLater(&run->heldCopies, file->copyPath);
    return PassOver(run, skipReason, kTextSkipNotCopied);
  }
  CloseHandle(file->in);
  file->in = INVALID_HANDLE_VALUE;
  return HandCopyToHost(run);
}
