// The header check: each header size's signature rule and its boundaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "base/texts.h"
#include "registration/header_check.h"

namespace {

TEST(HeaderCheck, WarnsWhenTheSignatureDisagreesWithTheHeaderSize) {
  const std::string nes("NES\x1A", 4), fds("FDS\x1A", 4), atari = '\x01' + std::string("ATARI7800"), pad(6, '\0');
  const std::string plain("NES\0\x01\x02\x03\x04\x05\x06", 10);
  const char* missing = kTextWarnHeaderMissing;
  const char* present = kTextWarnHeaderPresent;
  struct Case {
    int32_t headerSize;
    std::string head;  // the file's first bytes: the whole file when fileSize is 0
    int64_t fileSize;
    const char* warning;
  } cases[] = {
      // clang-format off
      {16, nes + pad, 40976, nullptr}, {16, fds + pad, 65516, nullptr}, {16, nes, 0, nullptr},
      {16, plain, 40960, missing}, {16, "NES", 0, missing}, {16, "", 0, missing},
      {64, "LYNX" + pad, 4160, nullptr}, {64, "lynx" + pad, 4160, missing}, {64, "LYN", 0, missing},
      {128, atari, 0, nullptr}, {128, "ATARI7800" + pad, 4224, missing}, {128, atari.substr(0, 9), 0, missing},
      {512, plain, 512, nullptr}, {512, plain, 33280, nullptr}, {512, plain, 32768, missing},
      {512, plain, 33279, missing}, {512, plain, 33281, missing},
      {0, nes + pad, 40976, present}, {0, fds + pad, 65516, present}, {0, "LYNX" + pad, 4160, present},
      {0, atari, 0, present}, {0, plain, 40960, nullptr}, {0, "NES", 0, nullptr},
      {0, atari.substr(0, 9), 0, nullptr},
      {1024, nes + pad, 4096, nullptr}, {32, plain, 4096, nullptr}, {-16, plain, 4096, nullptr},
      // clang-format on
  };
  for (const Case& c : cases) {
    // The run hands over at most the bytes the check asks for.
    size_t read = std::min(c.head.size(), kHeaderCheckBytes);
    int64_t size = c.fileSize != 0 ? c.fileSize : static_cast<int64_t>(c.head.size());
    const char* warning =
        HeaderWarningOf(c.headerSize, reinterpret_cast<const unsigned char*>(c.head.data()), read, size);
    EXPECT_EQ(std::string(warning != nullptr ? warning : "none"),
              std::string(c.warning != nullptr ? c.warning : "none"))
        << "header " << c.headerSize << ", " << c.head.size() << " bytes of " << size;
  }
}

}  // namespace
