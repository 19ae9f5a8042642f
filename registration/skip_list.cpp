#include "registration/skip_list.h"

#include <cstdlib>
#include <cstring>

#include "base/file_io.h"
#include "base/state.h"
#include "base/texts.h"
#include "profile/profile.h"

SkipList gSkipped;

// Out of memory the line is dropped but the entry still counts, so the report
// never gives too small a number.
static void AppendLine(const char* reason, const char* folder, const char* name) {
  size_t reasonLength = strlen(reason), folderLength = strlen(folder), nameLength = strlen(name);
  size_t need = gSkipped.used + reasonLength + 1 + folderLength + nameLength + 2;
  if (need > gSkipped.capacity) {
    size_t capacity = gSkipped.capacity == 0 ? 4096 : gSkipped.capacity;
    while (capacity < need) capacity *= 2;
    char* grown = static_cast<char*>(realloc(gSkipped.text, capacity));
    if (grown == nullptr) return;
    gSkipped.text = grown;
    gSkipped.capacity = capacity;
  }
  char* end = gSkipped.text + gSkipped.used;
  memcpy(end, reason, reasonLength);
  end[reasonLength] = '\t';
  memcpy(end + reasonLength + 1, folder, folderLength);
  memcpy(end + reasonLength + 1 + folderLength, name, nameLength);
  memcpy(end + reasonLength + 1 + folderLength + nameLength, "\r\n", 2);
  gSkipped.used = need;
}

void NoteSkippedJoined(const char* reason, const char* folder, const char* name) {
  ++gSkipped.count;
  AppendLine(reason, folder, name);
}

void NoteSkipped(const char* reason, const char* path) { NoteSkippedJoined(reason, path, ""); }

void ClearSkipped() {
  free(gSkipped.text);
  gSkipped = SkipList();
}

void ReportSkipped(HWND dialog) {
  char logPath[kPathSize];
  bool named = DatasetFilePath(logPath, sizeof logPath, ".log");
  if (gSkipped.count == 0) {
    if (named) DeleteFileA(logPath);
    return;
  }
  // Unwritten, the list is lost but the count is still worth telling.
  if (named) ReplaceFileWhole(logPath, gSkipped.text != nullptr ? gSkipped.text : "", gSkipped.used, kWriteLog);
  char message[3 * kPathSize];
  FormatText(message, sizeof message, kTextSkippedReport, static_cast<int>(gSkipped.count), logPath);
  MessageBoxA(dialog, message, kTextScanCaption, MB_OK | MB_ICONINFORMATION);
}
