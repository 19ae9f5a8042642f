#include "support/settings_steps.h"

#include <cstring>

#include "base/state.h"
#include "resources/resource.h"

static std::vector<std::string>* watchdogLog;

// Runs after the given steps: any dialog still up was not expected by the
// test. It is recorded and ended, which in turn lets the settings dialog end.
static bool Watchdog(HWND active) {
  if (active == nullptr || !IsDialogWindow(active)) return false;
  if (watchdogLog != nullptr) watchdogLog->push_back(Utf8(TextOf(active)) + ": " + Utf8(MessageBoxText(active)));
  EndDialog(active, IDCANCEL);
  return false;
}

DialogRun RunSettingsDialog(std::vector<DialogStep> steps) {
  DialogRun run;
  run.stepsGiven = steps.size();
  watchdogLog = &run.unexpected;
  steps.push_back(Watchdog);
  DriveDialogs(steps, 15, 1500);
  onMenuClick(0);
  run.stepsDone = DriveStepsDone();
  run.timedOut = DriveTimedOut();
  StopDriving();
  watchdogLog = nullptr;
  PumpMessages();
  return run;
}

DialogStep WhenActive(const char* titleUtf8, std::function<void(HWND)> action) {
  std::string title = Cp932(titleUtf8);
  return [title, action](HWND active) {
    if (!IsDialogWindow(active) || TextOf(active) != title) return false;
    action(active);
    return true;
  };
}

DialogStep WhenSettingsActive(std::function<void(HWND)> action) {
  return WhenActive(u8"設定(Corvane)", std::move(action));
}

DialogStep DismissMessageBox(std::vector<SeenMessageBox>* seen) {
  return [seen](HWND active) {
    if (!IsDialogWindow(active) || GetDlgItem(active, 0xFFFF) == nullptr) return false;
    SeenMessageBox box;
    box.text = MessageBoxText(active);
    box.owner = GetWindow(active, GW_OWNER);
    seen->push_back(box);
    PostClick(active, IDOK);
    return true;
  };
}

void PostClick(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void ClickCheckBox(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

bool IsCentredOnWorkArea(HWND window) {
  RECT work = {};
  RECT frame = {};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(window, &frame);
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  return frame.left == work.left + ((work.right - work.left) - width) / 2 &&
         frame.top == work.top + ((work.bottom - work.top) - height) / 2;
}

std::string MakeFolderOf259Bytes(const std::string& base) {
  std::string path = base.substr(0, base.size() - 1);
  while (259 - path.size() > 70) {
    path += "\\" + std::string(60, 'd');
    if (!CreateDirectoryA(path.c_str(), nullptr)) return std::string();
  }
  path += "\\" + std::string(259 - path.size() - 1, 'e');
  if (!CreateDirectoryA(path.c_str(), nullptr)) return std::string();
  return path;
}

std::string ItemText(HWND dialog, int id) { return TextOf(GetDlgItem(dialog, id)); }

void SetItemText(HWND dialog, int id, const std::string& cp932) { SetDlgItemTextA(dialog, id, cp932.c_str()); }

std::ostream& operator<<(std::ostream& out, const ShownSettings& shown) {
  return out << "{" << shown.headerSize << ", " << shown.romFolder << ", " << shown.depthChoice << ", "
             << shown.extractOnLaunch << ", " << shown.extractFolder << "}";
}

ShownSettings SettingsAsShown() {
  ShownSettings shown;
  DialogRun run = RunSettingsDialog({WhenSettingsActive([&](HWND dialog) {
    shown.headerSize = ItemText(dialog, IDC_HEADER_SIZE);
    shown.romFolder = ItemText(dialog, IDC_ROM_FOLDER);
    shown.depthChoice = SendDlgItemMessageA(dialog, IDC_DEPTH, CB_GETCURSEL, 0, 0);
    shown.extractOnLaunch = IsDlgButtonChecked(dialog, IDC_EXTRACT_ON_LAUNCH) == BST_CHECKED;
    shown.extractFolder = ItemText(dialog, IDC_EXTRACT_FOLDER);
    PostClick(dialog, IDCANCEL);
  })});
  if (!run.Complete()) shown.headerSize = "<not shown>";
  return shown;
}

static std::string TextField(const std::string& bytes, size_t offset) {
  std::string field = bytes.substr(offset, 260);
  return field.substr(0, field.find('\0'));
}

ProfileFields ReadProfileFile(const std::string& path) {
  ProfileFields fields;
  fields.present = FileExists(path);
  std::string bytes = ReadBytes(path);
  fields.size = bytes.size();
  if (bytes.size() < 532) return fields;
  memcpy(&fields.headerSize, bytes.data(), 4);
  fields.romFolder = TextField(bytes, 4);
  memcpy(&fields.depthChoice, bytes.data() + 264, 4);
  memcpy(&fields.extractOnLaunch, bytes.data() + 268, 4);
  fields.extractFolder = TextField(bytes, 272);
  return fields;
}

std::string ProfileFileBytes(int32_t header, const std::string& rom, int32_t depth, int32_t extract,
                             const std::string& extractFolder) {
  std::string bytes(reinterpret_cast<const char*>(&header), 4);
  std::string field = rom;
  field.resize(260, '\0');
  bytes += field;
  bytes.append(reinterpret_cast<const char*>(&depth), 4);
  bytes.append(reinterpret_cast<const char*>(&extract), 4);
  field = extractFolder;
  field.resize(260, '\0');
  return bytes + field;
}
