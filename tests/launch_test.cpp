// The popup action as the host calls it: CRC text → relation file → the host's
// launch service, with extraction at launch.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <cstring>
#include <string>
#include <vector>

#include "base/state.h"
#include "launch/extract_at_launch.h"
#include "resources/resource.h"
#include "support/bind.h"
#include "support/archiver_switches.h"
#include "support/host_double.h"
#include "support/settings_steps.h"

namespace {

class Launch : public ::testing::Test {
 protected:
  void SetUp() override {
    data = MakeScratchFolder("launch");
    ASSERT_FALSE(data.empty());
    gState.profile = DatasetProfile();
    ASSERT_EQ(StartLinkedPlugin(data), 0);
    roms = data + "roms\\";
    out = data + "out\\";
    ASSERT_TRUE(CreateDirectoryA(roms.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(out.c_str(), nullptr));
    for (const char* name : {"a.nes", "b.nes", "c.nes"}) ASSERT_TRUE(WriteBytes(roms + name, name));
    HostOpen();
    HostAddCombo("NES", 150);
    HostReset();
    gHost.launchResult = 0;
  }
  void TearDown() override {
    HostClose();
    RemoveTree(data);
  }

  // The relation file as registration writes it: CRC text, blank, path, CR LF.
  void WriteRelation(const std::vector<std::string>& lines, const char* lineBreak = "\r\n") {
    std::string text;
    for (const std::string& line : lines) text += line + lineBreak;
    ASSERT_TRUE(WriteBytes(data + "NES.rel", text));
  }
  void WriteProfile(int32_t extractOnLaunch) {
    ASSERT_TRUE(WriteBytes(data + "NES.fol", ProfileFileBytes(16, roms, 0, extractOnLaunch, out)));
  }
  int Popup(const char* crcText) {
    HostSelection selection = {0, crcText};
    return onPopupMenuClick(7, &selection);
  }
  // The one path the host was asked to launch since the last check ("" when
  // none, "<n calls>" when more than one).
  std::string Launched() {
    std::string path = gHost.launchCalls.size() == 1 ? gHost.launchCalls[0].path
                       : gHost.launchCalls.empty()   ? ""
                                                     : "<" + std::to_string(gHost.launchCalls.size()) + " calls>";
    HostReset();
    return path;
  }

  std::string data, roms, out;
};

TEST_F(Launch, FirstMatchingLineIsLaunchedAndTheHostResultPassedBack) {
  WriteRelation({"0000000A " + roms + "a.nes", "DEADBEEF " + roms + "b.nes", "DEADBEEF " + roms + "c.nes",
                 // The ninth character is not looked at.
                 "CAFEBABE\t" + roms + "c.nes"});
  gHost.launchResult = 1234;
  EXPECT_EQ(Popup("DEADBEEF"), 1234);
  EXPECT_EQ(Launched(), roms + "b.nes");
  gHost.launchResult = -9;
  EXPECT_EQ(Popup("0000000A"), -9);
  EXPECT_EQ(Launched(), roms + "a.nes");
  EXPECT_EQ(Popup("CAFEBABE"), -9);
  EXPECT_EQ(Launched(), roms + "c.nes");
  // Case matters, and the whole CRC text must match.
  for (const char* crc : {"deadbeef", "DEADBEEF0", "DEADBEE", "DEADBEEF ", ""}) {
    EXPECT_EQ(Popup(crc), 0) << crc;
    EXPECT_EQ(Launched(), "") << crc;
  }
}

TEST_F(Launch, NothingIsLaunchedWithoutARelationFileOrASourceOnDisk) {
  gHost.launchResult = 77;
  EXPECT_EQ(Popup("DEADBEEF"), 0);
  EXPECT_EQ(Launched(), "");
  WriteRelation({"DEADBEEF " + roms + "gone.nes", "12345678 " + roms});
  EXPECT_EQ(Popup("DEADBEEF"), 0);
  EXPECT_EQ(Launched(), "");
  // A folder counts as present, as it does for registration's own paths.
  EXPECT_EQ(Popup("12345678"), 77);
  EXPECT_EQ(Launched(), roms);
  // The relation file of another dataset is not consulted.
  HostClose();
  HostOpen();
  HostAddCombo("SNES", 150);
  EXPECT_EQ(Popup("12345678"), 0);
  EXPECT_EQ(Launched(), "");
}

// A run's finished list that another program kept from its place is the
// newest: the launch puts it in place, or reads it where it waits while the
// relation file is still held.
TEST_F(Launch, PendingListIsPutInPlaceFirstOrReadWhileTheRelationFileIsHeld) {
  const std::string relation = data + "NES.rel";
  const std::string newest = "DEADBEEF " + roms + "a.nes\r\n";
  struct Case {
    const char* earlier;  // nullptr: no relation file yet
    DWORD heldSharing;    // another program's open through the launch shares this; 0: none
    const char* waiting;  // the newest lines: pending, or left unmerged by a window's end
  } cases[] = {{nullptr, 0, ".pending"},
               {"DEADBEEF b.nes\r\n", 0, ".pending"},
               {"DEADBEEF b.nes\r\n", FILE_SHARE_READ | FILE_SHARE_WRITE, ".pending"},
               {"DEADBEEF b.nes\r\n", FILE_SHARE_WRITE | FILE_SHARE_DELETE, ".unmerged"},
               {"DEADBEEF b.nes\r\n", 0, ".unmerged"}};
  for (const Case& test : cases) {
    bool held = test.heldSharing != 0;
    SCOPED_TRACE(std::string(test.earlier ? "earlier file" : "no earlier file") + (held ? ", held" : "") +
                 test.waiting);
    const std::string pending = relation + test.waiting;
    DeleteFileA(relation.c_str());
    if (test.earlier != nullptr) {
      ASSERT_TRUE(WriteBytes(relation, test.earlier));
    }
    ASSERT_TRUE(WriteBytes(pending, newest));
    HANDLE holder =
        held ? CreateFileA(relation.c_str(), GENERIC_READ, test.heldSharing, nullptr, OPEN_EXISTING, 0, nullptr)
             : INVALID_HANDLE_VALUE;
    gHost.launchResult = 5;
    EXPECT_EQ(Popup("DEADBEEF"), 5);
    EXPECT_EQ(Launched(), roms + "a.nes");
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
    EXPECT_EQ(ReadBytes(held ? pending : relation),
              held ? newest : newest + (std::string(test.waiting) == ".unmerged" ? test.earlier : ""));
    EXPECT_EQ(FileExists(pending), held);
    DeleteFileA(pending.c_str());
  }
  // The pending list held without sharing: the relation file, whole if older, answers.
  ASSERT_TRUE(WriteBytes(relation, "DEADBEEF " + roms + "b.nes\r\n"));
  ASSERT_TRUE(WriteBytes(relation + ".pending", newest));
  HANDLE holder = CreateFileA((relation + ".pending").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Popup("DEADBEEF"), 5);
  EXPECT_EQ(Launched(), roms + "b.nes");
  CloseHandle(holder);
}

TEST_F(Launch, SearchEndsAtALineShorterThanACrcTextOrAtAMatchWithoutPath) {
  gHost.launchResult = 5;
  WriteRelation({"AAAAAAAA " + roms + "a.nes", "", "BBBBBBBB " + roms + "b.nes"});
  EXPECT_EQ(Popup("AAAAAAAA"), 5);
  EXPECT_EQ(Launched(), roms + "a.nes");
  EXPECT_EQ(Popup("BBBBBBBB"), 0);
  EXPECT_EQ(Launched(), "");
  // Six characters and the newline: shorter than a CRC text.
  WriteRelation({"123456", "BBBBBBBB " + roms + "b.nes"});
  EXPECT_EQ(Popup("BBBBBBBB"), 0);
  EXPECT_EQ(Launched(), "");
  // Seven and the newline are not: the search goes on.
  WriteRelation({"1234567", "BBBBBBBB " + roms + "b.nes"});
  EXPECT_EQ(Popup("BBBBBBBB"), 5);
  EXPECT_EQ(Launched(), roms + "b.nes");
  // Matching lines with no path: the first decides, and the host is not asked.
  for (const char* line : {"CCCCCCCC", "CCCCCCCC "}) {
    WriteRelation({line, "CCCCCCCC " + roms + "c.nes"});
    EXPECT_EQ(Popup("CCCCCCCC"), 0) << line;
    EXPECT_EQ(Launched(), "") << line;
  }
}

TEST_F(Launch, LongestRegisteredLineIsReadWholeAndLongerLinesArePassedOver) {
  std::string longest = WriteAtPathOfLength(259, data, ".nes", "long");
  ASSERT_EQ(longest.size(), 259u);
  gHost.launchResult = 3;
  // A line that ends inside a path buffer's worth of text would lose the path's end.
  WriteRelation({"0BADF00D " + longest, "FEEDFACE " + roms + "a.nes"});
  EXPECT_EQ(Popup("0BADF00D"), 3);
  EXPECT_EQ(Launched(), longest);

  // Longer than registration can write (hand-edited): neither its start nor
  // its tail counts as a line (the tail here begins just where a line of the
  // longest written length would end), and the search goes on behind it.
  std::string overlong = "0BADF00D " + std::string(260, 'x') + "FEEDFACE " + roms + "b.nes";
  WriteRelation({overlong, "0BADF00D " + roms + "c.nes", "FEEDFACE " + roms + "a.nes"});
  EXPECT_EQ(Popup("0BADF00D"), 3);
  EXPECT_EQ(Launched(), roms + "c.nes");
  EXPECT_EQ(Popup("FEEDFACE"), 3);
  EXPECT_EQ(Launched(), roms + "a.nes");
  // A tail shorter than a CRC text does not end the search either.
  WriteRelation({"99999999 " + std::string(260, 'x') + "zz", "0BADF00D " + roms + "b.nes"});
  EXPECT_EQ(Popup("0BADF00D"), 3);
  EXPECT_EQ(Launched(), roms + "b.nes");
}

TEST_F(Launch, LastLineWithoutLineBreakKeepsItsLastCharacter) {
  gHost.launchResult = 1;
  WriteRelation({"AAAAAAAA " + roms + "a.nes\r\nBBBBBBBB " + roms + "b.nes"}, "");
  EXPECT_EQ(Popup("BBBBBBBB"), 1);
  EXPECT_EQ(Launched(), roms + "b.nes");
  EXPECT_EQ(Popup("AAAAAAAA"), 1);
  EXPECT_EQ(Launched(), roms + "a.nes");
}

TEST_F(Launch, ArchivesAreExtractedOnlyWhenAskedAndOnlyByTheirExactExtension) {
  const std::string fixture = ReadBytes(FixturePath("access_dir_rom.zip"));
  ASSERT_FALSE(fixture.empty());
  ASSERT_TRUE(WriteBytes(roms + "GAME.ZIP", fixture));
  ASSERT_TRUE(WriteBytes(roms + "game.Zip", fixture));
  WriteRelation({"11111111 " + roms + "GAME.ZIP", "22222222 " + roms + "game.Zip"});
  gHost.launchResult = 42;

  // Off: the archive itself goes to the host.
  WriteProfile(0);
  EXPECT_EQ(Popup("11111111"), 42);
  EXPECT_EQ(Launched(), roms + "GAME.ZIP");
  EXPECT_FALSE(FileExists(out + "dir\\rom.bin"));

  // On: the first entry, extracted into the extraction folder.
  WriteProfile(1);
  EXPECT_EQ(Popup("11111111"), 42);
  ASSERT_EQ(gHost.launchCalls.size(), 1u);
  const HostCall& call = gHost.launchCalls[0];
  EXPECT_EQ(call.path, out + "dir\\rom.bin");
  EXPECT_TRUE(call.existed);
  std::string rom;
  for (int i = 0; i < 40; ++i) rom += std::string("ROM IN A FOLDER\x00\x01\x02\xff", 19);
  EXPECT_EQ(call.content, rom);
  HostReset();

  // ".Zip" is no archive extension: passed on as it stands.
  RemoveTree(out + "dir\\");
  EXPECT_EQ(Popup("22222222"), 42);
  EXPECT_EQ(Launched(), roms + "game.Zip");
  EXPECT_FALSE(FileExists(out + "dir\\rom.bin"));
}

// A stale file where the first entry lands never passes for it.
TEST_F(Launch, FailedExtractionAsksTheHostNothing) {
  ArchiverSwitches archiver;
  ASSERT_TRUE(BindArchiverSwitches(&archiver));
  gHost.launchResult = 42;
  // Stored entries whose first one has a damaged byte: the archive opens and
  // names its entry, but the extraction drops the entry on its CRC check.
  std::string damaged = ReadBytes(FixturePath("access_order.zip"));
  size_t at = damaged.find("stored first");
  ASSERT_NE(at, std::string::npos);
  damaged[at] = 'S';
  ASSERT_TRUE(WriteBytes(roms + "damaged.zip", damaged));
  ASSERT_TRUE(WriteBytes(roms + "empty.zip", ReadBytes(FixturePath("access_empty.zip"))));
  ASSERT_TRUE(WriteBytes(roms + "game.zip", ReadBytes(FixturePath("access_dir_rom.zip"))));
  WriteRelation(
      {"33333333 " + roms + "damaged.zip", "44444444 " + roms + "empty.zip", "55555555 " + roms + "game.zip"});
  auto none = [](const ArchiverSwitches&) {};
  auto failing = [](const ArchiverSwitches& s) { s.failExtraction(1); };
  struct Case {
    const char* crc;
    const std::string& folder;  // the extraction folder; the data directory is staged
    const char* inTheWay;       // "" none, else a stale file, or a folder when it ends in "\"
    void (*arrange)(const ArchiverSwitches&);
    int expected;
  };
  const Case cases[] = {
      {"33333333", out, "", none, -1},
      {"44444444", out, "", none, -1},
      {"55555555", out, "", [](const ArchiverSwitches& s) { s.setBusy(1); }, -2},
      {"55555555", out, "dir\\rom.bin", failing, -1},
      {"55555555", out, "dir\\rom.bin\\", none, -1},
      {"55555555", data, "dir\\rom.bin\\", none, -1},
  };
  for (const Case& c : cases) {
    std::string what = c.folder + c.inTheWay + " for " + c.crc;
    archiver.reset();
    RemoveTree(c.folder + "dir");
    ASSERT_TRUE(WriteBytes(data + "NES.fol", ProfileFileBytes(16, roms, 0, 1, c.folder)));
    CreateDirectoryA((c.folder + "dir").c_str(), nullptr);
    std::string inTheWay = c.folder + c.inTheWay;
    // "" names the extraction folder itself, which is there already.
    if (inTheWay.back() == '\\') CreateDirectoryA(inTheWay.c_str(), nullptr);
    if (inTheWay.back() != '\\') WriteBytes(inTheWay, "stale");
    c.arrange(archiver);
    EXPECT_EQ(Popup(c.crc), c.expected) << what;
    archiver.reset();
    EXPECT_EQ(Launched(), "") << what;
    // Nothing extracted; a file that stood in the way is as it was.
    EXPECT_FALSE(FileExists(c.folder + "b.bin")) << what;
    EXPECT_EQ(ReadBytes(c.folder + "dir\\rom.bin"), std::string(c.inTheWay) == "dir\\rom.bin" ? "stale" : "") << what;
  }
  RemoveTree(data + "dir");
}

class LaunchIntoFolders : public Launch {
 protected:
  void SetUp() override {
    Launch::SetUp();
    for (const char* name :
         {"launch_hostile.zip", "launch_hostile_upper.zip", "launch_hostile_nested.zip", "launch_hostile_folder.zip",
          "launch_hostile_log.zip", "launch_hostile_parent.zip", "launch_benign.zip"}) {
      std::string bytes = ReadBytes(FixturePath(name));
      ASSERT_FALSE(bytes.empty()) << name;
      ASSERT_TRUE(WriteBytes(roms + name, bytes));
    }
    WriteRelation({"11111111 " + roms + "launch_hostile.zip", "22222222 " + roms + "launch_hostile_upper.zip",
                   "33333333 " + roms + "launch_hostile_nested.zip", "44444444 " + roms + "launch_benign.zip",
                   "66666666 " + roms + "launch_hostile_folder.zip", "77777777 " + roms + "launch_hostile_log.zip",
                   "88888888 " + roms + "launch_hostile_parent.zip"});
    // Someone else's file and folder in temp stay as they are.
    ASSERT_TRUE(WriteBytes(data + "temp\\someone.txt", "not ours"));
    ASSERT_TRUE(CreateDirectoryA((data + "temp\\theirs").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(data + "temp\\theirs\\game.nes", "theirs"));
    gHost.launchResult = 9;
  }
  void UseExtractFolder(const std::string& folder) {
    ASSERT_TRUE(WriteBytes(data + "NES.fol", ProfileFileBytes(16, roms, 0, 1, folder)));
  }
  const std::string rom = std::string("NES\x1aROM BODY FOR THE LAUNCH TESTS");
};

// The data directory itself, or one named "data" below the extraction folder,
// which an entry reaches through that name.
TEST_F(LaunchIntoFolders, EntriesNeverReplaceThePluginsOwnFilesUnderAnySpellingOfTheDataDirectory) {
  ASSERT_TRUE(WriteBytes(data + "Setting.ini", std::string(520, 's')));
  std::string zData = ZDriveSpelling(data);
  ASSERT_EQ(zData.substr(0, 2), "Z:");
  const std::string inner = data + "data\\";
  ASSERT_TRUE(CreateDirectoryA(inner.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(inner + "NES.rel", ReadBytes(data + "NES.rel")));
  const std::vector<const char*> hostile = {"11111111", "22222222", "33333333", "66666666", "77777777"};
  struct Case {
    const std::string& dataDir;
    std::string extractFolder;
    std::vector<const char*> crcs;
  };
  const Case cases[] = {{data, data, hostile},
                        {data, zData, hostile},
                        {data, data + "temp\\..\\", hostile},
                        {inner, data, {"88888888"}},
                        {inner, zData, {"88888888"}}};
  for (const Case& c : cases) {
    ASSERT_EQ(StartLinkedPlugin(c.dataDir), 0);
    ASSERT_TRUE(WriteBytes(c.dataDir + "NES.fol", ProfileFileBytes(16, roms, 0, 1, c.extractFolder)));
    std::vector<std::string> before = FolderTree(data);
    for (const char* crc : c.crcs) {
      EXPECT_EQ(Popup(crc), -1) << crc << " into " << c.extractFolder;
      EXPECT_EQ(Launched(), "") << crc;
      // Nothing moved (not even the ROM), and temp is as it was.
      EXPECT_EQ(FolderTree(data), before) << crc << " into " << c.extractFolder;
    }
  }
  ASSERT_EQ(StartLinkedPlugin(data), 0);
  // The start-up value, with no profile file at all, is the data directory too.
  DeleteFileA((data + "NES.fol").c_str());
  gState.profile.extractOnLaunch = 1;
  CopyText(gState.profile.extractFolder, kPathSize, gState.dataDir);
  std::vector<std::string> before = FolderTree(data);
  EXPECT_EQ(Popup("11111111"), -1);
  EXPECT_EQ(FolderTree(data), before);
}

TEST_F(LaunchIntoFolders, AllEntriesLandInTheExtractionFolderAndTempKeepsOnlyWhatItHad) {
  std::vector<std::string> temp = FolderTree(data + "temp\\");
  // Into the data directory (through a private folder in temp), replacing
  // what is there; and into an ordinary folder.
  ASSERT_TRUE(WriteBytes(data + "game.cue", "stale"));
  for (const std::string& folder : {data, out}) {
    UseExtractFolder(folder);
    EXPECT_EQ(Popup("44444444"), 9) << folder;
    ASSERT_EQ(gHost.launchCalls.size(), 1u) << folder;
    EXPECT_EQ(gHost.launchCalls[0].path, folder + "game.nes");
    EXPECT_EQ(gHost.launchCalls[0].content, rom);
    HostReset();
    EXPECT_EQ(ReadBytes(folder + "game.cue"), "FILE \"game.nes\" BINARY\n") << folder;
    EXPECT_EQ(ReadBytes(folder + "bios\\bios.bin"), "BIOS BYTES") << folder;
    EXPECT_EQ(FolderTree(data + "temp\\"), temp) << folder;
  }
}

TEST_F(LaunchIntoFolders, ArchiveWithA230BytePathIsExtracted) {
  std::string archive = WriteAtPathOfLength(230, data, ".zip", ReadBytes(FixturePath("launch_benign.zip")));
  ASSERT_EQ(archive.size(), 230u);
  WriteRelation({"55555555 " + archive});
  UseExtractFolder(out);
  EXPECT_EQ(Popup("55555555"), 9);
  EXPECT_EQ(Launched(), out + "game.nes");
  EXPECT_EQ(ReadBytes(out + "game.nes"), rom);
}

// A volume of its own, mounted by tests/fixtures/volume.sh; "" with the reason
// in *why when there is none.
std::string VolumeFolder(std::string* why) {
  std::string mount = ReadBytes(FixturePath("volume_path.txt"));
  if (mount.empty()) {
    *why = ReadBytes(FixturePath("volume_unavailable.txt"));
    if (why->empty()) *why = "the fixtures made no volume";
    return "";
  }
  while (!mount.empty() && mount.back() == '\n') mount.pop_back();
  std::string folder = "Z:";
  for (char c : mount) folder += c == '/' ? '\\' : c;
  return folder + "\\";
}

TEST_F(LaunchIntoFolders, ExtractionFolderOnAnotherVolume) {
  std::string why;
  std::string volume = VolumeFolder(&why);
  if (volume.empty()) GTEST_SKIP() << "no volume of its own: " << why;

  // An ordinary extraction folder there.
  std::string extract = volume + "extract" + std::to_string(GetCurrentProcessId()) + "\\";
  ASSERT_TRUE(CreateDirectoryA(extract.c_str(), nullptr));
  UseExtractFolder(extract);
  EXPECT_EQ(Popup("44444444"), 9);
  EXPECT_EQ(Launched(), extract + "game.nes");
  EXPECT_EQ(ReadBytes(extract + "bios\\bios.bin"), "BIOS BYTES");
  RemoveTree(extract);

  // A data directory there whose temp folder lies on the build's disk: every
  // file extracted into the data directory crosses from one volume to the other.
  std::string volumeData = volume + "data\\";
  ASSERT_EQ(StartLinkedPlugin(volumeData), 0);
  ASSERT_TRUE(FolderExists(gState.tempDir));
  std::vector<std::string> temp = FolderTree(volumeData + "temp\\");
  ASSERT_TRUE(WriteBytes(volumeData + "NES.rel", "44444444 " + roms + "launch_benign.zip\r\n"));
  ASSERT_TRUE(WriteBytes(volumeData + "NES.fol", ProfileFileBytes(16, roms, 0, 1, volumeData)));
  EXPECT_EQ(Popup("44444444"), 9);
  EXPECT_EQ(Launched(), volumeData + "game.nes");
  EXPECT_EQ(ReadBytes(volumeData + "game.nes"), rom);
  EXPECT_EQ(ReadBytes(volumeData + "bios\\bios.bin"), "BIOS BYTES");
  EXPECT_EQ(FolderTree(volumeData + "temp\\"), temp);
  for (const char* name : {"NES.rel", "NES.fol", "Extracted.dat", "game.nes", "game.cue", "bios\\bios.bin"}) {
    DeleteFileA((volumeData + name).c_str());
  }
  RemoveDirectoryA((volumeData + "bios").c_str());
}

// Between two launches of one archive: what changed, and whether the second
// extracts again. Either way it launches the archive's first entry as it now
// is, and a file of the user's beside the extracted ones stays as it is.
TEST_F(LaunchIntoFolders, OnlyAChangedArchiveOrExtractedFileIsExtractedAgain) {
  ArchiverSwitches archiver;
  ASSERT_TRUE(BindArchiverSwitches(&archiver));
  const std::string archive = roms + "launch_benign.zip";
  // Not there yet: made as the archiver makes its output folder.
  const std::string other = data + "other\\new\\";
  const std::string dirRom = ReadBytes(FixturePath("access_dir_rom.zip"));
  ASSERT_TRUE(WriteBytes(out + "game.sav", "save"));
  UseExtractFolder(out);
  std::string folder = out;
  struct Case {
    const char* change;
    std::function<void()> make;
    bool extracted;
    const char* launched;  // below the extraction folder
  };
  const Case cases[] = {
      {"first launch", [] {}, true, "game.nes"},
      {"nothing", [] {}, false, "game.nes"},
      {"an extracted file deleted", [&] { DeleteFileA((out + "bios\\bios.bin").c_str()); }, true, "game.nes"},
      {"an extracted file rewritten", [&] { WriteBytes(out + "game.cue", "FILE \"x.nes\" BINARY\n"); }, true,
       "game.nes"},
      {"the launched file rewritten as it was", [&] { WriteBytes(out + "game.nes", rom); }, true, "game.nes"},
      {"nothing", [] {}, false, "game.nes"},
      {"the archive replaced", [&] { WriteBytes(archive, dirRom); }, true, "dir\\rom.bin"},
      {"nothing", [] {}, false, "dir\\rom.bin"},
      {"another extraction folder", [&] { UseExtractFolder(folder = other); }, true, "dir\\rom.bin"},
      {"the record's file deleted", [&] { DeleteFileA((data + "Extracted.dat").c_str()); }, true, "dir\\rom.bin"},
      {"nothing", [] {}, false, "dir\\rom.bin"},
  };
  for (const Case& c : cases) {
    c.make();
    archiver.reset();
    EXPECT_EQ(Popup("44444444"), 9) << c.change;
    EXPECT_EQ(CountArchiverCalls(archiver, "1") > 0, c.extracted) << c.change;
    ASSERT_EQ(gHost.launchCalls.size(), 1u) << c.change;
    EXPECT_EQ(gHost.launchCalls[0].path, folder + c.launched) << c.change;
    EXPECT_EQ(gHost.launchCalls[0].content, ReadBytes(folder + c.launched)) << c.change;
    EXPECT_FALSE(gHost.launchCalls[0].content.empty()) << c.change;
    HostReset();
    if (std::string(c.launched) == "game.nes") {
      EXPECT_EQ(ReadBytes(out + "game.cue"), "FILE \"game.nes\" BINARY\n") << c.change;
      EXPECT_EQ(ReadBytes(out + "bios\\bios.bin"), "BIOS BYTES") << c.change;
    }
    EXPECT_EQ(ReadBytes(out + "game.sav"), "save") << c.change;
  }
}

// What the record says is reused only when it holds now: an archive replaced
// by another of the same size and time, or whose extraction another archive
// replaced file for file with the same stamps (as an archiver restoring entry
// times leaves them), or a record whose first file is not the archive's first
// entry, is extracted again, and the launch starts the first entry's bytes.
TEST_F(LaunchIntoFolders, ExtractionIsReusedOnlyWhenProvablyTheSame) {
  ArchiverSwitches archiver;
  ASSERT_TRUE(BindArchiverSwitches(&archiver));
  const std::string twinA = ReadBytes(FixturePath("launch_twin_a.zip"));
  const std::string twinB = ReadBytes(FixturePath("launch_twin_b.zip"));
  ASSERT_EQ(twinA.size(), twinB.size());
  const std::string romA = "NES\x1a" + std::string(60, 'A'), romB = "NES\x1a" + std::string(60, 'B');
  const std::string a = roms + "a.zip", b = roms + "b.zip", record = data + "Extracted.dat";
  ASSERT_TRUE(WriteBytes(a, twinA) && WriteBytes(b, twinB));
  WriteRelation({"AAAAAAAA " + a, "BBBBBBBB " + b});
  UseExtractFolder(out);
  FILETIME launchedTime = {};
  auto stamp = [](const std::string& path, FILETIME* time, bool set) {
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    set ? SetFileTime(file, nullptr, nullptr, time) : GetFileTime(file, nullptr, nullptr, time);
    CloseHandle(file);
  };
  // The record's two files swapped whole, with the first entry's name: well
  // formed, every file as recorded, only the first entry a lie.
  auto firstFileMadeTheNote = [&] {
    std::string bytes = ReadBytes(record);
    size_t name = bytes.find("game.nes"), game = bytes.find("game.nes", name + 1), note = bytes.find("note.txt");
    ASSERT_TRUE(name != std::string::npos && game != std::string::npos && note != std::string::npos);
    const size_t block = 2 + 8 + 8 + 16;  // length, name, index, stamp
    std::string first = bytes.substr(game - 2, block), second = bytes.substr(note - 2, block);
    bytes.replace(note - 2, block, first).replace(game - 2, block, second).replace(name, 8, "note.txt");
    ASSERT_TRUE(WriteBytes(record, bytes));
  };
  struct Case {
    const char* change;
    std::function<void()> make;
    const char* crc;
    bool extracted;
    const std::string& launched;
  };
  const Case cases[] = {
      {"first launch of a", [] {}, "AAAAAAAA", true, romA},
      {"nothing", [] {}, "AAAAAAAA", false, romA},
      {"a replaced by b's bytes, its size and time kept",
       [&] {
         FILETIME time;
         stamp(a, &time, false);
         WriteBytes(a, twinB);
         stamp(a, &time, true);
       },
       "AAAAAAAA", true, romB},
      {"nothing", [] {}, "AAAAAAAA", false, romB},
      {"the record's first file made the note", firstFileMadeTheNote, "AAAAAAAA", true, romB},
      {"a back as it was", [&] { WriteBytes(a, twinA); }, "AAAAAAAA", true, romA},
      {"b into the same folder", [&] { stamp(out + "game.nes", &launchedTime, false); }, "BBBBBBBB", true, romB},
      {"a again, b's file stamped as a's was", [&] { stamp(out + "game.nes", &launchedTime, true); }, "AAAAAAAA", true,
       romA},
      // Read and saved beside another program's hold, never waiting on it.
      {"a replaced, the record held", [&] { HoldFileFor(record, INFINITE) && WriteBytes(a, twinB); }, "AAAAAAAA", true,
       romB},
      {"nothing, the record still held", [] {}, "AAAAAAAA", false, romB},
      {"the record let go", [] { ReleaseFileHolds(); }, "AAAAAAAA", false, romB},
      {"nothing", [] {}, "AAAAAAAA", false, romB},
  };
  for (const Case& c : cases) {
    c.make();
    archiver.reset();
    EXPECT_EQ(Popup(c.crc), 9) << c.change;
    EXPECT_EQ(CountArchiverCalls(archiver, "1") > 0, c.extracted) << c.change;
    ASSERT_EQ(gHost.launchCalls.size(), 1u) << c.change;
    EXPECT_EQ(gHost.launchCalls[0].path, out + "game.nes") << c.change;
    EXPECT_EQ(gHost.launchCalls[0].content, c.launched) << c.change;
    HostReset();
  }
  EXPECT_FALSE(FileExists(data + "Extracted.dat.pending"));
}

// The record keeps the last sixteen extractions, each into its own folder
// here: launching others in between leaves an archive's own in place.
TEST_F(LaunchIntoFolders, RecordKeepsTheLastSixteenExtractions) {
  ArchiverSwitches archiver;
  ASSERT_TRUE(BindArchiverSwitches(&archiver));
  std::vector<std::string> lines;
  for (int i = 0; i < 17; ++i) {
    std::string archive = roms + "g" + std::to_string(i) + ".zip";
    ASSERT_TRUE(WriteBytes(archive, ReadBytes(roms + "launch_benign.zip")));
    lines.push_back("AAAAAA" + std::to_string(10 + i) + " " + archive);
  }
  WriteRelation(lines);
  auto extracts = [&](int i) {
    std::string folder = out + std::to_string(i) + "\\";
    UseExtractFolder(folder);
    archiver.reset();
    EXPECT_EQ(Popup(("AAAAAA" + std::to_string(10 + i)).c_str()), 9) << i;
    EXPECT_EQ(Launched(), folder + "game.nes") << i;
    return CountArchiverCalls(archiver, "1") > 0;
  };
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(extracts(i)) << i;
  for (int i = 15; i >= 0; --i) EXPECT_FALSE(extracts(i)) << i;
  // A seventeenth takes the place of the first.
  EXPECT_TRUE(extracts(16));
  EXPECT_TRUE(extracts(0));
  EXPECT_FALSE(extracts(16));
  EXPECT_FALSE(extracts(2));
}

// A record that cannot be read whole, or that says something else than what is
// on disk, is passed over: the launch extracts, and the record it writes
// serves the next launch.
TEST_F(LaunchIntoFolders, DamagedExtractionRecordIsPassedOver) {
  ArchiverSwitches archiver;
  ASSERT_TRUE(BindArchiverSwitches(&archiver));
  UseExtractFolder(out);
  const std::string recordPath = data + "Extracted.dat";
  EXPECT_EQ(Popup("44444444"), 9);
  EXPECT_EQ(Launched(), out + "game.nes");
  const std::string sound = ReadBytes(recordPath);
  ASSERT_GT(sound.size(), 100u);
  std::vector<std::string> damaged = {"", sound + '\0', sound + sound.substr(12), std::string(sound.size(), '\xff')};
  for (size_t cut = 1; cut < sound.size(); cut += 23) damaged.push_back(sound.substr(0, cut));
  uint32_t seed = 29;
  for (int i = 0; i < 24; ++i) {
    std::string bytes = sound;
    // An odd mask changes a letter, never only its case.
    bytes[NextRandom(&seed) % bytes.size()] ^= static_cast<char>(NextRandom(&seed) | 1);
    damaged.push_back(bytes);
  }
  for (size_t i = 0; i < damaged.size(); ++i) {
    ASSERT_TRUE(WriteBytes(recordPath, damaged[i]));
    archiver.reset();
    EXPECT_EQ(Popup("44444444"), 9) << i;
    EXPECT_EQ(Launched(), out + "game.nes") << i;
    EXPECT_GT(CountArchiverCalls(archiver, "1"), 0) << i;
    archiver.reset();
    EXPECT_EQ(Popup("44444444"), 9) << i;
    EXPECT_EQ(Launched(), out + "game.nes") << i;
    EXPECT_EQ(CountArchiverCalls(archiver, "1"), 0) << i;
  }
}

// What another thread sees of the host while the archiver works on a launch.
struct ExtractionWatch {
  HANDLE reached = nullptr;
  HANDLE resume = nullptr;
  DWORD uiThread = 0;
  HWND window = nullptr;
  bool hostDisabled = false, hostAnswered = false, centred = false;
  std::string text, name;
} watch;
int reentered = -100;

void CALLBACK PopupAgain(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  HostSelection selection = {0, "44444444"};
  reentered = onPopupMenuClick(0, &selection);
}

BOOL CALLBACK FindProgressWindow(HWND window, LPARAM) {
  if (!IsWindowVisible(window) || GetDlgItem(window, IDC_EXTRACT_TEXT) == nullptr) return TRUE;
  watch.window = window;
  return FALSE;
}

std::string DialogText(HWND window, int id) {
  char text[MAX_PATH] = "";
  GetDlgItemTextA(window, id, text, sizeof text);
  return text;
}

DWORD WINAPI WatchExtraction(void*) {
  // Bounded: the archiver waits at most 10 s for the resume, and so does this.
  if (WaitForSingleObject(watch.reached, 10000) == WAIT_OBJECT_0) {
    for (int i = 0; i < 1000 && watch.window == nullptr; ++i) {
      EnumThreadWindows(watch.uiThread, FindProgressWindow, 0);
      if (watch.window == nullptr) Sleep(10);
    }
  }
  if (watch.window != nullptr) {
    watch.hostDisabled = !IsWindowEnabled(gHost.window);
    DWORD_PTR ignored = 0;
    watch.hostAnswered = SendMessageTimeoutA(gHost.window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored) != 0;
    watch.text = DialogText(watch.window, IDC_EXTRACT_TEXT);
    watch.name = DialogText(watch.window, IDC_EXTRACT_NAME);
    RECT work = {}, frame = {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(watch.window, &frame);
    watch.centred = abs((frame.left + frame.right) - (work.left + work.right)) <= 2 &&
                    abs((frame.top + frame.bottom) - (work.top + work.bottom)) <= 2;
  }
  SetEvent(watch.resume);
  return 0;
}

// The archiver is held at its first call until the window has shown; a host
// timer meanwhile calls the popup again.
TEST_F(LaunchIntoFolders, HostAnswersAndIsNotReenteredWhileTheArchiverWorks) {
  ArchiverSwitches archiver;
  ASSERT_TRUE(BindArchiverSwitches(&archiver));
  void(__stdcall * pauseNext)(HANDLE, HANDLE) = nullptr;
  ASSERT_TRUE(Bind(GetModuleHandleA("7-zip32.dll"), "ArcTestPauseNextOperation", &pauseNext));
  UseExtractFolder(out);
  watch = ExtractionWatch();
  watch.reached = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  watch.resume = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  watch.uiThread = GetCurrentThreadId();
  pauseNext(watch.reached, watch.resume);
  HANDLE watcher = CreateThread(nullptr, 0, WatchExtraction, nullptr, 0, nullptr);
  ASSERT_NE(watcher, nullptr);
  reentered = -100;
  SetTimer(nullptr, 0, 1, PopupAgain);
  EXPECT_EQ(Popup("44444444"), 9);
  WaitForSingleObject(watcher, INFINITE);
  for (HANDLE handle : {watcher, watch.reached, watch.resume}) CloseHandle(handle);
  EXPECT_EQ(Launched(), out + "game.nes");
  EXPECT_EQ(reentered, 0);
  ASSERT_NE(watch.window, nullptr);
  EXPECT_EQ(watch.text, Cp932(u8"展開しています…"));
  EXPECT_EQ(watch.name, "launch_benign.zip");
  EXPECT_TRUE(watch.hostDisabled && watch.hostAnswered && watch.centred);
  EXPECT_FALSE(IsWindow(watch.window));
  EXPECT_TRUE(IsWindowEnabled(gHost.window));
  EXPECT_EQ(archiver.lastRunOwner(), nullptr);
}

// What runs inside the launch's wait, from a host timer.
std::function<void()> gDuringWait;

void CALLBACK RunDuringWait(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  if (gDuringWait) gDuringWait();
}

// Every launch either starts its archive's first entry or says why in a box,
// and leaves the user's files whole and no private folder behind; the host's
// calls while it waits change nothing of it, and closing or unloading the
// plug-in then abandons it safely.
TEST_F(LaunchIntoFolders, EachLaunchStartsItsEntryOrSaysWhyAndLeavesTheUsersFilesWhole) {
  ArchiverSwitches archiver;
  ASSERT_TRUE(BindArchiverSwitches(&archiver));
  void(__stdcall * pauseNext)(HANDLE, HANDLE) = nullptr;
  ASSERT_TRUE(Bind(GetModuleHandleA("7-zip32.dll"), "ArcTestPauseNextOperation", &pauseNext));
  std::string why;
  const std::string volume = VolumeFolder(&why);
  ASSERT_TRUE(WriteBytes(roms + "big.zip", ReadBytes(FixturePath("launch_big.zip"))));
  const std::string bigRom(12582912, 'R'), users(6u << 20, 'U');
  const std::string full = volume + "full" + std::to_string(GetCurrentProcessId()) + "\\";
  const std::string deep = data + std::string(190 - data.size() - 1, 'd') + "\\";
  // A relation line through the 8.3 name of a ROM, with zlib's CRC of its bytes
  // past the header (Wine gives no short names below Z:\dev).
  const std::string shortFolder = MakeTempFolder("launch short");
  const std::string rom = shortFolder + "a rom with a long name.nes";
  ASSERT_TRUE(WriteBytes(rom, "NES\x1a" + std::string(12, '\0') + "the registered bytes"));
  char shortName[MAX_PATH] = "", shortCrc[9] = "";
  GetShortPathNameA(rom.c_str(), shortName, sizeof shortName);
  const std::string shortRom = shortName;
  snprintf(shortCrc, sizeof shortCrc, "%08X",
           static_cast<unsigned>(crc32(0, reinterpret_cast<const Bytef*>("the registered bytes"), 20)));
  auto lines = [&](const std::string& folder) {
    ASSERT_TRUE(WriteBytes(folder + "NES.rel", "44444444 " + roms + "launch_benign.zip\r\nBBBBBBBB " + roms +
                                                   "big.zip\r\n" + shortCrc + " " + shortRom + "\r\n"));
  };
  lines(data);
  auto emptyOut = [&] {
    RemoveTree(out);
    ASSERT_TRUE(CreateDirectoryA(out.c_str(), nullptr));
    UseExtractFolder(out);
  };
  int initResult = 0;
  LoadedPlugin shipped;
  enum Needs { kNothing, kVolume, kShortName };
  struct Case {
    const char* what;
    Needs needs;
    std::function<void()> arrange;
    const char* crc;
    std::function<void()> duringWait;  // the archiver waits until this call of the host's is made
    int expected;
    std::string launched;  // "" none
    std::string box;       // "" none
    std::function<void()> check;
  };
  const Case cases[] = {
      {"a user's file on another volume without room for the entry", kVolume,
       [&] {
         ASSERT_TRUE(CreateDirectoryA(full.c_str(), nullptr));
         ASSERT_TRUE(WriteBytes(full + "big.nes", users));
         UseExtractFolder(full);
       },
       "BBBBBBBB", nullptr, -1, "", Cp932(u8"展開先の空きが足りません\n") + full,
       [&] {
         EXPECT_TRUE(ReadBytes(full + "big.nes") == users);
         EXPECT_EQ(FolderEntries(full), std::vector<std::string>{"big.nes"});
       }},
      {"the data folder on a disk without room for the entry", kVolume,
       [&] {
         ASSERT_EQ(StartLinkedPlugin(volume + "data\\"), 0);
         lines(volume + "data\\");
         ASSERT_TRUE(WriteBytes(volume + "data\\NES.fol", ProfileFileBytes(16, roms, 0, 1, out)));
       },
       "BBBBBBBB", nullptr, 9, out + "big.nes", "",
       [&] {
         EXPECT_TRUE(ReadBytes(out + "big.nes") == bigRom);
         for (const char* name : {"NES.rel", "NES.fol", "Extracted.dat"})
           DeleteFileA((volume + "data\\" + name).c_str());
       }},
      {"a 190-byte data folder", kNothing,
       [&] {
         ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
         ASSERT_EQ(StartLinkedPlugin(deep), 0);
         lines(deep);
         ASSERT_TRUE(WriteBytes(deep + "NES.fol", ProfileFileBytes(16, roms, 0, 1, out)));
       },
       "44444444", nullptr, 9, out + "game.nes", "", nullptr},
      {"initPlugin during the wait", kNothing,
       [&] {
         ASSERT_EQ(StartLinkedPlugin(data), 0);
         emptyOut();
       },
       "44444444", [&] { initResult = initPlugin(0, HostLaunch, 0, HostRegister, 0, deep.c_str()); }, 9,
       out + "game.nes", "",
       [&] {
         EXPECT_EQ(initResult, -1);
         EXPECT_EQ(std::string(gState.dataDir), data);
       }},
      {"closePlugin during the wait", kNothing, emptyOut, "44444444", [&] { closePlugin(); }, 0, "", "",
       [&] {
         for (int i = 0; i < 1000 && LaunchWorkersRunning() > 0; ++i) Sleep(10);
         EXPECT_EQ(LaunchWorkersRunning(), 0);
         EXPECT_EQ(FolderEntries(out), std::vector<std::string>{});
       }},
      {"FreeLibrary right after closePlugin, the worker running", kNothing,
       [&] {
         emptyOut();
         ASSERT_TRUE(LoadPlugin(&shipped));
         ASSERT_EQ(shipped.initPlugin(0, HostLaunch, 0, HostRegister, 0, data.c_str()), 0);
       },
       "44444444", [&] { shipped.closePlugin(); }, 0, "", "",
       [&] {
         UnloadPlugin(&shipped);
         for (int i = 0; i < 1000 && GetModuleHandleA("Corvane.dll") != nullptr; ++i) Sleep(10);
         EXPECT_EQ(GetModuleHandleA("Corvane.dll"), nullptr);
         EXPECT_EQ(FolderEntries(out), std::vector<std::string>{});
       }},
      {"a line through a short name, the file as registered", kShortName, [&] { WriteProfile(0); }, shortCrc, nullptr,
       9, shortRom, "", nullptr},
      {"a line through a short name, the file changed since", kShortName,
       [&] { WriteBytes(rom, "NES\x1a" + std::string(12, '\0') + "the changed bytes!!!"); }, shortCrc, nullptr, -1, "",
       Cp932(u8"ファイルが登録後に変更されています\n") + shortRom, nullptr},
      {"the file to replace held by the emulator", kNothing,
       [&] {
         UseExtractFolder(out);
         ASSERT_TRUE(WriteBytes(out + "game.nes", "the emulator's"));
         ASSERT_TRUE(HoldFileFor(out + "game.nes", INFINITE));
       },
       "44444444", nullptr, -1, "", Cp932(u8"ファイルが他のプログラムに使用されています\n") + out + "game.nes",
       [&] {
         ReleaseFileHolds();
         EXPECT_EQ(ReadBytes(out + "game.nes"), "the emulator's");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Wine makes short names only where asked; a volume needs root.
    if ((c.needs == kVolume && volume.empty()) || (c.needs == kShortName && (shortRom.empty() || shortRom == rom))) {
      continue;
    }
    c.arrange();
    archiver.reset();
    HANDLE reached = CreateEventA(nullptr, TRUE, FALSE, nullptr), resume = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (c.duringWait) pauseNext(reached, resume);
    bool disabledAtOnce = false;
    gDuringWait = [&] {
      disabledAtOnce = !IsWindowEnabled(gHost.window);
      if (c.duringWait) c.duringWait();
      // The host's call made while the worker waits: the launch may go on.
      if (c.expected != 0) SetEvent(resume);
    };
    if (c.duringWait) SetTimer(nullptr, 0, 1, RunDuringWait);
    std::string box;
    DriveDialogs({[&](HWND active) {
      box = MessageBoxText(active);
      if (!box.empty()) PressButton(active, IDOK);
      return !box.empty();
    }});
    HostSelection selection = {0, c.crc};
    int result = shipped.module != nullptr ? shipped.onPopupMenuClick(0, &selection) : Popup(c.crc);
    StopDriving();
    SetEvent(resume);
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(gHost.launchCalls.size(), c.launched.empty() ? 0u : 1u);
    if (!c.launched.empty() && gHost.launchCalls.size() == 1) {
      EXPECT_EQ(gHost.launchCalls[0].path, c.launched);
    }
    HostReset();
    EXPECT_EQ(box, c.box);
    // The timer came long before the small window's delay.
    EXPECT_EQ(disabledAtOnce, c.duringWait != nullptr);
    if (c.check) c.check();
    gDuringWait = nullptr;
    CloseHandle(reached);
    CloseHandle(resume);
    EXPECT_TRUE(IsWindowEnabled(gHost.window));
  }
  RemoveTree(full);
  RemoveTree(shortFolder);
}

}  // namespace
