// CRC text: the form a CRC-32 takes in the relation file and from the host.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t kCrcTextSize = 9;  // eight upper-case hex digits and the NUL

// A CRC as CRC text; a buffer smaller than kCrcTextSize is left empty.
void CrcToText(uint32_t crc, char* text, size_t textSize);
