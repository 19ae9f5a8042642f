// The work of the run's states, slice by slice; the machine (run_machine.cpp)
// calls it from its ticks and acts on where it leaves the run.
#pragma once
#include "registration/run.h"
#include "registration/run_view.h"

// Starts a slice: the tick's work goes on until SliceEnds says so.
void StartSlice(RegistrationRun* run);
// True when the slice must end: its time is up, a Cancel or the window's end
// came, or the user is waiting.
bool SliceEnds(RegistrationRun* run);
// Whether the dialog's counter lags behind what is done while the host is to
// have a file: the host may look at the dialog meanwhile (a picture of it).
bool IsCounterBehindForHost(const RegistrationRun* run);
// What is left of the slice, in milliseconds.
DWORD SliceLeftMs(RegistrationRun* run);

// Works on the state the run is in until the slice ends or the state does;
// the status line's new text goes to view.
void StepState(RegistrationRun* run, RunView* view);

// Moves the run to state and, in the test build, checks its fields there.
void EnterState(RegistrationRun* run, RunState state);

// The one end of every run, from any state before the merge: the file in hand
// and the walk end, and the run goes on to the states that keep its lines (a
// done or cancelled run's), put its files in place and tell what it did.
void EndRun(RegistrationRun* run, RunOutcome outcome);
