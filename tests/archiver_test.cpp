// The archiver stand-in 7-zip32.dll against archives made by the real tools:
// each extraction is compared byte for byte with the tree the archive was made
// from (fixtures/archiver/expected/NAME/), and the listing operations, the
// command parser, the refusals and the busy report are driven through the
// ordinals exactly as the plug-in binds them.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

#include "support/bind.h"
#include "support/host_double.h"

namespace {

struct Archiver {
  HMODULE module = nullptr;
  int(__stdcall* run)(HWND, const char*, char*, DWORD) = nullptr;
  BOOL(__stdcall* isBusy)() = nullptr;
  void*(__stdcall* open)(HWND, const char*, DWORD) = nullptr;
  int(__stdcall* close)(void*) = nullptr;
  int(__stdcall* findFirst)(void*, const char*, void*) = nullptr;
  int(__stdcall* entryName)(void*, char*, int) = nullptr;
  void(__stdcall* reset)() = nullptr;
  void(__stdcall* setBusy)(int) = nullptr;
  void(__stdcall* failOpen)(int) = nullptr;
  void(__stdcall* failNextClose)(int) = nullptr;
  int(__stdcall* callLog)(char*, int) = nullptr;
  void(__stdcall* pauseNext)(HANDLE, HANDLE) = nullptr;
  void(__stdcall* failExtraction)(int) = nullptr;
  int(__stdcall* openHandles)() = nullptr;
};

std::string Fixture(const char* name) { return FixturesFolder() + "archiver\\" + name; }
std::string Expected(const char* name) { return FixturesFolder() + "archiver\\expected\\" + name + "\\"; }

// Relative path (UTF-8) -> bytes for every file below folder, "name\" -> ""
// for folders; read by wide names, so that a name the code page lacks counts
// whole.
void ReadTree(const std::wstring& folder, const std::wstring& prefix, std::map<std::string, std::string>* tree) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + prefix + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    char utf8[4 * MAX_PATH];
    WideCharToMultiByte(CP_UTF8, 0, (prefix + name).c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      (*tree)[std::string(utf8) + "\\"] = "";
      ReadTree(folder, prefix + name + L"\\", tree);
      continue;
    }
    std::string& bytes = (*tree)[utf8];
    HANDLE file = CreateFileW((folder + prefix + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    char buffer[65536];
    DWORD read = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
      bytes.append(buffer, read);
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

std::map<std::string, std::string> Tree(const std::string& folder) {
  std::map<std::string, std::string> tree;
  wchar_t wide[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wide, MAX_PATH);
  ReadTree(wide, L"", &tree);
  return tree;
}

// Same names, same bytes; a difference names the path instead of dumping bytes.
void ExpectSameTree(const std::string& expectedFolder, const std::string& actualFolder) {
  DWORD attributes = GetFileAttributesA(expectedFolder.c_str());
  ASSERT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      << "no expected tree " << expectedFolder;
  std::map<std::string, std::string> expected = Tree(expectedFolder);
  std::map<std::string, std::string> actual = Tree(actualFolder);
  for (const auto& item : expected) {
    auto match = actual.find(item.first);
    if (match == actual.end()) {
      ADD_FAILURE() << "missing: " << item.first;
    } else if (match->second != item.second) {
      ADD_FAILURE() << "differs: " << item.first << " (" << match->second.size() << " bytes, expected "
                    << item.second.size() << ")";
    }
  }
  for (const auto& item : actual) {
    if (expected.count(item.first) == 0) ADD_FAILURE() << "unexpected: " << item.first;
  }
}

uint64_t Get64(const std::string& bytes, size_t at) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

void Put32(std::string* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>(value >> (8 * i));
}

// Re-seals a changed 7z header with fresh CRC-32s, so that the changes reach
// the header parser instead of stopping at the checksum.
void ResealSevenZip(std::string* bytes) {
  if (bytes->size() < 32 || bytes->compare(0, 2, "7z") != 0) return;
  uint64_t offset = Get64(*bytes, 12);
  uint64_t size = Get64(*bytes, 20);
  if (offset <= bytes->size() - 32 && size <= bytes->size() - 32 - offset) {
    const Bytef* header = reinterpret_cast<const Bytef*>(bytes->data() + 32 + offset);
    Put32(bytes, 28, static_cast<uint32_t>(crc32(0, header, static_cast<uInt>(size))));
  }
  Put32(bytes, 8, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes->data() + 12), 20)));
}

class ArchiverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    arc.module = LoadLibraryA("7-zip32.dll");
    ASSERT_NE(arc.module, nullptr);
    Bind(arc.module, MAKEINTRESOURCEA(1), &arc.run);
    Bind(arc.module, MAKEINTRESOURCEA(10), &arc.isBusy);
    Bind(arc.module, MAKEINTRESOURCEA(21), &arc.open);
    Bind(arc.module, MAKEINTRESOURCEA(22), &arc.close);
    Bind(arc.module, MAKEINTRESOURCEA(23), &arc.findFirst);
    Bind(arc.module, MAKEINTRESOURCEA(40), &arc.entryName);
    Bind(arc.module, "ArcTestReset", &arc.reset);
    Bind(arc.module, "ArcTestSetBusy", &arc.setBusy);
    Bind(arc.module, "ArcTestFailOpen", &arc.failOpen);
    Bind(arc.module, "ArcTestFailNextClose", &arc.failNextClose);
    Bind(arc.module, "ArcTestCallLog", &arc.callLog);
    Bind(arc.module, "ArcTestPauseNextOperation", &arc.pauseNext);
    Bind(arc.module, "ArcTestFailExtraction", &arc.failExtraction);
    Bind(arc.module, "ArcTestOpenHandles", &arc.openHandles);
    ASSERT_TRUE(arc.run && arc.isBusy && arc.open && arc.close && arc.findFirst && arc.entryName);
    ASSERT_TRUE(arc.reset && arc.setBusy && arc.failOpen && arc.failNextClose && arc.callLog && arc.pauseNext);
    ASSERT_TRUE(arc.failExtraction && arc.openHandles);
    arc.reset();
    out = MakeScratchFolder("archiver");
    ASSERT_FALSE(out.empty());
  }

  void TearDown() override {
    if (arc.reset) arc.reset();
    RemoveTree(out);
    if (arc.module) FreeLibrary(arc.module);
  }

  // The command exactly as the plug-in builds it.
  int Extract(const std::string& archive, const std::string& folder, std::string* report = nullptr,
              const char* pattern = "*.*") {
    std::string command = "x \"" + archive + "\" -aoa -hide \"" + folder + "\" " + pattern;
    char output[512];
    memset(output, 0x7F, sizeof output);
    int result = arc.run(nullptr, command.c_str(), output, sizeof output);
    EXPECT_NE(memchr(output, '\0', sizeof output), nullptr) << "report not terminated";
    if (report) *report = output;
    return result;
  }

  // Open, find "*.*", name into a 260-byte buffer, close: the plug-in's sequence.
  std::string FirstName(const std::string& archive) {
    void* handle = arc.open(nullptr, archive.c_str(), 0);
    EXPECT_NE(handle, nullptr) << archive;
    if (handle == nullptr) return "<no handle>";
    char name[260] = "unset";
    EXPECT_EQ(arc.findFirst(handle, "*.*", nullptr), 0);
    EXPECT_EQ(arc.entryName(handle, name, sizeof name), 0);
    EXPECT_EQ(arc.close(handle), 0);
    return name;
  }

  Archiver arc;
  std::string out;
};

TEST_F(ArchiverTest, ExtractsEveryArchiveByteForByte) {
  const char* archives[] = {
      "zip_stored.zip",
      "zip_deflate.zip",
      "zip_dir_first.zip",
      "zip_multi.zip",
      "zip_empty.zip",
      "zip_cp932.zip",
      "zip_utf8.zip",
      "zip_unicode.zip",  // names outside code page 932, written whole
      "7z_unicode.7z",
      "7z_lzma2.7z",
      "7z_lzma.7z",
      "7z_lzma_big.7z",
      "7z_copy.7z",
      "7z_solid.7z",
      "7z_nonsolid.7z",
      "7z_plain_header.7z",
      "7z_dir_first.7z",
      "7z_japanese.7z",
      "7z_multi_plain_header.7z",
      // Filters and methods chosen for some content: each must be undone, not
      // just its container read.
      "7z_bcj.7z",
      "7z_bcj2.7z",
      "7z_arm64.7z",
      "7z_delta.7z",
      "7z_ppmd.7z",
  };
  for (const char* name : archives) {
    SCOPED_TRACE(name);
    std::string folder = out + name + "\\";
    std::string report;
    EXPECT_EQ(Extract(Fixture(name), folder, &report), 0) << report;
    ExpectSameTree(Expected(name), folder);
  }
}

TEST_F(ArchiverTest, DamagedAndUnsupportedArchivesFailWithoutLeavingBadFiles) {
  // Truncated, encrypted or unknown methods, and bytes that fail their CRC-32:
  // the result is a failure and only sound entries are written.
  struct Case {
    const char* archive;
    const char* reportSays;
  } cases[] = {
      {"zip_truncated.zip", "end record not found"}, {"zip_encrypted.zip", "encrypted zip entries are not supported"},
      {"zip_crc_bad.zip", "CRC-32 mismatch"},        {"7z_truncated.7z", "truncated"},
      {"7z_bzip2.7z", "method not supported"},       {"7z_encrypted.7z", "encrypted 7z archives are not supported"},
      {"7z_encrypted_header.7z", "not supported"},   {"7z_crc_bad.7z", "CRC-32 mismatch"},
      {"7z_solid_crc_bad.7z", "CRC-32 mismatch"},  // its neighbours in the folder are written
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    std::string folder = out + c.archive + "\\";
    std::string report;
    EXPECT_NE(Extract(Fixture(c.archive), folder, &report), 0);
    EXPECT_NE(report.find(c.reportSays), std::string::npos) << report;
    ExpectSameTree(Expected(c.archive), folder);
  }
  // Not archives at all.
  ASSERT_TRUE(WriteBytes(out + "plain.zip", std::string(3000, 'P')));
  ASSERT_TRUE(WriteBytes(out + "empty.7z", ""));
  const std::string notArchives[] = {out + "plain.zip", out + "empty.7z", out + "missing.zip"};
  for (const std::string& path : notArchives) {
    SCOPED_TRACE(path);
    std::string report;
    EXPECT_NE(Extract(path, out + "x\\", &report), 0);
    EXPECT_EQ(report.compare(0, 6, "error:"), 0) << report;
    EXPECT_EQ(GetFileAttributesA((out + "x").c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

TEST_F(ArchiverTest, MutatedArchivesFailCleanlyAndWriteOnlyBelowTheOutputFolder) {
  // Bytes changed at random (often in the directory or header at the end) or
  // cut off: every operation must return, with a failure or a sound result.
  const char* bases[] = {"zip_multi.zip",      "zip_cp932.zip",  "zip_unsafe.zip", "7z_multi_plain_header.7z",
                         "7z_plain_header.7z", "7z_nonsolid.7z", "7z_lzma.7z",     "7z_bcj2.7z",
                         "7z_ppmd.7z"};
  uint32_t state = 0x2545F491;
  const std::string archive = out + "m.arc";
  const std::string folder = out + "x\\";
  for (const char* base : bases) {
    SCOPED_TRACE(base);
    const std::string original = ReadBytes(Fixture(base));
    ASSERT_FALSE(original.empty());
    for (int round = 0; round < 200; ++round) {
      std::string bytes = original;
      if (NextRandom(&state) % 5 == 0) {
        bytes.resize(NextRandom(&state) % bytes.size());
      } else {
        int changes = 1 + NextRandom(&state) % 4;
        for (int i = 0; i < changes; ++i) {
          size_t tail = bytes.size() < 300 ? bytes.size() : 300;
          size_t at =
              NextRandom(&state) % 2 ? bytes.size() - 1 - NextRandom(&state) % tail : NextRandom(&state) % bytes.size();
          bytes[at] = static_cast<char>(NextRandom(&state));
        }
      }
      ResealSevenZip(&bytes);
      ASSERT_TRUE(WriteBytes(archive, bytes));
      void* handle = arc.open(nullptr, archive.c_str(), 0);
      if (handle != nullptr) {
        char name[260];
        arc.findFirst(handle, "*.*", nullptr);
        arc.entryName(handle, name, sizeof name);
        EXPECT_NE(memchr(name, '\0', sizeof name), nullptr);
        EXPECT_EQ(arc.close(handle), 0);
      }
      int result = Extract(archive, folder);
      EXPECT_TRUE(result == 0 || result == 2 || result == 3) << "round " << round << ": " << result;
      // Anything written outside x\ has a top-level name of its own: names
      // alone tell, without reading back every extracted byte.
      for (const std::string& name : FolderEntries(out)) {
        if (name != "m.arc" && name != "x") ADD_FAILURE() << "round " << round << " wrote outside: " << name;
      }
      if (GetFileAttributesA(folder.c_str()) != INVALID_FILE_ATTRIBUTES) RemoveTree(folder);
    }
  }
  EXPECT_FALSE(arc.isBusy());
}

TEST_F(ArchiverTest, FirstEntryIsTheFirstAsStoredWithBackslashesInCodePage932) {
  struct Case {
    const char* archive;
    const char* firstUtf8;
  } cases[] = {
      {"zip_stored.zip", "rom.bin"},
      {"zip_dir_first.zip", "dir\\rom.bin"},
      {"zip_multi.zip", "a.txt"},
      {"zip_cp932.zip", u8"ソフト\\表示.bin"},
      {"zip_utf8.zip", u8"ゲーム\\ロム.nes"},
      // Outside code page 932: its spelling there, "?" for what it lacks.
      {"zip_unicode.zip", "Pok?mon.nes"},
      {"7z_unicode.7z", "Pok?mon.nes"},
      {"7z_dir_first.7z", "dir\\rom.bin"},
      {"7z_lzma2.7z", "readme.txt"},
      {"7z_solid.7z", "emptydir"},  // folders are entries too
      {"7z_japanese.7z", u8"日本語"},
      {"7z_bzip2.7z", "prog.bin"},  // listing works even where decoding cannot
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    EXPECT_EQ(Utf8(FirstName(Fixture(c.archive))), c.firstUtf8);
  }
}

TEST_F(ArchiverTest, OpenGivesNullForWhatItCannotReadAndAHandleForAnEmptyZip) {
  ASSERT_TRUE(WriteBytes(out + "garbage.7z", "7z but not really"));
  const std::string unreadable[] = {Fixture("zip_truncated.zip"), Fixture("7z_truncated.7z"), out + "garbage.7z",
                                    out + "missing.zip"};
  for (const std::string& path : unreadable) EXPECT_EQ(arc.open(nullptr, path.c_str(), 0), nullptr) << path;

  void* handle = arc.open(nullptr, Fixture("zip_empty.zip").c_str(), 0);
  ASSERT_NE(handle, nullptr);
  char name[260] = "unchanged";
  EXPECT_EQ(arc.findFirst(handle, "*.*", nullptr), -1);
  EXPECT_NE(arc.entryName(handle, name, sizeof name), 0);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(arc.close(handle), 0);
}

TEST_F(ArchiverTest, NameIsRefusedRatherThanCutWhenTheBufferIsTooSmall) {
  void* handle = arc.open(nullptr, Fixture("zip_dir_first.zip").c_str(), 0);
  ASSERT_NE(handle, nullptr);
  char name[32];
  EXPECT_NE(arc.entryName(handle, name, sizeof name), 0) << "no current entry before a find";
  ASSERT_EQ(arc.findFirst(handle, "*.*", nullptr), 0);
  const int length = static_cast<int>(strlen("dir\\rom.bin"));
  memset(name, 'X', sizeof name);
  EXPECT_NE(arc.entryName(handle, name, length), 0);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(name[length], 'X') << "wrote past the given size";
  EXPECT_EQ(arc.entryName(handle, name, length + 1), 0);
  EXPECT_STREQ(name, "dir\\rom.bin");
  EXPECT_EQ(arc.close(handle), 0);
}

TEST_F(ArchiverTest, PatternChoosesTheEntryFoundAndTheEntriesExtracted) {
  void* handle = arc.open(nullptr, Fixture("zip_multi.zip").c_str(), 0);
  ASSERT_NE(handle, nullptr);
  char name[260];
  ASSERT_EQ(arc.findFirst(handle, "*.bin", nullptr), 0);
  ASSERT_EQ(arc.entryName(handle, name, sizeof name), 0);
  EXPECT_STREQ(name, "empty.bin");
  ASSERT_EQ(arc.findFirst(handle, "SUB\\?.BIN", nullptr), 0);
  ASSERT_EQ(arc.entryName(handle, name, sizeof name), 0);
  EXPECT_STREQ(name, "sub\\b.bin");
  EXPECT_EQ(arc.findFirst(handle, "*.none", nullptr), -1);
  EXPECT_NE(arc.entryName(handle, name, sizeof name), 0);
  EXPECT_EQ(arc.close(handle), 0);

  // Wildcards, or one or more entries by name, quoted as the plug-in quotes them.
  struct Case {
    const char* patterns;
    std::vector<std::string> extracted;  // the files, folders ending in "\\"
    const char* archive = "zip_multi.zip";
  } cases[] = {
      {"*.bin", {"empty.bin", "sub\\", "sub\\b.bin", "sub\\deeper\\", "sub\\deeper\\c.bin"}},
      {"\"a.txt\"", {"a.txt"}},
      {"\"sub\\b.bin\"", {"sub\\", "sub\\b.bin"}},
      {"\"a.txt\" \"sub\\deeper\\c.bin\"", {"a.txt", "sub\\", "sub\\deeper\\", "sub\\deeper\\c.bin"}},
      // A name outside code page 932, by the spelling the archiver gave it.
      {"\"\x82\x73\x82\x85\x82\x93\x82\x94?\x94\x67.nes\"", {u8"Ｔｅｓｔ〜波.nes"}, "zip_unicode.zip"},
      {"\"?????.nes\"", {u8"塞尔达传说.nes"}, "7z_unicode.7z"},
      {"\"???.nes\"", {u8"한국어.nes"}, "zip_unicode.zip"},
  };
  for (const Case& c : cases) {
    std::string folder = out + "p\\";
    ASSERT_EQ(Extract(Fixture(c.archive), folder, nullptr, c.patterns), 0) << c.patterns;
    std::vector<std::string> names;
    for (const auto& item : Tree(folder)) names.push_back(item.first);
    EXPECT_EQ(names, c.extracted) << c.patterns;
    RemoveTree(folder);
  }
}

TEST_F(ArchiverTest, ExtractionMakesFoldersAndReplacesExistingFiles) {
  // The output folder does not exist yet and is given without a final "\".
  std::string folder = out + "new\\deeper";
  ASSERT_TRUE(CreateDirectoryA((out + "new").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((folder + "\\dir").c_str(), nullptr));
  std::string stale = folder + "\\dir\\rom.bin";
  ASSERT_TRUE(WriteBytes(stale, std::string(20000, 'S')));
  SetFileAttributesA(stale.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Extract(Fixture("zip_dir_first.zip"), folder), 0);
  ExpectSameTree(Expected("zip_dir_first.zip"), folder + "\\");
  // Twice into the same place: every file is replaced again.
  EXPECT_EQ(Extract(Fixture("7z_dir_first.7z"), folder + "\\"), 0);
  ExpectSameTree(Expected("7z_dir_first.7z"), folder + "\\");

  // With -aos a file already there stays, and the rest is written.
  ASSERT_TRUE(WriteBytes(stale, "kept"));
  std::string command = "x \"" + Fixture("zip_dir_first.zip") + "\" -aos -hide \"" + folder + "\" *.*";
  char output[512];
  EXPECT_EQ(arc.run(nullptr, command.c_str(), output, sizeof output), 0) << output;
  EXPECT_EQ(ReadBytes(stale), "kept");

  std::string fresh = out + "a\\b\\c\\";
  EXPECT_EQ(Extract(Fixture("7z_solid.7z"), fresh), 0);
  ExpectSameTree(Expected("7z_solid.7z"), fresh);
}

TEST_F(ArchiverTest, NamesLeavingTheOutputFolderOrNamingDevicesAreRefused) {
  std::string folder = out + "inner\\";
  ASSERT_EQ(GetFileAttributesA("C:\\evil.bin"), INVALID_FILE_ATTRIBUTES);
  ASSERT_EQ(GetFileAttributesA("\\evil.bin"), INVALID_FILE_ATTRIBUTES);
  std::string report;
  EXPECT_NE(Extract(Fixture("zip_unsafe.zip"), folder, &report), 0);
  EXPECT_NE(report.find("7 failed"), std::string::npos) << report;
  ExpectSameTree(Expected("zip_unsafe.zip"), folder);
  EXPECT_FALSE(FileExists(out + "evil.bin"));
  EXPECT_FALSE(FileExists("C:\\evil.bin"));
  EXPECT_FALSE(FileExists("\\evil.bin"));
  DeleteFileA("C:\\evil.bin");
  DeleteFileA("\\evil.bin");
}

TEST_F(ArchiverTest, PathsBeyondMaxPathAreRefused) {
  // A folder so deep that "a.txt" still fits below MAX_PATH but
  // "sub\deeper\c.bin" does not.
  const size_t total = 246;
  ASSERT_LT(out.size() + 2, total);
  std::string folder = out + std::string(total - out.size() - 1, 'd') + "\\";
  ASSERT_EQ(folder.size(), total);
  std::string report;
  EXPECT_NE(Extract(Fixture("zip_multi.zip"), folder, &report), 0);
  EXPECT_NE(report.find("too long"), std::string::npos) << report;
  EXPECT_EQ(ReadBytes(folder + "a.txt"), "first file\n");
  EXPECT_TRUE(Tree(folder + "sub\\deeper\\").empty());
}

TEST_F(ArchiverTest, CommandsOutsideTheKnownFormAreRefused) {
  std::string archive = Fixture("zip_stored.zip");
  std::string target = out + "t\\";
  const std::string bad[] = {
      "e \"" + archive + "\" -aoa -hide \"" + target + "\" *.*",       // unknown command letter
      "x \"" + archive + "\" -aoa -hide -y \"" + target + "\" *.*",    // unknown switch
      "x \"" + archive + "\" -hide \"" + target + "\" *.*",            // -aoa or -aos missing
      "x \"" + archive + "\" -aoa -aos -hide \"" + target + "\" *.*",  // both
      "x " + archive + " -aoa -hide \"" + target + "\" *.*",           // archive not quoted
      "x \"" + archive + "\" -aoa -hide \"" + target + "\"",           // pattern missing
      "x \"" + archive + "\" -aoa -hide \"" + target + " *.*",         // quotation not closed
      "x \"" + archive + "\" -aoa -hide \"" + target + "\" *.* \"\"",  // an empty name
      "",
  };
  for (const std::string& command : bad) {
    SCOPED_TRACE(command);
    char output[512] = "";
    EXPECT_NE(arc.run(nullptr, command.c_str(), output, sizeof output), 0);
    EXPECT_EQ(strncmp(output, "error:", 6), 0) << output;
    EXPECT_EQ(GetFileAttributesA((out + "t").c_str()), INVALID_FILE_ATTRIBUTES);
  }
  // Switches may come in any order, and a small report buffer still ends in NUL.
  std::string good = "x -hide \"" + archive + "\" \"" + target + "\" -aoa *.*";
  char small[9];
  memset(small, 'Z', sizeof small);
  EXPECT_EQ(arc.run(nullptr, good.c_str(), small, 8), 0);
  EXPECT_EQ(strlen(small), 7u);
  EXPECT_EQ(small[8], 'Z');
  EXPECT_EQ(arc.run(nullptr, good.c_str(), nullptr, 0), 0);
  ExpectSameTree(Expected("zip_stored.zip"), target);
}

TEST_F(ArchiverTest, BusyWhileAnOperationIsUnderWayAndWhenForced) {
  EXPECT_FALSE(arc.isBusy());
  arc.setBusy(1);
  EXPECT_TRUE(arc.isBusy());
  arc.setBusy(0);
  EXPECT_FALSE(arc.isBusy());

  HANDLE reached = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE resume = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(reached && resume);
  arc.pauseNext(reached, resume);
  int result = -1;
  std::thread worker([&] { result = Extract(Fixture("7z_solid.7z"), out); });
  EXPECT_EQ(WaitForSingleObject(reached, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(arc.isBusy());
  SetEvent(resume);
  worker.join();
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(arc.isBusy());
  CloseHandle(reached);
  CloseHandle(resume);
}

// The switches the callers' tests turn, seen as a caller sees them.
TEST_F(ArchiverTest, FailureSwitchesServeTheCallerTests) {
  std::string archive = Fixture("zip_dir_first.zip");
  void* handle = nullptr;
  arc.failOpen(1);
  EXPECT_EQ(arc.open(nullptr, archive.c_str(), 0), nullptr);
  arc.failOpen(0);
  handle = arc.open(nullptr, archive.c_str(), 0);
  ASSERT_NE(handle, nullptr);
  arc.failNextClose(1);
  EXPECT_NE(arc.close(handle), 0);
  // The forced failure still released the handle: a second close is refused.
  EXPECT_NE(arc.close(handle), 0);
  handle = arc.open(nullptr, archive.c_str(), 0);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(arc.close(handle), 0) << "the switch covers one close only";

  // A failed extraction that leaves what was there, as a real archiver may.
  ASSERT_TRUE(WriteBytes(out + "other.bin", "stale"));
  arc.failExtraction(1);
  EXPECT_NE(Extract(archive, out), 0);
  EXPECT_EQ(ReadBytes(out + "other.bin"), "stale");

  EXPECT_EQ(arc.openHandles(), 0);
}

}  // namespace
