// The add-ROMs run through the real dialog, chosen from the menu as the host does.
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

#include "base/state.h"
#include "registration/folders.h"
#include "resources/resource.h"
#include "support/archiver_switches.h"
#include "support/host_double.h"

#include "registration_run.h"

namespace {

TEST_F(RegistrationRun, ThreeFilesEndAtTheFullCountAndCloseByThemselves) {
  Write("b.nes", RandomBytes(3000, 1));
  Write("a.nes", RandomBytes(100, 2));
  Write("readme.txt", "a text file is registered like any ROM");
  ASSERT_TRUE(CreateDirectoryA((roms + "sub").c_str(), nullptr));
  Write("sub\\deeper.nes", RandomBytes(100, 3));  // below the chosen depth
  AddRoms();

  std::vector<std::string> order = SearchOrder(roms, false);
  ASSERT_EQ(order.size(), 3u);
  std::vector<std::string> copies, lines;
  for (const std::string& name : order) {
    copies.push_back(temp + name);
    lines.push_back(CrcTextAfterHeader(ReadBytes(roms + name), 16) + " " + roms + name);
  }
  EXPECT_EQ(RegisteredPaths(), copies);
  EXPECT_EQ(Lines(), lines);
  ASSERT_FALSE(shown.counter.empty());
  EXPECT_EQ(shown.counter.back(), "    3/    3(100%)");
  EXPECT_EQ(shown.positions.back(), 1000);
  EXPECT_EQ(Utf8(shown.caption), u8"ロムの追加(Corvane)");
  EXPECT_EQ(shown.status, (std::vector<std::string>{Cp932(u8"ロムファイル検索中"), roms}));
}

TEST_F(RegistrationRun, LinesCarryTheCrcOfExactlyTheBytesAfterTheHeader) {
  const size_t sizes[] = {0, 10, 16, 17, 512, 513, 10239, 10240, 10241, 10256, 20480, 20496, 40976};
  for (int32_t header : {0, 16, 512}) {
    RemoveTree(roms);
    ASSERT_TRUE(CreateDirectoryA(roms.c_str(), nullptr));
    std::map<std::string, std::string> files;  // source path -> bytes
    for (size_t size : sizes) files[roms + "s" + std::to_string(size) + ".bin"] = RandomBytes(size, (unsigned)size);
    files[roms + "with space.bin"] = RandomBytes(300, 9);
    for (const auto& file : files) ASSERT_TRUE(WriteBytes(file.first, file.second));
    // With no header a file is handed as a link to itself, but never one that
    // is read-only; and a link, unlike a large copy, is never cut down.
    const std::string readOnly = roms + "s10256.bin";
    ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    gTestSwitches.copyPieceSize = header == 0 ? 4096 : 0;
    std::map<std::string, DWORD> namesOf;  // handed path -> the file's names then
    gHost.onRegister = [&](const char* path) {
      HANDLE handed = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      BY_HANDLE_FILE_INFORMATION facts = {};
      if (handed != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handed, &facts))
        namesOf[path] = facts.nNumberOfLinks;
      if (handed != INVALID_HANDLE_VALUE) CloseHandle(handed);
    };
    gState.profile.headerSize = header;
    AddRoms();
    EXPECT_TRUE(GetFileAttributesA(readOnly.c_str()) & FILE_ATTRIBUTE_READONLY) << "the source's attribute changed";
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);

    std::map<std::string, std::string> lines;  // source path -> CRC text
    for (const std::string& line : Lines()) lines[line.substr(9)] = line.substr(0, 9);
    ASSERT_EQ(lines.size(), files.size()) << "header " << header;
    ASSERT_EQ(gHost.registerCalls.size(), files.size());
    std::map<std::string, const HostCall*> calls;
    for (const HostCall& call : gHost.registerCalls) calls[call.path] = &call;
    for (const auto& file : files) {
      std::string name = file.first.substr(roms.size());
      EXPECT_EQ(lines[file.first], CrcTextAfterHeader(file.second, header) + " ") << name << ", header " << header;
      const HostCall* call = calls[temp + name];
      ASSERT_NE(call, nullptr) << name;
      EXPECT_TRUE(call->existed) << "the copy must exist while the host registers it";
      EXPECT_TRUE(call->content == file.second.substr(std::min(file.second.size(), (size_t)header))) << name;
      EXPECT_EQ(namesOf[temp + name], header == 0 && file.first != readOnly ? 2u : 1u) << name;
      EXPECT_TRUE(ReadBytes(file.first) == file.second) << name << ": the source changed";
    }
  }
}

// Where no link can be made (the ROMs on the system's disk, temp on the
// memory disk) a ROM without a header is copied, as any other.
TEST_F(RegistrationRun, HeaderlessRomsOnAnotherVolumeAreCopied) {
  std::string disk = MakeTempFolder("regdisk");
  ASSERT_FALSE(disk.empty());
  const std::string rom = RandomBytes(50000, 4);
  ASSERT_TRUE(WriteBytes(disk + "far.nes", rom));
  CopyText(gState.profile.romFolder, sizeof gState.profile.romFolder, disk.c_str());
  gState.profile.headerSize = 0;
  DWORD names = 0;
  gHost.onRegister = [&](const char* path) {
    HANDLE handed = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION facts = {};
    if (handed != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handed, &facts)) names = facts.nNumberOfLinks;
    if (handed != INVALID_HANDLE_VALUE) CloseHandle(handed);
  };
  AddRoms();
  ASSERT_EQ(gHost.registerCalls.size(), 1u);
  EXPECT_TRUE(gHost.registerCalls[0].content == rom);
  EXPECT_EQ(names, 1u) << "a link across volumes";
  EXPECT_EQ(Lines(), std::vector<std::string>{CrcTextAfterHeader(rom, 0) + " " + disk + "far.nes"});
  EXPECT_TRUE(ReadBytes(disk + "far.nes") == rom);
  RemoveTree(disk);
}

TEST_F(RegistrationRun, DepthChoiceAndNameFilterDecideWhichFoldersAreVisited) {
  for (const char* folder : {"a", "a\\c", "b", "ok", "ok\\(inner)", "(skip)", "!bang", "-dash"}) {
    ASSERT_TRUE(CreateDirectoryA((roms + folder).c_str(), nullptr));
  }
  const std::map<std::string, std::string> files = {
      {"r.bin", ""},         {"a\\a.bin", "\\"},   {"a\\c\\c.bin", "\\"},
      {"b\\b.bin", "\\"},    {"ok\\o.bin", "\\"},  {"ok\\(inner)\\i.bin", ""},
      {"(skip)\\s.bin", ""}, {"!bang\\x.bin", ""}, {"-dash\\y.bin", ""}};
  for (const auto& file : files) Write(file.first, "rom " + file.first);
  struct Case {
    int32_t depthChoice;
    std::set<std::string> registered;
  };
  const Case cases[] = {
      {0, {"r.bin"}},
      {2, {"r.bin", "a\\a.bin", "b\\b.bin", "ok\\o.bin"}},
      {1, {"r.bin", "a\\a.bin", "a\\c\\c.bin", "b\\b.bin", "ok\\o.bin"}},
  };
  for (const Case& test : cases) {
    gState.profile.depthChoice = test.depthChoice;
    AddRoms();
    // Below a root ending in "\" the subfolders' paths carry a second one.
    std::set<std::string> expectedLines, lines;
    for (const std::string& file : test.registered) {
      const std::string& mark = files.at(file);
      expectedLines.insert(CrcTextAfterHeader("rom " + file, 16) + " " + roms + mark + file);
    }
    for (const std::string& line : Lines()) lines.insert(line);
    EXPECT_EQ(lines, expectedLines) << "depth choice " << test.depthChoice;
    int count = static_cast<int>(test.registered.size());
    char counter[32];
    snprintf(counter, sizeof counter, "%5d/%5d(100%%)", count, count);
    EXPECT_EQ(shown.counter.back(), counter);
    // Folders are shown in pre-order as their turn comes (a slice may pass
    // several between two showings), and the last one stays.
    std::vector<std::string> status = {Cp932(u8"ロムファイル検索中"), roms};
    for (const std::string& name : SearchOrder(roms, true)) {
      if (test.depthChoice == 0 || (name != "a" && name != "b" && name != "ok")) continue;
      status.push_back(roms + "\\" + name + "\\");
      if (name == "a" && test.depthChoice == 1) status.push_back(roms + "\\a\\c\\");
    }
    ASSERT_FALSE(shown.status.empty());
    EXPECT_EQ(shown.status.back(), status.back()) << "depth choice " << test.depthChoice;
    auto next = status.begin();
    for (const std::string& text : shown.status) next = std::find(next, status.end(), text);
    EXPECT_NE(next, status.end()) << "shown out of order, depth choice " << test.depthChoice;
  }
}

TEST_F(RegistrationRunOnDisk, ProgressNeitherDividesByZeroNorCountsFilesListedAfterIt) {
  // An empty ROM folder: the count stays 0 and the old line of a file that is gone goes.
  ASSERT_TRUE(WriteBytes(data + "NES.rel", "00000000 " + data + "old.nes\r\n"));
  AddRoms();
  EXPECT_TRUE(gHost.registerCalls.empty());
  EXPECT_TRUE(FileExists(data + "NES.rel"));
  EXPECT_EQ(ReadBytes(data + "NES.rel"), "");
  ASSERT_FALSE(shown.counter.empty());
  EXPECT_EQ(shown.counter.back(), "    0/    0( 0%)");
  EXPECT_EQ(shown.positions.back(), 0);

  // Each folder is listed once, by the count: files that appear later wait for the next run.
  gState.profile.depthChoice = 2;
  Write("r.bin", "counted");
  ASSERT_TRUE(CreateDirectoryA((roms + "late").c_str(), nullptr));
  gHost.onRegister = [&](const char*) {
    if (gHost.registerCalls.size() > 1) return;
    for (const char* name : {"late\\1.bin", "late\\2.bin", "late\\3.bin"}) WriteBytes(roms + name, name);
  };
  AddRoms();
  EXPECT_EQ(gHost.registerCalls.size(), 1u);
  EXPECT_EQ(shown.counter.back(), "    1/    1(100%)");
  EXPECT_EQ(*std::max_element(shown.positions.begin(), shown.positions.end()), 1000);
}

TEST_F(RegistrationRun, ArchivesRegisterTheirFirstEntryUnderTheArchivePath) {
  std::string rom = ReadBytes(FixturePath("registration_game.nes"));
  ASSERT_EQ(rom.size(), 3016u);
  // Names the archiver would take for a switch or a list file are extracted
  // with every other entry, which all go again.
  const std::map<std::string, std::string> entries = {
      {"game.zip", "game.nes"}, {"game.7z", "game.nes"}, {"dash.zip", "-game.nes"}, {"at.zip", "@game.nes"}};
  for (const auto& archive : entries) {
    std::string fixture = FixturePath(("registration_" + archive.first).c_str());
    ASSERT_TRUE(CopyFileA(fixture.c_str(), (roms + archive.first).c_str(), FALSE)) << fixture;
  }
  // A folder of the plug-in's name that its record does not name: neither
  // taken for the archive's entry nor removed.
  ASSERT_TRUE(CreateDirectoryA((temp + "corvane-0-0").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(temp + "corvane-0-0\\game.nes", "stale entry of another ROM"));
  std::vector<std::string> unproven = FolderTree(temp);
  AddRoms();
  EXPECT_EQ(FolderTree(temp), unproven);

  std::string crc = CrcTextAfterHeader(rom, 16);
  std::vector<std::string> lines, copies;
  for (const std::string& name : SearchOrder(roms, false)) {
    lines.push_back(crc + " " + roms + name);
    copies.push_back(temp + entries.at(name));
  }
  EXPECT_EQ(Lines(), lines);
  EXPECT_EQ(RegisteredPaths(), copies);
  for (const HostCall& call : gHost.registerCalls) EXPECT_TRUE(call.content == rom.substr(16)) << call.path;
  EXPECT_EQ(shown.counter.back(), "    4/    4(100%)");
}

TEST_F(RegistrationRunWithArchiver, BusyArchiverHoldsTheArchiveUntilItIsFree) {
  arc.setBusy(1);
  int busyQueries = 0, ticksWhileBusy = 0;
  std::string counterWhileBusy;
  int ticks = 0;
  AddRoms({[&](HWND) {
    if (++ticks < 10) return false;
    busyQueries = CountArchiverCalls(arc, "10");
    ticksWhileBusy = scanTicks;
    counterWhileBusy = shown.counter.empty() ? "" : shown.counter.back();
    arc.setBusy(0);
    return true;
  }});
  EXPECT_GT(busyQueries, 2) << "the archive was not offered again";
  EXPECT_LE(busyQueries, ticksWhileBusy) << "a busy archiver was asked again within one slice";
  EXPECT_EQ(counterWhileBusy, "    0/    1( 0%)");
  EXPECT_EQ(gHost.registerCalls.size(), 1u);
  EXPECT_EQ(Lines().size(), 1u);
  EXPECT_EQ(shown.counter.back(), "    1/    1(100%)");
}

TEST_F(RegistrationRunWithArchiver, ArchiveThatFailsIsRetriedThreeTimesThenPassedOver) {
  Write("plain.nes", Rom(RandomBytes(64, 5)));
  struct Case {
    const char* what;
    bool failOpen, failNextClose, failExtraction;
    int opens;
    bool registered;
    size_t lines;  // a passed-over archive keeps the line of a run before
  };
  const Case cases[] = {
      {"never opens", true, false, false, 4, false, 1},
      {"close fails once", false, true, false, 2, true, 2},
      // A stale game.nes in temp must not be registered in the entry's place.
      {"extraction fails over a stale entry", false, false, true, 1, false, 2},
  };
  for (const Case& test : cases) {
    arc.reset();
    arc.failOpen(test.failOpen);
    arc.failNextClose(test.failNextClose);
    arc.failExtraction(test.failExtraction);
    if (test.failExtraction) {
      ASSERT_TRUE(WriteBytes(temp + "game.nes", "NES\x1a left by a killed run"));
    }
    AddRoms();
    EXPECT_EQ(CountArchiverCalls(arc, "21"), test.opens) << test.what;
    std::vector<std::string> expected = {temp + "plain.nes"};
    if (test.registered) expected.push_back(temp + "game.nes");
    std::vector<std::string> registered = RegisteredPaths();
    std::sort(registered.begin(), registered.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(registered, expected) << test.what;
    EXPECT_EQ(Lines().size(), test.lines) << test.what;
    EXPECT_EQ(shown.counter.back(), test.registered ? "    2/    2(100%)" : "    1/    2(50%)") << test.what;
    std::vector<std::string> log;
    if (!test.registered) log.push_back(std::string(u8"書庫を開けません\t") + Utf8(roms) + "game.zip");
    EXPECT_EQ(LogLines(), log) << test.what;
  }
}

TEST_F(RegistrationRun, CancelQuestionStopsTheRunOnlyWhenConfirmed) {
  for (const char* name : {"c1.nes", "c2.nes", "c3.nes"}) Write(name, std::string("rom ") + name);
  std::vector<std::string> names = SearchOrder(roms, false);
  struct Case {
    const char* what;
    size_t cancelAt;  // the host's call in which Cancel is clicked
    bool pause;       // the click waits for the run's next look at input
    bool hostPumps;   // the host runs a message loop inside its registration
    int button;
    size_t registered;
  };
  // Without the pause the run may or may not start the next file before it
  // sees the click; either way it asks.
  const Case cases[] = {
      {"declined", 2, true, false, IDCANCEL, 3},
      {"confirmed", 2, true, false, IDOK, 2},
      {"confirmed while the host pumps", 2, true, true, IDOK, 2},
      {"clicked in the second-to-last file's call", 2, false, false, IDCANCEL, 3},
      {"clicked in the last file's call", 3, false, false, IDOK, 3},
  };
  std::map<std::string, std::string> earlierLines;  // source path -> its line of the run before
  for (const Case& test : cases) {
    // New bytes each time, so that a new line and an earlier one differ.
    for (const std::string& name : names) Write(name, std::string(test.what) + name);
    size_t callsAtQuestion = 0;
    gHost.onRegister = [&](const char*) {
      if (gHost.registerCalls.size() != test.cancelAt) return;
      if (test.pause) {
        ClickCancel();
      } else {
        PostMessageA(shown.dialog, WM_COMMAND, IDCANCEL, 0);
      }
      if (test.hostPumps) PumpMessages();
    };
    std::string text, caption;
    DialogStep answer = Answer(test.button, &text, &caption);
    AddRoms({[&](HWND active) {
      callsAtQuestion = gHost.registerCalls.size();
      return answer(active);
    }});
    EXPECT_EQ(text, u8"ロムの追加をキャンセルしますか") << test.what;
    EXPECT_EQ(caption, u8"キャンセル確認") << test.what;
    EXPECT_GE(callsAtQuestion, test.cancelAt) << test.what << ": the question comes after the file in hand";
    EXPECT_LE(callsAtQuestion, test.pause ? test.cancelAt : names.size()) << test.what;
    // Each reached file once, in search order, with its new line first; the
    // files not reached keep their earlier lines, so all stay launchable.
    std::vector<std::string> expectedCalls, expectedLines;
    for (size_t i = 0; i < names.size(); ++i) {
      std::string source = roms + names[i];
      if (i < test.registered) {
        expectedCalls.push_back(temp + names[i]);
        expectedLines.push_back(CrcTextAfterHeader(ReadBytes(source), 16) + " " + source);
      }
    }
    for (size_t i = test.registered; i < names.size(); ++i) expectedLines.push_back(earlierLines[roms + names[i]]);
    EXPECT_EQ(RegisteredPaths(), expectedCalls) << test.what;
    EXPECT_EQ(Lines(), expectedLines) << test.what;
    for (const std::string& line : Lines()) earlierLines[line.substr(9)] = line;
  }
}

TEST_F(RegistrationRun, RelationFileThatCannotBeOpenedEndsTheRunBeforeAnyRegistration) {
  Write("a.nes", "rom");
  // The box names the file in the way and the system's cause: kept open by a
  // viewer without delete sharing (the file could not be replaced at the
  // end), an earlier run's pending list held without any, or a folder where
  // the file would be made.
  for (std::string file : {"NES.rel", "NES.rel.pending", "NES.rel\\"}) {
    bool folder = file.back() == '\\';
    const std::string path = data + (folder ? "NES.rel" : file);
    HANDLE holder = INVALID_HANDLE_VALUE;
    if (folder) {
      ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    } else {
      ASSERT_TRUE(WriteBytes(path, "00000001 x\r\n"));
      DWORD share = file == "NES.rel" ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
      holder = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    std::string text;
    AddRoms({Answer(IDOK, &text)});
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
    const std::string named = std::string(u8"関連ファイルを開けませんでした\n") + Utf8(path) + "\n";
    char cause[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_SHARING_VIOLATION, 0,
                   cause, sizeof cause, nullptr);
    EXPECT_EQ(text.substr(0, named.size()), named) << file;
    if (!folder) {
      EXPECT_EQ(text, named + Utf8(std::string(cause, strcspn(cause, "\r\n"))) + " (32)");
    }
    EXPECT_GT(text.size(), named.size()) << "a cause follows the file";
    EXPECT_TRUE(gHost.registerCalls.empty());
    folder ? RemoveDirectoryA(path.c_str()) : DeleteFileA(path.c_str());
    DeleteFileA((data + "NES.rel").c_str());
  }

  // A dataset name that would lead outside the data folder, or names a device
  // (which would swallow the lines or wait on a console), names no file at all.
  for (const char* name : {"..\\NES", "NUL", "con", "COM1", "aux.x"}) {
    SetWindowTextA(FindWindowExA(gHost.window, nullptr, "TComboBox", nullptr), name);
    std::string text;
    AddRoms({Answer(IDOK, &text)});
    EXPECT_EQ(text, std::string(u8"関連ファイルを開けませんでした\n") + Utf8(data) + name + ".rel");
    EXPECT_TRUE(gHost.registerCalls.empty()) << name;
  }
}

TEST_F(RegistrationRun, FilesThatCannotBeCopiedAreNeitherRegisteredNorCounted) {
  for (const char* name : {"a.nes", "b.nes", "c.nes"}) Write(name, Rom(RandomBytes(40, name[0])));
  // A source path of 260 bytes, made through the wide interface: registered
  // by its short name.
  std::string longName(260 - roms.size(), 'n');
  std::wstring wide = LongPath(roms + longName);
  HANDLE created = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(created, INVALID_HANDLE_VALUE);
  const std::string rom = Rom(RandomBytes(40, 'n'));
  DWORD written = 0;
  WriteFile(created, rom.data(), rom.size(), &written, nullptr);
  CloseHandle(created);
  WIN32_FIND_DATAW found;
  FindClose(FindFirstFileW(wide.c_str(), &found));
  std::string shortName(found.cAlternateFileName, found.cAlternateFileName + wcslen(found.cAlternateFileName));

  HANDLE held = INVALID_HANDLE_VALUE;
  struct Way {
    const char* what;
    std::function<void()> make;
    const char* reason;  // what the log says of b.nes
    const char* logged = "b.nes";
  };
  const Way ways[] = {
      {"held open",
       [&] {
         held =
             CreateFileA((roms + "b.nes").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
       },
       u8"読み込めません"},
      {"a folder where the copy goes", [&] { CreateDirectoryA((temp + "b.nes").c_str(), nullptr); },
       u8"コピーできません"},
      {"2 GiB, beyond what the copy supports",
       [&] {
         HANDLE file = CreateFileA((roms + "b.nes").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
         LARGE_INTEGER size;
         size.QuadPart = 0x80000000LL;
         SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
         SetEndOfFile(file);
         CloseHandle(file);
       },
       u8"大きすぎます"},
  };
  for (const Way& way : ways) {
    way.make();
    std::set<std::string> expected = {temp + "a.nes", temp + "c.nes", temp + shortName};
    AddRoms();
    std::vector<std::string> registered = RegisteredPaths();
    EXPECT_EQ(std::set<std::string>(registered.begin(), registered.end()), expected) << way.what;
    EXPECT_EQ(Lines().size(), 3u) << way.what;
    EXPECT_EQ(shown.counter.back(), "    3/    4(75%)") << way.what;
    // The passed-over file is named with its reason, and the user is told where.
    EXPECT_EQ(LogLines(), (std::vector<std::string>{std::string(way.reason) + "\t" + Utf8(roms) + way.logged}))
        << way.what;
    EXPECT_EQ(report, std::string(u8"登録できなかったファイルが 1 件あります。\n一覧: ") + Utf8(data) + "NES.log")
        << way.what;
    EXPECT_EQ(reportCaption, u8"ロムの追加(Corvane)");
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    held = INVALID_HANDLE_VALUE;
    RemoveDirectoryA((temp + "b.nes").c_str());
    Write("b.nes", Rom(RandomBytes(40, 'b')));
  }
  DeleteFileW(wide.c_str());
}

TEST_F(RegistrationRun, FolderThatCannotBeListedIsPassedOver) {
  gState.profile.depthChoice = 2;
  Write("first.nes", Rom(RandomBytes(40, 1)));
  ASSERT_TRUE(CreateDirectoryA((roms + "gone").c_str(), nullptr));
  Write("gone\\g.nes", Rom(RandomBytes(40, 2)));
  gHost.onRegister = [&](const char*) { RemoveTree(roms + "gone"); };
  AddRoms();
  EXPECT_EQ(gHost.registerCalls.size(), 1u);
  EXPECT_EQ(shown.counter.back(), "    1/    2(50%)");
  EXPECT_EQ(shown.status.back(), roms + "\\gone\\");
  EXPECT_EQ(LogLines(), std::vector<std::string>{std::string(u8"フォルダを開けません\t") + Utf8(roms) + "\\gone\\"});

  // A run that passes nothing over says nothing more and removes the old list.
  gHost.onRegister = nullptr;
  AddRoms();
  EXPECT_EQ(report, "");
  EXPECT_FALSE(FileExists(data + "NES.log"));
}

TEST_F(RegistrationRun, FolderLinksThatLoopEndAndRegisterEachRomOnce) {
  gState.profile.depthChoice = 1;  // all levels
  for (const char* tree : {"registration_loop\\", "registration_selfloop\\"}) {
    std::string root = FixturePath(tree);
    CopyText(gState.profile.romFolder, sizeof gState.profile.romFolder, root.c_str());
    AddRoms();
    EXPECT_EQ(RegisteredPaths(), std::vector<std::string>{temp + "game.nes"}) << tree;
    size_t linesOfTree = 0;
    for (const std::string& line : Lines()) linesOfTree += line.compare(9, root.size(), root) == 0;
    EXPECT_EQ(linesOfTree, 1u) << tree;
  }
}

// Each ROM's line carries the CRC of its bytes after the header, and the launch
// of that CRC hands the host a path that opens that ROM: below a folder whose
// name ends in a lead byte with the trail byte "\\" (表 is 0x95 0x5C), and,
// through their short names, names code page 932 cannot carry, a folder it
// cannot carry and a path of five 60-character levels past 259 bytes.
TEST_F(RegistrationRun, RomsRegisterAndLaunchAsThemselvesWhateverTheirNames) {
  gState.profile.depthChoice = 1;
  std::wstring deep;
  for (wchar_t level = L'p'; level < L'u'; ++level) deep += std::wstring(60, level) + L"\\";
  const std::wstring rows[] = {L"\u8868\\k.nes",          L"Pok\u00E9mon.nes",       L"\uFF34\u301C\u6CE2.nes",
                               L"\u585E\u5C14\u8FBE.nes", L"\uD55C\uAD6D\uC5B4.nes", L"Caf\u00E9\\rom.nes",
                               deep + L"deep.nes"};
  const std::wstring wideRoms = LongPath(roms);
  std::vector<std::string> crcs;
  for (const std::wstring& row : rows) {
    for (size_t at = 0; (at = row.find(L'\\', at)) != std::wstring::npos; ++at) {
      CreateDirectoryW((wideRoms + row.substr(0, at)).c_str(), nullptr);
    }
    std::string rom = Rom(RandomBytes(40, static_cast<uint32_t>(crcs.size() + 10)));
    HANDLE file = CreateFileW((wideRoms + row).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, rom.data(), rom.size(), &written, nullptr)) << crcs.size();
    CloseHandle(file);
    crcs.push_back(CrcTextAfterHeader(rom, 16));
  }
  AddRoms();
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines.size(), std::size(rows));
  // A name the code page carries is kept as it is, joined below the root's own "\\".
  EXPECT_NE(std::find(lines.begin(), lines.end(), crcs[0] + " " + roms + "\\" + Cp932(u8"表") + "\\k.nes"),
            lines.end());
  gHost.launchResult = 3;
  for (const std::string& crc : crcs) {
    HostSelection selection = {0, crc.c_str()};
    gHost.launchCalls.clear();
    EXPECT_EQ(onPopupMenuClick(0, &selection), 3) << crc;
    ASSERT_EQ(gHost.launchCalls.size(), 1u) << crc;
    const std::string source = gHost.launchCalls[0].path;
    EXPECT_EQ(CrcTextAfterHeader(ReadBytes(source), 16), crc) << source;
    EXPECT_NE(std::find(lines.begin(), lines.end(), crc + " " + source), lines.end()) << source;
  }
  // What the fixture's clean-up cannot name in code page 932 goes here, deepest first.
  std::vector<std::wstring> folders;
  for (const std::wstring& row : rows) {
    DeleteFileW((wideRoms + row).c_str());
    for (size_t at = 0; (at = row.find(L'\\', at)) != std::wstring::npos; ++at) folders.push_back(row.substr(0, at));
  }
  std::sort(folders.begin(), folders.end(),
            [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
  for (const std::wstring& folder : folders) RemoveDirectoryW((wideRoms + folder).c_str());
}

// The run's index of contents grows past its first 512 files; a pair split
// across that growth is still found. The folder is listed in several blocks:
// none of its entries is lost or taken twice where one block ends.
TEST_F(RegistrationRun, SameContentsAreFoundAfterTheIndexOfContentsGrows) {
  for (int i = 0; i < 601; ++i) Write("r" + std::to_string(i) + ".nes", Rom(std::string(12, '-') + std::to_string(i)));
  const std::vector<std::string> order = SearchOrder(roms, false);
  Write(order.back(), ReadBytes(roms + order.front()));
  AddRoms();
  std::vector<std::string> registered, listed = order;
  for (const HostCall& call : gHost.registerCalls) registered.push_back(call.path.substr(call.path.rfind('\\') + 1));
  std::sort(registered.begin(), registered.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(registered, listed);
  EXPECT_EQ(LogLines(), std::vector<std::string>{u8"内容が同じです\t" + Utf8(roms) + order.back() + "\t" + Utf8(roms) +
                                                 order.front()});
}

TEST_F(RegistrationRun, FilesOfTheTempFolderItselfAreLeftAlone) {
  // The data folder as ROM folder reaches tempDir as "<data>\\temp\".
  CopyText(gState.profile.romFolder, sizeof gState.profile.romFolder, data.c_str());
  gState.profile.depthChoice = 2;
  ASSERT_TRUE(WriteBytes(temp + "keep.nes", "not ours to copy onto itself"));
  AddRoms();
  EXPECT_TRUE(gHost.registerCalls.empty());
  EXPECT_EQ(ReadBytes(temp + "keep.nes"), "not ours to copy onto itself");
  EXPECT_EQ(ReadBytes(data + "NES.rel"), "");
}

}  // namespace

namespace {

// Header warnings (an archive named by its own path) and files with the same
// contents follow what was passed over, in run order; the files are still
// registered as the header size says.
TEST_F(RegistrationRunWithArchiver, WarningsFollowThePassedOverInRunOrder) {
  gState.profile.headerSize = 64;
  std::string same = "LYNX" + RandomBytes(100, 2);
  Write("lynx.lnx", "LYNX" + RandomBytes(100, 1));
  Write("one.lnx", same);
  Write("two.lnx", same);
  Write("bare.lnx", RandomBytes(100, 3));
  Write("locked.lnx", "LYNX held by another program");
  // Nothing after the header: said once each, never as the same contents.
  Write("empty.lnx", "");
  Write("mark.lnx", "LYNX");
  HANDLE held = CreateFileA((roms + "locked.lnx").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  AddRoms();
  CloseHandle(held);
  std::vector<std::string> expected = {std::string(u8"読み込めません\t") + Utf8(roms) + "locked.lnx"};
  std::string firstOfPair;
  for (const std::string& name : SearchOrder(roms, false)) {
    std::string path = Utf8(roms) + name;
    if (name == "bare.lnx" || name == "game.zip" || name == "empty.lnx") {
      expected.push_back(u8"ヘッダが見つかりません\t" + path);
    }
    if (name == "empty.lnx" || name == "mark.lnx") expected.push_back(u8"ヘッダの後にデータがありません\t" + path);
    if (name != "one.lnx" && name != "two.lnx") continue;
    if (!firstOfPair.empty()) expected.push_back(u8"内容が同じです\t" + path + "\t" + firstOfPair);
    if (firstOfPair.empty()) firstOfPair = path;
  }
  EXPECT_EQ(LogLines(), expected);
  EXPECT_EQ(report,
            std::string(u8"登録できなかったファイルが 1 件あります。\n確認が必要なファイルが 6 件あります。\n一覧: ") +
                Utf8(data) + "NES.log");
  EXPECT_EQ(gHost.registerCalls.size(), 7u);
  EXPECT_EQ(Lines().size(), 7u) << "both files of the same contents keep their lines";
}

}  // namespace
