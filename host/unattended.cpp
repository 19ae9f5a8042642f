// The host with nobody at the screen, for the end-to-end tests: they start
// CorvaneHost.exe with the shipped Corvane.dll, and judge it only by the files
// it leaves and its exit code.
#include "host/host.h"

namespace {

const UINT kTickMs = 50;
const int kMessageBoxText = 0xFFFF;

std::string holdName;
std::string holdEvent;

// Every box is answered with OK, the run's report among them.
bool AnswerBox(HWND active) {
  if (!IsDialogWindow(active) || GetDlgItem(active, kMessageBoxText) == nullptr) return false;
  PressButton(active, IDOK);
  return true;
}

// The copy the test waits for has reached the host: the test is told, and
// the call never returns, so that the process is killed inside the run.
void HoldHere(const RegisterCall& call) {
  if (!SamePath(BaseName(call.path), holdName)) return;
  HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, holdEvent.c_str());
  if (event != nullptr) SetEvent(event);
  for (;;) Sleep(INFINITE);
}

}  // namespace

bool RegisterUnattended(int maxSeconds) {
  DriveOptions options;
  options.periodMs = kTickMs;
  options.maxTicks = maxSeconds * 1000 / static_cast<int>(kTickMs);
  options.beforeStep = AnswerBox;
  // One step that never ends: the drive only answers boxes until the run returns.
  DriveDialogs({[](HWND) { return false; }}, options);
  RunPluginMenu(1);
  bool ended = !DriveTimedOut();
  StopDriving();
  return ended;
}

void HoldAtRegisterOf(const std::string& name, const std::string& eventName) {
  holdName = name;
  holdEvent = eventName;
  gApp.afterRegister = HoldHere;
}

bool LaunchUnattended(const std::string& crcText) {
  int row = FindRomRow(crcText);
  if (row < 0) return false;
  gApp.waitForEmulator = true;
  size_t calls = gApp.launchCalls.size();
  LaunchRomRow(row, 0);
  return gApp.launchCalls.size() == calls + 1 && gApp.launchCalls.back().result == 1;
}
