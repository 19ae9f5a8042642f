// A slice of the run's work: how long a tick works before the dialog and the
// host have their turn, and what cuts it short.
#include "registration/run_slice.h"

#include "base/test_switches.h"

// Long enough that what comes between two slices (the counter, a repaint, the
// host's own messages) costs little, short enough that the dialog and the host
// answer well within a twentieth of a second.
static constexpr int32_t kDefaultSliceMs = 40;
// Asking the system for waiting input costs a round trip to the window system,
// as much as a small file's whole work: it is asked every 20 ms, once in the
// middle of a slice, which keeps Cancel well within a tenth of a second.
static constexpr DWORD kInputCheckMs = 20;

static int32_t SliceMs() {
#ifdef CORVANE_TEST_SWITCHES
  if (gTestSwitches.sliceMs >= 0) return gTestSwitches.sliceMs;
#endif
  return kDefaultSliceMs;
}

// Showing costs a few round trips to the window system: before the host's
// call it is brought up to date when it last was this long ago, or, in a run
// of a hundred files or fewer, whenever a file was done since.
static constexpr DWORD kShowForHostEveryMs = 100;
static constexpr int32_t kShowEveryFileUpTo = 100;

bool IsCounterBehindForHost(const RegistrationRun* run) {
  if (run->processedFiles == run->shownFiles && run->totalFiles == run->shownTotal && !run->statusWaiting) return false;
  return run->totalFiles <= kShowEveryFileUpTo || run->clock() - run->shownAt >= kShowForHostEveryMs;
}

void StartSlice(RegistrationRun* run) { run->sliceStart = run->lastInputCheck = run->clock(); }

bool SliceEnds(RegistrationRun* run) {
  if (SliceMs() == 0 || run->cancelPending || run->windowGone || run->showNow) return true;
  DWORD now = run->clock();
  if (now - run->sliceStart >= static_cast<DWORD>(SliceMs())) return true;
  if (now - run->lastInputCheck < kInputCheckMs) return false;
  run->lastInputCheck = now;
  return HIWORD(GetQueueStatus(QS_INPUT | QS_POSTMESSAGE)) != 0;
}

DWORD SliceLeftMs(RegistrationRun* run) {
  DWORD used = run->clock() - run->sliceStart;
  DWORD slice = static_cast<DWORD>(SliceMs() < kDefaultSliceMs ? SliceMs() : kDefaultSliceMs);
  return used < slice ? slice - used : 0;
}
