// The run's log, "<dataset>.log": the lines of its report. It is written aside
// at once and put in place across the run's ticks, so that a viewer holding
// the log never holds the dialog up.
#pragma once
#include "base/held_files.h"
#include "registration/run_report.h"

// Writes the report's lines, passed-over entries first and then the warnings,
// beside logPath (empty when the dataset names no log). True when they wait
// aside to be put in place; false when there is nothing to report or the
// write failed, and an earlier log is then to be removed, so that no earlier
// run's list is taken for this one's.
bool WriteRunLogAside(const RunReport* report, const char* logPath);

// One try, when due, of what WriteRunLogAside left: the aside file moved over
// logPath (written true), or the earlier log removed (written false).
TryResult TryPutRunLogInPlace(const char* logPath, bool written, HoldRetry* retry);
