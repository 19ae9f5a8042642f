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

static bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The next byte of a path's folded form from *p on, advancing *p; a double-byte
// character's two bytes come one by one, and *wide says a trail byte is next.
static unsigned char NextFoldedByte(const char** p, bool* wide, bool* afterSeparator, bool atStart) {
  for (;;) {
    unsigned char c = static_cast<unsigned char>(**p);
    if (c == '\0') return 0;
    ++*p;
    if (*wide) {
      *wide = false;
      return c;
    }
    // Below 0x80 no byte leads a double-byte character, and asking the
    // system for each one would cost most of a comparison.
    if (c >= 0x80 && IsDBCSLeadByte(c) && **p != '\0') {
      *wide = true;
      *afterSeparator = false;
      return c;
    }
    bool separator = IsSeparator(static_cast<char>(c));
    if (separator && *afterSeparator && !atStart) continue;
    *afterSeparator = separator;
    if (separator) return '\\';
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
  }
}

int CompareFoldedPaths(const char* a, const char* b) {
  bool wideA = false, wideB = false, afterA = false, afterB = false;
  const char* startA = a;
  const char* startB = b;
  for (;;) {
    // A leading "\\" names a share and stays, as FoldPathForCompare keeps it.
    unsigned char x = NextFoldedByte(&a, &wideA, &afterA, a - startA < 2);
    unsigned char y = NextFoldedByte(&b, &wideB, &afterB, b - startB < 2);
    if (x != y || x == 0) return x < y ? -1 : (x > y ? 1 : 0);
  }
}

bool FoldPathForCompare(char* key, size_t size, const char* path) {
  if (size == 0) return false;
  bool wide = false, afterSeparator = false;
  const char* p = path;
  size_t length = 0;
  for (unsigned char c; (c = NextFoldedByte(&p, &wide, &afterSeparator, p - path < 2)) != 0;) {
    if (length + 1 >= size) {
      key[0] = '\0';
      return false;
    }
    key[length++] = static_cast<char>(c);
  }
  key[length] = '\0';
  return true;
}

// The end of the component that starts at p: the next separator, or the NUL.
static const char* ComponentEnd(const char* p) {
  while (*p != '\0' && !IsSeparator(*p)) p += IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0' ? 2 : 1;
  return p;
}

bool VolumeRootOf(char* root, size_t size, const char* path) {
  const char* end = nullptr;
  if (((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':' &&
      IsSeparator(path[2])) {
    end = path + 2;
  } else if (IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] != '\0' && !IsSeparator(path[2])) {
    const char* server = ComponentEnd(path + 2);
    if (*server == '\0' || server[1] == '\0' || IsSeparator(server[1])) return false;
    end = ComponentEnd(server + 1);
  } else {
    return false;
  }
  return FormatText(root, size, "%.*s\\", static_cast<int>(end - path), path);
}

// Names that Windows opens as devices in any folder, whatever follows them after
// a dot: a read of "con.fol" waits on the console, "NUL.rel" swallows every line.
static const char* const kDeviceNames[] = {"CON",  "PRN",  "AUX",  "NUL",  "CONIN$", "CONOUT$", "COM1", "COM2",
                                           "COM3", "COM4", "COM5", "COM6", "COM7",   "COM8",    "COM9", "LPT1",
                                           "LPT2", "LPT3", "LPT4", "LPT5", "LPT6",   "LPT7",    "LPT8", "LPT9"};

// component is length bytes long (no separator inside). Its stem, up to the
// first dot and without trailing blanks (which Windows drops), decides.
static bool IsDeviceName(const char* component, size_t length) {
  size_t stem = 0;
  while (stem < length && component[stem] != '.') ++stem;
  while (stem > 0 && component[stem - 1] == ' ') --stem;
  for (const char* device : kDeviceNames) {
    if (strlen(device) == stem && _strnicmp(component, device, stem) == 0) return true;
  }
  return false;
}

static bool IsOnlyDotsAndBlanks(const char* component, size_t length) {
  size_t dots = 0;
  for (size_t i = 0; i < length; ++i) {
    if (component[i] == '.') {
      ++dots;
    } else if (component[i] != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

bool NameStaysInsideFolder(const char* name) {
  if (IsSeparator(name[0]) || strchr(name, ':') != nullptr) return false;
  for (const char* component = name; *component != '\0';) {
    const char* end = ComponentEnd(component);
    size_t length = static_cast<size_t>(end - component);
    if (IsOnlyDotsAndBlanks(component, length) || IsDeviceName(component, length)) return false;
    component = *end != '\0' ? end + 1 : end;
  }
  return true;
}
