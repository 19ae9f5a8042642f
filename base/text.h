// Bounded text into fixed buffers: the one way the plug-in copies or formats
// into a path buffer. Both always terminate the destination and report whether
// the whole text fit; a caller that must not shorten a path refuses on false.
#pragma once
#include <cstddef>

constexpr size_t kPathSize = 260;  // a path buffer: 259 bytes and the NUL

bool CopyText(char* dst, size_t dstSize, const char* src);
bool FormatText(char* dst, size_t dstSize, const char* format, ...) __attribute__((format(printf, 3, 4)));

// True when the string's last character is "\". The string is read in the
// ANSI code page, the one paths are in (932 on a Japanese system): the trail
// byte of a double-byte character (as in "表", 0x95 0x5C) is not a separator.
bool EndsWithBackslash(const char* path);

// Appends "\" unless the path already ends with one; "" becomes "\". Returns
// false, leaving the path unchanged, when the buffer has no room for it.
bool EnsureTrailingBackslash(char* path, size_t size);

// Start of the last path component (after the last "\" or "/"), read in the
// ANSI code page as EndsWithBackslash reads it.
const char* LastComponent(const char* path);

// A fixed record read from a file is used only up to its own end: one without
// a NUL inside its size bytes gets one in its last byte.
void TerminateRecord(char* record, size_t size);

// The form two spellings of one path share on a file system that ignores
// case: ASCII letters upper-cased and runs of separators ("\\", "/") made one
// "\", read in the ANSI code page so that a trail byte is kept as it is.
// False when it does not fit.
bool FoldPathForCompare(char* key, size_t size, const char* path);

// Orders two paths as FoldPathForCompare's forms of them would order, without
// making them: 0 when they are spellings of one path.
int CompareFoldedPaths(const char* a, const char* b);

// The root a path's volume answers at: "X:\" for a drive, "\\server\share\"
// for a share. False for any other form.
bool VolumeRootOf(char* root, size_t size, const char* path);

// True when name, joined to a folder, names something inside it: relative (no
// leading "\" or "/"), no drive or stream ":", no component made only of dots
// and blanks with two or more dots (Windows reads "..", ". ." and "..." as
// going up or collapses them), and no device name in any component (CON,
// nul.txt, COM1, ...). Read in the ANSI code page, so that a trail byte 0x5C
// is not a separator. "" names the folder itself and passes.
bool NameStaysInsideFolder(const char* name);
