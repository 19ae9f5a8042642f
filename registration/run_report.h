// What a registration run passed over, each with its reason, and what it warns
// about: the content of the log and of the box the run ends with.
#pragma once
#include <cstdint>

#include "base/growable_buffer.h"

// Kept as the lines of the log itself: "reason<TAB>path<CR><LF>", and for a
// warning about an earlier file "reason<TAB>path<TAB>earlier path<CR><LF>".
// Counts include entries whose line found no memory.
struct RunReport {
  GrowableBuffer skippedLines;
  int32_t skippedCount;
  GrowableBuffer warnings;  // registered files the user should look at
  int32_t warningCount;
};

void NoteSkipped(RunReport* report, const char* reason, const char* path);
// For a path joined from two parts, which may be too long for a path buffer.
void NoteSkippedJoined(RunReport* report, const char* reason, const char* folder, const char* name);
// earlierPath is "" unless the warning is about a file registered before.
void NoteWarning(RunReport* report, const char* warning, const char* path, const char* earlierPath);
void ReleaseRunReport(RunReport* report);
