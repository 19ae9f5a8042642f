// Drives modal dialogs and message boxes from a thread timer that their modal
// loop dispatches: each tick calls the current step with the thread's active
// window; a step returns true when it is done. Past maxTicks ticks the drive
// times out, and what is open is ended (by default the active dialog, with
// IDCANCEL), so a stuck run fails instead of hanging. Arm it before the call
// that opens the dialog. Shared by the tests and the demo host's scripted run.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

using DialogStep = std::function<bool(HWND active)>;

struct DriveOptions {
  UINT periodMs = 15;
  int maxTicks = 2000;
  // Runs first on every tick; true takes the tick (e.g. a message box no step expects).
  std::function<bool(HWND active)> beforeStep;
  // Runs on every tick past maxTicks instead of ending the active dialog;
  // ticksOver counts from 1.
  std::function<void(HWND active, int ticksOver)> onTimeout;
  // Ticks that arrive while a step runs its own modal loop are dropped.
  bool oneTickAtATime = false;
};

void DriveDialogs(std::vector<DialogStep> steps, const DriveOptions& options);
void DriveDialogs(std::vector<DialogStep> steps, UINT periodMs = 15, int maxTicks = 2000);
void StopDriving();
bool DriveTimedOut();
size_t DriveStepsDone();

// Pumps this thread's pending messages.
void PumpMessages();

// A window's class name and text (text in the ANSI code page).
std::string ClassOf(HWND window);
std::string TextOf(HWND window);
bool IsDialogWindow(HWND window);  // class "#32770"
// The text of a message box (its static control 65535).
std::string MessageBoxText(HWND box);
// Presses a button of a dialog or message box by id (BM_CLICK-like WM_COMMAND).
void PressButton(HWND dialog, int id);
