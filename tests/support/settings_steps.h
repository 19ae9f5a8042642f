// Driving the settings dialog as the host opens it (menu entry 0), shared by
// the settings dialog and folder picker tests.
#pragma once
#include <windows.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "support/host_double.h"

struct DialogRun {
  size_t stepsDone = 0;
  size_t stepsGiven = 0;
  bool timedOut = false;
  // Dialogs that no step expected (e.g. a refusal after an OK that should have
  // been accepted), as "title: text"; they were closed so the run could end.
  std::vector<std::string> unexpected;
  bool Complete() const { return stepsDone == stepsGiven && !timedOut && unexpected.empty(); }
};

// Calls onMenuClick(0) with the steps driving the dialogs that open; returns
// when the settings dialog has ended.
DialogRun RunSettingsDialog(std::vector<DialogStep> steps);

// A step that waits until the active window is a dialog titled title (UTF-8),
// then runs action on it.
DialogStep WhenActive(const char* titleUtf8, std::function<void(HWND)> action);
// The same for the settings dialog itself.
DialogStep WhenSettingsActive(std::function<void(HWND)> action);

// A message box met by a step: its text and owner.
struct SeenMessageBox {
  std::string text;  // code page 932
  HWND owner = nullptr;
};
// A step that waits for a message box, records it into seen and closes it with OK.
DialogStep DismissMessageBox(std::vector<SeenMessageBox>* seen);

// Posts a button click to a dialog, so the step returns before the handling
// (which may open a modal box of its own) runs.
void PostClick(HWND dialog, int id);
// Clicks a check box the way a user does: its state toggles and it notifies.
void ClickCheckBox(HWND dialog, int id);

// Whether a window stands in the middle of the desktop work area.
bool IsCentredOnWorkArea(HWND window);
// A folder path of exactly 259 bytes, nested folders made below base (ending in "\\"); "" on failure.
std::string MakeFolderOf259Bytes(const std::string& base);

std::string ItemText(HWND dialog, int id);  // code page 932

// The five settings as the settings dialog shows them when it opens: the
// values in force for the dataset the host shows.
struct ShownSettings {
  std::string headerSize, romFolder;  // code page 932
  LRESULT depthChoice = CB_ERR;       // the selected entry
  bool extractOnLaunch = false;
  std::string extractFolder;
  bool operator==(const ShownSettings& o) const {
    return headerSize == o.headerSize && romFolder == o.romFolder && depthChoice == o.depthChoice &&
           extractOnLaunch == o.extractOnLaunch && extractFolder == o.extractFolder;
  }
};
std::ostream& operator<<(std::ostream& out, const ShownSettings& shown);
// Opens the settings dialog, reads its controls and cancels it; a headerSize
// of "<not shown>" when the dialog did not open.
ShownSettings SettingsAsShown();
void SetItemText(HWND dialog, int id, const std::string& cp932);

// The profile file's five fields as the file holds them (text up to the NUL).
struct ProfileFields {
  bool present = false;
  size_t size = 0;
  int32_t headerSize = 0;
  std::string romFolder;
  int32_t depthChoice = 0;
  int32_t extractOnLaunch = 0;
  std::string extractFolder;
};
ProfileFields ReadProfileFile(const std::string& path);
std::string ProfileFileBytes(int32_t header, const std::string& rom, int32_t depth, int32_t extract,
                             const std::string& extractFolder);
