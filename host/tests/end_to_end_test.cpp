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
    // Header 16, the ROM folder, all subfolder levels, no extraction on launch.
    std::string settings(532, '\0');
    settings[0] = 16;
    settings.replace(4, roms.size() - 1, roms, 0, roms.size() - 1);  // as the settings dialog keeps it, no final "\"
    settings[264] = 1;
    ASSERT_TRUE(WriteBytes(data + "NES.fol", settings));
    ASSERT_TRUE(WriteBytes(data + "emulators.ini", Format("[NES]\r\ncommand=\"%sFakeEmulator.exe\" --log \"%s\" \"%%1\"\r\n",
                                                            BinFolder().c_str(), (folder + "emulator.log").c_str())));
  }
  void TearDown() override { RemoveTree(folder); }

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
    std::string command = Format("\"%sCorvaneHost.exe\" --register --data \"%s\" --dataset NES %s",
                                 BinFolder().c_str(), data.substr(0, data.size() - 1).c_str(), options.c_str());
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

// Killed in the middle of a run, inside the host's call for the archive's
// copy: the relation file of the run before stays as it was, and the next run
// takes back everything the killed one left in temp\.
TEST_F(EndToEnd, AKilledRunLeavesTheEarlierRelationFileAndTheNextRunCleansTemp) {
  AddRom("alpha.nes", 3);
  AddRom("sub\\gamma.nes", 4);
  ASSERT_EQ(RunHost(), 0u);
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

  ASSERT_EQ(RunHost(), 0u);
  EXPECT_EQ(Sorted(SplitLines(Relation())), Sorted(expected));
  // No file at any depth. The folder the killed extraction made (dir\) is not
  // yet taken back: the plug-in keeps no record of it through a kill. Once it
  // does, this compares the whole tree with the empty one.
  std::vector<std::string> files;
  for (const std::string& entry : FolderTree(data + "temp\\")) {
    if (entry.back() != '\\') files.push_back(entry);
  }
  EXPECT_EQ(files, std::vector<std::string>{});
}

// The run whose relation file another program holds through its end belongs
// here too, beside the kill, once the plug-in keeps such a run's lines aside.
