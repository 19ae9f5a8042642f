// The add-ROMs run as a state machine. The dialog forwards its events (its
// start, a timer tick, Cancel, a box's answer, its destruction) and does what
// each returns: the texts, the counter, a box and the next tick. The machine
// never touches a window of its own, so it runs without one in the tests.
//
// Re-entry: the host's callback and the archiver pump messages, so a tick,
// Cancel or the window's end can arrive while a tick is on the stack. A tick
// then does nothing, a Cancel is asked once the tick is back, and the window's
// end ends the run as the tick unwinds.
#pragma once
#include <windows.h>

#include <cstdint>

#include "registration/run.h"
#include "registration/run_view.h"

// The run of the current dataset (see MakeRegistrationRun) started: nullptr
// when memory runs out. owner is the archiver's window owner, clock the
// slices' time (nullptr: the system's).
RegistrationRun* StartRegistrationRun(HWND owner, RunClock clock, RunView* view);
RunView TickRun(RegistrationRun* run);
RunView PressRunCancel(RegistrationRun* run);
RunView AnswerRunBox(RegistrationRun* run, int answer);
// The window went: the run ends without waiting on any hold (what is held is
// left to the next action) and is freed, or, with a tick on the stack, once
// that tick is back.
RunView CloseRunWindow(RegistrationRun* run);
