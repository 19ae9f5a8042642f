// The next file prepared on a worker thread while the host registers the one
// in hand (see FileAhead in run.h). Only the run's own thread calls these.
#pragma once
#include <windows.h>

struct RegistrationRun;

// Hands the folder's next file to the worker, when it is one the worker can
// prepare (a plain file of at least ahead.minBytes whose paths fit) and none
// is ahead yet. Called as the host is handed the file in hand.
void PrepareNextFileAhead(RegistrationRun* run);

// True when the file ahead is the one of sourcePath.
bool IsFileAheadFor(const RegistrationRun* run, const char* sourcePath);

// Waits up to waitMs (less when input comes for the dialog) for the worker to
// finish the file ahead. True once it has.
bool WaitForFileAhead(RegistrationRun* run, DWORD waitMs);

// Gives the file ahead up: the worker stops at its next piece, and what it
// made goes (or waits with the held copies). Harmless with nothing ahead.
void DropFileAhead(RegistrationRun* run);

// Ends the worker thread and frees what it used. What it still had is left
// recorded for the next action. Only the run's freeing calls it.
void EndFileAheadWorker(RegistrationRun* run);
