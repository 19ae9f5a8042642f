// The scripted demo: what a user would do with the host, through the plug-in's
// real dialogs, and a check of every result. Modal dialogs are driven by a
// thread timer that their own message loops dispatch; each tick runs one step
// against the active window. The sample collection comes with a manifest made
// natively by the demo script: for every ROM its size, header size and the
// CRC-32 of its bytes after the header, an oracle independent of both the
// plug-in and this host. A ROM the manifest marks "locked" is held open without
// sharing for the whole registration run: the plug-in must pass it over, list
// it in its log and say so in one box at the end. The same box and log must
// warn of a ROM without the header its dataset skips, and of a ROM whose
// contents equal those of one registered before it.
// windows.h (through host.h) must come before commctrl.h.
#include "host/host.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "host/host_texts.h"

// Control ids of the plug-in's dialogs, as a user finds them on screen.
enum : int {
  kIdHeaderSize = 1002,
  kIdRomFolder = 1005,
  kIdDepth = 1008,
  kIdExtractOnLaunch = 1010,
  kIdExtractFolder = 1012,
  kIdScanCounter = 2001,
  kIdScanProgress = 2002,
  kIdMessageBoxText = 0xFFFF,
};

const char kDataset[] = "NES";
const int kHeaderSize = 16;
const int kDepthAll = 1;  // the second depth choice: all subfolder levels
const int kProfileBytes = 532;
const int kGlobalSettingsBytes = 520;
const UINT kTickMs = 50;

struct ManifestRom {
  std::string relPath;  // below roms\, "\"-separated
  uint32_t romSize;     // the ROM with its header (an archive's: of its first entry)
  int headerSize;
  std::string expectedCrc;
  std::string entryName;  // an archive's first entry; empty for a plain ROM
  bool locked;            // held open by us while the registration runs
  bool headerless;        // has no header, though the dataset skips one
  std::string copyOf;     // relPath of the ROM with the same contents, if any
  std::string sourcePath;
  std::string pluginCrc;  // as the relation file records it
  bool registered;
  std::string copyPath;
  std::string hostCrc;
  uint32_t copySize;
  size_t registerOrder;  // its place among the hostRegister calls
  std::string expectedLaunch;
  std::string launchOutcome;
  std::vector<std::string> problems;
};

static struct {
  ScriptOptions options;
  std::string romDir;
  std::string extractDir;
  std::string logPath;
  std::vector<ManifestRom> roms;
  std::vector<std::string> checks;  // "ok   ..." / "FAIL ..." lines
  bool failed;
  size_t midRunCall;
  bool midRunShot;
  bool popupShot;
  std::string midRunCounter;
  std::string midRunMiss;
  std::vector<std::string> shots;
  // The run's report: each box the run showed with our caption, and the log's
  // lines as read after it.
  int reportBoxes;
  std::string reportText;
  std::vector<std::string> skipLog;
} gRun;

static void Check(bool ok, const std::string& what) {
  gRun.checks.push_back((ok ? "ok   " : "FAIL ") + what);
  if (!ok) gRun.failed = true;
}

static bool IsDialog(HWND window) { return IsDialogWindow(window); }
static bool IsSettingsDialog(HWND window) {
  return IsDialog(window) && GetDlgItem(window, kIdHeaderSize) != nullptr && GetDlgItem(window, kIdDepth) != nullptr;
}
static bool IsRegistrationDialog(HWND window) {
  return IsDialog(window) && GetDlgItem(window, kIdScanProgress) != nullptr;
}
static HWND OpenPopupMenu() {
  HWND menu = FindWindowA("#32768", nullptr);
  return menu != nullptr && IsWindowVisible(menu) ? menu : nullptr;
}

static bool IsMessageBox(HWND window) {
  return IsDialog(window) && GetDlgItem(window, kIdMessageBoxText) != nullptr && !IsSettingsDialog(window) &&
         !IsRegistrationDialog(window);
}

static std::string ShotPath(const char* name) { return gRun.options.shotsDir + name + ".bmp"; }

static void TakeShot(HWND window, const char* name, bool fromScreen = false) {
  bool ok = CaptureWindowBmp(window, ShotPath(name), fromScreen);
  if (ok) gRun.shots.push_back(name);
  Check(ok, Format("screenshot %s.bmp", name));
}

// --- the dialog driver ---------------------------------------------------------

// The shared driver, with what the scripted run adds: every message box is a
// refusal or an error (a failed check, answered with OK), and a timeout is a
// failed check too.
typedef bool (*DriveStep)(HWND active);

static struct {
  const char* what;
  int maxTicks;
  bool sawMessageBox;
  // The one box a drive may expect; it answers true when it took the box.
  bool (*expectedBox)(HWND box);
} gDrive;

// Past its time a dialog is cancelled as a user would (answering the cancel
// question with OK); if even that does not end it, it is ended outright.
static void BreakOut(HWND active, int ticksOver) {
  const int kGraceTicks = 100;
  if (ticksOver == 1) {
    Check(false, Format("%s did not end within %d s", gDrive.what, static_cast<int>(gDrive.maxTicks * kTickMs / 1000)));
  }
  if (OpenPopupMenu() != nullptr) {
    EndMenu();
    return;
  }
  if (!IsDialog(active)) return;
  if (ticksOver > kGraceTicks) {
    EndDialog(active, IDCANCEL);
  } else if (IsMessageBox(active)) {
    PostMessageA(active, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  } else {
    PostMessageA(active, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }
}

static bool AnswerMessageBox(HWND active) {
  if (!IsMessageBox(active)) return false;
  if (gDrive.expectedBox != nullptr && gDrive.expectedBox(active)) return true;
  Check(false, Format("%s: message box \"%s\"", gDrive.what, TextOf(GetDlgItem(active, kIdMessageBoxText)).c_str()));
  gDrive.sawMessageBox = true;
  PostMessageA(active, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  return true;
}

static void StartDriving(const char* what, std::vector<DriveStep> steps, int maxSeconds) {
  gDrive.what = what;
  gDrive.maxTicks = maxSeconds * 1000 / static_cast<int>(kTickMs);
  gDrive.sawMessageBox = false;
  gDrive.expectedBox = nullptr;
  DriveOptions options;
  options.periodMs = kTickMs;
  options.maxTicks = gDrive.maxTicks;
  options.beforeStep = AnswerMessageBox;
  options.onTimeout = BreakOut;
  options.oneTickAtATime = true;
  DriveDialogs(std::vector<DialogStep>(steps.begin(), steps.end()), options);
}

// A last step that waits for the modal call to return.
static bool WaitForEnd(HWND) { return false; }

// --- the settings dialog ---------------------------------------------------------

static bool FillSettings(HWND active) {
  if (!IsSettingsDialog(active)) return false;
  SetDlgItemTextA(active, kIdHeaderSize, Format("%d", kHeaderSize).c_str());
  SetDlgItemTextA(active, kIdRomFolder, gRun.romDir.c_str());
  HWND depth = GetDlgItem(active, kIdDepth);
  SendMessageA(depth, CB_SETCURSEL, kDepthAll, 0);
  SendMessageA(active, WM_COMMAND, MAKEWPARAM(kIdDepth, CBN_SELCHANGE), reinterpret_cast<LPARAM>(depth));
  // A click, so that the dialog enables the extraction folder as it would for a user.
  HWND extract = GetDlgItem(active, kIdExtractOnLaunch);
  if (SendMessageA(extract, BM_GETCHECK, 0, 0) != BST_CHECKED) SendMessageA(extract, BM_CLICK, 0, 0);
  Check(
      SendMessageA(extract, BM_GETCHECK, 0, 0) == BST_CHECKED && IsWindowEnabled(GetDlgItem(active, kIdExtractFolder)),
      "settings dialog: ticking extraction enables the extraction folder");
  SetDlgItemTextA(active, kIdExtractFolder, gRun.extractDir.c_str());
  return true;
}

static bool ShootSettings(HWND active) {
  if (!IsSettingsDialog(active)) return false;
  TakeShot(active, "settings-dialog");
  return true;
}

static bool PressSettingsOk(HWND active) {
  if (!IsSettingsDialog(active)) return false;
  PostMessageA(GetDlgItem(active, IDOK), BM_CLICK, 0, 0);
  return true;
}

// A refused OK leaves the dialog open behind its message box: cancel it then.
static bool CancelIfRefused(HWND active) {
  if (IsSettingsDialog(active) && gDrive.sawMessageBox) {
    PostMessageA(GetDlgItem(active, IDCANCEL), BM_CLICK, 0, 0);
    return true;
  }
  return false;
}

static int32_t Int32At(const std::string& bytes, size_t offset) {
  int32_t value = 0;
  if (offset + sizeof value <= bytes.size()) memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

static void RunSettings() {
  StartDriving("settings dialog", {FillSettings, ShootSettings, PressSettingsOk, CancelIfRefused, WaitForEnd}, 20);
  RunPluginMenu(0);
  StopDriving();
  std::string profile;
  bool saved = ReadBytes(gApp.dataDir + kDataset + ".fol", &profile) && profile.size() == kProfileBytes;
  Check(saved && Int32At(profile, 0) == kHeaderSize && Int32At(profile, 264) == kDepthAll &&
            Int32At(profile, 268) != 0 && SamePath(profile.c_str() + 4, gRun.romDir),
        Format("settings dialog saved %s.fol (%d bytes: header %d, ROM folder, depth %s, extraction on)", kDataset,
               kProfileBytes, kHeaderSize, kTextDepthAll));
}

// --- the registration run -------------------------------------------------------

static BOOL CALLBACK FindRegistrationDialog(HWND window, LPARAM found) {
  if (!IsRegistrationDialog(window) || !IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// From the middle of the run on, each registration tries for the photograph
// until one succeeds; the dialog is looked for among this thread's windows, so
// that it need not be the active one.
static void AfterRegister(const RegisterCall&) {
  if (gRun.midRunShot || gApp.registerCalls.size() < gRun.midRunCall) return;
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindRegistrationDialog, reinterpret_cast<LPARAM>(&dialog));
  if (dialog == nullptr) {
    HWND active = GetActiveWindow();
    gRun.midRunMiss =
        Format("call %u: no registration dialog; active window \"%s\" (%s)",
               static_cast<unsigned>(gApp.registerCalls.size()), TextOf(active).c_str(), ClassOf(active).c_str());
    return;
  }
  gRun.midRunShot = CaptureWindowBmp(dialog, ShotPath("registration-dialog"), false);
  if (!gRun.midRunShot) {
    gRun.midRunMiss = "the registration dialog could not be captured";
    return;
  }
  gRun.shots.push_back("registration-dialog");
  gRun.midRunCounter = TextOf(GetDlgItem(dialog, kIdScanCounter));
}

static std::vector<std::pair<std::string, std::string>> ReadRelationFile(const std::string& path, bool* found) {
  std::vector<std::pair<std::string, std::string>> lines;
  std::string bytes;
  *found = ReadBytes(path, &bytes);
  for (const std::string& line : SplitLines(bytes)) {
    if (line.size() >= 10 && line[8] == ' ') lines.emplace_back(line.substr(0, 8), line.substr(9));
  }
  return lines;
}

static std::string CopyNameOf(const ManifestRom& rom) {
  return rom.entryName.empty() ? BaseName(rom.relPath) : BaseName(rom.entryName);
}

static size_t LockedCount() {
  size_t locked = 0;
  for (const ManifestRom& rom : gRun.roms) locked += rom.locked ? 1 : 0;
  return locked;
}

// Opens every locked ROM without sharing, as another program holding it would,
// and makes sure a second open is refused, or the run would not meet a locked
// file at all. The handles go into held even when a check fails.
static void HoldLockedRoms(std::vector<HANDLE>* held) {
  for (const ManifestRom& rom : gRun.roms) {
    if (!rom.locked) continue;
    HANDLE file =
        CreateFileA(rom.sourcePath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD openError = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (file != INVALID_HANDLE_VALUE) held->push_back(file);
    HANDLE second = CreateFileA(rom.sourcePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD secondError = second == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
    bool locked = file != INVALID_HANDLE_VALUE && secondError == ERROR_SHARING_VIOLATION;
    Check(locked,
          rom.relPath + " held open without sharing for the run" +
              (locked ? std::string() : Format(" (open error %lu, a second open: error %lu)", openError, secondError)));
  }
}

// The ROM whose contents equal this one's, whichever of the two names the
// other in the manifest; nullptr when there is none.
static const ManifestRom* TwinOf(const ManifestRom& rom) {
  for (const ManifestRom& other : gRun.roms) {
    if (&other != &rom && (SamePath(other.relPath, rom.copyOf) || SamePath(rom.relPath, other.copyOf))) return &other;
  }
  return nullptr;
}

// Of two ROMs with the same contents, the one the run registered first: its
// relation line comes first, so every launch of that CRC starts it.
static bool RegisteredBefore(const ManifestRom& rom, const ManifestRom& other) {
  return rom.registered && (!other.registered || rom.registerOrder < other.registerOrder);
}

// The warning lines the log must hold after the passed-over ones, in the order
// the run registered the ROMs: a headerless ROM's, and for each pair with the
// same contents the later one's, naming the earlier.
static std::vector<std::pair<size_t, const ManifestRom*>> ExpectedWarnings() {
  std::vector<std::pair<size_t, const ManifestRom*>> warned;
  for (const ManifestRom& rom : gRun.roms) {
    const ManifestRom* twin = TwinOf(rom);
    if (rom.headerless || (twin != nullptr && RegisteredBefore(*twin, rom)))
      warned.emplace_back(rom.registerOrder, &rom);
  }
  std::sort(warned.begin(), warned.end());
  return warned;
}

static std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t tab = line.find('\t'); tab != std::string::npos; start = tab + 1, tab = line.find('\t', start)) {
    fields.push_back(line.substr(start, tab - start));
  }
  fields.push_back(line.substr(start));
  return fields;
}

static bool IsWarningLine(const std::string& line, const ManifestRom& rom) {
  std::vector<std::string> fields = Fields(line);
  if (rom.headerless)
    return fields.size() == 2 && fields[0] == kTextWarnHeaderMissing && SamePath(fields[1], rom.sourcePath);
  const ManifestRom* twin = TwinOf(rom);
  return twin != nullptr && fields.size() == 3 && fields[0] == kTextWarnSameContents &&
         SamePath(fields[1], rom.sourcePath) && SamePath(fields[2], twin->sourcePath);
}

// The run's report box: the first box with the run's caption is read,
// photographed and answered with OK. Any other box, a second report included,
// stays a failed check.
static bool TakeRunReport(HWND box) {
  if (gRun.reportBoxes > 0 || TextOf(box) != kTextSkipReportCaption) return false;
  ++gRun.reportBoxes;
  gRun.reportText = MessageBoxText(box);
  Check(IsRegistrationDialog(GetWindow(box, GW_OWNER)), "the run's report box is owned by the registration dialog");
  TakeShot(box, "report-box");
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  return true;
}

// The box gives the two counts and the log's path; the log (code page 932,
// CRLF) names each locked ROM as unreadable, in any order, then the warnings in
// run order. With nothing to tell there is neither box nor log.
static void CheckRunReport() {
  size_t locked = LockedCount();
  std::vector<std::pair<size_t, const ManifestRom*>> warned = ExpectedWarnings();
  std::string logPath = gApp.dataDir + kDataset + ".log";
  std::string bytes;
  bool logFound = ReadBytes(logPath, &bytes);
  for (const std::string& line : SplitLines(bytes)) {
    if (!line.empty()) gRun.skipLog.push_back(line);
  }
  if (locked == 0 && warned.empty()) {
    Check(gRun.reportBoxes == 0 && !logFound, "nothing to tell: no report box and no " + logPath);
    return;
  }
  Check(gRun.reportBoxes == 1, Format("one report box at the end of the run (%d shown)", gRun.reportBoxes));
  std::vector<std::string> box = SplitLines(gRun.reportText);
  std::string listLabel = kTextSkipReportList;
  const std::string& list = box.empty() ? listLabel : box.back();
  bool listed = list.compare(0, listLabel.size(), listLabel) == 0 && list.size() > listLabel.size() &&
                SamePath(list.substr(listLabel.size()), logPath);
  std::vector<std::string> counts;
  if (locked > 0) counts.push_back(Format(kTextSkipReportCount, static_cast<int>(locked)));
  if (!warned.empty()) counts.push_back(Format(kTextWarnReportCount, static_cast<int>(warned.size())));
  Check(box.size() >= 2 && (locked == 0 || box[0] == counts[0]) && listed,
        Format("the report box gives the passed-over count %u first and the log's path last",
               static_cast<unsigned>(locked)));
  counts.push_back(list);
  Check(box == counts, Format("the report box's lines: %u passed over, %u to check, the log's path",
                              static_cast<unsigned>(locked), static_cast<unsigned>(warned.size())));

  size_t crlf = 0;
  for (size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at + 2)) ++crlf;
  size_t lf = static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
  size_t matched = 0;
  for (const ManifestRom& rom : gRun.roms) {
    if (!rom.locked) continue;
    for (size_t i = 0; i < locked && i < gRun.skipLog.size(); ++i) {
      std::vector<std::string> fields = Fields(gRun.skipLog[i]);
      if (fields.size() == 2 && fields[0] == kTextSkipUnreadable && SamePath(fields[1], rom.sourcePath)) {
        ++matched;
        break;
      }
    }
  }
  Check(logFound && matched == locked && crlf == lf && !bytes.empty() && bytes.back() == '\n',
        Format("%s.log lists the %u locked ROM(s) first as %s, in CRLF lines", kDataset, static_cast<unsigned>(locked),
               kTextSkipUnreadable));
  bool inOrder = gRun.skipLog.size() == locked + warned.size();
  for (size_t i = 0; inOrder && i < warned.size(); ++i)
    inOrder = IsWarningLine(gRun.skipLog[locked + i], *warned[i].second);
  // The kinds named in the order the run met them, as the log above lists them.
  std::string kinds;
  for (const auto& warning : warned) {
    kinds += kinds.empty() ? "" : ", ";
    kinds += warning.second->headerless ? kTextWarnHeaderMissing : kTextWarnSameContents;
  }
  Check(inOrder, Format("%s.log then lists the %u warning(s) in run order (%s), and nothing else", kDataset,
                        static_cast<unsigned>(warned.size()), kinds.c_str()));
}

static void RunRegistration() {
  size_t expected = gRun.roms.size() - LockedCount();
  gApp.registerCalls.clear();
  gRun.midRunCall = expected / 2 + 1;
  gApp.afterRegister = AfterRegister;
  std::vector<HANDLE> held;
  HoldLockedRoms(&held);
  StartDriving("registration dialog", {WaitForEnd}, 60);
  gDrive.expectedBox = TakeRunReport;
  RunPluginMenu(1);
  StopDriving();
  for (HANDLE file : held) CloseHandle(file);
  gApp.afterRegister = nullptr;
  Check(gRun.midRunShot, "screenshot registration-dialog.bmp, mid-run" +
                             (gRun.midRunShot ? std::string() : " (" + gRun.midRunMiss + ")"));
  // Released, a locked ROM is whole again: the run left it as it found it.
  for (const ManifestRom& rom : gRun.roms) {
    if (rom.locked)
      Check(FileSizeOf(rom.sourcePath) == rom.romSize && ReadBytes(rom.sourcePath).size() == rom.romSize,
            rom.relPath + " reads back whole once released");
  }

  std::string tempDir = gApp.dataDir + "temp\\";
  bool allInTemp = true;
  for (size_t order = 0; order < gApp.registerCalls.size(); ++order) {
    const RegisterCall& call = gApp.registerCalls[order];
    allInTemp &= call.path.size() > tempDir.size() && SamePath(call.path.substr(0, tempDir.size()), tempDir);
    for (ManifestRom& rom : gRun.roms) {
      if (rom.registered || !SamePath(BaseName(call.path), CopyNameOf(rom))) continue;
      rom.registered = call.readable;
      rom.registerOrder = order;
      rom.copyPath = call.path;
      rom.hostCrc = call.crcText;
      rom.copySize = call.size;
      if (!call.readable) rom.problems.push_back("the copy handed to hostRegister could not be read");
      break;
    }
  }
  Check(gApp.registerCalls.size() == expected,
        Format("hostRegister called %u times for %u ROMs (%u locked)", static_cast<unsigned>(gApp.registerCalls.size()),
               static_cast<unsigned>(expected), static_cast<unsigned>(LockedCount())));
  Check(allInTemp, "every copy handed to hostRegister lay in the plug-in's temp folder");
  CheckRunReport();

  bool found = false;
  auto lines = ReadRelationFile(gApp.dataDir + kDataset + ".rel", &found);
  Check(found && lines.size() == expected,
        Format("%s.rel holds %u lines for %u ROMs", kDataset, static_cast<unsigned>(lines.size()),
               static_cast<unsigned>(expected)));
  for (ManifestRom& rom : gRun.roms) {
    for (const auto& line : lines) {
      if (SamePath(line.second, rom.sourcePath)) {
        rom.pluginCrc = line.first;
        break;
      }
    }
    if (rom.locked) {
      if (rom.registered) rom.problems.push_back("registered although it was locked");
      if (!rom.pluginCrc.empty()) rom.problems.push_back("a line in the relation file although it was locked");
      rom.launchOutcome = "passed over (locked)";
      continue;
    }
    if (rom.pluginCrc.empty()) rom.problems.push_back("no line in the relation file");
    if (!rom.registered) rom.problems.push_back("never handed to hostRegister");
    if (rom.registered && rom.pluginCrc != rom.hostCrc) rom.problems.push_back("plug-in CRC differs from the host's");
    if (rom.registered && rom.hostCrc != rom.expectedCrc)
      rom.problems.push_back("host CRC differs from the CRC of the bytes after the header");
    if (rom.registered && static_cast<int64_t>(rom.romSize) - rom.copySize != rom.headerSize)
      rom.problems.push_back(Format("%ld bytes skipped, not %d",
                                    static_cast<long>(static_cast<int64_t>(rom.romSize) - rom.copySize),
                                    rom.headerSize));
  }
}

// --- launching ---------------------------------------------------------------------

static std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::string bytes;
  if (!ReadBytes(path, &bytes)) return lines;
  for (const std::string& line : SplitLines(bytes)) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

static std::string RelativeToDemo(const std::string& path) {
  const std::string& demo = gRun.options.demoDir;
  if (path.size() > demo.size() && SamePath(path.substr(0, demo.size()), demo)) return path.substr(demo.size());
  return path;
}

// The ROM popup, as a user works it: it opens, the first entry is highlighted
// with the arrow key and chosen with Enter. The first popup is photographed
// over the host window.
static bool PopupOpened(HWND) { return OpenPopupMenu() != nullptr; }

static bool ShootPopup(HWND) {
  if (!gRun.popupShot) {
    gRun.popupShot = true;
    TakeShot(gApp.window, "host-window", true);
  }
  return true;
}

static bool HighlightFirstEntry(HWND) {
  PostMessageA(gApp.window, WM_KEYDOWN, VK_DOWN, 0);
  return true;
}

static bool ChooseEntry(HWND) {
  PostMessageA(gApp.window, WM_KEYDOWN, VK_RETURN, 0);
  return true;
}

// One launch through the popup command on the ROM's row; the fake emulator
// logs "OK|MISSING <TAB> size <TAB> path" for every start. Of two ROMs with the
// same contents, both launches start the one registered first.
static void LaunchRom(ManifestRom* rom) {
  const ManifestRom* twin = TwinOf(*rom);
  const ManifestRom& started = twin != nullptr && RegisteredBefore(*twin, *rom) ? *twin : *rom;
  rom->expectedLaunch = started.entryName.empty() ? started.sourcePath : gRun.extractDir + started.entryName;
  int row = rom->registered ? FindRomRow(rom->hostCrc) : -1;
  if (row < 0) {
    rom->launchOutcome = "not in the list";
    rom->problems.push_back("no row in the host's list to launch from");
    return;
  }
  SelectRomRow(row);
  PumpMessages();
  size_t logged = ReadLines(gRun.logPath).size();
  size_t calls = gApp.launchCalls.size();
  const int kNotChosen = -100;
  StartDriving("launch popup", {PopupOpened, ShootPopup, HighlightFirstEntry, ChooseEntry, WaitForEnd}, 20);
  gApp.lastPopupResult = kNotChosen;
  OpenRomPopup(row);
  StopDriving();
  int result = gApp.lastPopupResult;
  std::vector<std::string> log = ReadLines(gRun.logPath);
  if (result == kNotChosen) {
    rom->launchOutcome = "popup not chosen";
    rom->problems.push_back("the popup entry was never chosen");
    return;
  }
  if (gApp.launchCalls.size() != calls + 1) {
    rom->launchOutcome = "hostLaunch not called";
    rom->problems.push_back(Format("hostLaunch called %u times, popup result %d",
                                   static_cast<unsigned>(gApp.launchCalls.size() - calls), result));
    return;
  }
  const LaunchCall& call = gApp.launchCalls.back();
  if (log.size() != logged + 1) {
    rom->launchOutcome = "emulator did not log";
    rom->problems.push_back(Format("the emulator was not reached (popup result %d)", result));
    return;
  }
  const std::string& line = log.back();
  size_t tab1 = line.find('\t');
  size_t tab2 = tab1 == std::string::npos ? std::string::npos : line.find('\t', tab1 + 1);
  std::string status = line.substr(0, tab1);
  std::string size = tab2 == std::string::npos ? "" : line.substr(tab1 + 1, tab2 - tab1 - 1);
  std::string path = tab2 == std::string::npos ? "" : line.substr(tab2 + 1);
  rom->launchOutcome =
      Format("%s %s", status == "OK" ? "ok " : status.c_str(), RelativeToDemo(CollapseSeparators(path)).c_str());
  if (status != "OK") rom->problems.push_back("the emulator did not find the file it was given");
  if (!SamePath(path, rom->expectedLaunch) || !SamePath(call.path, rom->expectedLaunch))
    rom->problems.push_back("launched " + call.path + ", expected " + rom->expectedLaunch);
  if (strtoul(size.c_str(), nullptr, 10) != started.romSize)
    rom->problems.push_back("the emulator's file has " + size +
                            Format(" bytes, not %lu", static_cast<unsigned long>(started.romSize)));
  if (result != call.result)
    rom->problems.push_back(Format("onPopupMenuClick returned %d, hostLaunch %d", result, call.result));
  else if (result != 1)
    rom->problems.push_back(Format("the launch reported %d", result));
}

// --- the report --------------------------------------------------------------------

static std::string Pad(const std::string& text, size_t width) {
  // In code page 932 a character's byte count is its width on a terminal.
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

static bool WriteReport() {
  std::string out;
  out += Format("Corvane demo: dataset %s, header %d bytes, subfolders %s, extraction at launch on\n", kDataset,
                kHeaderSize, kTextDepthAll);
  out += "  ROM folder:        " + gRun.romDir + "\n";
  out += "  extraction folder: " + gRun.extractDir + "\n";
  out += "  host data folder:  " + gApp.dataDir + "\n\n";
  size_t nameWidth = 24;
  for (const ManifestRom& rom : gRun.roms) nameWidth = std::max(nameWidth, rom.relPath.size() + 2);
  out += Pad("file", nameWidth) + "header  plug-in   host      expected  launch\n";
  for (const ManifestRom& rom : gRun.roms) {
    std::string skipped =
        rom.registered ? Format("%ld", static_cast<long>(static_cast<int64_t>(rom.romSize) - rom.copySize)) : "-";
    out += Pad(rom.relPath, nameWidth) + Pad(skipped, 8) + Pad(rom.pluginCrc.empty() ? "-" : rom.pluginCrc, 10) +
           Pad(rom.hostCrc.empty() ? "-" : rom.hostCrc, 10) + Pad(rom.expectedCrc, 10) + rom.launchOutcome + "\n";
    for (const std::string& problem : rom.problems) out += "    ! " + problem + "\n";
  }
  if (gRun.reportBoxes > 0 || !gRun.skipLog.empty()) {
    out += "\npassed over and warned about, as the plug-in reported it:\n";
    const char* label = "  box: ";
    for (const std::string& line : SplitLines(gRun.reportText)) {
      out += label + line + "\n";
      label = "       ";
    }
    label = "  log: ";
    for (const std::string& line : gRun.skipLog) {
      out += label + line + "\n";
      label = "       ";
    }
    if (std::find(gRun.shots.begin(), gRun.shots.end(), "report-box") != gRun.shots.end())
      out += "  picture: report-box.png, beside this report\n";
  }
  out += "\nchecks:\n";
  for (const std::string& check : gRun.checks) out += "  " + check + "\n";
  out += "\nscreenshots:";
  for (const std::string& shot : gRun.shots) out += " " + shot;
  if (!gRun.midRunCounter.empty()) out += " (registration at \"" + gRun.midRunCounter + "\")";
  out += "\n";
  out += gRun.failed ? "result: FAIL\n" : "result: PASS\n";
  std::string utf8 = ConvertCodePage(out, CP_ACP, CP_UTF8);
  return WriteBytes(gRun.options.reportPath, utf8);
}

// --- the manifest and the run ---------------------------------------------------------

// "relative/path<TAB>rom size<TAB>header size<TAB>CRC text<TAB>first entry<TAB>
// case" in UTF-8 with "/" separators, the case being "locked", "no header",
// "copy of <relative/path>" or nothing; lines starting with "#" are comments.
static bool ReadManifest(const std::string& path) {
  std::string bytes;
  if (!ReadBytes(path, &bytes)) return false;
  std::string text = ConvertCodePage(bytes, CP_UTF8, CP_ACP);
  for (const std::string& line : SplitLines(text)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields = Fields(line);
    if (fields.size() != 6) return false;
    ManifestRom rom = {};
    rom.relPath = fields[0];
    for (char& c : rom.relPath) {
      if (c == '/') c = '\\';
    }
    rom.romSize = static_cast<uint32_t>(strtoul(fields[1].c_str(), nullptr, 10));
    rom.headerSize = atoi(fields[2].c_str());
    rom.expectedCrc = fields[3];
    rom.entryName = fields[4];
    rom.locked = fields[5] == "locked";
    rom.headerless = fields[5] == "no header";
    const std::string copyMark = "copy of ";
    if (fields[5].compare(0, copyMark.size(), copyMark) == 0) rom.copyOf = fields[5].substr(copyMark.size());
    for (char& c : rom.copyOf) {
      if (c == '/') c = '\\';
    }
    rom.sourcePath = gRun.romDir + rom.relPath;
    gRun.roms.push_back(rom);
  }
  return !gRun.roms.empty();
}

// Two ROMs with the same contents share one catalogue entry, under the name
// of the copy registered last, since the host replaces an entry of the same CRC.
static void CheckCatalogueSurvives() {
  std::vector<CatalogueEntry> reloaded;
  bool loaded = LoadCatalogueFile(CataloguePath(), &reloaded);
  size_t matched = 0;
  size_t lockedListed = 0;
  for (const ManifestRom& rom : gRun.roms) {
    const ManifestRom* twin = TwinOf(rom);
    const ManifestRom& named = twin != nullptr && RegisteredBefore(rom, *twin) ? *twin : rom;
    for (const CatalogueEntry& entry : reloaded) {
      if (rom.locked && entry.crcText == rom.expectedCrc) {
        ++lockedListed;
      } else if (!rom.locked && rom.registered && entry.dataset == kDataset && entry.crcText == rom.hostCrc &&
                 entry.size == rom.copySize && entry.name == BaseName(named.copyPath)) {
        ++matched;
        break;
      }
    }
  }
  size_t expected = gRun.roms.size() - LockedCount();
  Check(loaded && matched == expected && lockedListed == 0,
        Format("catalogue.txt read back: %u of %u ROMs, %u locked one(s) in it", static_cast<unsigned>(matched),
               static_cast<unsigned>(expected), static_cast<unsigned>(lockedListed)));
}

int RunScript(const ScriptOptions& options) {
  gRun.options = options;
  gRun.romDir = options.demoDir + "roms\\";
  gRun.extractDir = options.demoDir + "extract\\";
  gRun.logPath = options.demoDir + "emulator.log";
  CreateDirectoryA(options.shotsDir.c_str(), nullptr);
  CreateDirectoryA(gRun.extractDir.c_str(), nullptr);
  if (!ReadManifest(options.demoDir + "manifest.txt")) {
    Check(false, "manifest.txt of the sample collection could not be read");
    WriteReport();
    return 1;
  }
  Check(gApp.pluginStarted, "Corvane.dll loaded and started");

  // The user picks the dataset in the selector, then works through the menus.
  SelectDataset(kDataset);
  SetForegroundWindow(gApp.window);
  PumpMessages();
  Check(CurrentDataset() == kDataset, Format("dataset %s selected", kDataset));
  RunSettings();
  RunRegistration();
  for (ManifestRom& rom : gRun.roms) {
    if (!rom.locked) LaunchRom(&rom);
  }

  std::vector<std::string> left = FolderEntries(gApp.dataDir + "temp\\");
  std::string leftList;
  for (const std::string& name : left) leftList += " " + name;
  Check(left.empty(), "the plug-in's temp folder is empty" + (left.empty() ? std::string() : ":" + leftList));
  CheckCatalogueSurvives();

  int rows = static_cast<int>(SendMessageA(gApp.romList, LVM_GETITEMCOUNT, 0, 0));
  size_t copies = 0;
  for (const ManifestRom& rom : gRun.roms) copies += !rom.locked && !rom.copyOf.empty() ? 1 : 0;
  Check(rows == static_cast<int>(gRun.roms.size() - LockedCount() - copies),
        Format("the host lists %d ROMs for %s (a copy shares its original's row)", rows, kDataset));
  if (!gRun.popupShot) TakeShot(gApp.window, "host-window");

  // The user quits: the plug-in writes its global settings.
  int closed = gApp.plugin.closePlugin();
  gApp.pluginStarted = false;
  std::string settings;
  Check(closed == 0 && ReadBytes(gApp.dataDir + "Setting.ini", &settings) && settings.size() == kGlobalSettingsBytes,
        Format("closePlugin wrote Setting.ini (%d bytes)", kGlobalSettingsBytes));

  size_t romFailures = 0;
  for (const ManifestRom& rom : gRun.roms) romFailures += rom.problems.empty() ? 0 : 1;
  if (romFailures > 0) gRun.failed = true;
  if (!WriteReport()) return 1;
  return gRun.failed ? 1 : 0;
}
