// The one way the plug-in opens a source and creates, moves, renames and
// deletes files of its own. Virus scanners, indexers, backup and sync tools
// open a file that has just changed for a moment, sharing read and write but
// not delete; an open, move or delete then fails with a sharing, lock or
// access error that is gone a fraction of a second later. Such an error is
// tried again, 25 ms longer each time, for about 2 s in all; a lasting
// error (nothing there, a folder in the way, a read-only file that is not
// ours) fails at once.
#pragma once
#include <windows.h>

#include "base/file_identity.h"

// A try of a call that another program's hold may refuse, and when it may be
// tried next. Zero before the first try.
struct HoldRetry {
  int tries;
  DWORD nextTry;  // GetTickCount() from which the next try is due
};

enum TryResult {
  kTryDone,
  kTryLater,   // held: try again once retry->nextTry has come
  kTryFailed,  // another error, or held through every try (the last error set)
};

// True for the errors a passing hold gives.
bool IsHeldError(DWORD error);

// For a call of the caller's own: whether its next try is due, and what comes
// of a try that ended with error (ERROR_SUCCESS when it was done).
bool IsTryDue(const HoldRetry* retry);
TryResult CountTry(HoldRetry* retry, DWORD error);

// One try each, when due; for the add-ROMs run, which waits across ticks. A
// try that is not due yet returns kTryLater without touching the file.

// Opens a source (a ROM, an archive, an earlier relation file) for reading,
// sharing only what share allows; *opened is the handle on kTryDone and
// INVALID_HANDLE_VALUE otherwise.
TryResult TryOpenSource(const char* path, DWORD share, HoldRetry* retry, HANDLE* opened);
// A move of a file of the plug-in's; flags as MoveFileExA's. Without
// MOVEFILE_REPLACE_EXISTING a file at to is a lasting error.
TryResult TryMoveOwnFile(const char* from, const char* to, DWORD flags, HoldRetry* retry);
// Replaces to with from in one step (MOVEFILE_REPLACE_EXISTING and MOVEFILE_WRITE_THROUGH).
TryResult TryMoveIntoPlace(const char* from, const char* to, HoldRetry* retry);
// Deletes whatever file stands at path; nothing there is done too. Its
// attributes are never changed: a read-only file is a lasting refusal.
TryResult TryDeleteFile(const char* path, HoldRetry* retry);
// Deletes the file at path only when it is the one identity names (opened
// without following a link, no larger than mostBytes unless that is
// negative); a read-only attribute of that file is cleared first. Nothing
// there, or something else, is done too: there is nothing of ours to delete.
// Without volumeToo only the file index is compared: for a file this action
// made at that very path, whose volume cannot have changed, and whose
// volume's serial Wine asks of its mount manager (a dozen requests).
TryResult TryDeleteProvenFile(const char* path, const FileIdentity& identity, long long mostBytes, bool volumeToo,
                              HoldRetry* retry);
// Creates path anew (CREATE_NEW) for writing with access and flags as
// CreateFileA's; *created is the handle on kTryDone. ERROR_ACCESS_DENIED
// counts as a hold only while the folder takes the create of another name: a
// read-only folder, or one the user may not write in, is a lasting refusal.
TryResult TryCreateNewFile(const char* path, DWORD access, DWORD flags, HoldRetry* retry, HANDLE* created);
// Whether another name can be created in the folder path lies in, tried with a
// scratch file that goes when its handle closes.
bool ProbeFolderForCreates(const char* path);
// An empty folder of the plug-in's; nothing there is done too.
TryResult TryRemoveOwnFolder(const char* path, HoldRetry* retry);
// Whether another file could be moved over path now (it opens for writing and
// the delete right, and is closed again): nothing there is kTryDone too.
TryResult TryCheckReplaceable(const char* path, HoldRetry* retry);

// The one wait: sleeps (never spins) until retry's next try is due.
void SleepUntilDue(const HoldRetry* retry);

// Runs attempt (a Try... call given the retry) through every try, sleeping
// until each next one is due. True when it was done.
template <typename Try>
bool WaitOutHolds(Try attempt) {
  HoldRetry retry = {};
  for (;;) {
    TryResult result = attempt(&retry);
    if (result != kTryLater) return result == kTryDone;
    SleepUntilDue(&retry);
  }
}

// Every try, waiting between them: for the ends of actions outside the run,
// where a wait of a second or so is acceptable (the settings dialog's OK, a
// launch, an aside file that is not used). The delete is TryDeleteFile's.
bool DeleteFileWaitingOutHolds(const char* path);
bool MoveOwnFile(const char* from, const char* to, DWORD flags);
// The same into toFolder (ending with "\") under the file's own long name,
// which may hold characters the code page lacks: a listing hands such a file
// out by its short name, and a move by that name would keep only the alias.
// Deletes path only when it is an empty file, of one name, no link, made at
// or after since (the kill's leftover an intent slot proves); anything else
// there, or nothing, is done. Proven and deleted through one handle.
TryResult TryDeleteEmptyFileMadeSince(const char* path, const FILETIME& since, HoldRetry* retry);
bool MoveOwnFileUnderLongName(const char* from, const char* toFolder, DWORD flags);
HANDLE OpenSource(const char* path, DWORD share);
