// The host with nobody at the screen, for the end-to-end tests: they start
// CorvaneHost.exe with the shipped Corvane.dll, and judge it only by the files
// it leaves and its exit code.
#include "host/host.h"

namespace {

const UINT kTickMs = 50;
const int kMessageBoxText = 0xFFFF;

std::string holdName;
std::string holdEvent;
bool holdPauses;

// Every box is answered with OK, the run's report among them.
bool AnswerBox(HWND active) {
  if (!IsDialogWindow(active) || GetDlgItem(active, kMessageBoxText) == nullptr) return false;
  PressButton(active, IDOK);
  return true;
}

// The copy the test waits for has reached the host: the test is told, and
// the call never returns, so that the process is killed inside the run; or,
// paused, it returns once the test has done its part.
void HoldHere(const RegisterCall& call) {
  if (!SamePath(BaseName(call.path), holdName)) return;
  HANDLE event = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, holdEvent.c_str());
  if (event != nullptr) SetEvent(event);
  if (!holdPauses) {
    for (;;) Sleep(INFINITE);
  }
  for (int waited = 0; event != nullptr && waited < 30000 && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
       waited += 10) {
    Sleep(10);
  }
  if (event != nullptr) CloseHandle(event);
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

void HoldAtRegisterOf(const std::string& name, const std::string& eventName, bool pause) {
  holdName = name;
  holdEvent = eventName;
  holdPauses = pause;
  gApp.afterRegister = HoldHere;
}

bool LaunchUnattended(const std::string& crcTexts) {
  gApp.waitForEmulator = true;
  bool launched = true;
  for (size_t start = 0; start <= crcTexts.size();) {
    size_t end = crcTexts.find(',', start);
    if (end == std::string::npos) end = crcTexts.size();
    int row = FindRomRow(crcTexts.substr(start, end - start));
    size_t calls = gApp.launchCalls.size();
    if (row >= 0) LaunchRomRow(row, 0);
    launched = launched && row >= 0 && gApp.launchCalls.size() == calls + 1 && gApp.launchCalls.back().result == 1;
    start = end + 1;
  }
  return launched;
}
