// The add-ROMs run when things go wrong or fast: work in slices, runs that are
// killed, writes that fail, the temp folder under other names, a host that
// calls back in.
#include <gtest/gtest.h>
#include <windows.h>

#include "base/test_switches.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "relation/relation_file.h"
#include "relation/relation_merge.h"
#include "relation/relation_pending.h"
#include "registration_run.h"
#include "support/child_process.h"

namespace {

// Host registrations made when the host window's posted message was answered.
size_t answeredAt;

LRESULT CALLBACK WatchHostMessage(int code, WPARAM wParam, LPARAM lParam) {
  auto* message = reinterpret_cast<const MSG*>(lParam);
  if (code == HC_ACTION && wParam == PM_REMOVE && message->hwnd == gHost.window && message->message == WM_NULL &&
      answeredAt == 0) {
    answeredAt = gHost.registerCalls.size();
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A clock that each look finds 2 ms on: a slice holds a few files whatever
// the machine's speed.
DWORD lookCount;
DWORD ClockOfLooks() { return (lookCount += 2); }

// Slices change nothing the host or the user sees, and between two of them the
// host's own messages are answered while the run goes on.
TEST_F(RegistrationRun, SlicesChangeNothingTheHostSeesAndLetTheHostAnswer) {
  gState.profile.depthChoice = 2;
  for (int folder = 0; folder < 3; ++folder) {
    std::string sub = "f" + std::to_string(folder) + "\\";
    ASSERT_TRUE(CreateDirectoryA((roms + sub).c_str(), nullptr));
    for (int i = 0; i < 20; ++i) Write(sub + std::to_string(i) + ".nes", RandomBytes(64 + i, folder * 100 + i));
  }
  gTestSwitches.sliceMs = 0;
  AddRoms();
  std::string oneEntryLines = ReadBytes(data + "NES.rel");
  std::vector<std::string> oneEntryCalls = RegisteredPaths();

  gTestSwitches.sliceMs = -1;
  gTestSwitches.runClock = ClockOfLooks;
  gHost.onRegister = [&](const char*) {
    if (gHost.registerCalls.size() == 1) {
      PostMessageA(gHost.window, WM_NULL, 0, 0);
    }
  };
  HHOOK watch = SetWindowsHookExA(WH_GETMESSAGE, WatchHostMessage, nullptr, GetCurrentThreadId());
  answeredAt = 0;
  AddRoms();
  UnhookWindowsHookEx(watch);
  EXPECT_EQ(ReadBytes(data + "NES.rel"), oneEntryLines);
  EXPECT_EQ(RegisteredPaths(), oneEntryCalls);
  EXPECT_EQ(shown.counter.back(), "   60/   60(100%)");
  EXPECT_GE(answeredAt, 1u);
  EXPECT_LT(answeredAt, 60u) << "the host's message waited for the end of the run";
}

TEST_F(RegistrationRun, CancelledRunReportsWhatItPassedOverBeforeTheCancel) {
  gState.profile.depthChoice = 2;
  Write("locked.nes", "held by another program");
  ASSERT_TRUE(CreateDirectoryA((roms + "sub").c_str(), nullptr));
  for (const char* name : {"sub\\1.nes", "sub\\2.nes", "sub\\3.nes"}) Write(name, Rom(RandomBytes(40, name[4])));
  HANDLE held = CreateFileA((roms + "locked.nes").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  gHost.onRegister = [&](const char*) {
    if (gHost.registerCalls.size() == 1) ClickCancel();
  };
  std::string question;
  AddRoms({Answer(IDOK, &question)});
  CloseHandle(held);
  EXPECT_EQ(gHost.registerCalls.size(), 1u);
  EXPECT_EQ(report, std::string(u8"登録できなかったファイルが 1 件あります。\n一覧: ") + Utf8(data) + "NES.log");
  EXPECT_EQ(LogLines(), std::vector<std::string>{std::string(u8"読み込めません\t") + Utf8(roms) + "locked.nes"});
}

// The killed host's part, run as a child process by the test below: it dies
// (exit code 9) inside its third registration; any other exit code is a failure.
int ChildHostDiesInsideItsThirdRegistration() {
  char childData[MAX_PATH] = "", childRoms[MAX_PATH] = "";
  if (GetEnvironmentVariableA("CORVANE_CHILD_DATA", childData, sizeof childData) == 0) return 2;
  if (GetEnvironmentVariableA("CORVANE_CHILD_ROMS", childRoms, sizeof childRoms) == 0) return 2;
  if (StartLinkedPlugin(childData) != 0) return 3;
  HostOpen();
  HostAddCombo("NES", 200);
  CopyText(gState.profile.romFolder, sizeof gState.profile.romFolder, childRoms);
  gHost.onRegister = [](const char*) {
    if (gHost.registerCalls.size() == 3) TerminateProcess(GetCurrentProcess(), 9);
  };
  onMenuClick(1);
  return 1;  // the host should have died inside the run
}
const bool childAdded = AddChildRoutine("host-dies-in-third-registration", ChildHostDiesInsideItsThirdRegistration);

TEST_F(RegistrationRun, HostKilledMidRunLeavesTheEarlierRelationFileWhole) {
  for (int i = 0; i < 6; ++i) Write("r" + std::to_string(i) + ".nes", "first " + std::to_string(i));
  AddRoms();
  std::string earlier = ReadBytes(data + "NES.rel");
  ASSERT_EQ(Lines().size(), 6u);
  for (int i = 0; i < 6; ++i) Write("r" + std::to_string(i) + ".nes", "second " + std::to_string(i));

  SetEnvironmentVariableA("CORVANE_CHILD_DATA", data.c_str());
  SetEnvironmentVariableA("CORVANE_CHILD_ROMS", roms.c_str());
  std::string command = ChildCommandLine("host-dies-in-third-registration");
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
  EXPECT_EQ(WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
  DWORD exitCode = 0;
  GetExitCodeProcess(child.hProcess, &exitCode);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  SetEnvironmentVariableA("CORVANE_CHILD_DATA", nullptr);
  SetEnvironmentVariableA("CORVANE_CHILD_ROMS", nullptr);
  ASSERT_EQ(exitCode, 9u) << "the child host did not die where it should";
  EXPECT_TRUE(ReadBytes(data + "NES.rel") == earlier) << "the earlier relation file changed";

  // The next run is whole and clears what the killed one left aside.
  AddRoms();
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 6u);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.substr(0, 8), CrcTextAfterHeader(ReadBytes(line.substr(9)), 16));
  }
  EXPECT_FALSE(FileExists(data + "NES.rel.new"));
}

TEST_F(RegistrationRun, FailedWritesLoseNothingAndRegisterNothingAfterward) {
  for (int i = 0; i < 40; ++i) Write("w" + std::to_string(i) + ".nes", Rom(RandomBytes(100, i)));
  AddRoms();
  std::string earlier = ReadBytes(data + "NES.rel");
  std::vector<std::string> order = SearchOrder(roms, false);
  for (int i = 0; i < 40; ++i) Write("w" + std::to_string(i) + ".nes", Rom(RandomBytes(100, 100 + i)));
  struct Case {
    WriteKind kind;
    int nth;
    int32_t sliceMs;  // short slices arm the next tick early, before the failure
    DWORD boxHeldMs;  // how long the user reads the box
    size_t registered;
  };
  const Case cases[] = {
      {kWriteRelation, 2, -1, 0, 2},
      {kWriteRelation, 30, 11, 1000, 30},
      {kWriteCopy, 2, -1, 0, 39},
  };
  for (const Case& test : cases) {
    ASSERT_TRUE(WriteBytes(data + "NES.rel", earlier));
    gTestSwitches.writeFault[test.kind] = test.nth;
    gTestSwitches.sliceMs = test.sliceMs;
    std::string message;
    DWORD seen = 0;
    DialogStep answer = Answer(IDOK, &message);
    std::vector<DialogStep> steps;
    if (test.kind == kWriteRelation) {
      steps.push_back([&](HWND active) {
        if (GetWindow(active, GW_OWNER) != shown.dialog || GetDlgItem(active, 0xFFFF) == nullptr) return false;
        if (seen == 0) seen = GetTickCount();
        return GetTickCount() - seen >= test.boxHeldMs && answer(active);
      });
    }
    AddRoms(steps);
    gTestSwitches.writeFault[test.kind] = 0;
    EXPECT_EQ(gHost.registerCalls.size(), test.registered) << test.kind;
    if (test.kind == kWriteRelation) {
      // One box, and the run has ended with it: a second would be taken as the report.
      EXPECT_EQ(message, u8"関連ファイルに書き込めませんでした\n" + Utf8(data) + "NES.rel") << test.nth;
      EXPECT_EQ(report, "") << test.nth;
      EXPECT_TRUE(ReadBytes(data + "NES.rel") == earlier) << "the earlier relation file changed";
      continue;
    }
    // The copy that failed is neither registered nor does it lose its earlier line.
    EXPECT_EQ(report, std::string(u8"登録できなかったファイルが 1 件あります。\n一覧: ") + Utf8(data) + "NES.log");
    EXPECT_EQ(LogLines(), std::vector<std::string>{std::string(u8"コピーできません\t") + Utf8(roms + order[1])});
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 40u);
    EXPECT_EQ(lines.back().substr(9), roms + order[1]);
    EXPECT_NE(earlier.find(lines.back()), std::string::npos) << "its earlier line is kept";
  }
}

// A log that cannot be written is said to be so, and an earlier run's log is
// not left to be taken for this one's.
TEST_F(RegistrationRun, LogThatCannotBeWrittenIsToldAndNoStaleOneRemains) {
  Write("locked.nes", "held by another program");
  ASSERT_TRUE(WriteBytes(data + "NES.log", "an earlier run's list\r\n"));
  HANDLE held = CreateFileA((roms + "locked.nes").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  gTestSwitches.writeFault[kWriteLog] = 1;
  AddRoms();
  CloseHandle(held);
  EXPECT_EQ(report, std::string(u8"登録できなかったファイルが 1 件あります。\n一覧を書き込めませんでした: ") +
                        Utf8(data) + "NES.log");
  EXPECT_FALSE(FileExists(data + "NES.log"));
}

// An earlier line goes only when its file is known to be gone: not when its
// drive, share or mounted folder is away, and never for a relative or
// drive-relative path; and one line per file, whatever the spelling of the
// earlier line or of the ROM folder.
TEST_F(RegistrationRunOnDisk, EarlierLinesGoOnlyWhenTheirFileIsKnownGone) {
  const std::string fullWidth = "\x82\x81.nes";  // a full-width small letter
  for (std::string name : {"keep.nes", "locked.nes", "gone.nes"}) Write(name, RandomBytes(100, name[0]));
  Write(fullWidth, RandomBytes(100, 'f'));
  AddRoms();
  std::string lockedLine;
  for (const std::string& line : Lines()) {
    if (line.substr(9) == roms + "locked.nes") lockedLine = line;
  }
  ASSERT_FALSE(lockedLine.empty());
  char away = 'Q';
  while (away > 'D' && (GetLogicalDrives() & (1u << (away - 'A')))) --away;
  std::string keptLines = std::string("00000001 ") + away + ":\\roms\\away.nes\r\n" +
                          "00000002 \\\\nosuchserver\\share\\away.nes\r\n" + "00000003 roms\\gone.nes\r\n" +
                          "00000004 " + roms.substr(0, 2) + "gone.nes\r\n";
  // A folder a disk is mounted in (here a tmpfs that Wine's volume query
  // refuses, as Windows refuses a disk that is away).
  char volume[MAX_PATH] = "";
  const std::string mounted = "Z:\\dev\\shm\\corvane-away\\gone.nes";
  if (GetVolumePathNameA(mounted.c_str(), volume, sizeof volume) && std::string(volume) != "Z:\\") {
    keptLines += "00000005 " + mounted + "\r\n";
  }
  // A disk mounted in a folder and away, the folder left empty or gone with
  // it: its volume answers for the folder, but says nothing of the file.
  ASSERT_TRUE(CreateDirectoryA((data + "mounted").c_str(), nullptr));
  keptLines += "00000006 " + data + "mounted\\away.nes\r\n" + "00000007 " + data + "unmounted\\away.nes\r\n";
  char shortRoms[MAX_PATH] = "";
  ASSERT_GT(GetShortPathNameA(roms.c_str(), shortRoms, sizeof shortRoms), 0u);
  std::string respeltLines;
  for (const std::string& spelling :
       {roms + ".\\keep.nes", roms + "sub\\..\\keep.nes", roms + "keep.nes.", roms + "keep.nes ",
        "\\\\?\\" + roms + "keep.nes", std::string(shortRoms) + "KEEP.NES", roms + "\x82\x60.nes",
        ZDriveSpelling(roms) + "keep.nes"}) {
    respeltLines += "0000000F " + spelling + "\r\n";
  }
  ASSERT_TRUE(WriteBytes(data + "NES.rel", ReadBytes(data + "NES.rel") + keptLines + respeltLines));
  ASSERT_TRUE(DeleteFileA((roms + "gone.nes").c_str()));
  HANDLE held = CreateFileA((roms + "locked.nes").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  // Spelt in capitals, with a doubled separator: the same files.
  std::string respelt = roms;
  CharUpperBuffA(&respelt[0], static_cast<DWORD>(respelt.size()));
  respelt.insert(respelt.size() - 1, "\\");
  CopyText(gState.profile.romFolder, sizeof gState.profile.romFolder, respelt.c_str());
  AddRoms();
  CloseHandle(held);
  std::vector<std::string> lines = Lines();
  ASSERT_GE(lines.size(), 3u);
  std::vector<std::string> registered(lines.begin(), lines.begin() + 2);
  std::sort(registered.begin(), registered.end());
  EXPECT_EQ(registered[0].substr(9), respelt + "keep.nes");
  EXPECT_EQ(registered[1].substr(9), respelt + fullWidth);
  EXPECT_EQ(lines[2], lockedLine);
  std::string rest;
  for (size_t i = 3; i < lines.size(); ++i) rest += lines[i] + "\r\n";
  EXPECT_EQ(rest, keptLines);
  // The disk is back: its lines launch.
  for (const char* crcText : {"00000006", "00000007"}) {
    std::string folder = data + (crcText[7] == '6' ? "mounted" : "unmounted");
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(folder + "\\away.nes", "back"));
    HostReset();
    HostSelection selection = {0, crcText};
    onPopupMenuClick(7, &selection);
    ASSERT_EQ(gHost.launchCalls.size(), 1u) << crcText;
    EXPECT_EQ(gHost.launchCalls[0].path, folder + "\\away.nes");
  }
}

// Another program holding a file for a moment (a scanner, an indexer) costs no
// line and leaves nothing in temp; a copy held for longer than the run waits
// is named in the log and removed by the next run. (A relation file held
// through the run is refused before any ROM reaches the host: see the test of
// a relation file that cannot be opened.)
TEST_F(RegistrationRun, FilesHeldForAMomentLoseNothing) {
  for (int i = 0; i < 10; ++i) Write("r" + std::to_string(i) + ".nes", Rom(RandomBytes(50, i)));
  const std::string earlier = "0000000A " + data + "kept.nes\r\n";
  ASSERT_TRUE(WriteBytes(data + "kept.nes", "an earlier ROM"));
  struct Case {
    const char* held;  // "rel" (from its check to its move into place), "temp", or "rom" (as the run starts)
    int count;
    DWORD ms;
  } cases[] = {{"rel", 2, 300}, {"temp", 1000, 30}, {"temp", 1000, 500}, {"temp", 1, 2500}, {"rom", 3, 700}};
  for (const Case& test : cases) {
    SCOPED_TRACE(std::string(test.held) + " held " + std::to_string(test.ms) + " ms");
    ASSERT_TRUE(WriteBytes(data + "NES.rel", earlier));
    DeleteFileA((data + "NES.log").c_str());
    std::string relPath = data + "NES.rel";
    bool relHeld = std::string(test.held) == "rel";
    CopyText(gTestSwitches.holdPathPart, sizeof gTestSwitches.holdPathPart, relHeld ? relPath.c_str() : temp.c_str());
    gTestSwitches.holdCount = test.count;
    gTestSwitches.holdMs = test.ms;
    bool tooLong = test.ms > 2000;
    tempLeftAlone = !tooLong;
    std::string box;
    if (std::string(test.held) == "rom") {
      gTestSwitches.holdCount = 0;
      for (int i = 0; i < test.count; ++i) ASSERT_TRUE(HoldFileFor(roms + "r" + std::to_string(i) + ".nes", test.ms));
    }
    AddRoms({Answer(IDOK, &box)});
    ReleaseFileHolds();
    ResetTestSwitches();
    EXPECT_EQ(Lines().size(), 11u);
    EXPECT_NE(ReadBytes(relPath).find(earlier), std::string::npos);
    if (!tooLong) continue;
    std::vector<std::string> left = SearchOrder(temp, false);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(LogLines(), std::vector<std::string>{u8"一時ファイルを削除できません\t" + Utf8(temp + left[0])});
    tempLeftAlone = true;
    AddRoms();
    EXPECT_TRUE(SearchOrder(temp, false).empty()) << "the next run removes what the last one could not";
  }
  // An earlier file that cannot be read through the run is not merged as if
  // it were empty, nor are the run's lines dropped: they wait unmerged, the
  // box says so, and the next action merges them.
  ASSERT_TRUE(WriteBytes(data + "NES.rel", earlier));
  HANDLE unreadable = CreateFileA((data + "NES.rel").c_str(), GENERIC_READ, FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  std::string box;
  AddRoms({Answer(IDOK, &box)});
  CloseHandle(unreadable);
  EXPECT_NE(box.find(u8"次の操作の時に置き換えます: " + Utf8(data) + "NES.rel"), std::string::npos) << box;
  EXPECT_EQ(ReadBytes(data + "NES.rel"), earlier);
  EXPECT_TRUE(PutPendingRelationInPlace((data + "NES.rel").c_str()));
  EXPECT_EQ(Lines().size(), 11u);
}

// What another program does to the relation file: opens it sharing read and
// write but not delete, from its own thread, until released or ms have passed.
struct RelationHolder {
  std::string path;
  DWORD ms;  // INFINITE: until released
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE opened = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = nullptr;
  static DWORD WINAPI Hold(void* parameter) {
    auto* holder = static_cast<RelationHolder*>(parameter);
    HANDLE file = CreateFileA(holder->path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    SetEvent(holder->opened);
    WaitForSingleObject(holder->release, holder->ms);
    CloseHandle(file);
    return file != INVALID_HANDLE_VALUE ? 0 : 1;
  }
  // Returns once the file is held, so that the run cannot end before the hold begins.
  void Start() {
    thread = CreateThread(nullptr, 0, Hold, this, 0, nullptr);
    if (thread != nullptr) WaitForSingleObject(opened, INFINITE);
  }
  void End() {
    SetEvent(release);
    if (thread != nullptr) WaitForSingleObject(thread, INFINITE);
    DWORD held = 1;
    if (thread != nullptr) GetExitCodeThread(thread, &held);
    EXPECT_EQ(held, 0u) << "the relation file was never held";
    CloseHandle(thread);
    CloseHandle(release);
    CloseHandle(opened);
  }
};

// Lines a window's end left unmerged, kept open by another program that
// shares reading only (an indexer), are merged once: after the ROM changed
// and a run registered its new CRC, the new one launches and the old one
// nothing, through later runs too; once let go, the file goes.
TEST_F(RegistrationRun, UnmergedLinesKeptOpenAreMergedOnce) {
  const std::string unmerged = data + "NES.rel.unmerged";
  const std::string before = Rom(RandomBytes(64, 1)), after = Rom(RandomBytes(64, 2));
  const std::string oldCrc = CrcTextAfterHeader(before, 16), newCrc = CrcTextAfterHeader(after, 16);
  Write("a.nes", before);
  ASSERT_TRUE(WriteBytes(unmerged, oldCrc + " " + roms + "a.nes\r\n"));
  HANDLE indexer = CreateFileA(unmerged.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(indexer, INVALID_HANDLE_VALUE);
  auto launched = [](const std::string& crcText) {
    HostReset();
    HostSelection selection = {0, crcText.c_str()};
    onPopupMenuClick(7, &selection);
    return gHost.launchCalls.empty() ? std::string() : gHost.launchCalls[0].path;
  };
  EXPECT_EQ(launched(oldCrc), roms + "a.nes");
  Write("a.nes", after);
  for (int run = 0; run < 2; ++run) {
    AddRoms();
    EXPECT_EQ(launched(newCrc), roms + "a.nes") << "run " << run;
    EXPECT_EQ(launched(oldCrc), "") << "run " << run;
  }
  CloseHandle(indexer);
  EXPECT_EQ(launched(newCrc), roms + "a.nes");
  EXPECT_FALSE(FileExists(unmerged));
  EXPECT_FALSE(FileExists(data + "NES.rel.merged"));
}

// A relation file held from the run's last file past the retries costs no
// line: the finished list waits as the pending file, every ROM launches from
// it meanwhile, and the next launch or initPlugin puts it in place.
TEST_F(RegistrationRun, HeldRelationFileLeavesTheRunsLinesPendingNeverLost) {
  const int kRoms = 5;
  for (int i = 0; i < kRoms; ++i) Write("p" + std::to_string(i) + ".nes", Rom(RandomBytes(60, 40 + i)));
  ASSERT_TRUE(WriteBytes(data + "kept.nes", "an earlier ROM"));
  const std::string earlier = "0000000A " + data + "kept.nes\r\n";
  const std::string pending = data + "NES.rel.pending";
  for (DWORD ms : std::vector<DWORD>{1500, INFINITE}) {
    SCOPED_TRACE(ms == INFINITE ? "held for good" : "held 1.5 s");
    ASSERT_TRUE(WriteBytes(data + "NES.rel", earlier));
    RelationHolder holder{data + "NES.rel", ms};
    gHost.onRegister = [&](const char*) {
      if (gHost.registerCalls.size() == kRoms) holder.Start();
    };
    AddRoms();
    gHost.onRegister = nullptr;
    if (ms == INFINITE) {
      EXPECT_TRUE(FileExists(pending));
      EXPECT_EQ(ReadBytes(data + "NES.rel"), earlier) << "held, the relation file cannot have changed";
    } else {
      holder.End();
    }
    std::vector<std::string> expected = {"0000000A " + data + "kept.nes"};
    for (int i = 0; i < kRoms; ++i) {
      std::string name = "p" + std::to_string(i) + ".nes";
      expected.push_back(CrcTextAfterHeader(ReadBytes(roms + name), 16) + " " + roms + name);
    }
    // While the file is held, each launch waits out the hold (about 2 s)
    // before it reads the pending list: the run's last line, which only that
    // list holds, stands for the rest, checked in the file once it is in place.
    for (size_t i = ms == INFINITE ? kRoms : 0; i < expected.size(); ++i) {
      const std::string& line = expected[i];
      HostReset();
      HostSelection selection = {0, line.substr(0, 8).c_str()};
      onPopupMenuClick(0, &selection);
      ASSERT_EQ(gHost.launchCalls.size(), 1u) << line;
      EXPECT_EQ(gHost.launchCalls[0].path, line.substr(9));
    }
    if (ms == INFINITE) {
      holder.End();
      ASSERT_EQ(StartLinkedPlugin(data), 0);
      HostAddCombo("NES", 200);
    }
    EXPECT_FALSE(FileExists(pending)) << "the next action puts the pending file in place";
    std::vector<std::string> lines = Lines();
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
  }
}

// A run whose window is gone ends inside the host's call: the rest of the
// earlier lines is carried over without looking at any file (those of files
// that are gone stay until a run that looks), the run's own spelling of a path
// still replaces the earlier one, and a held relation file leaves it pending.
TEST(RelationFile, FinishedWithoutWaitingKeepsEveryLineUnlooked) {
  std::string folder = MakeScratchFolder("relfinish");
  ASSERT_FALSE(folder.empty());
  const std::string relationPath = folder + "NES.rel";
  struct Case {
    int earlierLines;
    int mergedFirst;    // lines merged by looking before the window went
    DWORD heldSharing;  // another program's open of the relation file shares this; 0: none
  } cases[] = {{3, 0, 0},
               {200000, 1, 0},
               {200000, 1, FILE_SHARE_READ | FILE_SHARE_WRITE},
               {3, 0, FILE_SHARE_WRITE | FILE_SHARE_DELETE}};
  for (const Case& test : cases) {
    bool held = test.heldSharing != 0, unreadable = held && !(test.heldSharing & FILE_SHARE_READ);
    SCOPED_TRACE(std::to_string(test.earlierLines) + (unreadable ? " lines, unreadable"
                                                      : held     ? " lines, held"
                                                                 : " lines"));
    // The run's own lines, whose byte order is not their folded order: each
    // replaces the earlier line of its capitals.
    const char* const names[] = {"mine.nes", "_under.nes", "Zed.nes", "apple.nes"};
    std::string earlier, mine;
    for (const char* name : names) {
      std::string path = folder + name, capitals = path;
      CharUpperBuffA(&capitals[0], static_cast<DWORD>(capitals.size()));
      earlier += "0000000F " + capitals + "\r\n";
      mine += "12345678 " + path + "\r\n";
    }
    std::string kept;
    char line[MAX_PATH + 16];
    for (int i = 1; i < test.earlierLines; ++i) {
      snprintf(line, sizeof line, "%08X %sgone%d.nes\r\n", i, folder.c_str(), i);
      kept += line;
    }
    ASSERT_TRUE(WriteBytes(relationPath, earlier + kept));
    RelationFile relation;
    CopyText(relation.path, sizeof relation.path, relationPath.c_str());
    ASSERT_TRUE(OpenRelationFile(&relation));
    for (const char* name : names) ASSERT_TRUE(WriteRelationLine(&relation, "12345678", (folder + name).c_str()));
    if (test.mergedFirst > 0) {
      EXPECT_FALSE(StepRelationMerge(&relation, test.mergedFirst));
    }
    HANDLE holder =
        held ? CreateFileA(relationPath.c_str(), GENERIC_READ, test.heldSharing, nullptr, OPEN_EXISTING, 0, nullptr)
             : INVALID_HANDLE_VALUE;
    EXPECT_TRUE(FinishRelationWithoutWaiting(&relation));
    EXPECT_EQ(relation.linesWait, held);
    std::string expected = mine + kept;
    // Unreadable, the earlier lines wait to be merged by whoever comes next.
    const std::string waiting = relationPath + (unreadable ? ".unmerged" : held ? ".pending" : "");
    EXPECT_TRUE(ReadBytes(waiting) == (unreadable ? mine : expected));
    DiscardRelationFile(&relation);
    if (holder != INVALID_HANDLE_VALUE) {
      EXPECT_FALSE(PutPendingRelationInPlace(relationPath.c_str())) << "still held, the lines still wait";
      CloseHandle(holder);
      EXPECT_TRUE(ReadBytes(relationPath) == earlier + kept) << "held, the relation file cannot have changed";
      EXPECT_TRUE(PutPendingRelationInPlace(relationPath.c_str()));
      EXPECT_TRUE(ReadBytes(relationPath) == expected);
    }
    EXPECT_FALSE(FileExists(relationPath + ".pending"));
    EXPECT_FALSE(FileExists(relationPath + ".unmerged"));
    EXPECT_FALSE(FileExists(relationPath + ".new"));
  }
  RemoveTree(folder);
}

TEST_F(RegistrationRun, TempFolderUnderAnotherNameKeepsItsFilesWhole) {
  for (const char* name : {"one.nes", "two.nes", "three.nes"}) ASSERT_TRUE(WriteBytes(temp + name, name));
  std::vector<std::string> before = FolderTree(temp);
  std::string link = data + "linked";
  ASSERT_TRUE(MakeUnixLink(temp, link));
  std::string zSpelling = ZDriveSpelling(temp);
  ASSERT_EQ(zSpelling.substr(0, 2), "Z:");
  for (const std::string& folder : {link + "\\", zSpelling}) {
    CopyText(gState.profile.romFolder, sizeof gState.profile.romFolder, folder.c_str());
    AddRoms();
    EXPECT_TRUE(gHost.registerCalls.empty()) << folder;
    EXPECT_EQ(FolderTree(temp), before) << folder;
  }
}

TEST_F(RegistrationRun, MissingTempFolderIsToldBeforeTheRelationFileIsTouched) {
  Write("a.nes", "rom");
  ASSERT_TRUE(WriteBytes(data + "NES.rel", "00000000 earlier line\r\n"));
  RemoveTree(temp);
  ASSERT_TRUE(WriteBytes(data + "temp", "a file where the folder should be"));
  std::string message;
  AddRoms({Answer(IDOK, &message)});
  EXPECT_EQ(message, std::string(u8"一時フォルダを作成できませんでした\n") + Utf8(temp));
  EXPECT_TRUE(gHost.registerCalls.empty());
  EXPECT_EQ(ReadBytes(data + "NES.rel"), "00000000 earlier line\r\n");
  DeleteFileA((data + "temp").c_str());
  CreateDirectoryA(temp.c_str(), nullptr);
}

TEST_F(RegistrationRun, LongArchivePathAndForeignFilesInTempAreHandled) {
  // A 230-byte archive path: the archiver's command holds it and the temp folder's path both.
  // Below a root ending in "\" the subfolder joins with a second one.
  std::string sub = std::string(230 - roms.size() - 2 - strlen("game.zip"), 's');
  ASSERT_TRUE(CreateDirectoryA((roms + sub).c_str(), nullptr));
  std::string archive = roms + "\\" + sub + "\\game.zip";
  ASSERT_EQ(archive.size(), 230u);
  ASSERT_TRUE(CopyFileA(FixturePath("registration_game.zip").c_str(), archive.c_str(), FALSE));
  // A benign archive of three entries; temp holds someone else's file and folder.
  ASSERT_TRUE(CopyFileA(FixturePath("launch_benign.zip").c_str(), (roms + "benign.zip").c_str(), FALSE));
  ASSERT_TRUE(WriteBytes(temp + "foreign.txt", "not ours"));
  ASSERT_TRUE(CreateDirectoryA((temp + "bios").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(temp + "bios\\mine.bin", "not ours either"));
  std::vector<std::string> before = FolderTree(temp);
  gState.profile.depthChoice = 2;
  AddRoms();
  EXPECT_EQ(gHost.registerCalls.size(), 2u);
  EXPECT_EQ(FolderTree(temp), before) << "the extraction left something, or took something";
  size_t longLines = 0;
  for (const std::string& line : Lines()) longLines += line.substr(9) == archive;
  EXPECT_EQ(longLines, 1u);
}

TEST_F(RegistrationRun, HostCallingBackInNeitherCrashesNorStallsTheRun) {
  for (const char* name : {"a.nes", "b.nes", "c.nes"}) Write(name, name);
  struct Case {
    const char* what;
    bool fromRegistration;  // else from a host timer while the cancel question is open
  };
  for (const Case& test : {Case{"inside hostRegister", true}, Case{"during the cancel question", false}}) {
    gHost.onRegister = [&](const char*) {
      if (test.fromRegistration) onMenuClick(1);
      if (!test.fromRegistration && gHost.registerCalls.size() == 1) {
        ClickCancel();
      }
    };
    std::string question;
    DialogStep answer = Answer(IDCANCEL, &question);
    AddRoms({[&](HWND active) {
      if (test.fromRegistration) return true;
      onMenuClick(1);  // the host's timer, while the question is open
      onMenuClick(0);
      return answer(active);
    }});
    EXPECT_EQ(gHost.registerCalls.size(), 3u) << test.what;
    EXPECT_EQ(Lines().size(), 3u) << test.what;
  }
}

}  // namespace
