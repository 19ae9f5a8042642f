#include "registration/run.h"

#include <new>

#include "base/state.h"
#include "profile/profile.h"
#include "registration/file_ahead.h"

// Large enough that a big ROM goes at the disk's pace, small enough that one
// piece never holds a slice up.
static constexpr size_t kCopyBufferSize = 1024 * 1024;
// Below this a file costs less to copy than to hand to the worker and take
// back (a few calls into the system each way).
static constexpr uint32_t kAheadMinBytes = 32 * 1024;

RegistrationRun* MakeRegistrationRun() {
  RegistrationRun* run = new (std::nothrow) RegistrationRun();
  if (run == nullptr) return nullptr;
  // Whole pages, so that every read and write of a piece starts on one.
  run->copyBuffer =
      static_cast<char*>(VirtualAlloc(nullptr, kCopyBufferSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (run->copyBuffer == nullptr) {
    delete run;
    return nullptr;
  }
  run->copyBufferSize = kCopyBufferSize;
  run->ahead.minBytes = kAheadMinBytes;
  run->headerSize = gState.profile.headerSize;
  run->depthChoice = gState.profile.depthChoice;
  CopyText(run->romFolder, sizeof run->romFolder, gState.profile.romFolder);
  CopyText(run->tempDir, sizeof run->tempDir, gState.tempDir);
  run->hostRegister = gState.hostRegister;
  DatasetFilePath(run->logPath, sizeof run->logPath, ".log");
  // A dataset that names no file of ours still has its relation file named in
  // the message that says it cannot be opened.
  run->relationNamed = DatasetFilePath(run->relation.path, sizeof run->relation.path, ".rel");
  if (!run->relationNamed) {
    FormatText(run->relation.path, sizeof run->relation.path, "%s%s.rel", gState.dataDir, gState.datasetName);
  }
  run->state = kRunCollect;
  return run;
}

void FreeRegistrationRun(RegistrationRun* run) {
  EndFileAheadWorker(run);
  FileInHand* file = &run->file;
  if (file->in != INVALID_HANDLE_VALUE) CloseHandle(file->in);
  if (file->out != INVALID_HANDLE_VALUE) CloseHandle(file->out);
  CloseKeptEntries(&run->process.folderListing);
  ReleaseFolderWalk(&run->folders);
  DiscardRelationFile(&run->relation);
  ReleaseBuffer(&run->heldCopies.entries);
  ReleaseRunReport(&run->report);
  ReleaseCrcIndex(&run->crcIndex);
  VirtualFree(run->copyBuffer, 0, MEM_RELEASE);
  delete run;
}
