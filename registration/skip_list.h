// The entries a registration run passed over, each with its reason, and the
// report the run gives of them when it ends.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

// Kept as the lines of the log itself: "reason<TAB>path<CR><LF>".
struct SkipList {
  char* text;       // heap, null while nothing is noted
  size_t used;      // bytes of text in use
  size_t capacity;  // bytes of text allocated
  int32_t count;    // entries noted, also those whose line found no memory
};

// The run's list; emptied when a run starts and when it ends.
extern SkipList gSkipped;

void NoteSkipped(const char* reason, const char* path);
// For a path joined from two parts, which may be too long for a path buffer.
void NoteSkippedJoined(const char* reason, const char* folder, const char* name);
void ClearSkipped();

// Writes the list to "<dataDir><dataset>.log" and shows how many entries were
// passed over, in a box owned by dialog; with an empty list, removes an
// earlier log and shows nothing.
void ReportSkipped(HWND dialog);
