// Which folders a registration run visits, and how their paths are joined.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "registration/folders.h"
#include "registration/skip_list.h"
#include "support/host_double.h"

namespace {

bool MakeDir(const std::string& path) { return CreateDirectoryW(LongPath(path).c_str(), nullptr) != 0; }

class FolderCollection : public ::testing::Test {
 protected:
  void SetUp() override {
    root = MakeTempFolder("folders");
    ASSERT_FALSE(root.empty());
  }
  void TearDown() override {
    ReleaseFolderWalk(&walk);
    ReleaseSkipList(&skipped);
    RemoveTree(root);
  }
  // The walk and the count as a run goes through them, slice after slice.
  bool BuildFolderList(const char* romFolder, int32_t depthChoice) {
    if (!BeginFolderWalk(&walk, romFolder, depthChoice, &skipped)) return false;
    while (!StepFolderWalk(&walk, 16, &skipped)) {
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
  SkipList skipped = {};
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
  for (size_t length = chain.size(); length > 0; length -= 2) RemoveDirectoryA((root + chain.substr(0, length)).c_str());
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

TEST_F(FolderCollection, PathsTooLongToListAreRefusedNotCut) {
  // A collected folder must be listable: its path, "\" and "*.*" within 259 bytes.
  size_t joined = root.size() + 1;  // the root and the doubled backslash
  ASSERT_LT(joined, 200u);
  std::string fits(255 - joined, 'f');     // folder path of 255 bytes
  std::string tooLong(256 - joined, 'g');  // 256 bytes
  MakeTree({fits, fits + "\\c", tooLong, tooLong + "\\c", "b"});
  std::vector<std::string> expected = {root};
  for (const std::string& name : FolderEntries(root, kFoldersOnly)) {
    if (name != tooLong) expected.push_back(root + "\\" + name + "\\");
  }
  ASSERT_TRUE(BuildFolderList(root.c_str(), 1));
  EXPECT_EQ(Entries(), expected);
  EXPECT_EQ(strlen(walk.entries[walk.count]), 0u) << "nothing is left past the last entry";
  for (const std::string& entry : Entries()) EXPECT_LE(entry.size(), 256u);

  for (const std::string& folder : {fits + "\\c", fits, tooLong + "\\c", tooLong}) {
    RemoveDirectoryW(LongPath(root + folder).c_str());
  }
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

TEST_F(FolderCollection, ListRefusesDuplicatesAndHoldsTenThousand) {
  ASSERT_TRUE(BuildFolderList(root.c_str(), 0));
  AddFolder(&walk, root.c_str(), &skipped);  // exactly as stored
  EXPECT_EQ(walk.count, 1);
  for (int i = 1; i <= kMaxFolders; ++i) AddFolder(&walk, ("X:\\" + std::to_string(i)).c_str(), &skipped);
  EXPECT_EQ(walk.count, kMaxFolders);
  EXPECT_STREQ(walk.entries[kMaxFolders - 1], "X:\\9999\\");
  EXPECT_EQ(skipped.count, 1) << "the overflow is noted once";
  // A new run starts from an empty count on the same kind of list.
  ASSERT_TRUE(BuildFolderList(root.c_str(), 0));
  EXPECT_EQ(Entries(), std::vector<std::string>{root});
}

}  // namespace
