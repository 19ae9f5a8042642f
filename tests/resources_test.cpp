// The DLL's version resource as Explorer's Details tab and the version API
// read it: the same identity as the entry points report, in Japanese (0x0411)
// with code page 932 text.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/host_double.h"

namespace {

struct VersionInfo {
  std::vector<char> block;
  bool Read(const std::string& path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return false;
    block.assign(size, '\0');
    return GetFileVersionInfoA(path.c_str(), 0, size, block.data()) != FALSE;
  }
  // The ANSI form of a string value (code page 932 here); "<missing>" when absent.
  std::string Text(const char* name) {
    std::string key = std::string("\\StringFileInfo\\041103A4\\") + name;
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || value == nullptr) {
      return "<missing>";
    }
    return value;
  }
};

TEST(VersionResource, NamesTheFileAsTheEntryPointsDo) {
  LoadedPlugin plugin;
  ASSERT_TRUE(LoadPlugin(&plugin)) << "Corvane.dll or an entry point is missing";
  VersionInfo info;
  ASSERT_TRUE(info.Read(BinFolder() + "Corvane.dll")) << "no version resource, error " << GetLastError();

  struct Translation {
    WORD language;
    WORD codePage;
  }* translation = nullptr;
  UINT length = 0;
  ASSERT_TRUE(
      VerQueryValueA(info.block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, sizeof *translation);
  EXPECT_EQ(translation->language, 0x0411);
  EXPECT_EQ(translation->codePage, 932);

  // The Japanese description read back as code page 932 bytes, against a
  // spelling of its own and against what getSmallComment hands the host.
  const struct {
    const char* name;
    std::string expected;
    std::string reported;
  } strings[] = {
      {"FileDescription", Cp932(u8"ヘッダを無視したCRC32値でロムファイルを管理します"), plugin.getSmallComment()},
      {"CompanyName", "Tamsk", plugin.getAuthor()},
      {"ProductName", "Corvane", plugin.getName()},
      {"FileVersion", "1.0", plugin.getVersion()},
      {"ProductVersion", "1.0", plugin.getVersion()},
      {"OriginalFilename", "Corvane.dll", "Corvane.dll"},
  };
  for (const auto& s : strings) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(info.Text(s.name), s.expected);
    EXPECT_EQ(info.Text(s.name), s.reported);
  }

  VS_FIXEDFILEINFO* fixed = nullptr;
  ASSERT_TRUE(VerQueryValueA(info.block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  // "1.0" as major.minor in the high words, zero build and revision.
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 1));
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 1));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  UnloadPlugin(&plugin);
}

}  // namespace
