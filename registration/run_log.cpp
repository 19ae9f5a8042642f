#include "registration/run_log.h"

#include <windows.h>

#include "base/file_io.h"

bool WriteRunLogAside(const RunReport* report, const char* logPath) {
  if (logPath[0] == '\0' || (report->skippedCount == 0 && report->warningCount == 0)) return false;
  HANDLE aside = CreateAsideFile(logPath);
  if (aside == INVALID_HANDLE_VALUE) {
    ReportSystemError("CreateFileA", logPath, GetLastError());
    return false;
  }
  if (!WriteChecked(aside, report->skippedLines.bytes, report->skippedLines.used, kWriteLog) ||
      !WriteChecked(aside, report->warnings.bytes, report->warnings.used, kWriteLog)) {
    ReportSystemError("WriteFile", logPath, GetLastError());
    DiscardAsideFile(aside, logPath);
    return false;
  }
  return CloseAsideFile(aside, logPath);
}

TryResult TryPutRunLogInPlace(const char* logPath, bool written, HoldRetry* retry) {
  if (logPath[0] == '\0') return kTryDone;
  return written ? TryPutAsideInPlace(logPath, retry) : TryDeleteFile(logPath, retry);
}
