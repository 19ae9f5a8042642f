// Every test starts from the state the plug-in has when its library is loaded:
// the global record is put back before each one, whatever the test before it
// left, so that no test depends on running order. A run lives only as long as
// its dialog, so nothing of one can be left over. The tests' own switches and
// the host double go back to their defaults too, and what a failed test left
// open is closed. Registered with GoogleTest before main runs.
#include <gtest/gtest.h>

#include <vector>

#include "base/test_switches.h"
#include "base/file_io.h"
#include "base/state.h"
#include "registration/register_file.h"
#include "registration/scan_dialog.h"
#include "support/archiver_switches.h"
#include "support/host_double.h"

namespace {

void ResetPluginState() { gState = PluginState(); }

void ResetAllSwitches() {
  ResetTestSwitches();
  ArchiverSwitches archiver;
  if (BindArchiverSwitches(&archiver)) archiver.reset();
}

BOOL CALLBACK CollectVisibleWindow(HWND window, LPARAM windows) {
  if (IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
  return TRUE;
}

// The host double, the dialog driver's timer and the visible windows a failed
// test left on this thread (the hidden ones belong to the system: COM, IME).
void CloseWhatTestsLeftOpen() {
  StopDriving();
  HostClose();
  std::vector<HWND> windows;
  EnumThreadWindows(GetCurrentThreadId(), CollectVisibleWindow, reinterpret_cast<LPARAM>(&windows));
  for (HWND window : windows) {
    if (IsWindow(window)) DestroyWindow(window);
  }
  PumpMessages();
  gHost = HostDouble();
}

class StateReset : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    CloseWhatTestsLeftOpen();
    ResetAllSwitches();
    ResetPluginState();
  }
};

const bool registered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new StateReset);
  return true;
}();

}  // namespace
