// What a registration run passed over, each with its reason, and the report
// the run gives of it when it ends.
#pragma once
#include <windows.h>

#include <cstdint>

#include "base/growable_buffer.h"

// Kept as the lines of the log itself: "reason<TAB>path<CR><LF>".
struct SkipList {
  GrowableBuffer lines;
  int32_t count;  // entries noted, also those whose line found no memory
};

void NoteSkipped(SkipList* list, const char* reason, const char* path);
// For a path joined from two parts, which may be too long for a path buffer.
void NoteSkippedJoined(SkipList* list, const char* reason, const char* folder, const char* name);
void ReleaseSkipList(SkipList* list);

// Writes the list to logPath (empty when the dataset names no log) and tells
// how many entries were passed over, in a box owned by dialog (none when
// dialog is null). With an empty list an earlier log is removed and nothing is
// shown. A log that cannot be written is removed too, so that no earlier
// run's list is taken for this one's, and the box says so.
void ReportSkipped(HWND dialog, const SkipList* list, const char* logPath);
