// The identity of files and folders behind different spellings of their paths.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/file_identity.h"
#include "support/host_double.h"

TEST(FileIdentity, SamePlaceUnderAnySpellingDifferentPlacesDiffer) {
  std::string folder = MakeTempFolder("identity");
  ASSERT_FALSE(folder.empty());
  ASSERT_TRUE(CreateDirectoryA((folder + "sub").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(folder + "a.bin", "same bytes"));
  ASSERT_TRUE(WriteBytes(folder + "b.bin", "same bytes"));
  std::string zFolder = ZDriveSpelling(folder);
  ASSERT_EQ(zFolder.substr(0, 2), "Z:") << folder;
  ASSERT_NE(zFolder.substr(0, 2), folder.substr(0, 2)) << "the temp folder should be on C:";

  struct Case {
    std::string a, b;
    bool same;
  } cases[] = {
      {folder + "a.bin", folder + "a.bin", true},
      {folder + "a.bin", zFolder + "a.bin", true},
      {folder + "sub\\..\\a.bin", folder + "a.bin", true},
      {folder + "sub", zFolder + "sub\\", true},
      {folder, zFolder, true},
      {folder + "a.bin", folder + "b.bin", false},  // equal content is not identity
      {folder + "sub", folder, false},
      {folder + "a.bin", folder + "missing.bin", false},
      {folder + "missing.bin", folder + "missing.bin", false},
      {"", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SameFileIdentity(c.a.c_str(), c.b.c_str()), c.same) << c.a << " / " << c.b;
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
