#include "support/dialog_driver.h"

static struct {
  std::vector<DialogStep> steps;
  DriveOptions options;
  size_t next = 0;
  int ticks = 0;
  bool timedOut = false;
  bool inTick = false;
  UINT_PTR timer = 0;
} driver;

static void CALLBACK DriverTick(HWND, UINT, UINT_PTR, DWORD) {
  if (driver.inTick && driver.options.oneTickAtATime) return;
  driver.inTick = true;
  HWND active = GetActiveWindow();
  if (++driver.ticks > driver.options.maxTicks) {
    driver.timedOut = true;
    if (driver.options.onTimeout) {
      driver.options.onTimeout(active, driver.ticks - driver.options.maxTicks);
    } else if (IsDialogWindow(active)) {
      EndDialog(active, IDCANCEL);
    }
  } else if (driver.options.beforeStep && driver.options.beforeStep(active)) {
    // The tick was taken.
  } else if (driver.next < driver.steps.size()) {
    // A copy: a step may arm a new drive.
    DialogStep step = driver.steps[driver.next];
    if (step(active)) ++driver.next;
  }
  if (!driver.timedOut && driver.next >= driver.steps.size()) StopDriving();
  driver.inTick = false;
}

void DriveDialogs(std::vector<DialogStep> steps, const DriveOptions& options) {
  StopDriving();
  driver.steps = std::move(steps);
  driver.options = options;
  driver.next = 0;
  driver.ticks = 0;
  driver.timedOut = false;
  driver.inTick = false;
  driver.timer = SetTimer(nullptr, 0, options.periodMs, DriverTick);
}

void DriveDialogs(std::vector<DialogStep> steps, UINT periodMs, int maxTicks) {
  DriveOptions options;
  options.periodMs = periodMs;
  options.maxTicks = maxTicks;
  DriveDialogs(std::move(steps), options);
}

void StopDriving() {
  if (driver.timer != 0) KillTimer(nullptr, driver.timer);
  driver.timer = 0;
}

bool DriveTimedOut() { return driver.timedOut; }
size_t DriveStepsDone() { return driver.next; }

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

std::string ClassOf(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string TextOf(HWND window) {
  int length = GetWindowTextLengthA(window);
  std::string text(length + 1, '\0');
  int got = GetWindowTextA(window, &text[0], length + 1);
  text.resize(got > 0 ? got : 0);
  return text;
}

bool IsDialogWindow(HWND window) { return window != nullptr && ClassOf(window) == "#32770"; }

std::string MessageBoxText(HWND box) { return TextOf(GetDlgItem(box, 0xFFFF)); }

void PressButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}
