// The add-ROMs run's state machine under random events at random moments,
// driven directly with a test clock, a scripted host and scripted boxes: ticks,
// Cancels and the window's end, also inside the host's call and the merge;
// answers to its boxes; failing writes and extractions; and holds that another
// thread makes with a real handle on a ROM, a copy, an extracted entry, the
// relation file or the log. Whatever their order: the run ends, one box at a
// time, a Cancel is asked only before the files end, the last counter before
// the end shows every file done, temp is empty at every depth once the holds
// end and the next run starts, and the relation file (or the finished one left
// beside it) holds every earlier line and exactly the registered files' lines,
// or is as it was where a write failed. In half the seeds a worker prepares
// each next file, however small, while the host registers one.
// A failing seed is printed; CORVANE_SEED=n replays that one alone, and
// CORVANE_SEEDS=n runs seeds 1 to n (200 by default).
#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "base/leftovers.h"
#include "base/state.h"
#include "base/test_switches.h"
#include "base/texts.h"
#include "registration/held_copies.h"
#include "registration/report_box.h"
#include "registration/run_machine.h"
#include "support/archiver_switches.h"
#include "support/host_double.h"

namespace {

DWORD testNow;
uint32_t clockState;
// Each look at the clock finds it a few milliseconds on, so slices end at
// random points of the work.
DWORD TestClock() { return testNow += NextRandom(&clockState) % 9; }

// A .zip of stored entries, written as the format lays it out.
void AddZipRecord(std::string* out, uint32_t signature, const std::vector<uint32_t>& fields, const char* sizes) {
  out->append(reinterpret_cast<const char*>(&signature), 4);
  for (size_t i = 0; i < fields.size(); ++i) out->append(reinterpret_cast<const char*>(&fields[i]), sizes[i] - '0');
}

std::string StoredZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string local, central;
  for (const auto& [name, bytes] : entries) {
    uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
    uint32_t size = static_cast<uint32_t>(bytes.size()), length = static_cast<uint32_t>(name.size());
    uint32_t offset = static_cast<uint32_t>(local.size());
    AddZipRecord(&local, 0x04034b50, {10, 0, 0, 0, 0, crc, size, size, length, 0}, "2222244422");
    local += name + bytes;
    AddZipRecord(&central, 0x02014b50, {20, 10, 0, 0, 0, 0, crc, size, size, length, 0, 0, 0, 0, 0, offset},
                 "2222224442222244");
    central += name;
  }
  uint32_t count = static_cast<uint32_t>(entries.size());
  AddZipRecord(&central, 0x06054b50,
               {0, 0, count, count, static_cast<uint32_t>(central.size()), static_cast<uint32_t>(local.size()), 0},
               "2222442");
  return local + central;
}

// Another program's hold: a handle opened in another thread, sharing read and
// write but not delete, until the test lets it go.
struct Hold {
  std::string path;
  HANDLE opened = nullptr, release = nullptr, thread = nullptr;
  int madeAt = 0;  // the driver's step
};

DWORD WINAPI KeepOpen(void* parameter) {
  auto* hold = static_cast<Hold*>(parameter);
  HANDLE file = CreateFileA(hold->path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  SetEvent(hold->opened);  // (or not there): the test goes on
  if (file != INVALID_HANDLE_VALUE) {
    WaitForSingleObject(hold->release, INFINITE);
    CloseHandle(file);
  }
  return 0;
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

class RunEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    data = MakeScratchFolder("evdata");
    roms = MakeScratchFolder("evroms");
    ASSERT_FALSE(data.empty() || roms.empty());
    ASSERT_EQ(StartLinkedPlugin(data), 0);
    HostReset();
    ASSERT_TRUE(BindArchiverSwitches(&arc));
    CopyText(gState.datasetName, sizeof gState.datasetName, "NES");
    gState.profile.headerSize = 16;
    gState.profile.depthChoice = 1;
    // Without its final separator, so that no subfolder's path carries two.
    CopyText(gState.profile.romFolder, sizeof gState.profile.romFolder, roms.substr(0, roms.size() - 1).c_str());
    temp = gState.tempDir;
  }
  void TearDown() override {
    for (Hold& hold : holds) Let(&hold);
    arc.reset();
    ResetTestSwitches();
    gHost.onRegister = nullptr;
    RemoveTree(data);
    RemoveTree(roms);
  }
  void HoldPath(const std::string& path) {
    if (path.empty() || holds.size() >= 4) return;
    holds.push_back({path, CreateEventA(nullptr, FALSE, FALSE, nullptr), CreateEventA(nullptr, FALSE, FALSE, nullptr),
                     nullptr, step});
    Hold& hold = holds.back();
    hold.thread = CreateThread(nullptr, 0, KeepOpen, &hold, 0, nullptr);
    WaitForSingleObject(hold.opened, INFINITE);
  }
  static void Let(Hold* hold) {
    if (hold->thread == nullptr) return;
    SetEvent(hold->release);
    WaitForSingleObject(hold->thread, INFINITE);
    CloseHandle(hold->thread);
    CloseHandle(hold->release);
    CloseHandle(hold->opened);
    hold->thread = nullptr;
  }
  std::string data, roms, temp;
  ArchiverSwitches arc;
  std::vector<Hold> holds;  // reserved so that no thread's record moves
  int step = 0;
};

TEST_F(RunEvents, RandomEventsNeverHangLoseLinesOrLeaveCopies) {
  const std::string rom = "NES\x1a" + std::string(12, '\0');
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(WriteBytes(roms + "r" + std::to_string(i) + ".nes", rom + RandomBytes(20 + i * 7, i)));
  }
  ASSERT_TRUE(CreateDirectoryA((roms + "sub").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(roms + "sub\\s.nes", rom + RandomBytes(50, 9)));
  // An archive whose first entry is in a subfolder, with an entry of the same
  // name in another case after it. (One archive: each costs a seed dozens of
  // file calls, a round trip to Wine's server each.)
  ASSERT_TRUE(WriteBytes(roms + "deep.zip",
                         StoredZip({{"in/deep.nes", rom + "deep"}, {"IN/DEEP.NES", rom + "second"}, {"x.txt", "x"}})));
  // Each file's contents after the header name its source.
  std::map<std::string, std::string> sourceOf = {{"deep", "deep.zip"}, {"second", "deep.zip"}};
  for (int i = 0; i < 2; ++i) sourceOf[RandomBytes(20 + i * 7, i)] = "r" + std::to_string(i) + ".nes";
  sourceOf[RandomBytes(50, 9)] = "sub\\s.nes";
  std::string earlier;
  for (int i = 0; i < 8; ++i) {
    std::string path = data + "e" + std::to_string(i) + ".nes";
    ASSERT_TRUE(WriteBytes(path, "an earlier ROM"));
    earlier += "0000000" + std::to_string(i % 10) + " " + path + "\r\n";
  }
  const std::string relation = data + "NES.rel", log = data + "NES.log";
  const char* replay = getenv("CORVANE_SEED");
  const char* seeds = getenv("CORVANE_SEEDS");
  uint32_t first = replay != nullptr ? static_cast<uint32_t>(atoi(replay)) : 1;
  uint32_t last = replay != nullptr ? first : seeds != nullptr ? static_cast<uint32_t>(atoi(seeds)) : 200;
  holds.reserve(8);
  const int takenBefore = gFilesTakenAhead;
  for (uint32_t seed = first; seed <= last; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " (replay with CORVANE_SEED=" + std::to_string(seed) + ")");
    uint32_t state = seed * 2654435761u + 1;
    auto roll = [&](uint32_t n) { return NextRandom(&state) % n; };
    clockState = seed;
    ASSERT_TRUE(WriteBytes(relation, earlier));
    DeleteFileA((relation + ".new").c_str());
    DeleteFileA((relation + ".pending").c_str());
    ResetTestSwitches();
    arc.reset();
    HostReset();
    gRunStateViolation = nullptr;
    gTestSwitches.sliceMs = roll(3) == 0 ? 0 : 1 + static_cast<int>(roll(30));
    bool faultArmed = roll(5) == 0;
    if (faultArmed) gTestSwitches.writeFault[kWriteRelation] = 1 + static_cast<int>(roll(20));
    if (roll(6) == 0) arc.failExtraction(1);
    bool holding = roll(8) == 0;
    int holdSteps = 1 + static_cast<int>(roll(12));
    if (holding) {
      const std::string before[] = {relation, log, roms + "r" + std::to_string(roll(2)) + ".nes", roms + "deep.zip"};
      HoldPath(before[roll(4)]);
    }

    RegistrationRun* run = nullptr;
    RunBox openBox = kBoxNone;
    bool ended = false, destroyed = false, askedLate = false, notWritten = false;
    int32_t lastShown = -1;
    int cancelledAt = -1;  // the host's calls when a Cancel not yet asked came
    // Inside the host's call: a hold on a file of temp (the copy, an extracted
    // entry), a Cancel, a tick or the window's end.
    gHost.onRegister = [&](const char*) {
      if (holding && roll(3) == 0) {
        // Files only: a folder held open stays until the next action takes it back.
        std::vector<std::string> inTemp;
        for (const std::string& name : FolderTree(temp)) {
          if (name.back() != '\\') inTemp.push_back(name);
        }
        if (!inTemp.empty()) HoldPath(temp + inTemp[roll(static_cast<uint32_t>(inTemp.size()))]);
      }
      switch (roll(12)) {
        case 0:
          if (cancelledAt < 0 && run->state == kRunProcess) cancelledAt = static_cast<int>(gHost.registerCalls.size());
          EXPECT_EQ(PressRunCancel(run).box, kBoxNone) << "a box inside the host's call";
          break;
        case 1:
          EXPECT_EQ(TickRun(run).box, kBoxNone) << "a tick ran inside the host's call";
          break;
        case 2:
          destroyed = true;
          EXPECT_FALSE(CloseRunWindow(run).freed) << "freed under the host's call";
          break;
        default:
          break;
      }
    };
    RunView view = {};
    run = StartRegistrationRun(nullptr, TestClock, &view);
    ASSERT_NE(run, nullptr);
    // The worker prepares the next file however small, in half the seeds.
    if (roll(2) == 0) run->ahead.minBytes = 0;
    for (step = 0; !view.freed && step < 20000; ++step) {
      if (view.showCounter) lastShown = view.processed;
      if (view.box != kBoxNone) {
        EXPECT_EQ(openBox, kBoxNone) << "a second box while one is open";
        openBox = view.box;
        // Nothing more is registered between a Cancel and its question.
        if (view.box == kBoxCancelQuestion && cancelledAt >= 0) {
          EXPECT_EQ(cancelledAt, static_cast<int>(gHost.registerCalls.size()));
        }
        cancelledAt = -1;
        if (view.box == kBoxEndMessage && Utf8(view.boxText).rfind(u8"関連ファイルに書き込めませんでした", 0) == 0) {
          notWritten = true;
        }
        // The first box of the end comes after the whole count was shown.
        if (view.box == kBoxEndMessage && !ended && !faultArmed) {
          EXPECT_EQ(lastShown, static_cast<int32_t>(gHost.registerCalls.size()));
        }
        ended = ended || view.box == kBoxEndMessage;
      }
      view.box = kBoxNone;  // taken in; an event that changes nothing returns none
      for (Hold& hold : holds) {
        if (step >= hold.madeAt + holdSteps) Let(&hold);
      }
      // Holds are waited out on the system's clock.
      if (holding) Sleep(1);
      RunState before = run->state;

      uint32_t event = roll(40);
      if (openBox != kBoxNone && event >= 4) {
        view = AnswerRunBox(run, openBox == kBoxCancelQuestion && roll(2) == 0 ? IDOK : IDCANCEL);
        openBox = kBoxNone;
      } else if (event == 0 || event == 1) {
        if (openBox == kBoxNone && cancelledAt < 0 && run->state == kRunProcess) {
          cancelledAt = static_cast<int>(gHost.registerCalls.size());
        }
        view = PressRunCancel(run);
        askedLate = askedLate || (view.box == kBoxCancelQuestion && before >= kRunMerge);
        if (openBox != kBoxNone) {
          EXPECT_EQ(view.box, kBoxNone);
        }
      } else if (event == 2 && roll(4) == 0) {
        destroyed = true;
        view = CloseRunWindow(run);
        EXPECT_TRUE(view.freed);
      } else if (openBox == kBoxNone) {
        view = TickRun(run);
      }
    }
    ASSERT_TRUE(view.freed) << "the run did not end";
    if (view.showCounter) lastShown = view.processed;
    EXPECT_FALSE(askedLate) << "a Cancel after the files ended was asked";
    EXPECT_EQ(gRunStateViolation, nullptr) << gRunStateViolation;
    if (!destroyed && !faultArmed) {
      EXPECT_EQ(lastShown, static_cast<int32_t>(gHost.registerCalls.size()));
    }
    bool faultFired = faultArmed && gTestSwitches.writeFault[kWriteRelation] == 0;
    for (Hold& hold : holds) Let(&hold);
    gHost.onRegister = nullptr;
    ResetTestSwitches();
    // What was held stays for the next run's start; without a hold nothing stays.
    if (!holds.empty()) RemoveProvenLeftovers();
    holds.clear();
    const std::vector<std::string> left = FolderTree(temp);
    EXPECT_EQ(left, std::vector<std::string>{}) << "left in temp";
    for (const std::string& name : left) RemoveTree(temp + name);

    if (notWritten || faultFired) {
      EXPECT_TRUE(faultFired) << "no write failed, yet the run said so";
      EXPECT_EQ(ReadBytes(relation), earlier);
      continue;
    }
    std::vector<std::string> expected = LinesOf(earlier);
    for (const HostCall& call : gHost.registerCalls) {
      ASSERT_EQ(sourceOf.count(call.content), 1u) << call.path;
      char crc[16];
      uLong value = crc32(0, reinterpret_cast<const Bytef*>(call.content.data()), (uInt)call.content.size());
      snprintf(crc, sizeof crc, "%08lX", value);
      expected.push_back(std::string(crc) + " " + roms + sourceOf[call.content]);
    }
    // A window's end while the file was held leaves the finished file beside it.
    std::string pending = ReadBytes(relation + ".pending");
    if (pending.empty()) pending = ReadBytes(relation + ".new");
    std::vector<std::string> lines = LinesOf(pending.empty() ? ReadBytes(relation) : pending);
    std::sort(expected.begin(), expected.end());
    std::sort(lines.begin(), lines.end());
    ASSERT_EQ(lines, expected);
  }
  if (last - first >= 20) {
    EXPECT_GT(gFilesTakenAhead, takenBefore) << "no file was ever taken from the worker";
  }
}

// The pending relation file is said in a sentence of its own, also when
// nothing was passed over; the counts and the log's name come first.
TEST(RunReportBox, PendingRelationFileIsToldInASentenceOfItsOwn) {
  RunReport report = {};
  char text[4 * MAX_PATH];
  EXPECT_FALSE(ComposeReportBox(text, sizeof text, &report, "C:\\d\\NES.log", false, nullptr));
  ASSERT_TRUE(ComposeReportBox(text, sizeof text, &report, "C:\\d\\NES.log", false, "C:\\d\\NES.rel"));
  const std::string pending =
      u8"関連ファイルが他のプログラムに使われているため、次の操作の時に置き換えます: C:\\d\\NES.rel";
  EXPECT_EQ(Utf8(text), pending);
  NoteSkipped(&report, "x", "C:\\r\\a.nes");
  ASSERT_TRUE(ComposeReportBox(text, sizeof text, &report, "C:\\d\\NES.log", true, "C:\\d\\NES.rel"));
  EXPECT_EQ(Utf8(text), u8"登録できなかったファイルが 1 件あります。\n一覧: C:\\d\\NES.log\n" + pending);
  ReleaseRunReport(&report);
}

}  // namespace
