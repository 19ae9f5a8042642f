// Entry names: stored names become relative paths with "\" separators in code
// page 932, and are judged for safety before anything is written under them.
#include <cstring>
#include <string>

#include "archiver/archiver.h"

constexpr UINT kNameCodePage = 932;

// Windows opens a device, not a file, for these names in any folder and with
// any extension ("nul.txt", "COM1.bin").
static bool IsDeviceName(const std::wstring& component) {
  std::wstring base = component.substr(0, component.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (wchar_t& c : base) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL") return true;
  return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) && base[3] >= L'1' &&
         base[3] <= L'9';
}

// Judged on the UTF-16 form, where no half of a double-byte character can pass
// for a separator. Separators are already "\" and no trailing one is left.
static bool IsSafeRelativeName(const std::wstring& name) {
  if (name.empty() || name[0] == L'\\') return false;
  for (wchar_t c : name) {
    // ":" would name a drive ("C:") or an alternate stream; control characters
    // have no place in a file name.
    if (c < 0x20 || c == L':') return false;
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find(L'\\', start);
    if (end == std::wstring::npos) end = name.size();
    // Windows drops trailing dots and blanks of a component, so ". ." or
    // "..." could act as ".."; any all-dots-and-blanks component with two dots
    // is refused.
    size_t dots = 0;
    bool onlyDotsAndBlanks = true;
    for (size_t i = start; i < end; ++i) {
      if (name[i] == L'.') {
        ++dots;
      } else if (name[i] != L' ') {
        onlyDotsAndBlanks = false;
      }
    }
    if (onlyDotsAndBlanks && dots >= 2) return false;
    if (IsDeviceName(name.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

// "/" becomes "\"; trailing separators mark a directory and are dropped.
static void NormalizeSeparators(std::wstring* name, bool* isDirectory) {
  for (wchar_t& c : *name) {
    if (c == L'/') c = L'\\';
  }
  while (!name->empty() && name->back() == L'\\') {
    name->pop_back();
    *isDirectory = true;
  }
}

static bool ToWide(UINT codePage, const char* bytes, size_t length, std::wstring* wide) {
  wide->clear();
  if (length == 0 || length > 0x7FFFFFFF || memchr(bytes, '\0', length) != nullptr) return false;
  int count = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(length), nullptr, 0);
  if (count <= 0) return false;
  wide->resize(static_cast<size_t>(count));
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(length), &(*wide)[0], count) ==
         count;
}

// Refuses a name that has no code page 932 spelling: a best-fit substitute
// ("?" or a look-alike) would name another file than the one stored.
static bool ToCp932(const std::wstring& wide, std::string* bytes) {
  bytes->clear();
  if (wide.empty() || wide.size() > 0x7FFFFFFF) return false;
  int length = static_cast<int>(wide.size());
  int count = WideCharToMultiByte(kNameCodePage, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return false;
  bytes->resize(static_cast<size_t>(count));
  if (WideCharToMultiByte(kNameCodePage, 0, wide.data(), length, &(*bytes)[0], count, nullptr, nullptr) != count) {
    return false;
  }
  std::wstring back;
  return ToWide(kNameCodePage, bytes->data(), bytes->size(), &back) && back == wide;
}

static void SetNameFromWide(ArchiveEntry* entry, std::wstring wide) {
  NormalizeSeparators(&wide, &entry->isDirectory);
  entry->nameSafe = IsSafeRelativeName(wide);
  entry->nameUsable = ToCp932(wide, &entry->name);
  if (!entry->nameUsable) entry->name.clear();
}

void SetNameFromUtf8(ArchiveEntry* entry, const char* bytes, size_t length) {
  std::wstring wide;
  if (!ToWide(CP_UTF8, bytes, length, &wide)) {
    entry->nameUsable = entry->nameSafe = false;
    entry->name.clear();
    return;
  }
  SetNameFromWide(entry, wide);
}

void SetNameFromUtf16(ArchiveEntry* entry, const wchar_t* text, size_t length) {
  SetNameFromWide(entry, std::wstring(text, length));
}

// Raw code page 932 bytes are kept as stored (no round trip through UTF-16,
// which could change a duplicate-mapped character); only "/" becomes "\", safe
// byte-wise because 0x2F is never the second byte of a character.
void SetNameFromCp932(ArchiveEntry* entry, const char* bytes, size_t length) {
  std::wstring wide;
  if (!ToWide(kNameCodePage, bytes, length, &wide)) {
    entry->nameUsable = entry->nameSafe = false;
    entry->name.clear();
    return;
  }
  std::string name(bytes, length);
  for (char& c : name) {
    if (c == '/') c = '\\';
  }
  // A trailing U+005C in the UTF-16 form is a single byte "\" in the bytes.
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  bool inStep = true;
  while (!wide.empty() && wide.back() == L'\\') {
    inStep = !name.empty() && name.back() == '\\';
    if (!inStep) break;
    wide.pop_back();
    name.pop_back();
    entry->isDirectory = true;
  }
  entry->nameSafe = IsSafeRelativeName(wide);
  entry->nameUsable = inStep && !name.empty();
  entry->name = entry->nameUsable ? name : std::string();
}

const char* NextCp932Char(const char* p) {
  if (*p == '\0') return p;
  if (IsDBCSLeadByteEx(kNameCodePage, static_cast<BYTE>(*p)) && p[1] != '\0') return p + 2;
  return p + 1;
}

bool MatchesEverything(const char* pattern) {
  return pattern != nullptr && (strcmp(pattern, "*") == 0 || strcmp(pattern, "*.*") == 0);
}

static char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Compares one character of each string; a double-byte character only equals
// the same two bytes.
static bool SameChar(const char* a, const char* b) {
  size_t lengthA = static_cast<size_t>(NextCp932Char(a) - a);
  size_t lengthB = static_cast<size_t>(NextCp932Char(b) - b);
  if (lengthA != lengthB) return false;
  if (lengthA == 1) return FoldAscii(*a) == FoldAscii(*b);
  return a[0] == b[0] && a[1] == b[1];
}

bool MatchesPattern(const char* pattern, const char* name) {
  if (pattern == nullptr || name == nullptr) return false;
  if (MatchesEverything(pattern)) return true;
  const char* p = pattern;
  const char* n = name;
  const char* starPattern = nullptr;  // just after the last "*" seen
  const char* starName = nullptr;     // where that "*" began matching
  // Each backtrack advances starName by one character, so the loop ends.
  while (*n != '\0') {
    if (*p == '*') {
      starPattern = ++p;
      starName = n;
    } else if (*p != '\0' && (*p == '?' || SameChar(p, n))) {
      p = NextCp932Char(p);
      n = NextCp932Char(n);
    } else if (starPattern != nullptr) {
      starName = NextCp932Char(starName);
      n = starName;
      p = starPattern;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == '\0';
}
