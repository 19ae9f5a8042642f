// Archive recognition by extension, and extraction through the archiver
// stand-in 7-zip32.dll: results, what was extracted and what the archiver was
// handed, and the refusals that keep the first entry inside the output folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "base/own_files.h"
#include "base/state.h"
#include "base/test_switches.h"
#include "base/text.h"
#include "support/archiver_switches.h"
#include "support/files.h"
#include "support/host_double.h"

namespace {

std::string Repeat(const char* piece, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += piece;
  return text;
}

TEST(ArchivePath, ExactExtensionOfTheLastComponentOnly) {
  struct Case {
    std::string path;
    bool expected;
  };
  const Case cases[] = {
      {"C:\\roms\\game.zip", true},
      {"C:\\roms\\game.7z", true},
      {"C:\\roms\\GAME.ZIP", true},
      {"C:\\roms\\GAME.7Z", true},
      {"game.tar.zip", true},
      {"C:/roms/game.zip", true},
      {".zip", true},
      {Cp932(u8"C:\\ロム\\表.zip"), true},
      {Repeat("x", 300) + ".7z", true},  // the path's length is not the extension's
      {"C:\\roms\\game.Zip", false},
      {"C:\\roms\\game.zIp", false},
      {"C:\\roms\\game.7z ", false},
      {"C:\\roms\\game.zip.bak", false},
      {"C:\\roms\\game.zipx", false},
      {"C:\\roms\\game.", false},
      {"C:\\roms\\game", false},
      {"C:\\roms.zip\\game", false},
      {"C:/roms.zip/game", false},
      {"C:\\roms\\game.zip\\", false},
      {"", false},
      {"game." + Repeat("z", 300), false},  // longer than the extension buffer
  };
  for (const Case& c : cases) EXPECT_EQ(IsArchivePath(c.path.c_str()), c.expected) << "\"" << c.path << "\"";
}

class Extraction : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(BindArchiverSwitches(&archiver)) << "7-zip32.dll or its test switches are missing";
    archiver.reset();
    parent = MakeScratchFolder("archive");
    ASSERT_FALSE(parent.empty());
    folder = parent + "out\\";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  }
  void TearDown() override {
    if (archiver.reset != nullptr) archiver.reset();
    RemoveTree(parent);
  }
  // "" when no command ran since the last reset.
  std::string LastCommand() {
    char command[1024] = "";
    EXPECT_EQ(archiver.lastCommand(command, sizeof command), 0);
    return command;
  }
  ArchiverSwitches archiver;
  std::string parent;
  std::string folder;
};

// Both go into a fresh folder of the caller's own and keep the first of
// same-named entries: registration names the first entry (or a pattern for
// it), a launch takes every entry in one pass. A failed command fails the
// extraction and leaves no part behind.
TEST_F(Extraction, FirstEntryLandsBelowTheFolderAsNamed) {
  static const char kPiece[] = "ROM IN A FOLDER\0\1\2\xff";  // as the fixture script writes it
  std::string romBytes;
  for (int i = 0; i < 40; ++i) romBytes += std::string(kPiece, sizeof kPiece - 1);
  struct Case {
    const char* archive;
    std::string entry;
    std::string content;
    const char* alsoExtracted;  // a later entry, or null
    bool extractionFails;       // the command fails and leaves every file as it was
    std::string pattern;        // what the first entry is named by, when not its name
    const char* matching;       // an entry the pattern also writes, or null
  };
  const Case cases[] = {
      {"access_dir_rom.zip", "dir\\rom.bin", romBytes, "other.bin", false, "", nullptr},
      {"access_dir_rom.7z", "dir\\rom.bin", romBytes, nullptr, false, "", nullptr},
      {"access_order.zip", "b.bin", "stored first", "a.bin", false, "", nullptr},  // stored order, not sorted
      {"access_cp932.zip", Cp932(u8"表\\rom.bin"), "hyou", "x.bin", false, "", nullptr},
      {"access_order.zip", "b.bin", "stale", nullptr, true, "", nullptr},
      {"access_same_case.zip", "a.nes", "first bytes", "b.bin", false, "", nullptr},
      {"access_same_twice.zip", "a.nes", "first bytes", "b.bin", false, "", nullptr},
      {"access_dash.zip", "-first.nes", "first bytes", "other.bin", false, "?first.nes", "xfirst.nes"},
  };
  HWND owner = GetDesktopWindow();
  int round = 0;
  for (ExtractScope scope : {kExtractFirstEntry, kExtractEveryEntry}) {
    for (const Case& c : cases) {
      bool every = scope == kExtractEveryEntry;
      SCOPED_TRACE(std::string(c.archive) + (every ? ", every entry" : ", first entry"));
      archiver.reset();
      archiver.failExtraction(c.extractionFails);
      std::string archive = FixturePath(c.archive);
      std::string folder = parent + "round" + std::to_string(++round) + "\\";
      CreateDirectoryA(folder.c_str(), nullptr);
      char firstEntryPath[kPathSize] = "previous";
      EXPECT_EQ(ExtractArchive(archive.c_str(), firstEntryPath, owner, folder.c_str(), scope),
                c.extractionFails ? kArchiveNotExtracted : kArchiveExtracted);
      EXPECT_EQ(std::string(firstEntryPath), c.extractionFails ? "" : folder + c.entry);
      EXPECT_EQ(ReadBytes(folder + c.entry), c.extractionFails ? "" : c.content);
      if (c.alsoExtracted != nullptr) {
        EXPECT_EQ(FileExists(folder + c.alsoExtracted), every);
      }
      if (c.matching != nullptr) {
        EXPECT_TRUE(FileExists(folder + c.matching));
      }
      size_t files = 0;
      for (const std::string& line : FolderTree(folder)) files += line.back() != '\\';
      size_t expected = c.extractionFails ? 0u : 1u + (c.matching != nullptr);
      if (every && c.alsoExtracted != nullptr) expected = 2u + (c.matching != nullptr);
      EXPECT_EQ(files, expected);
      EXPECT_EQ(archiver.openHandles(), 0);
      std::string name = "\"" + (c.pattern.empty() ? c.entry : c.pattern) + "\"";
      std::string command = LastCommand();
      EXPECT_EQ(command, "x \"" + archive + "\" -aos -hide \"" + folder + "\" " + (every ? "*.*" : name));
      EXPECT_EQ(CountArchiverCalls(archiver, "1"), 1);
      EXPECT_EQ(archiver.lastRunOwner(), owner);
      RemoveTree(folder);
    }
  }
}

TEST_F(Extraction, BusyLibraryLeavesTheCallersBufferUntouched) {
  for (const char* archive : {"access_dir_rom.zip", "rom.bin"}) {
    archiver.reset();
    archiver.setBusy(1);
    char firstEntryPath[kPathSize] = "previous";
    EXPECT_EQ(ExtractArchive(FixturePath(archive).c_str(), firstEntryPath, nullptr, folder.c_str(), kExtractFirstEntry),
              kArchiveBusy);
    EXPECT_STREQ(firstEntryPath, "previous") << archive;
    EXPECT_EQ(archiver.openHandles(), 0) << archive;
    EXPECT_EQ(LastCommand(), "") << archive;
  }
  EXPECT_TRUE(FolderEntries(folder).empty());
}

// Every opened handle is closed again, and the command never runs.
TEST_F(Extraction, FailuresBeforeTheCommandLeaveAnEmptyPathAndNothingExtracted) {
  struct Case {
    const char* what;
    std::string archive;
    void (*arrange)(const ArchiverSwitches&, const std::string& folder);
    const char* folderEnd = "\\";
  };
  auto none = [](const ArchiverSwitches&, const std::string&) {};
  const Case cases[] = {
      {"not an archive", FixturePath("rom.bin"), none},
      {"not an archive by case", FixturePath("access_dir_rom.Zip"), none},
      {"missing archive", FixturePath("missing.zip"), none},
      {"damaged archive", FixturePath("zip_truncated.zip"), none},
      {"open refused", FixturePath("access_dir_rom.zip"),
       [](const ArchiverSwitches& s, const std::string&) { s.failOpen(1); }},
      {"close fails", FixturePath("access_dir_rom.zip"),
       [](const ArchiverSwitches& s, const std::string&) { s.failNextClose(1); }},
      // Nothing to name: no path is made up.
      {"empty archive", FixturePath("access_empty.zip"), none},
      // Joined without the "\\", the folder and the entry's name would name a
      // user's file beside the folder.
      {"output folder without its final \\", FixturePath("access_dir_rom.zip"),
       [](const ArchiverSwitches&, const std::string& folder) {
         std::string beside = folder.substr(0, folder.size() - 1) + "dir";
         CreateDirectoryA(beside.c_str(), nullptr);
         WriteBytes(beside + "\\rom.bin", "the user's");
       },
       ""},
  };
  for (const Case& c : cases) {
    archiver.reset();
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    c.arrange(archiver, folder);
    std::vector<std::string> before = FolderTree(parent);
    char firstEntryPath[kPathSize] = "previous";
    std::string target = folder.substr(0, folder.size() - 1) + c.folderEnd;
    EXPECT_EQ(ExtractArchive(c.archive.c_str(), firstEntryPath, nullptr, target.c_str(), kExtractEveryEntry),
              kArchiveRefused)
        << c.what;
    EXPECT_STREQ(firstEntryPath, "") << c.what;
    EXPECT_EQ(archiver.openHandles(), 0) << c.what;
    EXPECT_EQ(LastCommand(), "") << c.what;
    EXPECT_EQ(FolderTree(parent), before) << c.what;
  }
}

TEST_F(Extraction, FirstEntryNamesLeavingTheFolderAreRefusedBeforeExtracting) {
  const char* archives[] = {"access_unsafe_parent.zip", "access_unsafe_nested.zip", "access_unsafe_backslash.zip",
                            "access_unsafe_root.zip",   "access_unsafe_drive.zip",  "access_unsafe_drive_relative.zip",
                            "access_unsafe_device.zip"};
  for (const char* archive : archives) {
    archiver.reset();
    char firstEntryPath[kPathSize] = "previous";
    EXPECT_EQ(ExtractArchive(FixturePath(archive).c_str(), firstEntryPath, nullptr, folder.c_str(), kExtractFirstEntry),
              kArchiveRefused)
        << archive;
    EXPECT_STREQ(firstEntryPath, "") << archive;
    // The name was read and the archive closed; the command never ran.
    EXPECT_EQ(archiver.openHandles(), 0) << archive;
    EXPECT_EQ(LastCommand(), "") << archive;
    EXPECT_TRUE(FolderEntries(folder).empty()) << archive;
    EXPECT_FALSE(FileExists(parent + "evil.bin")) << archive;
    EXPECT_FALSE(FileExists("C:\\evil.bin")) << archive;
  }
}

// The command holds its 22 characters and an archive path and output folder of
// up to 259 bytes each; the first entry's path is the folder and the name and
// must fit 260 bytes with its NUL, or the call is refused before anything is
// extracted. The command naming the entry fits wherever the entry's path does.
TEST_F(Extraction, CommandAndEntryPathMustFitTheirBuffers) {
  const std::string dirRom = FixturePath("access_dir_rom.zip");
  const std::string longName = FixturePath("access_long_name.zip");
  const size_t longNameLength = 146 + 4;
  const std::string longestArchive = WriteAtPathOfLength(259, parent, ".zip", ReadBytes(dirRom));
  ASSERT_EQ(longestArchive.size(), 259u);
  struct Case {
    const char* what;
    std::string archive;
    size_t folderLength;
    ArchiveResult expected;
  };
  const Case cases[] = {
      {"archive path of 259, folder of 248", longestArchive, 259 - strlen("dir\\rom.bin"), kArchiveExtracted},
      {"entry path of 259", longName, 259 - longNameLength, kArchiveExtracted},
      {"entry path of 260", longName, 260 - longNameLength, kArchiveRefused},
  };
  for (const Case& c : cases) {
    archiver.reset();
    ASSERT_GT(c.folderLength, folder.size() + 1) << c.what;
    std::string target = folder + std::string(c.folderLength - folder.size() - 1, 'f') + "\\";
    ASSERT_EQ(target.size(), c.folderLength);
    CreateDirectoryA(target.c_str(), nullptr);
    char buffer[kPathSize];
    EXPECT_EQ(ExtractArchive(c.archive.c_str(), buffer, nullptr, target.c_str(), kExtractFirstEntry), c.expected)
        << c.what;
    if (c.expected == kArchiveExtracted) {
      std::string entry = c.archive == longName ? std::string(146, 'n') + ".bin" : "dir\\rom.bin";
      EXPECT_EQ(std::string(buffer), target + entry) << c.what;
      EXPECT_TRUE(FileExists(buffer)) << c.what;
      EXPECT_EQ(LastCommand(), "x \"" + c.archive + "\" -aos -hide \"" + target + "\" \"" + entry + "\"") << c.what;
    } else {
      EXPECT_STREQ(buffer, "") << c.what;
      EXPECT_EQ(LastCommand(), "") << c.what;
      EXPECT_TRUE(FolderEntries(target).empty()) << c.what;
    }
    RemoveTree(target);
  }
}

}  // namespace
