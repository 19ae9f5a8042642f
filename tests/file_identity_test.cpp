// The identity of files and folders behind different spellings of their paths.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/file_identity.h"
#include "support/host_double.h"

TEST(FileIdentity, SamePlaceUnderAnySpellingDifferentPlacesDiffer) {
  std::string folder = MakeTempFolder("identity");
  ASSERT_FALSE(folder.empty());
  ASSERT_TRUE(CreateDirectoryA((folder + "sub").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(folder + "a.bin", "same bytes"));
  ASSERT_TRUE(WriteBytes(folder + "b.bin", "same bytes"));
  ASSERT_TRUE(WriteBytes(folder + "a long file name.bin", "long"));
  // A full-width small "ａ" (82 81): the same name as its capital "Ａ" (82 60).
  ASSERT_TRUE(WriteBytes(folder + "\x82\x81.bin", "full width"));
  std::string zFolder = ZDriveSpelling(folder);
  ASSERT_EQ(zFolder.substr(0, 2), "Z:") << folder;
  ASSERT_NE(zFolder.substr(0, 2), folder.substr(0, 2)) << "the temp folder should be on C:";
  char shortName[MAX_PATH];
  DWORD shortLength = GetShortPathNameA((folder + "a long file name.bin").c_str(), shortName, sizeof shortName);
  ASSERT_TRUE(shortLength > 0 && shortLength < sizeof shortName);
  ASSERT_NE(std::string(shortName).find('~'), std::string::npos) << shortName;

  // same: one place; spelt: and Windows resolves both spellings to one, so
  // that they match also where there is no identity to go by.
  struct Case {
    std::string a, b;
    bool same;
    bool spelt;
  } cases[] = {
      {folder + "a.bin", folder + "a.bin", true, true},
      {folder + "a.bin", zFolder + "a.bin", true, false},
      {folder + "sub\\..\\a.bin", folder + "a.bin", true, true},
      {folder + ".\\a.bin", folder + "A.BIN", true, true},
      {folder + "a.bin.", folder + "a.bin", true, true},
      {folder + "a.bin ", folder + "a.bin", true, true},
      {"\\\\?\\" + folder + "a.bin", folder + "a.bin", true, true},
      {shortName, folder + "a long file name.bin", true, true},
      {folder + "\x82\x60.bin", folder + "\x82\x81.bin", true, true},
      {folder + "\x82\x60gone.bin", folder + "\x82\x81GONE.bin", true, true},
      {folder + "sub", zFolder + "sub\\", true, false},
      {folder + "sub\\", folder + "SUB", true, true},
      {folder, zFolder, true, false},
      {folder + "a.bin", folder + "b.bin", false, false},  // equal content is not identity
      {folder + "sub", folder, false, false},
      {folder + "a.bin", folder + "missing.bin", false, false},
      // Not there: one path under two spellings, two paths apart.
      {folder + "missing.bin", folder + "sub\\..\\MISSING.BIN.", true, true},
      {folder + "missing.bin", folder + "other.bin", false, false},
      // Relative and drive-relative paths are never read against the current folder.
      {"roms\\x.nes", "ROMS/x.nes", true, true},
      {"P:roms\\x.nes", "P:\\roms\\x.nes", false, false},
      {"", "", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSamePath(c.a.c_str(), c.b.c_str()), c.same) << c.a << " / " << c.b;
    char keyA[2 * MAX_PATH] = "", keyB[2 * MAX_PATH] = "";
    bool made = MakePathKey(keyA, sizeof keyA, c.a.c_str()) && MakePathKey(keyB, sizeof keyB, c.b.c_str());
    EXPECT_EQ(made && strcmp(keyA, keyB) == 0, c.spelt) << c.a << " / " << c.b;
  }
  RemoveTree(folder);
}

TEST(FileIdentity, AFileOpenWithoutSharingCanStillBeIdentified) {
  std::string folder = MakeTempFolder("identity_locked");
  ASSERT_TRUE(WriteBytes(folder + "locked.bin", "x"));
  HANDLE lock = CreateFileA((folder + "locked.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  FileIdentity identity = {};
  // Asking for no access at all is what lets the look past an exclusive open.
  EXPECT_TRUE(GetFileIdentity((folder + "locked.bin").c_str(), &identity));
  CloseHandle(lock);
  RemoveTree(folder);
}
