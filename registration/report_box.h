// The box a registration run ends with when it passed something over, warned,
// or left its relation file to be put in place by the next action.
#pragma once
#include <cstddef>

#include "registration/run_report.h"

// Composes the box's text into text (size bytes): how many were passed over
// and warned about and where the log is (or that it could not be written),
// and, when pendingPath is not null, that the relation file there waits for
// the next action. False when there is nothing to tell.
bool ComposeReportBox(char* text, size_t size, const RunReport* report, const char* logPath, bool logWritten,
                      const char* pendingPath);
