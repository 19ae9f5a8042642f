#include "registration/skip_list.h"

#include <cstring>

#include "base/file_io.h"
#include "base/text.h"
#include "base/texts.h"

// Out of memory the line is dropped but the entry still counts, so the report
// never gives too small a number.
void NoteSkippedJoined(SkipList* list, const char* reason, const char* folder, const char* name) {
  ++list->count;
  size_t reasonLength = strlen(reason), folderLength = strlen(folder), nameLength = strlen(name);
  if (!ReserveBytes(&list->lines, reasonLength + 1 + folderLength + nameLength + 2)) return;
  AppendBytes(&list->lines, reason, reasonLength);
  AppendBytes(&list->lines, "\t", 1);
  AppendBytes(&list->lines, folder, folderLength);
  AppendBytes(&list->lines, name, nameLength);
  AppendBytes(&list->lines, "\r\n", 2);
}

void NoteSkipped(SkipList* list, const char* reason, const char* path) { NoteSkippedJoined(list, reason, path, ""); }

void ReleaseSkipList(SkipList* list) {
  ReleaseBuffer(&list->lines);
  list->count = 0;
}

void ReportSkipped(HWND dialog, const SkipList* list, const char* logPath) {
  if (list->count == 0) {
    if (logPath[0] != '\0') DeleteFileA(logPath);
    return;
  }
  bool written = logPath[0] != '\0' &&
                 ReplaceFileWhole(logPath, list->lines.bytes != nullptr ? list->lines.bytes : "", list->lines.used,
                                  kWriteLog);
  if (!written && logPath[0] != '\0') DeleteFileA(logPath);
  if (dialog == nullptr) return;
  char counted[kPathSize];
  char named[2 * kPathSize];
  char message[3 * kPathSize];
  FormatText(counted, sizeof counted, kTextSkippedCount, static_cast<int>(list->count));
  FormatText(named, sizeof named, written ? kTextLogNamed : kTextLogNotWritten, logPath);
  FormatText(message, sizeof message, "%s\n%s", counted, named);
  MessageBoxA(dialog, message, kTextScanCaption, MB_OK | MB_ICONINFORMATION);
}
