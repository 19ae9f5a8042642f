// Moves and deletes that wait out another program's hold. Virus scanners,
// indexers, backup and sync tools open a file that has just changed for a
// moment, sharing read and write but not delete; a move or delete then fails
// with a sharing, lock or access error that is gone a fraction of a second
// later. Such an error is tried again, 25 ms longer each time, for about
// 1.4 s in all; any other error fails at once.
#pragma once
#include <windows.h>

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
// try that is not due yet returns kTryLater without touching the file. A move
// into place replaces to with from in one step (MOVEFILE_REPLACE_EXISTING and
// MOVEFILE_WRITE_THROUGH).
TryResult TryMoveIntoPlace(const char* from, const char* to, HoldRetry* retry);
TryResult TryDeleteOwnFile(const char* path, HoldRetry* retry);
// Opens path for what moving another file over it needs (writing and the
// delete right), then closes it: no file there is kTryDone too.
TryResult TryReplaceRight(const char* path, HoldRetry* retry);

// Every try, waiting between them: for the settings dialog's OK, closePlugin
// and the ends of actions, where a wait of a second or so is acceptable. A
// read-only attribute is cleared first.
bool DeleteOwnFile(const char* path);

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
