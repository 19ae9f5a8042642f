#include "registration/report_box.h"

#include <cstring>

#include "base/text.h"
#include "base/texts.h"

// Appends one line of the box's text; a line that does not fit is left out.
static void AppendBoxLine(char* text, size_t size, const char* line) {
  size_t used = strlen(text);
  FormatText(text + used, size - used, used > 0 ? "\n%s" : "%s", line);
}

bool ComposeReportBox(char* text, size_t size, const RunReport* report, const char* logPath, bool logWritten,
                      const char* pendingPath) {
  text[0] = '\0';
  char line[2 * kPathSize];
  if (report->skippedCount > 0 || report->warningCount > 0) {
    if (report->skippedCount > 0) {
      FormatText(line, sizeof line, kTextSkippedCount, static_cast<int>(report->skippedCount));
      AppendBoxLine(text, size, line);
    }
    if (report->warningCount > 0) {
      FormatText(line, sizeof line, kTextWarnedReport, static_cast<int>(report->warningCount));
      AppendBoxLine(text, size, line);
    }
    FormatText(line, sizeof line, logWritten ? kTextLogNamed : kTextLogNotWritten, logPath);
    AppendBoxLine(text, size, line);
  }
  // A sentence of its own: the lines are kept, only their move waits.
  if (pendingPath != nullptr) {
    FormatText(line, sizeof line, kTextRelationPending, pendingPath);
    AppendBoxLine(text, size, line);
  }
  return text[0] != '\0';
}
