// The demo host's own parts: its catalogue file, its CRC (the oracle the
// end-to-end run trusts), its reading of the plug-in's entry lists, the
// emulator command, path comparison, and the dataset selector the plug-in
// reads. Oracles are built here by hand.
#include "host/host.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {

// "テスト表示ソフト.nes": two characters whose second byte is 0x5C.
const char kJapaneseName[] =
    "\x83"
    "e\x83X\x83g\x95\x5C\x8E\xA6\x83\x5C\x83t\x83g.nes";

}  // namespace

TEST(HostCatalogue, SurvivesSavingAndLoading) {
  std::string folder = MakeTempFolder("cat");
  std::vector<CatalogueEntry> saved = {
      {"NES", "0A1B2C3D", 40960, "alpha rom.nes"},
      {"NES", "FFFFFFFF", 0, kJapaneseName},
      {"PCE", "00000001", 524288, "gamma.pce"},
  };
  ASSERT_TRUE(SaveCatalogueFile(folder + "catalogue.txt", saved));
  std::string bytes;
  ASSERT_TRUE(ReadBytes(folder + "catalogue.txt", &bytes));
  const std::string firstLine = "NES\t0A1B2C3D\t40960\talpha rom.nes\r\n";
  EXPECT_EQ(bytes.substr(0, firstLine.size()), firstLine);
  EXPECT_FALSE(FileExists(folder + "catalogue.txt.new"));

  std::vector<CatalogueEntry> loaded;
  ASSERT_TRUE(LoadCatalogueFile(folder + "catalogue.txt", &loaded));
  ASSERT_EQ(loaded.size(), saved.size());
  for (size_t i = 0; i < saved.size(); ++i) {
    EXPECT_EQ(loaded[i].dataset, saved[i].dataset);
    EXPECT_EQ(loaded[i].crcText, saved[i].crcText);
    EXPECT_EQ(loaded[i].size, saved[i].size);
    EXPECT_EQ(loaded[i].name, saved[i].name);
  }
  RemoveTree(folder);
}

TEST(HostCatalogue, SkipsDamagedLinesAndKeepsTheRest) {
  std::string folder = MakeTempFolder("bad");
  std::string text =
      "NES\t0A1B2C3D\t16\tgood one.nes\r\n"
      "NES\t0a1b2c3d\t16\tlower-case crc.nes\r\n"
      "NES\t0A1B2C3\t16\tshort crc.nes\r\n"
      "NES\t0A1B2C3E\t16x\tbad size.nes\r\n"
      "NES\t0A1B2C3F\t16\r\n"
      "\r\n"
      "\t0A1B2C40\t16\tno dataset.nes\r\n"
      "FDS\t12345678\t65500\tlast line without a line end.fds";
  ASSERT_TRUE(WriteBytes(folder + "catalogue.txt", text));
  std::vector<CatalogueEntry> loaded;
  ASSERT_TRUE(LoadCatalogueFile(folder + "catalogue.txt", &loaded));
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[0].name, "good one.nes");
  EXPECT_EQ(loaded[1].dataset, "FDS");
  EXPECT_EQ(loaded[1].size, 65500u);
  EXPECT_EQ(loaded[1].name, "last line without a line end.fds");

  // A missing file is no catalogue, and leaves none behind.
  EXPECT_FALSE(LoadCatalogueFile(folder + "missing.txt", &loaded));
  EXPECT_TRUE(loaded.empty());
  RemoveTree(folder);
}

TEST(HostCatalogue, ARegisteredCrcReplacesItsEntryOnlyWithinItsDataset) {
  std::vector<CatalogueEntry> catalogue;
  AddToCatalogue(&catalogue, {"NES", "0A1B2C3D", 16, "old.nes"});
  AddToCatalogue(&catalogue, {"FDS", "0A1B2C3D", 16, "other dataset.fds"});
  AddToCatalogue(&catalogue, {"NES", "0A1B2C3D", 32, "new.nes"});
  ASSERT_EQ(catalogue.size(), 2u);
  EXPECT_EQ(catalogue[0].name, "new.nes");
  EXPECT_EQ(catalogue[0].size, 32u);
  EXPECT_EQ(catalogue[1].name, "other dataset.fds");
}

TEST(HostCrc, MatchesKnownValuesAndReadsAcrossBlocks) {
  std::string folder = MakeTempFolder("crc");
  struct Case {
    std::string bytes;
    const char* crcText;
  };
  std::vector<Case> cases = {{"", "00000000"}, {"123456789", "CBF43926"}, {"abc", "352441C2"}};
  // Longer than the host's 64 KiB read block, with an uneven tail.
  std::string big(65536 * 3 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 3);
  uLong whole = crc32(0L, reinterpret_cast<const Bytef*>(big.data()), static_cast<uInt>(big.size()));
  std::string bigText = Format("%08lX", whole);
  cases.push_back({big, bigText.c_str()});
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteBytes(folder + "rom.bin", c.bytes));
    uint32_t crc = 1;
    uint32_t size = 1;
    ASSERT_TRUE(FileCrc32(folder + "rom.bin", &crc, &size));
    EXPECT_EQ(CrcText(crc), c.crcText) << c.bytes.size() << " bytes";
    EXPECT_EQ(size, c.bytes.size());
  }
  uint32_t crc = 0;
  uint32_t size = 0;
  EXPECT_FALSE(FileCrc32(folder + "missing.bin", &crc, &size));
  RemoveTree(folder);
}

TEST(HostPlugin, SplitsEntryListsAtTheEmptyEntry) {
  const char menu[] = "\x90\xDD\x92\xE8\0\x83\x8D\x83\x80\x82\xCC\x92\xC7\x89\xC1\0\0tail\0";
  std::vector<std::string> entries = SplitEntryList(menu);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], "\x90\xDD\x92\xE8");
  EXPECT_EQ(entries[1], "\x83\x8D\x83\x80\x82\xCC\x92\xC7\x89\xC1");
  EXPECT_TRUE(SplitEntryList("\0").empty());
  EXPECT_TRUE(SplitEntryList(nullptr).empty());
}

TEST(HostEmulator, CommandTakesThePathForEveryPlaceholder) {
  std::string folder = MakeTempFolder("emu");
  gApp.dataDir = folder;
  ASSERT_TRUE(WriteBytes(folder + "emulators.ini",
                         "[NES]\r\ncommand=\"C:\\emu\\nes.exe\" -rom \"%1\" -title \"%1\" -x 100%\r\n"
                         "[FDS]\r\ncommand=\r\n"
                         "; a value quoted at both ends keeps its quotation marks\r\n"
                         "[pce]\r\n  Command = \"C:\\emu\\pce.exe\" \"%1\"  \r\n"));
  std::string rom = std::string("Z:\\roms\\") + kJapaneseName;
  EXPECT_EQ(EmulatorCommand("NES", rom), "\"C:\\emu\\nes.exe\" -rom \"" + rom + "\" -title \"" + rom + "\" -x 100%");
  EXPECT_EQ(EmulatorCommand("FDS", rom), "");
  EXPECT_EQ(EmulatorCommand("PCE", rom), "\"C:\\emu\\pce.exe\" \"" + rom + "\"");
  EXPECT_EQ(EmulatorCommand("GB", rom), "");
  gApp.dataDir.clear();
  RemoveTree(folder);
}

TEST(HostPaths, SamePathIgnoresCaseAndDoubledSeparatorsOnly) {
  EXPECT_TRUE(SamePath("Z:\\Roms\\\\sub\\Game.nes", "z:\\roms\\sub\\game.NES"));
  EXPECT_TRUE(SamePath("\\\\server\\share\\a.nes", "\\\\server\\share\\\\a.nes"));
  EXPECT_FALSE(SamePath("\\\\server\\share\\a.nes", "\\server\\share\\a.nes"));
  EXPECT_FALSE(SamePath("Z:\\roms\\a.nes", "Z:\\roms\\b.nes"));
  // 表 is 0x95 0x5C: its trail byte followed by a real separator is no doubled
  // separator, so "表\x" and "表x" stay different paths.
  EXPECT_FALSE(SamePath("Z:\\\x95\x5C\\x.nes", "Z:\\\x95\x5Cx.nes"));
  EXPECT_EQ(CollapseSeparators(std::string("Z:\\roms\\\\") + kJapaneseName), std::string("Z:\\roms\\") + kJapaneseName);
  EXPECT_EQ(BaseName(std::string("Z:\\roms\\") + kJapaneseName), kJapaneseName);
}

// The plug-in finds the dataset by enumerating the active window's visible
// "TComboBox" descendants and sending the widest one WM_GETTEXT.
static HWND gFoundSelector;
static BOOL CALLBACK FindSelector(HWND window, LPARAM) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  if (strcmp(name, "TComboBox") == 0 && IsWindowVisible(window)) gFoundSelector = window;
  return TRUE;
}

TEST(HostWindow, DatasetSelectorAnswersLikeTheCatalogueApplication) {
  std::string folder = MakeTempFolder("win");
  gApp.instance = GetModuleHandleA(nullptr);
  gApp.dataDir = folder;
  ASSERT_TRUE(CreateMainWindow("FDS"));
  ShowWindow(gApp.window, SW_SHOW);
  PumpMessages();
  gFoundSelector = nullptr;
  EnumChildWindows(gApp.window, FindSelector, 0);
  ASSERT_NE(gFoundSelector, nullptr);
  RECT client;
  GetClientRect(gFoundSelector, &client);
  EXPECT_GT(client.right, 0);
  char text[260] = "";
  SendMessageA(gFoundSelector, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  EXPECT_STREQ(text, "FDS");
  ASSERT_TRUE(SelectDataset("PCE"));
  SendMessageA(gFoundSelector, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  EXPECT_STREQ(text, "PCE");
  EXPECT_FALSE(SelectDataset("GB"));
  EXPECT_EQ(CurrentDataset(), "PCE");

  // The list shows the current dataset's ROMs only.
  gApp.catalogue = {
      {"NES", "0A1B2C3D", 16, "a.nes"}, {"PCE", "11111111", 32, "b.pce"}, {"PCE", "22222222", 48, "c.pce"}};
  RefreshRomList();
  EXPECT_EQ(FindRomRow("0A1B2C3D"), -1);
  EXPECT_EQ(FindRomRow("22222222"), 1);
  DestroyWindow(gApp.window);
  PumpMessages();
  gApp.catalogue.clear();
  RemoveTree(folder);
}
