#include "registration/run_report.h"

#include <cstring>

// Out of memory the line is dropped but the entry still counts, so the report
// never gives too small a number.
static void AppendLine(GrowableBuffer* lines, const char* reason, const char* folder, const char* name,
                       const char* earlierPath) {
  size_t reasonLength = strlen(reason), folderLength = strlen(folder), nameLength = strlen(name);
  size_t earlierLength = strlen(earlierPath);
  if (!ReserveBytes(lines, reasonLength + folderLength + nameLength + earlierLength + 4)) return;
  AppendBytes(lines, reason, reasonLength);
  AppendBytes(lines, "\t", 1);
  AppendBytes(lines, folder, folderLength);
  AppendBytes(lines, name, nameLength);
  if (earlierLength > 0) {
    AppendBytes(lines, "\t", 1);
    AppendBytes(lines, earlierPath, earlierLength);
  }
  AppendBytes(lines, "\r\n", 2);
}

void NoteSkippedJoined(RunReport* report, const char* reason, const char* folder, const char* name) {
  ++report->skippedCount;
  AppendLine(&report->skippedLines, reason, folder, name, "");
}

void NoteWarning(RunReport* report, const char* warning, const char* path, const char* earlierPath) {
  ++report->warningCount;
  AppendLine(&report->warnings, warning, path, "", earlierPath);
}

void NoteSkipped(RunReport* report, const char* reason, const char* path) {
  NoteSkippedJoined(report, reason, path, "");
}

void ReleaseRunReport(RunReport* report) {
  ReleaseBuffer(&report->skippedLines);
  ReleaseBuffer(&report->warnings);
  report->skippedCount = report->warningCount = 0;
}
