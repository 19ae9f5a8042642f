// The work of the run's states, slice by slice; the machine (run_machine.cpp)
// calls it from its ticks and acts on where it leaves the run.
#pragma once
#include "registration/run.h"
#include "registration/run_slice.h"
#include "registration/run_view.h"

// Works on the state the run is in until the slice ends or the state does;
// the status line's new text goes to view.
void StepState(RegistrationRun* run, RunView* view);

// Moves the run to state and, in the test build, checks its fields there.
void EnterState(RegistrationRun* run, RunState state);

// The one end of every run, from any state before the merge: the file in hand
// and the walk end, and the run goes on to the states that keep its lines (a
// done or cancelled run's), put its files in place and tell what it did.
void EndRun(RegistrationRun* run, RunOutcome outcome);
