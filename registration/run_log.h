// The run's log, "<dataset>.log": the lines of its report.
#pragma once
#include "registration/run_report.h"

// Writes the report's lines, passed-over entries first and then the warnings,
// as the whole of logPath (empty when the dataset names no log). With nothing
// to report, or when the log cannot be written, an earlier log is removed, so
// that no earlier run's list is taken for this one's. True when it was written.
bool WriteRunLog(const RunReport* report, const char* logPath);
