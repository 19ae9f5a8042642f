// What a registration run passed over, each with its reason, what it warns
// about, and the report the run gives of both when it ends.
#pragma once
#include <windows.h>

#include <cstdint>

#include "base/growable_buffer.h"

// Kept as the lines of the log itself: "reason<TAB>path<CR><LF>", and for a
// warning about an earlier file "reason<TAB>path<TAB>earlier path<CR><LF>".
// Counts include entries whose line found no memory.
struct SkipList {
  GrowableBuffer lines;
  int32_t count;
  GrowableBuffer warnings;  // registered files the user should look at
  int32_t warningCount;
};

void NoteSkipped(SkipList* list, const char* reason, const char* path);
// For a path joined from two parts, which may be too long for a path buffer.
void NoteSkippedJoined(SkipList* list, const char* reason, const char* folder, const char* name);
// earlierPath is "" unless the warning is about a file registered before.
void NoteWarning(SkipList* list, const char* warning, const char* path, const char* earlierPath);
void ReleaseSkipList(SkipList* list);

// Writes the list, passed-over entries first and then the warnings, to logPath
// (empty when the dataset names no log) and tells how many of each there were,
// in a box owned by dialog (none when dialog is null). With nothing to tell an
// earlier log is removed and nothing is shown. A log that cannot be written is
// removed too, so that no earlier run's list is taken for this one's, and the
// box says so.
void ReportSkipped(HWND dialog, const SkipList* list, const char* logPath);
