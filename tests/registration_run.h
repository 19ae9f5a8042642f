// The add-ROMs run through the real dialog, chosen from the menu as the host
// does: the fixture the registration run's tests share.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "base/state.h"
#include "base/test_switches.h"
#include "registration/register_file.h"
#include "registration/scan_dialog.h"
#include "resources/resource.h"
#include "support/archiver_switches.h"
#include "support/host_double.h"

// What the run showed: every text of its status and counter lines, read back
// from the controls, and every bar position as asked (the bar would clamp it).
struct Shown {
  HWND dialog = nullptr;
  std::string caption;
  std::vector<std::string> status, counter;
  std::vector<int> positions;
};
inline Shown shown;

// Ticks of the run's timer taken from the queue.
inline int scanTicks;

inline LRESULT CALLBACK CountScanTicks(int code, WPARAM wParam, LPARAM lParam) {
  auto* message = code == HC_ACTION && wParam == PM_REMOVE ? reinterpret_cast<const MSG*>(lParam) : nullptr;
  if (message != nullptr && message->message == WM_TIMER && message->wParam == IDT_SCAN) ++scanTicks;
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

inline LRESULT CALLBACK RecordShown(int code, WPARAM wParam, LPARAM lParam) {
  auto* call = code == HC_ACTION ? reinterpret_cast<const CWPRETSTRUCT*>(lParam) : nullptr;
  if (call != nullptr && (call->message == WM_SETTEXT || call->message == PBM_SETPOS)) {
    HWND parent = GetParent(call->hwnd);
    int id = GetDlgCtrlID(call->hwnd);
    if (parent != nullptr && IsDialogWindow(parent) && id >= IDC_SCAN_STATUS && id <= IDC_SCAN_PROGRESS) {
      shown.dialog = parent;
      shown.caption = TextOf(parent);
      if (id == IDC_SCAN_STATUS) shown.status.push_back(TextOf(call->hwnd));
      if (id == IDC_SCAN_COUNTER) shown.counter.push_back(TextOf(call->hwnd));
      if (id == IDC_SCAN_PROGRESS) shown.positions.push_back(static_cast<int>(call->wParam));
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The independent oracle: zlib's CRC-32 of the bytes after the header.
inline std::string CrcTextAfterHeader(const std::string& bytes, size_t header) {
  std::string body = bytes.substr(std::min(header, bytes.size()));
  uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(body.data()), (uInt)body.size());
  char text[16];
  snprintf(text, sizeof text, "%08lX", crc);
  return text;
}

// Names in folder in the directory search's own order (never assumed sorted).
inline std::vector<std::string> SearchOrder(const std::string& folder, bool folders) {
  return FolderEntries(folder, folders ? kFoldersOnly : kFilesOnly);
}

class RegistrationRun : public ::testing::Test {
 protected:
  void SetUp() override {
    data = onDisk ? MakeTempFolder("regdata") : MakeScratchFolder("regdata");
    roms = onDisk ? MakeTempFolder("regroms") : MakeScratchFolder("regroms");
    ASSERT_FALSE(data.empty() || roms.empty());
    ASSERT_EQ(StartLinkedPlugin(data), 0);
    HostOpen();
    HostAddCombo("NES", 200);
    HostReset();
    gHost.onRegister = nullptr;
    gState.profile.headerSize = 16;
    gState.profile.depthChoice = 0;
    CopyText(gState.profile.romFolder, sizeof gState.profile.romFolder, roms.c_str());
    temp = gState.tempDir;
    shown = Shown();
    hook = SetWindowsHookExA(WH_CALLWNDPROCRET, RecordShown, nullptr, GetCurrentThreadId());
    tickHook = SetWindowsHookExA(WH_GETMESSAGE, CountScanTicks, nullptr, GetCurrentThreadId());
  }
  void TearDown() override {
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    if (tickHook != nullptr) UnhookWindowsHookEx(tickHook);
    ResetTestSwitches();
    StopDriving();
    gHost.onRegister = nullptr;
    HostClose();
    RemoveTree(data);
    RemoveTree(roms);
  }
  // "ロムの追加" from the host's menu; the steps answer boxes on the way, and the
  // run must then end by itself.
  void AddRoms(std::vector<DialogStep> steps = {}) {
    HostReset();
    shown = Shown();
    report.clear();
    reportCaption.clear();
    scanTicks = 0;
    std::vector<std::string> before = SearchOrder(temp, false);
    // The report of what was passed over, if any, closes the run.
    DialogStep answerReport = Answer(IDOK, &report, &reportCaption);
    steps.push_back([answerReport](HWND active) {
      answerReport(active);
      return false;
    });
    DriveDialogs(steps, 15, 2000);
    onMenuClick(1);
    bool timedOut = DriveTimedOut();
    StopDriving();
    EXPECT_FALSE(timedOut) << "the run did not end by itself";
    EXPECT_FALSE(IsWindow(shown.dialog));
    for (const std::string& name : tempLeftAlone ? SearchOrder(temp, false) : before) {
      EXPECT_NE(std::find(before.begin(), before.end(), name), before.end()) << name << " left in tempDir";
    }
  }
  // The relation file's lines; each must end with CR LF.
  std::vector<std::string> Lines() {
    std::string text = ReadBytes(data + "NES.rel");
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find("\r\n", start);
      EXPECT_NE(end, std::string::npos) << "unterminated line";
      if (end == std::string::npos) break;
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }
  std::vector<std::string> RegisteredPaths() {
    std::vector<std::string> paths;
    for (const HostCall& call : gHost.registerCalls) paths.push_back(call.path);
    return paths;
  }
  void Write(const std::string& name, const std::string& bytes) { ASSERT_TRUE(WriteBytes(roms + name, bytes)); }
  // Cancel as the user clicks it while the run works. The run looks for waiting
  // input every 20 ms; the pause lets the next look see the click, right after
  // the file in hand.
  void ClickCancel() {
    PostMessageA(shown.dialog, WM_COMMAND, IDCANCEL, 0);
    Sleep(25);
  }
  // A ROM with the signature its 16-byte header stands for, so that no header
  // warning joins the report.
  static std::string Rom(const std::string& body) { return "NES\x1a" + body; }
  // A step that answers the next message box owned by the run's dialog.
  DialogStep Answer(int button, std::string* text, std::string* caption = nullptr) {
    return [=](HWND active) {
      if (!IsDialogWindow(active) || GetDlgItem(active, 0xFFFF) == nullptr) return false;
      if (GetWindow(active, GW_OWNER) != shown.dialog) return false;
      *text = Utf8(MessageBoxText(active));
      if (caption != nullptr) *caption = Utf8(TextOf(active));
      PressButton(active, button);
      return true;
    };
  }
  // The log of entries the last run passed over, one "reason\tpath" a line.
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::string text = ReadBytes(data + "NES.log");
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      lines.push_back(Utf8(text.substr(start, end - start)));
    }
    return lines;
  }
  std::string data, roms, temp;
  bool onDisk = false;  // data and ROMs on the system's disk rather than the memory disk
  bool tempLeftAlone = true;  // whether AddRoms expects temp as it was before
  std::string report, reportCaption;  // the passed-over report's text and caption, UTF-8
  HHOOK hook = nullptr;
  HHOOK tickHook = nullptr;
};

// For what the run tells from the volume a file is on: Wine cannot query the
// memory disk's volume, so to the run its files are on a volume that is away.
class RegistrationRunOnDisk : public RegistrationRun {
 protected:
  RegistrationRunOnDisk() { onDisk = true; }
};

class RegistrationRunWithArchiver : public RegistrationRun {
 protected:
  void SetUp() override {
    RegistrationRun::SetUp();
    HMODULE archiver = GetModuleHandleA("7-zip32.dll");
    ASSERT_NE(archiver, nullptr);
    ASSERT_TRUE(BindArchiverSwitches(&arc));
    arc.reset();
    ASSERT_TRUE(CopyFileA(FixturePath("registration_game.zip").c_str(), (roms + "game.zip").c_str(), FALSE));
  }
  void TearDown() override {
    if (arc.reset != nullptr) arc.reset();
    RegistrationRun::TearDown();
  }
  ArchiverSwitches arc;
};
