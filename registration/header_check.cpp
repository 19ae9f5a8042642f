#include "registration/header_check.h"

#include <cstring>

#include "base/texts.h"

// The signatures of the header sizes that have one: iNES and FDS images (16),
// Lynx (64) and Atari 7800 (128) cartridges.
static const char kSignatureNes[] = "NES\x1A";
static const char kSignatureFds[] = "FDS\x1A";
static const char kSignatureLynx[] = "LYNX";
static const char kSignatureAtari[] = "ATARI7800";
static const size_t kAtariOffset = 1;

static bool HasSignatureAt(const unsigned char* head, size_t headLength, size_t offset, const char* signature) {
  size_t length = strlen(signature);
  return headLength >= offset + length && memcmp(head + offset, signature, length) == 0;
}

const char* HeaderWarningOf(int32_t headerSize, const unsigned char* head, size_t headLength, int64_t fileSize) {
  bool nes = HasSignatureAt(head, headLength, 0, kSignatureNes);
  bool fds = HasSignatureAt(head, headLength, 0, kSignatureFds);
  bool lynx = HasSignatureAt(head, headLength, 0, kSignatureLynx);
  bool atari = HasSignatureAt(head, headLength, kAtariOffset, kSignatureAtari);
  bool found;
  switch (headerSize) {
    case 0:
      return nes || fds || lynx || atari ? kTextWarnHeaderPresent : nullptr;
    case 16:
      found = nes || fds;
      break;
    case 64:
      found = lynx;
      break;
    case 128:
      found = atari;
      break;
    // A copier's 512-byte header has no signature: it only makes the size 512
    // more than a multiple of the 1 KiB the cartridge's data comes in.
    case 512:
      found = fileSize % 1024 == 512;
      break;
    default:
      return nullptr;
  }
  return found ? nullptr : kTextWarnHeaderMissing;
}
