#include "registration/report_box.h"

#include <cstring>

#include "base/text.h"
#include "base/texts.h"
#include "registration/run_log.h"

// Appends one line of the box's text; a line that does not fit is left out.
static void AppendBoxLine(char* message, size_t size, const char* format, int32_t count) {
  char line[2 * kPathSize];
  FormatText(line, sizeof line, format, static_cast<int>(count));
  size_t used = strlen(message);
  FormatText(message + used, size - used, "%s\n", line);
}

void WriteRunLogAndShowReport(HWND dialog, const RunReport* report, const char* logPath) {
  bool written = WriteRunLog(report, logPath);
  if (dialog == nullptr || (report->skippedCount == 0 && report->warningCount == 0)) return;
  char message[4 * kPathSize] = "";
  if (report->skippedCount > 0) AppendBoxLine(message, sizeof message, kTextSkippedCount, report->skippedCount);
  if (report->warningCount > 0) AppendBoxLine(message, sizeof message, kTextWarnedReport, report->warningCount);
  char line[2 * kPathSize];
  FormatText(line, sizeof line, written ? kTextLogNamed : kTextLogNotWritten, logPath);
  size_t used = strlen(message);
  FormatText(message + used, sizeof message - used, "%s", line);
  MessageBoxA(dialog, message, kTextScanCaption, MB_OK | MB_ICONINFORMATION);
}
