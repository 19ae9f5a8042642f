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
#include "registration/relation_file.h"
#include "registration/same_contents.h"
#include "registration/run_report.h"

enum RunPhase : int32_t {
  kPhaseCollect = 1,  // listing the folders and counting their files
  kPhaseProcess = 2,  // registering the files, folder by folder
  kPhaseMerge = 3,    // carrying over the earlier relation lines still wanted
  kPhaseCommit = 4,   // putting the relation file in place, and deleting held copies
  kPhaseEnded = 5,    // nothing more happens; the dialog is ending
};

// Where a Cancel stands. A Cancel is only asked about while files remain;
// from the merge on, the end is under way and a Cancel changes nothing.
enum CancelState : int32_t {
  kCancelNone,
  kCancelPending,  // came while a handler ran: asked once that handler is done
  kCancelAsking,   // the question is open; another Cancel is the same one
};

// How a run ends; one routine acts on it.
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

struct RegistrationRun {
  // What the run was started with.
  int32_t headerSize;
  int32_t depthChoice;
  char romFolder[kPathSize];
  char tempDir[kPathSize];
  FileIdentity tempIdentity;  // when tempIdentified: to know the temp folder in the walk
  char logPath[kPathSize];    // empty when the dataset names no log
  bool relationNamed;         // relation.path names a file of the dataset
  bool tempIdentified;
  HostPathCallback hostRegister;

  RunPhase phase;
  RunOutcome outcome;      // the end the merge leads to
  int32_t totalFiles;      // counted while the folders are listed
  int32_t processedFiles;  // registered with a relation line
  FolderWalk folders;
  int32_t folderIndex;          // the folder list entry being processed
  FolderListing folderListing;  // its entries; the current one is folderListing.entry
  bool folderIsTemp;            // that folder is tempDir itself
  bool entryWaiting;            // the current entry is offered again on a later tick
  int32_t failedAttempts;       // consecutive refusals of the current archive
  FileInHand file;
  HeldCopies heldCopies;     // copies another program held when they were to go
  FolderRemoval tempCleanup;  // the last archive's private folder, removed step by step
  RelationFile relation;
  bool relationBegun;      // the run's lines are being written aside
  bool relationCommitted;  // and are in place
  RunReport report;        // what was passed over, and the warnings
  CrcIndex crcIndex;       // this run's CRCs, for files with the same contents
  char* copyBuffer;
  size_t copyBufferSize;

  // Slices: a monotonic clock in performance-counter ticks.
  LONGLONG sliceStart;
  LONGLONG ticksPerMs;
  LONGLONG lastInputCheck;
  LONGLONG lastProgress;  // when the progress was last shown
  bool timerArmed;

  // Re-entry: the run's handlers on the stack (the start, a tick, the cancel
  // question, the end), and what came in while they ran.
  int32_t handlersOnStack;
  CancelState cancel;
  bool windowDestroyed;
};

// Makes the run of the current dataset from gState, ready for its first tick;
// nullptr when memory runs out.
RegistrationRun* MakeRegistrationRun();

// Releases whatever the run still holds (an unfinished relation file is
// discarded, a file in hand closed where it stands) and frees it; the run's
// end has finished the file in hand before.
void FreeRegistrationRun(RegistrationRun* run);
