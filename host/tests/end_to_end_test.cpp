// End to end: CorvaneHost.exe with the shipped Corvane.dll, started as a user
// starts it, judged only by what it leaves: the relation file, the host's
// catalogue, the emulator's log, the plug-in's temp folder and its exit code.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

#include "host/host.h"

namespace {

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = MakeTempFolder("e2e");
    roms = folder + "roms\\";
    data = folder + "data\\";
    ASSERT_TRUE(CreateDirectoryA(roms.c_str(), nullptr) && CreateDirectoryA((roms + "sub").c_str(), nullptr) &&
                CreateDirectoryA(data.c_str(), nullptr));
    ASSERT_TRUE(WriteSettings(roms));
    ASSERT_TRUE(
        WriteBytes(data + "emulators.ini", Format("[NES]\r\ncommand=\"%sFakeEmulator.exe\" --log \"%s\" \"%%1\"\r\n",
                                                  BinFolder().c_str(), (folder + "emulator.log").c_str())));
  }
  void TearDown() override { RemoveTree(folder); }

  // Header 16, the ROM folder, all subfolder levels, no extraction on launch.
  bool WriteSettings(const std::string& romFolder) {
    std::string settings(532, '\0');
    settings[0] = 16;
    settings.replace(4, romFolder.size() - 1, romFolder, 0,
                     romFolder.size() - 1);  // as the settings dialog keeps it, no final "\"
    settings[264] = 1;
    return WriteBytes(data + "NES.fol", settings);
  }

  // A file of the collection; its relation line is zlib's CRC of the bytes past the 16-byte header.
  void Add(const std::string& name, const std::string& bytes, const std::string& rom) {
    ASSERT_TRUE(WriteBytes(roms + name, bytes));
    expected.push_back(CrcText(static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(rom.data()) + 16,
                                                           static_cast<uInt>(rom.size() - 16)))) +
                       " " + roms + name);
  }
  void AddRom(const std::string& name, uint32_t seed) {
    std::string rom = "NES\x1a" + std::string(12, '\0') + RandomBytes(24576, seed);
    Add(name, rom, rom);
  }
  // A zip whose first entry, dir\rom.bin, is extracted into a folder of its own below temp\.
  void AddZip() {
    Add("sub\\packed.zip", ReadBytes(FixturePath("archiver\\zip_dir_first.zip")),
        ReadBytes(FixturePath("archiver\\expected\\zip_dir_first.zip\\dir\\rom.bin")));
  }

  // Starts CorvaneHost.exe --register with the data folder (without its final
  // "\", which would escape the quotation mark) and more options.
  HANDLE StartHost(const std::string& options) {
    std::string command = Format("\"%sCorvaneHost.exe\" --register --data \"%s\" --dataset NES %s", BinFolder().c_str(),
                                 data.substr(0, data.size() - 1).c_str(), options.c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
  }
  DWORD RunHost(const std::string& options = "") {
    HANDLE process = StartHost(options);
    DWORD code = 99;
    if (process == nullptr) return code;
    WaitForSingleObject(process, INFINITE);
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
  }
  std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
  }
  std::string Relation() { return ReadBytes(data + "NES.rel"); }
  // The CRCs of every expected line, as --launch takes them.
  std::string AllCrcs() {
    std::string crcs;
    for (const std::string& line : expected) crcs += (crcs.empty() ? "" : ",") + line.substr(0, 8);
    return crcs;
  }
  // The paths the emulator was started with, each as often as it was.
  std::vector<std::string> LaunchedPaths() {
    std::vector<std::string> paths;
    for (const std::string& line : SplitLines(ReadBytes(folder + "emulator.log"))) {
      size_t tab = line.find('\t', line.find('\t') + 1);
      if (line.compare(0, 3, "OK\t") == 0 && tab != std::string::npos) paths.push_back(line.substr(tab + 1));
    }
    return Sorted(paths);
  }
  std::vector<std::string> ExpectedPaths(int times) {
    std::vector<std::string> paths;
    for (int i = 0; i < times; ++i) {
      for (const std::string& line : expected) paths.push_back(line.substr(9));
    }
    return Sorted(paths);
  }

  std::string folder, roms, data;
  std::vector<std::string> expected;  // "CRC path", the relation file's lines
};

}  // namespace

TEST_F(EndToEnd, RegistersACollectionAndLaunchesOneOfItsRoms) {
  AddRom("alpha.nes", 1);
  AddRom("sub\\beta rom.nes", 2);
  AddZip();
  std::string beta = expected[1];
  ASSERT_EQ(RunHost("--launch " + beta.substr(0, 8)), 0u);
  EXPECT_EQ(Sorted(SplitLines(Relation())), Sorted(expected));
  // The host's own CRC of each copy it was handed.
  std::vector<CatalogueEntry> catalogue;
  ASSERT_TRUE(LoadCatalogueFile(data + "catalogue.txt", &catalogue));
  std::vector<std::string> crcs, expectedCrcs;
  for (const CatalogueEntry& entry : catalogue) crcs.push_back(entry.crcText);
  for (const std::string& line : expected) expectedCrcs.push_back(line.substr(0, 8));
  EXPECT_EQ(Sorted(crcs), Sorted(expectedCrcs));
  EXPECT_EQ(SplitLines(ReadBytes(folder + "emulator.log")),
            std::vector<std::string>{Format("OK\t%lld\t%s", FileSizeOf(beta.substr(9)), beta.substr(9).c_str())});
  EXPECT_EQ(FolderTree(data + "temp\\"), std::vector<std::string>{});
}

// Killed in the middle of a run: inside the host's call for the archive's
// copy, then at random moments. The relation file of the run before stays
// as it was, and the next runs take back everything the killed ones left in
// temp\, at every depth.
TEST_F(EndToEnd, KilledRunsLeaveTheEarlierRelationFileAndTheNextRunsEmptyTemp) {
  AddRom("alpha.nes", 3);
  AddRom("sub\\gamma.nes", 4);
  DWORD started = GetTickCount();
  ASSERT_EQ(RunHost(), 0u);
  DWORD runMs = GetTickCount() - started;
  std::string earlier = Relation();
  ASSERT_EQ(Sorted(SplitLines(earlier)), Sorted(expected));
  AddRom("delta.nes", 5);
  AddZip();

  std::string eventName = Format("CorvaneEndToEnd%lu", GetCurrentProcessId());
  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
  HANDLE process = StartHost("--hold-at rom.bin " + eventName);
  ASSERT_TRUE(held != nullptr && process != nullptr);
  HANDLE both[] = {held, process};
  DWORD woken = WaitForMultipleObjects(2, both, FALSE, INFINITE);
  TerminateProcess(process, 9);
  WaitForSingleObject(process, INFINITE);
  CloseHandle(process);
  CloseHandle(held);
  ASSERT_EQ(woken, WAIT_OBJECT_0) << "the host ended before the archive's copy reached it";
  EXPECT_EQ(Relation(), earlier);
  EXPECT_NE(FolderTree(data + "temp\\"), std::vector<std::string>{});

  // Eleven more kills anywhere in a run's life, each leaving what it left.
  uint32_t seed = GetTickCount();
  SCOPED_TRACE(Format("kill seed %u", seed));
  for (int kill = 0; kill < 11; ++kill) {
    seed = seed * 1103515245u + 12345u;
    process = StartHost("");
    ASSERT_TRUE(process != nullptr);
    WaitForSingleObject(process, (seed >> 8) % (runMs + 1));
    TerminateProcess(process, 9);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
    std::string relation = Relation();
    EXPECT_TRUE(relation == earlier || Sorted(SplitLines(relation)) == Sorted(expected)) << "after kill " << kill;
  }

  ASSERT_EQ(RunHost(), 0u);
  ASSERT_EQ(RunHost(), 0u);
  EXPECT_EQ(Sorted(SplitLines(Relation())), Sorted(expected));
  EXPECT_EQ(FolderTree(data + "temp\\"), std::vector<std::string>{});
}

// What another program does to NES.rel while it looks at it: holds it open
// without delete sharing until released or ms have passed.
struct RelationHold {
  HANDLE file;
  DWORD ms;
  static DWORD WINAPI Release(void* parameter) {
    auto* hold = static_cast<RelationHold*>(parameter);
    Sleep(hold->ms);
    CloseHandle(hold->file);
    return 0;
  }
};

// NES.rel held from the run's last file for 1.5 s or for good: no line is
// lost. Every ROM of the run launches (from the pending file while it is
// held), and the next action puts the pending file in place.
TEST_F(EndToEnd, AHeldRelationFileLosesNoLineAndTheNextActionPutsItInPlace) {
  for (DWORD holdMs : std::vector<DWORD>{1500, INFINITE}) {
    SCOPED_TRACE(holdMs == INFINITE ? "held for good" : "held 1.5 s");
    if (holdMs == INFINITE) {
      TearDown();
      expected.clear();
      SetUp();
    }
    AddRom("alpha.nes", 6);
    ASSERT_EQ(RunHost(), 0u);
    const std::string earlier = Relation();
    AddRom("beta.nes", 7);
    AddZip();
    ASSERT_TRUE(CreateDirectoryA((roms + "sub\\deep").c_str(), nullptr));
    AddRom("sub\\deep\\omega.nes", 8);  // the last folder's only file: the run's last

    std::string eventName = Format("CorvaneEndToEndHold%lu", GetCurrentProcessId());
    HANDLE paused = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    HANDLE process = StartHost("--pause-at omega.nes " + eventName + " --launch " + AllCrcs());
    ASSERT_TRUE(paused != nullptr && process != nullptr);
    HANDLE both[] = {paused, process};
    ASSERT_EQ(WaitForMultipleObjects(2, both, FALSE, INFINITE), WAIT_OBJECT_0)
        << "the last copy never reached the host";
    RelationHold hold = {CreateFileA((data + "NES.rel").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr),
                         holdMs};
    ASSERT_NE(hold.file, INVALID_HANDLE_VALUE);
    HANDLE releaser = holdMs != INFINITE ? CreateThread(nullptr, 0, RelationHold::Release, &hold, 0, nullptr) : nullptr;
    ResetEvent(paused);
    WaitForSingleObject(process, INFINITE);
    DWORD code = 99;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    CloseHandle(paused);
    EXPECT_EQ(code, 0u) << "the run ended and every ROM launched";
    if (holdMs == INFINITE) {
      EXPECT_EQ(Relation(), earlier) << "held, the relation file cannot have changed";
      EXPECT_EQ(Sorted(SplitLines(ReadBytes(data + "NES.rel.pending"))), Sorted(expected));
      CloseHandle(hold.file);
    } else {
      WaitForSingleObject(releaser, INFINITE);
      CloseHandle(releaser);
    }
    EXPECT_EQ(LaunchedPaths(), ExpectedPaths(1));

    // The next action, a run of an empty folder, puts the pending file in place
    // and merges it: its lines are the ones every ROM launches from.
    ASSERT_TRUE(CreateDirectoryA((folder + "none\\").c_str(), nullptr) && WriteSettings(folder + "none\\"));
    EXPECT_EQ(RunHost("--launch " + AllCrcs()), 0u);
    EXPECT_EQ(Sorted(SplitLines(Relation())), Sorted(expected));
    EXPECT_FALSE(FileSizeOf(data + "NES.rel.pending") >= 0) << "no pending file is left";
    EXPECT_EQ(LaunchedPaths(), ExpectedPaths(2));
  }
}
