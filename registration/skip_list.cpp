#include "registration/skip_list.h"

#include "base/file_io.h"
#include "base/state.h"
#include "base/texts.h"
#include "profile/profile.h"

std::vector<SkippedEntry> gSkipped;

// Out of memory an entry goes unlisted; no exception leaves the plug-in.
void NoteSkipped(const char* reason, const char* path) {
  try {
    gSkipped.push_back({reason, path});
  } catch (...) {
  }
}

void NoteSkippedJoined(const char* reason, const char* folder, const char* name) {
  try {
    gSkipped.push_back({reason, std::string(folder) + name});
  } catch (...) {
  }
}

void ReportSkipped(HWND dialog) {
  char logPath[kPathSize];
  bool named = DatasetFilePath(logPath, sizeof logPath, ".log");
  if (gSkipped.empty()) {
    if (named) DeleteFileA(logPath);
    return;
  }
  // Unwritten (or out of memory), the list is lost but the count is still
  // worth telling.
  try {
    std::string text;
    for (const SkippedEntry& entry : gSkipped) {
      text += entry.reason;
      text += '\t';
      text += entry.path;
      text += "\r\n";
    }
    if (named) ReplaceFileWhole(logPath, text.data(), text.size(), kWriteLog);
  } catch (...) {
  }
  char message[3 * kPathSize];
  FormatText(message, sizeof message, kTextSkippedReport, static_cast<int>(gSkipped.size()), logPath);
  MessageBoxA(dialog, message, kTextScanCaption, MB_OK | MB_ICONINFORMATION);
}
