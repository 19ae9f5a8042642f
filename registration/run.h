// One add-ROMs run: everything it needs and holds, from the dialog's start to
// its end. The dialog makes it, keeps it in its window data and hands it to
// every routine below; nothing of a run lives anywhere else.
#pragma once
#include <windows.h>

#include <cstdint>

#include "base/folder_listing.h"
#include "base/own_files.h"
#include "base/host_interface.h"
#include "base/text.h"
#include "registration/folders.h"
#include "registration/header_check.h"
#include "registration/held_copies.h"
#include "relation/relation_file.h"
#include "relation/relation_merge.h"
#include "relation/relation_pending.h"
#include "registration/same_contents.h"
#include "registration/run_report.h"

// The run's states, in the order a run goes through them; every run ends in
// kRunEnded. Each state's progress lives in its record below, and
// AssertRunState (test build) checks at every transition which fields are
// valid in it.
enum RunState : int32_t {
  kRunCollect = 1,  // listing the folders and counting their files, then beginning the relation file
  kRunProcess,      // registering the files, folder by folder
  kRunAsking,       // the Cancel question is open; the run stands in ask.resume
  kRunMerge,        // what the last archive left goes, then the earlier lines still wanted are carried over
  kRunCommit,       // the relation file goes in place, and held copies are tried again
  kRunSaveLog,      // the log goes in place
  kRunTelling,      // the end's boxes, one at a time
  kRunEnded,        // nothing more happens; the run is freed
};

// How a run ends; its end acts on it.
enum RunOutcome : int32_t {
  kRunDone,
  kRunCancelled,
  kRunRelationNotWritten,  // a line, the merge or the final move failed
  kRunRelationNotOpened,
  kRunTempMissing,
  kRunListNotMade,  // no memory for the folder list
  kRunWindowDestroyed,
};

// The file being registered. Its copy goes in pieces, across ticks when it is
// large, so that the dialog keeps answering.
struct FileInHand {
  bool active;
  bool archive;
  HANDLE in = INVALID_HANDLE_VALUE;       // the source, or an archive's first entry moved aside
  HANDLE out = INVALID_HANDLE_VALUE;      // the header-less copy
  LONGLONG size;                          // of what is copied, header included
  LONGLONG remaining;                     // bytes still to be read
  LONGLONG skip;                          // header bytes still to be dropped
  LONGLONG copyLength;                    // bytes in the copy, as written and then as cut down
  bool handedOver;                        // the host has had the copy: it is being deleted
  uint32_t crc;                           // of the bytes written so far
  unsigned char head[kHeaderCheckBytes];  // the first bytes read, for the header check
  size_t headLength;
  char sourcePath[kPathSize];
  char copyPath[kPathSize];
  char readPath[kPathSize];       // what in was opened on
  char privateFolder[kPathSize];  // an archive's extraction folder in temp; empty for a plain file
  HoldRetry openRetry;            // while another program holds the source or the copy's name
};

struct CollectState {
  bool walkComplete;  // every folder is listed and counted; the relation file is tried next
};

struct ProcessState {
  int32_t folderIndex;       // the folder list entry being processed
  KeptCursor folderListing;  // its files as the walk kept them; the current one is folderListing.entry
  bool entryWaiting;         // the current entry is offered again on a later slice
  int32_t failedAttempts;    // consecutive refusals of the current archive
};

struct AskState {
  RunState resume;  // kRunCollect or kRunProcess: where the run goes on when the answer is no
};

struct CommitState {
  bool relationInPlace;
};

struct SaveLogState {
  HoldRetry retry;  // of the log's move into place (or deletion)
  bool aside;       // the log is written aside and waits to be moved in place
  bool remove;      // nothing to report (or the write failed): an earlier log goes
  bool written;     // the log now holds this run's report
};

// The boxes the run ends with, shown one at a time.
constexpr int kEndBoxes = 2;
constexpr size_t kBoxTextSize = 4 * kPathSize;
struct TellingState {
  int32_t count;
  int32_t next;
  char text[kEndBoxes][kBoxTextSize];
  const char* caption[kEndBoxes];  // nullptr: the system's "Error"
};

// The slices' time, in milliseconds from any start; tests set their own.
typedef DWORD (*RunClock)(void);

struct RegistrationRun {
  // What the run was started with.
  int32_t headerSize;
  int32_t depthChoice;
  char romFolder[kPathSize];
  char tempDir[kPathSize];
  FileIdentity tempIdentity;  // its file index, when tempIdentified: to know the temp folder in the walk
  char logPath[kPathSize];    // empty when the dataset names no log
  bool relationNamed;         // relation.path names a file of the dataset
  bool tempIdentified;
  HostPathCallback hostRegister;
  HWND archiverOwner;  // the window the archiver's own windows belong to; may be null
  RunClock clock;

  RunState state;
  RunOutcome outcome;  // from the merge on: the end the run leads to
  CollectState collect;
  ProcessState process;
  AskState ask;
  CommitState commit;
  SaveLogState saveLog;
  TellingState telling;

  // What the states share.
  int32_t totalFiles;      // counted while the folders are listed
  int32_t processedFiles;  // registered with a relation line
  int32_t shownFiles;      // the counts the dialog was last given, -1 before the first
  int32_t shownTotal;
  DWORD shownAt;        // when the dialog was last given something to show
  RunState shownState;  // the state the run was in then
  bool statusWaiting;   // waitingStatus is still to be shown
  char waitingStatus[kPathSize];
  FolderWalk folders;
  bool folderIsTemp;  // the folder in hand is tempDir itself (read by the file step)
  FileInHand file;
  HeldCopies heldCopies;      // copies another program held when they were to go
  FolderRemoval tempCleanup;  // the last archive's private folder, removed step by step
  RelationFile relation;
  bool relationBegun;  // the run's lines are being written aside
  RunReport report;    // what was passed over, and the warnings
  CrcIndex crcIndex;   // this run's CRCs, for files with the same contents
  char* copyBuffer;
  size_t copyBufferSize;
  DWORD sliceStart;
  DWORD lastInputCheck;

  // Re-entry: the run's handlers on the stack (a tick, the start), and what came
  // in while they ran, answered once the outermost one is back.
  int32_t handlersOnStack;
  bool cancelPending;
  bool windowGone;
};

// Makes the run of the current dataset from gState, ready for its first tick;
// nullptr when memory runs out.
RegistrationRun* MakeRegistrationRun();

// Releases whatever the run still holds (an unfinished relation file is
// discarded, a file in hand closed where it stands) and frees it. Only the
// run's end calls it, once it has finished the file in hand.
void FreeRegistrationRun(RegistrationRun* run);

// The test build checks at every transition which fields are valid in the
// run's state; a field that is not is reported on standard error and the
// first such check kept in gRunStateViolation for the tests.
void AssertRunState(const RegistrationRun* run);
#ifdef CORVANE_TEST_SWITCHES
extern const char* gRunStateViolation;
#endif
