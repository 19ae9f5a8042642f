// Which folders a registration run visits, and how their paths are joined.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/file_identity.h"
#include "base/test_switches.h"
#include "registration/folders.h"
#include "registration/run_report.h"
#include "support/host_double.h"

namespace {

bool MakeDir(const std::string& path) { return CreateDirectoryW(LongPath(path).c_str(), nullptr) != 0; }

class FolderCollection : public ::testing::Test {
 protected:
  void SetUp() override {
    root = MakeScratchFolder("folders");
    ASSERT_FALSE(root.empty());
  }
  void TearDown() override {
    ReleaseFolderWalk(&walk);
    ReleaseRunReport(&report);
    RemoveTree(root);
  }
  // The walk and the count as a run goes through them, slice after slice.
  bool BuildFolderList(const char* romFolder, int32_t depthChoice) {
    if (!BeginFolderWalk(&walk, romFolder, depthChoice, &report)) return false;
    while (!StepFolderWalk(&walk, 16, &report)) {
    }
    return true;
  }
  std::vector<std::string> Entries() {
    std::vector<std::string> entries;
    for (int32_t i = 0; i < walk.count; ++i) entries.push_back(walk.entries[i]);
    return entries;
  }
  void MakeTree(const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) ASSERT_TRUE(MakeDir(root + folder)) << folder;
  }
  std::string root;  // ends with "\", as the settings dialog stores a ROM folder
  FolderWalk walk = {};
  RunReport report = {};
  // The lines the run's log would hold of what the walk passed over, as UTF-8.
  std::string SkippedLines() { return Utf8(std::string(report.skippedLines.bytes, report.skippedLines.used)); }
};

TEST_F(FolderCollection, DepthChoiceBoundsThePreOrderWalk) {
  MakeTree({"a", "a\\c", "a\\c\\d", "b"});
  ASSERT_TRUE(WriteBytes(root + "a\\file.bin", "not a folder"));
  // Below a root ending in "\" its own subfolders are joined with a second one.
  const std::string a = root + "\\a\\", c = a + "c\\", d = c + "d\\", b = root + "\\b\\";
  bool aFirst = FolderEntries(root, kFoldersOnly).front() == "a";
  struct Case {
    int32_t depthChoice;
    std::vector<std::string> aBranch;  // what the walk collects of a's subtree
    bool withB;
  };
  const Case cases[] = {
      {0, {}, false},         // no walk at all
      {-1, {}, false},        // no choice selected
      {2, {a}, true},         // the root's own subfolders
      {3, {a, c}, true},      // two levels
      {1, {a, c, d}, true},   // every level
      {11, {a, c, d}, true},  // ten levels
  };
  for (const Case& test : cases) {
    std::vector<std::string> expected = {root};
    std::vector<std::string> bBranch;
    if (test.withB) bBranch.push_back(b);
    const std::vector<std::string>& first = aFirst ? test.aBranch : bBranch;
    const std::vector<std::string>& second = aFirst ? bBranch : test.aBranch;
    expected.insert(expected.end(), first.begin(), first.end());
    expected.insert(expected.end(), second.begin(), second.end());
    ASSERT_TRUE(BuildFolderList(root.c_str(), test.depthChoice));
    EXPECT_EQ(Entries(), expected) << "depth choice " << test.depthChoice;
  }
}

// A profile file may hold any depth choice; none walks deeper than "all" does.
TEST_F(FolderCollection, DepthChoiceOutsideTheSettingsIsBoundedOnADeepChain) {
  ASSERT_LE(root.size() + 2 * 105 + 4, 259u);
  std::string chain;
  for (int level = 0; level < 105; ++level) {
    chain += "a\\";
    ASSERT_TRUE(MakeDir(root + chain));
  }
  const struct {
    int32_t depthChoice;
    size_t levels;
  } cases[] = {{200, 100}, {-3, 0}, {12, 11}, {INT32_MIN, 0}, {INT32_MAX, 100}};
  for (const auto& test : cases) {
    ASSERT_TRUE(BuildFolderList(root.c_str(), test.depthChoice));
    EXPECT_EQ(Entries().size(), 1 + test.levels) << test.depthChoice;
  }
  for (size_t length = chain.size(); length > 0; length -= 2)
    RemoveDirectoryA((root + chain.substr(0, length)).c_str());
}

TEST_F(FolderCollection, RootWithoutBackslashJoinsWithASingleOne) {
  MakeTree({"a", "a\\c"});
  std::string bare = root.substr(0, root.size() - 1);
  ASSERT_TRUE(BuildFolderList(bare.c_str(), 1));
  EXPECT_EQ(Entries(), (std::vector<std::string>{root, root + "a\\", root + "a\\c\\"}));
}

TEST_F(FolderCollection, NamesSortingBelowDotDotAreSkippedWithTheirSubtrees) {
  const std::string kanji = Cp932(u8"表");  // 0x95 0x5C: a lead byte above any ASCII one
  MakeTree({"(x)", "(x)\\inner", "!y", "-z", "-z\\inner", " space", ".-dash", ".dot", "_under", kanji,
            kanji + "\\inner", "ok", "ok\\(nested)", "ok\\nested"});
  std::set<std::string> kept = {".dot", "_under", kanji, "ok"};
  std::vector<std::string> expected = {root};
  for (const std::string& name : FolderEntries(root, kFoldersOnly)) {
    if (!kept.count(name)) continue;
    expected.push_back(root + "\\" + name + "\\");
    if (name == kanji) expected.push_back(root + "\\" + kanji + "\\inner\\");
    if (name == "ok") expected.push_back(root + "\\ok\\nested\\");
  }
  ASSERT_TRUE(BuildFolderList(root.c_str(), 1));
  EXPECT_EQ(Entries(), expected);
}

TEST_F(FolderCollection, PathsTooLongToListEvenInShortFormAreRefusedNotCut) {
  // A collected folder must be listable: its path, "\" and "*.*" within 259
  // bytes, with the folders below the root spelt by their short names where
  // the long ones do not fit.
  size_t joined = root.size() + 1;  // the root and the doubled backslash
  ASSERT_LT(joined, 200u);
  std::string fits(255 - joined, 'f');     // folder path of 255 bytes: its "c" goes by the short form
  std::string tooLong(256 - joined, 'g');  // 256 bytes: itself by its short name
  std::string chain;                       // names without a shorter form, past 259 bytes
  while (joined + chain.size() < 260) chain += "DDDDDDDD\\";
  MakeTree({fits, fits + "\\c", tooLong, tooLong + "\\c", "b"});
  for (size_t at = 0; (at = chain.find('\\', at)) != std::string::npos; ++at) MakeDir(root + chain.substr(0, at));
  auto shortName = [&](const std::string& name) {
    WIN32_FIND_DATAA found;
    FindClose(FindFirstFileA((root + name).c_str(), &found));
    return std::string(found.cAlternateFileName);
  };
  // Each refused path is named in the report, in the order the walk met it.
  std::vector<std::string> expected = {root};
  std::string skipped;
  for (const std::string& name : FolderEntries(root, kFoldersOnly)) {
    std::string path = root + "\\" + (name == tooLong ? shortName(name) : name) + "\\";
    expected.push_back(path);
    if (name == fits) expected.push_back(root + "\\" + shortName(name) + "\\c\\");
    if (name == tooLong) expected.push_back(path + "c\\");
    for (size_t at = 9; name + "\\" == chain.substr(0, 9) && at < chain.size(); at += 9) {
      path = root + "\\" + chain.substr(0, at + 8);
      if (path.size() + 4 > 259) {
        skipped += u8"パスが長すぎます\t" + Utf8(path) + "\r\n";
        break;
      }
      expected.push_back(path + "\\");
    }
  }
  ASSERT_TRUE(BuildFolderList(root.c_str(), 1));
  EXPECT_EQ(Entries(), expected);
  EXPECT_EQ(SkippedLines(), skipped);

  for (const std::string& folder : {fits + "\\c", fits, tooLong + "\\c", tooLong}) {
    RemoveDirectoryW(LongPath(root + folder).c_str());
  }
  for (size_t at = chain.size() - 1; at != std::string::npos && at > 0; at = chain.rfind('\\', at - 1)) {
    RemoveDirectoryW(LongPath(root + chain.substr(0, at)).c_str());
  }
}

// Files made through the wide interface: names code page 932 cannot carry (a
// look-alike "e" for "é" would open another file or none), a folder it cannot
// carry, and a path of five 60-character levels past 259 bytes. The walk keeps
// each file under a path the ANSI calls open, as a fresh listing names it;
// also where the volume will not list entries with their indexes.
TEST_F(FolderCollection, NamesAndPathsBeyondTheCodePageAreHandedOutInAFormItCarries) {
  std::wstring deep;
  for (wchar_t level = L'p'; level < L'u'; ++level) deep += std::wstring(60, level) + L"\\";
  const struct {
    std::wstring folder, name;
  } rows[] = {
      {L"", L"plain.nes"},
      {L"", L"Pok\u00E9mon.nes"},
      {L"", L"\uFF34\uFF45\uFF53\uFF54\u301C\u6CE2.nes"},  // with the wave dash
      {L"", L"\u585E\u5C14\u8FBE\u4F20\u8BF4.nes"},        // simplified Chinese
      {L"", L"\uD55C\uAD6D\uC5B4.nes"},                    // Hangul
      {L"Caf\u00E9\\", L"rom.nes"},
      {deep, L"deep.nes"},
  };
  const std::wstring wideRoot = LongPath(root);
  ASSERT_GT(root.size() + deep.size() + 8, 259u);
  for (size_t at = 0; (at = deep.find(L'\\', at)) != std::wstring::npos; ++at) {
    CreateDirectoryW((wideRoot + deep.substr(0, at)).c_str(), nullptr);
  }
  CreateDirectoryW((wideRoot + L"Caf\u00E9").c_str(), nullptr);
  for (const auto& row : rows) {
    HANDLE file =
        CreateFileW((wideRoot + row.folder + row.name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD written = 0;
    std::string bytes = "row " + std::to_string(&row - rows);
    EXPECT_TRUE(WriteFile(file, bytes.data(), bytes.size(), &written, nullptr)) << &row - rows;
    CloseHandle(file);
  }
  for (bool refused : {true, false}) {
    gTestSwitches.listingIndexesRefused = refused;
    ASSERT_TRUE(BuildFolderList(root.c_str(), 1));
    std::vector<std::string> found(std::size(rows));
    for (int32_t i = 0; i < walk.count; ++i) {
      KeptCursor cursor = {};
      FolderListing listing;
      ASSERT_TRUE(OpenKeptEntries(&walk, i, &cursor) && OpenListing(&listing, walk.entries[i])) << walk.entries[i];
      // Each folder's index, as its parent's listing reported it, is the one an open reads.
      FileIdentity opened = {};
      EXPECT_TRUE(GetFileIndex(walk.entries[i], &opened) && walk.facts[i].identified &&
                  SameIdentity(opened, walk.facts[i].identity))
          << walk.entries[i];
      while (NextKeptEntry(&walk, &cursor)) {
        while (NextListedEntry(&listing) && IsFolderEntry(listing.entry)) {
        }
        EXPECT_STREQ(cursor.entry.cFileName, listing.entry.cFileName);
        std::string path = std::string(walk.entries[i]) + cursor.entry.cFileName, bytes = ReadBytes(path);
        EXPECT_TRUE(GetFileIndex(path.c_str(), &opened)) << path;
        LONGLONG index = static_cast<LONGLONG>(opened.indexHigh) << 32 | opened.indexLow;
        EXPECT_EQ(listing.entryIndex, refused ? 0 : index) << path;
        EXPECT_LE(path.size(), 259u) << path;
        size_t row = bytes.size() > 4 ? std::stoul(bytes.substr(4)) : std::size(rows);
        ASSERT_LT(row, std::size(rows)) << path;
        EXPECT_TRUE(found[row].empty()) << path;
        found[row] = path;
      }
      EXPECT_FALSE(NextListedEntry(&listing) && !IsFolderEntry(listing.entry)) << walk.entries[i];
      CloseKeptEntries(&cursor);
      CloseListing(&listing);
    }
    EXPECT_EQ(walk.filesCounted, static_cast<int32_t>(std::size(rows)));
    EXPECT_EQ(found[0], root + "plain.nes");  // a name the code page carries keeps its long form
    for (size_t row = 0; row < std::size(rows); ++row) EXPECT_FALSE(found[row].empty()) << row << refused;
  }
  for (const auto& row : rows) DeleteFileW((wideRoot + row.folder + row.name).c_str());
  RemoveDirectoryW((wideRoot + L"Caf\u00E9").c_str());
  for (size_t at = deep.size() - 1; at != std::wstring::npos && at > 0; at = deep.rfind(L'\\', at - 1)) {
    RemoveDirectoryW((wideRoot + deep.substr(0, at)).c_str());
  }
  // A folder gone since the walk cannot be listed, as a listing made now would say.
  KeptCursor cursor = {};
  EXPECT_FALSE(OpenKeptEntries(&walk, 1, &cursor)) << walk.entries[1];
  EXPECT_TRUE(OpenKeptEntries(&walk, 0, &cursor));
  CloseKeptEntries(&cursor);
}

TEST_F(FolderCollection, LinkBackIntoTheTreeIsNotFollowed) {
  // registration_loop\a\up leads back to registration_loop: the same folder
  // under a longer name is neither listed again nor entered.
  std::string loop = FixturePath("registration_loop\\");
  ASSERT_EQ(GetFileAttributesA((loop + "a\\up").c_str()) & FILE_ATTRIBUTE_DIRECTORY, (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  for (int32_t depthChoice : {1, 5}) {
    ASSERT_TRUE(BuildFolderList(loop.c_str(), depthChoice));
    EXPECT_EQ(Entries(), (std::vector<std::string>{loop, loop + "\\a\\"})) << depthChoice;
  }
}

// Ten thousand folders, the root included; the first one past them is named
// once in the report, and a folder already listed is not listed again.
TEST_F(FolderCollection, ListHoldsTenThousandAndNamesTheFirstLeftOutOnce) {
  ASSERT_TRUE(BuildFolderList(root.c_str(), 0));
  EXPECT_FALSE(AddFolder(&walk, root.c_str(), &report));  // exactly as stored
  for (int i = 1; i < 10000; ++i) ASSERT_TRUE(AddFolder(&walk, ("X:\\" + std::to_string(i)).c_str(), &report));
  EXPECT_FALSE(AddFolder(&walk, "X:\\first out", &report));
  EXPECT_FALSE(AddFolder(&walk, "X:\\second out", &report));
  EXPECT_EQ(SkippedLines(), u8"フォルダ数の上限を超えました\tX:\\first out\r\n");
  // A new run starts from an empty list.
  ASSERT_TRUE(BuildFolderList(root.c_str(), 0));
  EXPECT_EQ(Entries(), std::vector<std::string>{root});
}

}  // namespace
