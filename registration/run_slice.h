// A slice of the run's work, and what cuts it short: asked by the states'
// work and by the file in hand alike.
#pragma once
#include <windows.h>

#include "registration/run.h"

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
