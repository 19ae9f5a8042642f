#include "registration/skip_list.h"

#include "base/file_io.h"
#include "base/state.h"
#include "base/texts.h"
#include "profile/profile.h"

std::vector<SkippedEntry> gSkipped;

void NoteSkipped(const char* reason, const char* path) { gSkipped.push_back({reason, path}); }

void NoteSkippedJoined(const char* reason, const char* folder, const char* name) {
  gSkipped.push_back({reason, std::string(folder) + name});
}

void ReportSkipped(HWND dialog) {
  char logPath[kPathSize];
  bool named = DatasetFilePath(logPath, sizeof logPath, ".log");
  if (gSkipped.empty()) {
    if (named) DeleteFileA(logPath);
    return;
  }
  std::string text;
  for (const SkippedEntry& entry : gSkipped) {
    text += entry.reason;
    text += '\t';
    text += entry.path;
    text += "\r\n";
  }
  // Unwritten, the list is lost but the count is still worth telling.
  if (named) ReplaceFileWhole(logPath, text.data(), text.size(), kWriteLog);
  char message[3 * kPathSize];
  FormatText(message, sizeof message, kTextSkippedReport, static_cast<int>(gSkipped.size()), logPath);
  MessageBoxA(dialog, message, kTextScanCaption, MB_OK | MB_ICONINFORMATION);
}
