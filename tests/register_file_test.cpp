// The header-stripped copy the host is handed.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "base/test_switches.h"
#include "registration/register_file.h"
#include "registration_run.h"

namespace {

// The copy the host is handed holds exactly the bytes after the header, for
// the header sizes a hand-edited profile can bring, whether it is made in one
// piece or across many ticks; a negative header size copies nothing and says
// so. A file of the copy's name that the plug-in did not make stays as it was.
TEST_F(RegistrationRun, CopyDropsExactlyTheHeaderInOnePieceOrAcrossTicks) {
  std::string bytes = RandomBytes(30000, 7);
  Write("source.nes", bytes);
  const struct {
    int32_t header;
    size_t piece;  // 0: the whole file at once
  } cases[] = {{0, 0},     {1024, 0},  {10239, 0}, {10240, 0},    {10241, 0}, {25000, 0},       {30000, 0},
               {40000, 0}, {16, 4096}, {0, 10000}, {29999, 4096}, {-1, 0},    {INT32_MIN, 4096}};
  for (const auto& test : cases) {
    // A longer file of the copy's name that is not ours (a launch's) is kept.
    ASSERT_TRUE(WriteBytes(temp + "source.nes", std::string(50000, 'x')));
    gState.profile.headerSize = test.header;
    gTestSwitches.copyPieceSize = test.piece;
    gTestSwitches.sliceMs = test.piece != 0 ? 0 : -1;
    AddRoms();
    EXPECT_EQ(ReadBytes(temp + "source.nes"), std::string(50000, 'x'));
    if (test.header < 0) {
      EXPECT_TRUE(gHost.registerCalls.empty()) << test.header;
      EXPECT_EQ(LogLines(), std::vector<std::string>{std::string(u8"ヘッダサイズが範囲外です\t") + Utf8(roms) + "source.nes"});
      continue;
    }
    std::string expected = bytes.substr(std::min<size_t>(bytes.size(), test.header));
    ASSERT_EQ(gHost.registerCalls.size(), 1u) << test.header;
    EXPECT_TRUE(gHost.registerCalls[0].content == expected) << test.header << " in pieces of " << test.piece;
    EXPECT_EQ(Lines(), std::vector<std::string>{CrcTextAfterHeader(bytes, test.header) + " " + roms + "source.nes"});
  }
  gTestSwitches.copyPieceSize = 0;
  EXPECT_EQ(ReadBytes(roms + "source.nes"), bytes) << "the source is never changed";
}

// Archives whose one entry is named outside code page 932, in a zip with the
// UTF-8 flag and in a 7z: each is registered with the CRC of the entry's bytes
// after the header, and launched, extracted, by it.
TEST_F(RegistrationRun, EntriesNamedOutsideTheCodePageRegisterAndLaunch) {
  std::vector<std::string> expectedLines;
  std::vector<std::string> entries;
  for (int i = 0; i < 4; ++i) {
    // The entry as the fixture script wrote it.
    std::string rom = "NES\x1a" + std::string(12, static_cast<char>(i));
    for (int j = 0; j < 2000; ++j) rom += static_cast<char>((j * 11 + i) & 0xFF);
    entries.push_back(rom);
    for (const char* extension : {".zip", ".7z"}) {
      std::string name = "name" + std::to_string(i) + extension;
      ASSERT_TRUE(
          CopyFileA(FixturePath(("registration_names\\" + name).c_str()).c_str(), (roms + name).c_str(), FALSE));
      expectedLines.push_back(CrcTextAfterHeader(rom, 16) + " " + roms + name);
    }
  }
  // Where the entry's file cannot be told by its spelling, the log says so.
  ASSERT_TRUE(CopyFileA(FixturePath("registration_names\\twins.zip").c_str(), (roms + "twins.zip").c_str(), FALSE));
  AddRoms();
  std::vector<std::string> log = LogLines();
  EXPECT_NE(std::find(log.begin(), log.end(), u8"ファイル名をシフトJISで表せません\t" + Utf8(roms) + "twins.zip"),
            log.end());
  std::vector<std::string> lines = Lines();
  std::sort(lines.begin(), lines.end());
  std::sort(expectedLines.begin(), expectedLines.end());
  EXPECT_EQ(lines, expectedLines);
  gState.profile.extractOnLaunch = 1;
  const std::string out = data + "out\\";
  ASSERT_TRUE(CreateDirectoryA(out.c_str(), nullptr));
  CopyText(gState.profile.extractFolder, sizeof gState.profile.extractFolder, out.c_str());
  const wchar_t* const names[] = {L"Pok\u00e9mon.nes", L"\uff34\uff45\uff53\uff54\u301c\u6ce2.nes",
                                  L"\u585e\u5c14\u8fbe\u4f20\u8bf4.nes", L"\ud55c\uad6d\uc5b4.nes"};
  for (size_t i = 0; i < entries.size(); ++i) {
    HostReset();
    std::string crcText = CrcTextAfterHeader(entries[i], 16);
    HostSelection selection = {0, crcText.c_str()};
    onPopupMenuClick(7, &selection);
    ASSERT_EQ(gHost.launchCalls.size(), 1u) << crcText;
    EXPECT_EQ(ReadBytes(gHost.launchCalls[0].path), entries[i]) << crcText;
  }
  // Launched by their short names, the entries keep their own in the folder.
  wchar_t pattern[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, (out + "*").c_str(), -1, pattern, MAX_PATH);
  WIN32_FIND_DATAW found;
  std::set<std::wstring> inFolder;
  HANDLE search = FindFirstFileW(pattern, &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do inFolder.insert(found.cFileName);
  while (FindNextFileW(search, &found));
  FindClose(search);
  for (size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(inFolder.count(names[i]), 1u) << "entry " << i;
}

// Cancel while a large copy spans ticks: the partial copy goes, nothing of it
// reaches the host, and the earlier lines stay.
TEST_F(RegistrationRun, CancelInTheMiddleOfACopyLeavesNoPartOfIt) {
  Write("big.nes", RandomBytes(200000, 3));
  AddRoms();
  std::vector<std::string> earlier = Lines();
  ASSERT_EQ(earlier.size(), 1u);
  gTestSwitches.copyPieceSize = 4096;
  gTestSwitches.sliceMs = 0;
  bool copying = false;
  std::string question;
  DialogStep answer = Answer(IDOK, &question);
  AddRoms({[&](HWND) {
             copying = FileExists(temp + "big.nes");
             if (copying) ClickCancel();
             return copying;
           },
           answer});
  gTestSwitches.copyPieceSize = 0;
  EXPECT_TRUE(copying);
  EXPECT_EQ(question, u8"ロムの追加をキャンセルしますか");
  EXPECT_TRUE(gHost.registerCalls.empty());
  EXPECT_FALSE(FileExists(temp + "big.nes"));
  EXPECT_EQ(Lines(), earlier);
}

}  // namespace
