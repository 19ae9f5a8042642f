#include "registration/run_log.h"

#include <windows.h>

#include "base/file_io.h"
#include "base/held_files.h"

bool WriteRunLog(const RunReport* report, const char* logPath) {
  if (logPath[0] == '\0') return false;
  GrowableBuffer log = {};
  bool written = (report->skippedCount > 0 || report->warningCount > 0) &&
                 AppendBytes(&log, report->skippedLines.bytes, report->skippedLines.used) &&
                 AppendBytes(&log, report->warnings.bytes, report->warnings.used) &&
                 ReplaceFileWhole(logPath, log.used > 0 ? log.bytes : "", log.used, kWriteLog);
  ReleaseBuffer(&log);
  if (!written) DeleteOwnFile(logPath);
  return written;
}
