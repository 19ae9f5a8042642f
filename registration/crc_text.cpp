#include "registration/crc_text.h"

void CrcToText(uint32_t crc, char* text, size_t textSize) {
  // The relation file and the host compare CRC texts byte for byte: always
  // eight digits, upper case, leading zeros kept.
  static const char kDigits[] = "0123456789ABCDEF";
  if (textSize < kCrcTextSize) {
    if (textSize > 0) text[0] = '\0';
    return;
  }
  for (int i = 7; i >= 0; --i, crc >>= 4) text[i] = kDigits[crc & 0xF];
  text[8] = '\0';
}
