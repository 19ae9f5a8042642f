#include "registration/skip_list.h"

#include <cstring>

#include "base/file_io.h"
#include "base/text.h"
#include "base/texts.h"

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

void NoteSkippedJoined(SkipList* list, const char* reason, const char* folder, const char* name) {
  ++list->count;
  AppendLine(&list->lines, reason, folder, name, "");
}

void NoteWarning(SkipList* list, const char* warning, const char* path, const char* earlierPath) {
  ++list->warningCount;
  AppendLine(&list->warnings, warning, path, "", earlierPath);
}

void NoteSkipped(SkipList* list, const char* reason, const char* path) { NoteSkippedJoined(list, reason, path, ""); }

void ReleaseSkipList(SkipList* list) {
  ReleaseBuffer(&list->lines);
  ReleaseBuffer(&list->warnings);
  list->count = list->warningCount = 0;
}

void ReportSkipped(HWND dialog, const SkipList* list, const char* logPath) {
  if (list->count == 0 && list->warningCount == 0) {
    if (logPath[0] != '\0') DeleteFileA(logPath);
    return;
  }
  GrowableBuffer log = {};
  bool whole = AppendBytes(&log, list->lines.bytes, list->lines.used) &&
               AppendBytes(&log, list->warnings.bytes, list->warnings.used);
  bool written =
      whole && logPath[0] != '\0' && ReplaceFileWhole(logPath, log.used > 0 ? log.bytes : "", log.used, kWriteLog);
  ReleaseBuffer(&log);
  if (!written && logPath[0] != '\0') DeleteFileA(logPath);
  if (dialog == nullptr) return;
  char message[4 * kPathSize] = "";
  char line[2 * kPathSize];
  if (list->count > 0) {
    FormatText(line, sizeof line, kTextSkippedCount, static_cast<int>(list->count));
    FormatText(message, sizeof message, "%s\n", line);
  }
  if (list->warningCount > 0) {
    FormatText(line, sizeof line, kTextWarnedReport, static_cast<int>(list->warningCount));
    size_t used = strlen(message);
    FormatText(message + used, sizeof message - used, "%s\n", line);
  }
  FormatText(line, sizeof line, written ? kTextLogNamed : kTextLogNotWritten, logPath);
  size_t used = strlen(message);
  FormatText(message + used, sizeof message - used, "%s", line);
  MessageBoxA(dialog, message, kTextScanCaption, MB_OK | MB_ICONINFORMATION);
}
