// The box a registration run ends with when it passed something over or warned.
#pragma once
#include <windows.h>

#include "registration/run_report.h"

// Writes the log (see WriteRunLog) and, when there was anything to report,
// tells how many of each there were and where the log is, in a box owned by
// dialog (none when dialog is null); the box says so when the log could not
// be written.
void WriteRunLogAndShowReport(HWND dialog, const RunReport* report, const char* logPath);
