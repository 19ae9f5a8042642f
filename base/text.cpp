#include "base/text.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

bool CopyText(char* dst, size_t dstSize, const char* src) {
  if (dst == nullptr || dstSize == 0) return false;
  if (src == nullptr) src = "";
  size_t length = strlen(src);
  bool fits = length < dstSize;
  size_t count = fits ? length : dstSize - 1;
  memmove(dst, src, count);
  dst[count] = '\0';
  return fits;
}

bool FormatText(char* dst, size_t dstSize, const char* format, ...) {
  if (dst == nullptr || dstSize == 0) return false;
  va_list args;
  va_start(args, format);
  int written = vsnprintf(dst, dstSize, format, args);
  va_end(args);
  if (written < 0) {
    dst[0] = '\0';
    return false;
  }
  dst[dstSize - 1] = '\0';
  return static_cast<size_t>(written) < dstSize;
}

// Walks the string character by character so that a double-byte character's
// trail byte is never taken for a separator.
static const char* LastSeparatorOrNull(const char* path, bool slashToo) {
  const char* last = nullptr;
  for (const char* p = path; *p != '\0';) {
    if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') {
      p += 2;
      continue;
    }
    if (*p == '\\' || (slashToo && *p == '/')) last = p;
    ++p;
  }
  return last;
}

bool EndsWithBackslash(const char* path) {
  size_t length = strlen(path);
  if (length == 0) return false;
  const char* last = LastSeparatorOrNull(path, false);
  return last == path + length - 1;
}

bool EnsureTrailingBackslash(char* path, size_t size) {
  if (EndsWithBackslash(path)) return true;
  size_t length = strlen(path);
  if (length + 2 > size) return false;
  path[length] = '\\';
  path[length + 1] = '\0';
  return true;
}

const char* LastComponent(const char* path) {
  const char* last = LastSeparatorOrNull(path, true);
  return last ? last + 1 : path;
}

void TerminateRecord(char* record, size_t size) {
  if (size > 0 && memchr(record, '\0', size) == nullptr) record[size - 1] = '\0';
}
