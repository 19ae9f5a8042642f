// Files whose loss matters: every write is checked through WriteFile (the C
// runtime can report a failed flush as success), and a file that replaces an
// earlier one is written aside and put in place in one step.
#pragma once
#include <windows.h>

#include <cstddef>

#include "base/held_files.h"

// What a checked write is for; the test build can make the N-th write of one kind fail.
enum WriteKind {
  kWriteCopy,            // the header-stripped copy of a ROM
  kWriteRelation,        // the relation file
  kWriteProfile,         // the dataset's profile file
  kWriteGlobalSettings,  // Setting.ini
  kWriteLog,             // the list of files a run passed over
  kWriteRecord,          // the record of the plug-in's own files
  kWriteExtractionRecord,  // what launches extracted
  kWriteKindCount
};

// Writes all size bytes; false when anything was not written (last error set).
bool WriteChecked(HANDLE file, const void* data, size_t size, WriteKind kind);

// The one aside-naming rule: the name a file is written under before it
// replaces path, and (number 1 on) the names a user's file is moved aside to.
// Number 0 is path with ".new" appended, which no file of a dataset ends in;
// when that does not fit, path with its last "." made "~" ("NES~fol",
// "Setting~ini"), which no dataset file is named either. Number n is path
// with ".new<n>" appended. False when the name cannot be made.
bool AsidePath(char* aside, size_t size, const char* path, unsigned number = 0);

// Creates (or truncates) the aside file of path for writing, without sharing,
// with the delete right that NameFinishedAside needs.
HANDLE CreateAsideFile(const char* path);

// Flushes the aside file of path, gives it the name finished (in the same
// folder) while it is still open (no other program can hold a file opened
// without sharing, so no hold can stop this), and closes it: a file under that
// name is always whole, and a file under the aside name never is. What had
// that name is replaced. On any failure the aside file is closed and removed.
bool NameFinishedAside(HANDLE aside, const char* path, const char* finished);

// Flushes and closes the aside file, then moves it over path in one step,
// waiting out another program's passing hold on either. On any failure the
// aside file is removed and path is left as it was. The handle is closed
// whatever happens.
bool CommitAsideFile(HANDLE aside, const char* path);

// The same in two steps, for the run, which waits across ticks: the flush and
// close (false: the aside file is gone), then one try of the move when due.
bool CloseAsideFile(HANDLE aside, const char* path);
TryResult TryPutAsideInPlace(const char* path, HoldRetry* retry);

// Closes and removes an aside file that is not to be used.
void DiscardAsideFile(HANDLE aside, const char* path);

// Writes the whole of data as the new content of path (aside, then moved in
// place). False leaves the previous file untouched.
bool ReplaceFileWhole(const char* path, const void* data, size_t size, WriteKind kind);

// Reports a failed system call through OutputDebugStringA (and on standard
// error in the test build): the call, the file, the error code and the
// system's text for it.
void ReportSystemError(const char* call, const char* path, DWORD error);
