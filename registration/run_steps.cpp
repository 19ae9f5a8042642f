// The states' work. A tick does as much as a slice of a few tens of
// milliseconds allows, so that the modal dialog stays responsive: the folders
// are listed and their files counted, then registered, then the earlier
// relation lines still wanted are carried over, the files go in place and the
// run tells what it did.
#include "registration/run_steps.h"

#include <shlwapi.h>

#include <cstdio>
#include <cstring>

#include "base/held_files.h"
#include "base/test_switches.h"
#include "base/texts.h"
#include "registration/register_file.h"
#include "registration/report_box.h"
#include "registration/run_log.h"

// An archive that cannot be opened or closed is offered this many more times,
// on later ticks, before the run passes over it.
static constexpr int32_t kFailedRetries = 3;
// Directory entries the folder walk takes, and earlier relation lines the
// merge looks at, between two looks at the clock.
static constexpr int32_t kWalkStep = 16;
static constexpr int kMergeStep = 4;
#ifdef CORVANE_TEST_SWITCHES
const char* gRunStateViolation = nullptr;
#endif

#ifdef CORVANE_TEST_SWITCHES
static void Violation(const RegistrationRun* run, const char* what) {
  fprintf(stderr, "run state %d: %s\n", static_cast<int>(run->state), what);
  if (gRunStateViolation == nullptr) gRunStateViolation = what;
}
#endif

#define RUN_CHECK(condition) \
  if (!(condition)) Violation(run, #condition)

void AssertRunState(const RegistrationRun* run) {
#ifdef CORVANE_TEST_SWITCHES
  bool fileOpen = run->file.active || run->process.folderListing.open;
  bool walking = run->folders.entries != nullptr;
  bool relationOpen = run->relation.aside != INVALID_HANDLE_VALUE || run->relation.asideClosed;
  RUN_CHECK(run->handlersOnStack >= 0 && run->processedFiles >= 0 && run->totalFiles >= 0);
  // A file is ahead only while files are registered, it is the folder's next
  // one, and it never shares its copy's name with the file in hand.
  bool ahead = run->ahead.state != kAheadIdle;
  bool filesGoOn = run->state == kRunProcess || (run->state == kRunAsking && run->ask.resume == kRunProcess);
  RUN_CHECK(!ahead || (filesGoOn && run->process.folderListing.open && run->ahead.file.sourcePath[0] != '\0'));
  RUN_CHECK(!ahead || !run->file.active || strcmp(run->ahead.file.copyPath, run->file.copyPath) != 0);
  switch (run->state) {
    case kRunCollect:
      RUN_CHECK(walking && !run->relationBegun && !relationOpen && !fileOpen);
      break;
    case kRunProcess:
      RUN_CHECK(walking && run->collect.walkComplete && run->relationBegun && relationOpen);
      break;
    case kRunAsking:
      RUN_CHECK(run->ask.resume == kRunCollect || run->ask.resume == kRunProcess || run->ask.resume == kRunMerge);
      RUN_CHECK(!run->cancelPending && run->handlersOnStack == 0);
      break;
    case kRunMerge:
      RUN_CHECK(!walking && !fileOpen && run->relationBegun && relationOpen);
      RUN_CHECK(run->outcome == kRunDone || run->outcome == kRunCancelled);
      break;
    case kRunCommit:
      RUN_CHECK(!walking && !fileOpen && !run->commit.relationInPlace);
      RUN_CHECK(relationOpen == (run->relationBegun && run->outcome <= kRunCancelled));
      break;
    case kRunSaveLog:
      RUN_CHECK(!walking && !fileOpen && run->heldCopies.count == 0 && !run->relation.asideClosed);
      RUN_CHECK(run->saveLog.aside != run->saveLog.remove || !run->relationBegun);
      break;
    case kRunTelling:
    case kRunEnded:
      RUN_CHECK(!walking && !fileOpen && run->heldCopies.count == 0 && !relationOpen);
      RUN_CHECK(run->telling.next <= run->telling.count && run->telling.count <= kEndBoxes);
      break;
    default:
      RUN_CHECK(!"a state of the run");
      break;
  }
#else
  (void)run;
#endif
}

void EnterState(RegistrationRun* run, RunState state) {
  run->state = state;
  AssertRunState(run);
}

static void NoteTempNotDeleted(void* report, const char* path) {
  NoteWarning(static_cast<RunReport*>(report), kTextWarnTempNotDeleted, path, "");
}

static bool KeepsLines(const RegistrationRun* run) {
  return run->relationBegun && (run->outcome == kRunDone || run->outcome == kRunCancelled);
}

void EndRun(RegistrationRun* run, RunOutcome outcome) {
  FinishOrDropRomFile(run);
  CloseKeptEntries(&run->process.folderListing);
  ReleaseFolderWalk(&run->folders);
  run->outcome = run->relation.failed ? kRunRelationNotWritten : outcome;
  if (!KeepsLines(run)) DiscardRelationFile(&run->relation);
  EnterState(run, KeepsLines(run) ? kRunMerge : kRunCommit);
}

// Listing and counting, resumed on every tick until complete. Then the relation
// file is checked and begun, on later ticks while another program holds it;
// when it cannot be, the run ends before anything is registered: a ROM the
// host knows without a relation line could never be launched.
static void StepCollect(RegistrationRun* run) {
  while (!run->collect.walkComplete) {
    run->collect.walkComplete = StepFolderWalk(&run->folders, kWalkStep, &run->report);
    run->totalFiles = run->folders.filesCounted;
    if (SliceEnds(run)) return;
  }
  TryResult replaceable = run->relationNamed ? CheckRelationReplaceable(&run->relation) : kTryFailed;
  if (replaceable == kTryLater) return;
  if (replaceable == kTryFailed || !OpenRelationFile(&run->relation)) {
    EndRun(run, kRunRelationNotOpened);
    return;
  }
  run->relationBegun = true;
  EnterState(run, kRunProcess);
  // A root too long to be an entry leaves the list empty.
  if (run->folders.count == 0) EndRun(run, kRunDone);
}

// True when the folder in hand is the temp folder under any spelling (a link,
// a short name, another drive): the copies there are our own. The walk knows
// each folder's file index already, and the temp folder's is read once a run:
// only where they match are the volumes asked.
static bool IsTempFolder(const RegistrationRun* run) {
  const FolderFacts& facts = run->folders.facts[run->process.folderIndex];
  if (facts.identified && run->tempIdentified && !SameIdentity(facts.identity, run->tempIdentity)) return false;
  return IsSamePath(run->folders.entries[run->process.folderIndex], run->tempDir);
}

// What became of the current entry, once its file is done with or refused.
// False when the slice must end: the entry waits for a later slice.
static bool NoteResult(RegistrationRun* run, RegisterResult result, const char* skipReason) {
  ProcessState* process = &run->process;
  const char* folder = run->folders.entries[process->folderIndex];
  if (result == kRegisterDone) ++run->processedFiles;
  if (result == kRegisterArchiveRefused && ++process->failedAttempts > kFailedRetries) {
    result = kRegisterPassedOver;
    skipReason = kTextSkipArchive;
  }
  if (result != kRegisterArchiveRefused) process->failedAttempts = 0;
  if (skipReason != nullptr)
    NoteSkippedJoined(&run->report, skipReason, folder, process->folderListing.entry.cFileName);
  // Every other result offers the same entry again later.
  process->entryWaiting = result != kRegisterDone && result != kRegisterPassedOver;
  return !process->entryWaiting;
}

// The files ran out. A Cancel the user gave before the last file's host call
// returned may still wait in the dialog's queue (input is looked at only every
// kInputCheckMs): when anything waits there, the phase ends on the next tick,
// after the dialog's loop has served it, so that such a Cancel is asked. One
// turn only, so that a host posting without end cannot hold the run here.
static bool EndFilePhase(RegistrationRun* run) {
  if (!run->process.lastLookTaken) {
    run->process.lastLookTaken = true;
    if (HIWORD(GetQueueStatus(QS_INPUT | QS_POSTMESSAGE)) != 0) return false;
  }
  EndRun(run, kRunDone);
  return false;
}

// False when the folders ran out (the run ends) or the slice must end.
static bool NextFolder(RegistrationRun* run) {
  CloseKeptEntries(&run->process.folderListing);
  if (++run->process.folderIndex < run->folders.count) return true;
  return EndFilePhase(run);
}

// One step of the process state: a piece of the file in hand, or the next
// directory entry, or the start or end of a folder. False when the slice must
// end here.
static bool ProcessStep(RegistrationRun* run, RunView* view) {
  ProcessState* process = &run->process;
  const char* skipReason = nullptr;
  RegisterResult result;
  if (!StepPrivateFolderRemoval(run)) return true;
  if (run->file.active) {
    result = ContinueRomFile(run, &skipReason);
    if (result == kRegisterInProgress) return true;
    return NoteResult(run, result, skipReason);
  }
  if (process->folderIndex >= run->folders.count) return EndFilePhase(run);
  const char* folder = run->folders.entries[process->folderIndex];
  if (!process->entryWaiting) {
    if (!process->folderListing.open) {
      // A static control only repaints later, so naming each folder costs little.
      view->showStatus = CopyText(view->status, sizeof view->status, folder);
      run->folderIsTemp = IsTempFolder(run);
      if (!OpenKeptEntries(&run->folders, process->folderIndex, &process->folderListing)) {
        NoteSkipped(&run->report, kTextSkipFolderUnlisted, folder);
        return NextFolder(run);
      }
    }
    if (!NextKeptEntry(&run->folders, &process->folderListing)) return NextFolder(run);
    if (IsFolderEntry(process->folderListing.entry)) return true;
  }
  result = BeginRomFile(run, run->archiverOwner, folder, &process->folderListing.entry, &skipReason);
  if (result == kRegisterInProgress) return true;
  return NoteResult(run, result, skipReason);
}

// What the last archive added to temp goes, across ticks too. True once it is gone.
static bool StepLeftovers(RegistrationRun* run) {
  while (!StepPrivateFolderRemoval(run)) {
    if (SliceEnds(run)) return false;
  }
  return true;
}

// The leftovers go first, then the earlier lines are carried over; a held
// earlier file is tried on a later tick.
static void StepMerge(RegistrationRun* run) {
  if (!StepLeftovers(run)) return;
  while (!StepRelationMerge(&run->relation, kMergeStep)) {
    if (run->relation.failed) {
      EndRun(run, kRunRelationNotWritten);
      return;
    }
    if (run->relation.stage == kMergeNotBegun || SliceEnds(run)) return;
  }
  EnterState(run, kRunCommit);
}

// The log is written aside now and put in place on this and later ticks.
static void EnterSaveLog(RegistrationRun* run) {
  run->saveLog = SaveLogState();
  if (run->relationBegun) {
    run->saveLog.aside = WriteRunLogAside(&run->report, run->logPath);
    run->saveLog.remove = !run->saveLog.aside;
  }
  EnterState(run, kRunSaveLog);
}

// The relation file goes in place, one try a tick while another program holds
// it; then the held copies are tried as their tries come due, and the run
// goes on once none waits.
static void StepCommit(RegistrationRun* run) {
  if (!StepLeftovers(run)) return;
  if (KeepsLines(run) && !run->commit.relationInPlace) {
    TryResult moved = StepRelationCommit(&run->relation);
    if (moved == kTryLater) return;
    if (moved == kTryFailed) {
      run->outcome = kRunRelationNotWritten;
      DiscardRelationFile(&run->relation);
    }
    run->commit.relationInPlace = moved == kTryDone;
  }
  if (RetryHeldCopies(&run->heldCopies)) return;
  EndHeldCopies(&run->heldCopies, NoteTempNotDeleted, &run->report);
  EnterSaveLog(run);
}

// Whether the run's lines wait, pending or unmerged, for the next action to
// put them in place.
static bool LinesWaitForNextAction(const RegistrationRun* run) { return run->relation.linesWait; }

static void AddEndBox(RegistrationRun* run, const char* format, const char* path, const char* caption) {
  TellingState* telling = &run->telling;
  FormatText(telling->text[telling->count], sizeof telling->text[0], format, path);
  telling->caption[telling->count++] = caption;
}

// The boxes the run ends with: a message about the relation file or the temp
// folder first, then, for a run that began its relation file, what it passed
// over or left pending.
static void EnterTelling(RegistrationRun* run) {
  TellingState* telling = &run->telling;
  *telling = TellingState();
  if (run->outcome == kRunRelationNotWritten) AddEndBox(run, kTextRelationNotWritten, run->relation.path, nullptr);
  if (run->outcome == kRunRelationNotOpened) {
    char problem[kBoxTextSize];
    bool described = DescribeRelationProblem(&run->relation, problem, sizeof problem);
    AddEndBox(run, kTextRelationNotOpened, described ? problem : run->relation.path, nullptr);
  }
  if (run->outcome == kRunTempMissing) AddEndBox(run, kTextTempDirNotMade, run->tempDir, nullptr);
  if (run->outcome == kRunListNotMade) AddEndBox(run, "%s", kTextOutOfMemory, nullptr);
  if (run->relationBegun &&
      ComposeReportBox(telling->text[telling->count], sizeof telling->text[0], &run->report, run->logPath,
                       run->saveLog.written, LinesWaitForNextAction(run) ? run->relation.path : nullptr)) {
    telling->caption[telling->count++] = kTextScanCaption;
  }
  EnterState(run, kRunTelling);
}

static void StepSaveLog(RegistrationRun* run) {
  SaveLogState* save = &run->saveLog;
  if (save->aside || save->remove) {
    TryResult result = TryPutRunLogInPlace(run->logPath, save->aside, &save->retry);
    if (result == kTryLater) return;
    save->written = save->aside && result == kTryDone;
    save->aside = save->remove = false;
  }
  EnterTelling(run);
}

void StepState(RegistrationRun* run, RunView* view) {
  switch (run->state) {
    case kRunCollect:
      StepCollect(run);
      break;
    case kRunProcess:
      while (ProcessStep(run, view) && run->state == kRunProcess && !run->relation.failed && !SliceEnds(run)) {
      }
      if (run->state == kRunProcess && run->relation.failed) EndRun(run, kRunRelationNotWritten);
      break;
    case kRunMerge:
      StepMerge(run);
      break;
    case kRunCommit:
      StepCommit(run);
      break;
    case kRunSaveLog:
      StepSaveLog(run);
      break;
    default:
      break;
  }
}
