// The header-stripped copy and the move aside of an extracted entry.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/state.h"
#include "registration/register_file.h"
#include "support/host_double.h"

namespace {

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned value = seed;
  for (char& byte : bytes) {
    value = value * 1103515245u + 12345u;
    byte = static_cast<char>(value >> 16);
  }
  return bytes;
}

class HeaderCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = MakeTempFolder("copy");
    ASSERT_FALSE(folder.empty());
    savedHeaderSize = gState.profile.headerSize;
    source = folder + "source.nes";
    destination = folder + "copy.nes";
  }
  void TearDown() override {
    gState.profile.headerSize = savedHeaderSize;
    RemoveTree(folder);
  }
  int32_t Copy(int32_t headerSize) {
    gState.profile.headerSize = headerSize;
    return CopyWithoutHeader(destination.c_str(), source.c_str());
  }
  std::string folder, source, destination;
  int32_t savedHeaderSize = 0;
};

// Block boundaries of ordinary sizes are covered by the registration run's
// tests; here the header sizes a hand-edited profile can bring.
TEST_F(HeaderCopy, DropsExactlyTheHeaderEvenPastTheFirstBlock) {
  std::string bytes = Pattern(30000, 7);
  ASSERT_TRUE(WriteBytes(source, bytes));
  for (int32_t header : {0, 1024, 10239, 10240, 10241, 25000, 30000, 40000}) {
    // A stale, longer copy from an earlier run is replaced, not overlaid.
    ASSERT_TRUE(WriteBytes(destination, std::string(50000, 'x')));
    ASSERT_EQ(Copy(header), 0) << header;
    EXPECT_TRUE(FileExists(destination));
    EXPECT_TRUE(ReadBytes(destination) == bytes.substr(std::min<size_t>(bytes.size(), header))) << header;
  }
  EXPECT_EQ(ReadBytes(source), bytes) << "the source is never changed";
}

TEST_F(HeaderCopy, RefusesWithoutLeavingACopy) {
  ASSERT_TRUE(WriteBytes(source, Pattern(100, 1)));
  EXPECT_EQ(Copy(-1), -1) << "a negative header size";
  EXPECT_FALSE(FileExists(destination));
  EXPECT_EQ(Copy(INT32_MIN), -1);
  EXPECT_FALSE(FileExists(destination));

  // Held open elsewhere: the probe asks for no sharing at all.
  HANDLE held = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Copy(16), -1);
  CloseHandle(held);
  EXPECT_FALSE(FileExists(destination));

  std::string missing = folder + "missing.nes";
  EXPECT_EQ(CopyWithoutHeader(destination.c_str(), missing.c_str()), -1);
  EXPECT_FALSE(FileExists(destination));

  EXPECT_EQ(CopyWithoutHeader(destination.c_str(), folder.c_str()), -1) << "a folder as the source";
  EXPECT_FALSE(FileExists(destination));

  ASSERT_TRUE(CreateDirectoryA(destination.c_str(), nullptr));
  EXPECT_EQ(Copy(16), -1) << "a folder where the copy goes";
  EXPECT_EQ(ReadBytes(source).size(), 100u);
}

class TempPrefix : public HeaderCopy {};

TEST_F(TempPrefix, MovesTheFileAsideInItsOwnFolder) {
  const std::string kanji = Cp932(u8"表");         // trail byte 0x5C
  const std::string name = Cp932(u8"ソフト.nes");  // "ソ" is 0x83 0x5C
  ASSERT_TRUE(CreateDirectoryA((folder + kanji).c_str(), nullptr));
  struct Case {
    std::string path, expected;
  };
  const Case cases[] = {
      {folder + "game.nes", folder + "tempgame.nes"},
      {folder + "noext", folder + "tempnoext"},
      {folder + kanji + "\\" + name, folder + kanji + "\\temp" + name},
  };
  for (const Case& test : cases) {
    ASSERT_TRUE(WriteBytes(test.path, "entry bytes"));
    char renamed[kPathSize] = "unchanged";
    EXPECT_EQ(RenameWithTempPrefix(test.path.c_str(), renamed, sizeof renamed), 0) << Utf8(test.path);
    EXPECT_EQ(std::string(renamed), test.expected);
    EXPECT_FALSE(FileExists(test.path));
    EXPECT_EQ(ReadBytes(test.expected), "entry bytes");
  }
}

TEST_F(TempPrefix, StaleFileOfThePrefixedNameGivesWay) {
  ASSERT_TRUE(WriteBytes(folder + "tempgame.nes", "left by an interrupted run"));
  ASSERT_TRUE(WriteBytes(folder + "game.nes", "the new entry"));
  char renamed[kPathSize];
  EXPECT_EQ(RenameWithTempPrefix((folder + "game.nes").c_str(), renamed, sizeof renamed), 0);
  EXPECT_EQ(ReadBytes(folder + "tempgame.nes"), "the new entry");
  EXPECT_FALSE(FileExists(folder + "game.nes"));
}

TEST_F(TempPrefix, NameThatWouldNotFitIsRefused) {
  std::string path = folder + std::string(257 - folder.size(), 'n');
  ASSERT_TRUE(WriteBytes(path, "long"));
  char renamed[kPathSize] = "unchanged";
  EXPECT_EQ(RenameWithTempPrefix(path.c_str(), renamed, sizeof renamed), -1);
  EXPECT_STREQ(renamed, "");
  EXPECT_EQ(ReadBytes(path), "long");
}

}  // namespace
