// The header check of the add-ROMs run: whether a file's first bytes carry the
// signature that its dataset's header size stands for. It only warns; the file
// is registered, and its CRC taken, as the header size says either way.
#pragma once
#include <cstddef>
#include <cstdint>

// The leading bytes the check reads: up to the end of "ATARI7800" at byte 1.
constexpr size_t kHeaderCheckBytes = 10;

// The warning text for a file of fileSize bytes whose first headLength bytes
// (as many as were read) are head, or nullptr when there is nothing to say.
// A file too short for a signature does not carry it.
const char* HeaderWarningOf(int32_t headerSize, const unsigned char* head, size_t headLength, int64_t fileSize);
