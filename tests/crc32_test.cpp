// File CRC-32 and CRC text: the table, known values, every CRC routine against
// the byte table, zlib as the oracle for sizes around page, mapping and view
// boundaries, and the failure reports.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "registration/crc32.h"
#include "support/host_double.h"

namespace {

// Runs call with standard error (fd 2) redirected to a file and returns what
// was written there.
template <typename Call>
std::string CaptureStderr(const std::string& folder, Call call) {
  std::string capturePath = folder + "stderr.txt";
  fflush(stderr);
  int saved = _dup(2);
  int capture = _open(capturePath.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, 0600);
  EXPECT_GE(saved, 0);
  EXPECT_GE(capture, 0);
  _dup2(capture, 2);
  call();
  fflush(stderr);
  _dup2(saved, 2);
  _close(capture);
  _close(saved);
  std::string text = ReadBytes(capturePath);
  DeleteFileA(capturePath.c_str());
  return text;
}

// The report line for a failed call: the call, the file, the code and the
// system's own text for it (without its line break), as the user's default
// language gives it.
std::string Report(const char* call, const std::string& path, DWORD error) {
  char text[1024] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  std::string message = text;
  EXPECT_FALSE(message.empty()) << error;
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return "Corvane: (" + std::to_string(error) + ") " + call + "(" + path + ") - " + message + "\n";
}

// Upper-case hex written digit by digit, not through printf.
std::string Hex8(uint32_t value) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4) text[i] = digits[value & 0xF];
  return text;
}

// True when nobody holds the file open any more (no handle, no mapping).
bool OpenableExclusively(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

class FileCrc : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = MakeTempFolder("crc");
    ASSERT_FALSE(folder.empty());
  }
  void TearDown() override {
    SetCrcViewSizeForTests(0);
    RemoveTree(folder);
  }
  std::string folder;
};

TEST(FileCrcTable, EveryEntryIsTheBitwiseReflectedRegister) {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int step = 0; step < 8; ++step) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    EXPECT_EQ(kCrcTable[i], c) << "entry " << i;
  }
}

// Every routine Crc32Update may choose, and Crc32Update itself. The folding one
// only where the processor has it (listed with a null routine otherwise).
struct CrcRoutineCase {
  const char* name;
  uint32_t (*update)(uint32_t crc, const void* data, size_t size);
};

std::vector<CrcRoutineCase> CrcRoutines() {
  return {
      {"bytewise", Crc32UpdateBytewise},
      {"sliced", Crc32UpdateSliced},
      {"folded", Crc32HasFolding() ? Crc32UpdateFolded : nullptr},
      {"dispatched", Crc32Update},
  };
}

// The definition, step by step over the byte table, on the inverted register.
uint32_t TableStep(uint32_t reg, unsigned char byte) { return (reg >> 8) ^ kCrcTable[(reg ^ byte) & 0xFF]; }

TEST(CrcRoutines, CheckValueOfTheDigits) {
  for (const CrcRoutineCase& routine : CrcRoutines()) {
    if (routine.update == nullptr) continue;
    EXPECT_EQ(routine.update(0, "123456789", 9), 0xCBF43926u) << routine.name;
    EXPECT_EQ(routine.update(0xCBF43926u, "", 0), 0xCBF43926u) << routine.name;
  }
}

// Lengths 0 to 4,096 at every offset from a 16-byte boundary: every head,
// every tail and every number of whole vector blocks.
TEST(CrcRoutines, EveryLengthAtEveryAlignmentMatchesTheByteTable) {
  constexpr size_t kMaxLength = 4096;
  std::string pattern = RandomBytes(kMaxLength, 99);
  std::vector<uint32_t> expected(kMaxLength + 1);
  uint32_t reg = 0xFFFFFFFFu;
  expected[0] = 0;
  for (size_t i = 0; i < kMaxLength; ++i) {
    reg = TableStep(reg, static_cast<unsigned char>(pattern[i]));
    expected[i + 1] = ~reg;
  }
  std::vector<unsigned char> storage(kMaxLength + 64);
  unsigned char* aligned = storage.data() + ((16 - reinterpret_cast<uintptr_t>(storage.data()) % 16) % 16);
  for (size_t alignment = 0; alignment < 16; ++alignment) {
    unsigned char* data = aligned + alignment;
    memcpy(data, pattern.data(), kMaxLength);
    for (const CrcRoutineCase& routine : CrcRoutines()) {
      if (routine.update == nullptr) continue;
      int mismatches = 0;
      for (size_t length = 0; length <= kMaxLength && mismatches < 5; ++length) {
        uint32_t crc = routine.update(0, data, length);
        if (crc != expected[length]) {
          ++mismatches;
          ADD_FAILURE() << routine.name << " length " << length << " alignment " << alignment << ": " << Hex8(crc)
                        << " instead of " << Hex8(expected[length]);
        }
      }
    }
  }
}

// Megabytes of data, whole and in pieces cut at uneven places: the CRC carried
// from one call into the next is the one a view loop relies on.
TEST(CrcRoutines, LargeBuffersWholeAndInPiecesMatchTheByteTableAndZlib) {
  const size_t sizes[] = {(1u << 20) + 13, (3u << 20) - 1, 4u << 20};
  for (size_t size : sizes) {
    std::string bytes = RandomBytes(size, static_cast<uint32_t>(size));
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
    uint32_t reg = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) reg = TableStep(reg, data[i]);
    uint32_t expected = ~reg;
    ASSERT_EQ(expected, crc32(0L, data, static_cast<uInt>(size))) << size;
    const size_t cuts[] = {1, 63, 100003, size / 2 + 7, size - 5};
    for (const CrcRoutineCase& routine : CrcRoutines()) {
      if (routine.update == nullptr) continue;
      EXPECT_EQ(routine.update(0, data, size), expected) << routine.name << " size " << size;
      uint32_t crc = 0;
      size_t done = 0;
      for (size_t cut : cuts) {
        crc = routine.update(crc, data + done, cut - done);
        done = cut;
      }
      crc = routine.update(crc, data + done, size - done);
      EXPECT_EQ(crc, expected) << routine.name << " in pieces, size " << size;
    }
  }
}

TEST_F(FileCrc, KnownValuesAsUpperCaseTextWithLeadingZeros) {
  struct Case {
    std::string content;
    const char* text;
  };
  const Case cases[] = {
      {"123456789", "CBF43926"},
      {"abc", "352441C2"},
      {"", "00000000"},
      {"ob", "000065E3"},  // leading zeros and hex letters at once
  };
  for (const Case& c : cases) {
    std::string path = folder + "rom.bin";
    ASSERT_TRUE(WriteBytes(path, c.content));
    char text[kPathSize];
    memset(text, 'x', sizeof text);
    int result = -9;
    std::string errors = CaptureStderr(folder, [&] { result = FormatCrcText(path.c_str(), text, sizeof text); });
    EXPECT_EQ(result, 0) << c.text;
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(errors, "") << c.text;
    // Exactly nine bytes are enough.
    char tight[kCrcTextSize];
    EXPECT_EQ(FormatCrcText(path.c_str(), tight, sizeof tight), 0);
    EXPECT_STREQ(tight, c.text);
  }
}

TEST_F(FileCrc, AgreesWithZlibAcrossPageAndMappingBoundaries) {
  const size_t sizes[] = {0,    1,    2,     15,    16,    17,    255,   256,   4095,
                          4096, 4097, 10239, 10240, 10241, 65535, 65536, 65537, 1048577};
  for (size_t size : sizes) {
    std::string bytes = RandomBytes(size, static_cast<uint32_t>(size) + 7);
    std::string path = folder + "block.bin";
    ASSERT_TRUE(WriteBytes(path, bytes));
    uint32_t expected =
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
    uint32_t crc = 0xDEADBEEF;
    ASSERT_TRUE(ComputeFileCrc32(path.c_str(), &crc)) << size;
    EXPECT_EQ(crc, expected) << "size " << size;
    char text[kCrcTextSize];
    ASSERT_EQ(FormatCrcText(path.c_str(), text, sizeof text), 0);
    EXPECT_EQ(std::string(text), Hex8(expected)) << "size " << size;
    // Nothing stays open, and the file is as it was.
    EXPECT_TRUE(OpenableExclusively(path)) << size;
    EXPECT_EQ(ReadBytes(path), bytes);
  }
}

// Views lowered to the allocation granularity and a little above it (rounded
// up): files of one view less a byte, exactly two views, and several views
// with an uneven tail all give the CRC of their bytes.
TEST_F(FileCrc, FileLargerThanOneViewIsReadViewByView) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t granularity = info.dwAllocationGranularity;
  const size_t viewSizes[] = {1, granularity, granularity + 1};
  for (size_t viewSize : viewSizes) {
    SetCrcViewSizeForTests(viewSize);
    size_t view = (viewSize + granularity - 1) / granularity * granularity;
    const size_t sizes[] = {view - 1, 2 * view, 3 * view + 4097, 5 * view + 1};
    for (size_t size : sizes) {
      std::string bytes = RandomBytes(size, static_cast<uint32_t>(size * 3 + viewSize));
      std::string path = folder + "views.bin";
      ASSERT_TRUE(WriteBytes(path, bytes));
      uint32_t expected = crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(size));
      uint32_t crc = 0xDEADBEEF;
      std::string errors = CaptureStderr(folder, [&] { EXPECT_TRUE(ComputeFileCrc32(path.c_str(), &crc)); });
      EXPECT_EQ(crc, expected) << "view " << viewSize << " size " << size;
      EXPECT_EQ(errors, "");
      EXPECT_TRUE(OpenableExclusively(path)) << "view " << viewSize << " size " << size;
    }
  }
}

TEST_F(FileCrc, MissingFileReportsTheSystemMessageAndNoText) {
  std::string path = folder + "missing.bin";
  char text[kPathSize] = "0A1B2C3D";
  int result = 0;
  std::string errors = CaptureStderr(folder, [&] { result = FormatCrcText(path.c_str(), text, sizeof text); });
  EXPECT_EQ(result, -1);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(errors, Report("CreateFileA", path, ERROR_FILE_NOT_FOUND));
}

TEST_F(FileCrc, FileHeldOpenForWritingIsASharingViolation) {
  std::string path = folder + "busy.bin";
  ASSERT_TRUE(WriteBytes(path, "123456789"));
  HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  char text[kPathSize] = "CBF43926";
  uint32_t crc = 0x12345678;
  bool computed = true;
  int result = 0;
  std::string errors = CaptureStderr(folder, [&] {
    computed = ComputeFileCrc32(path.c_str(), &crc);
    result = FormatCrcText(path.c_str(), text, sizeof text);
  });
  CloseHandle(writer);
  EXPECT_FALSE(computed);
  EXPECT_EQ(crc, 0x12345678u);
  EXPECT_EQ(result, -1);
  EXPECT_STREQ(text, "");
  std::string report = Report("CreateFileA", path, ERROR_SHARING_VIOLATION);
  EXPECT_EQ(errors, report + report);
  // Once the writer is gone the same file reads normally.
  EXPECT_EQ(FormatCrcText(path.c_str(), text, sizeof text), 0);
  EXPECT_STREQ(text, "CBF43926");
}

TEST_F(FileCrc, FileOfFourGibibytesIsTooLarge) {
  std::string path = folder + "huge.bin";
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  // Extending without writing leaves the file sparse on the host's file system.
  LARGE_INTEGER end;
  end.QuadPart = 0x100000000LL;
  BOOL extended = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  CloseHandle(file);
  ASSERT_TRUE(extended);
  ASSERT_EQ(FileSizeOf(path), 0x100000000LL);
  char text[kPathSize] = "00000000";
  int result = 0;
  std::string errors = CaptureStderr(folder, [&] { result = FormatCrcText(path.c_str(), text, sizeof text); });
  EXPECT_EQ(result, -1);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(errors, path + " is too large\n");
  EXPECT_TRUE(OpenableExclusively(path));
}

TEST_F(FileCrc, TextBufferTooSmallIsRefusedEmpty) {
  std::string path = folder + "rom.bin";
  ASSERT_TRUE(WriteBytes(path, "abc"));
  char text[kCrcTextSize - 1];
  memset(text, 'x', sizeof text);
  EXPECT_EQ(FormatCrcText(path.c_str(), text, sizeof text), -1);
  EXPECT_STREQ(text, "");
}

}  // namespace
