// The entries a registration run passed over, each with its reason, and the
// report the run gives of them when it ends.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct SkippedEntry {
  const char* reason;  // one of the kTextSkip texts
  std::string path;    // full path; may be longer than a path buffer
};

// The run's list; emptied when a run starts.
extern std::vector<SkippedEntry> gSkipped;

void NoteSkipped(const char* reason, const char* path);
// For a path joined from two parts that did not fit a path buffer.
void NoteSkippedJoined(const char* reason, const char* folder, const char* name);

// Writes the list to "<dataDir><dataset>.log" (reason, tab, path, CRLF) and
// shows how many entries were passed over, in a box owned by dialog; with an
// empty list, removes an earlier log and shows nothing.
void ReportSkipped(HWND dialog);
