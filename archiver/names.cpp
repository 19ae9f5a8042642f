// Entry names: stored names become relative paths with "\" separators in code
// page 932, and are judged for safety before anything is written under them.
#include <cstring>
#include <string>

#include "archiver/archiver.h"

constexpr UINT kNameCodePage = 932;

// Windows opens a device, not a file, for these names in any folder and with
// any extension ("nul.txt", "COM1.bin"). Works on either character width, so
// that an all-ASCII name needs no conversion and no copy.
template <typename Char>
static bool IsDeviceName(const Char* component, size_t length) {
  size_t end = 0;
  while (end < length && component[end] != '.') ++end;
  while (end > 0 && component[end - 1] == ' ') --end;
  if (end != 3 && end != 4) return false;
  char base[4];
  for (size_t i = 0; i < end; ++i) {
    Char c = component[i];
    if (c >= 'a' && c <= 'z') c = static_cast<Char>(c - 'a' + 'A');
    // Only ASCII letters and digits spell a device; anything else spells none.
    base[i] = (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '\0';
  }
  if (end == 3) {
    return memcmp(base, "CON", 3) == 0 || memcmp(base, "PRN", 3) == 0 || memcmp(base, "AUX", 3) == 0 ||
           memcmp(base, "NUL", 3) == 0;
  }
  return (memcmp(base, "COM", 3) == 0 || memcmp(base, "LPT", 3) == 0) && base[3] >= '1' && base[3] <= '9';
}

// Judged on the UTF-16 form, where no half of a double-byte character can pass
// for a separator, or on bytes that are all ASCII. Separators are already "\"
// and no trailing one is left.
template <typename Char>
static bool IsSafeRelativeName(const Char* name, size_t length) {
  if (length == 0 || name[0] == '\\') return false;
  for (size_t i = 0; i < length; ++i) {
    // ":" would name a drive ("C:") or an alternate stream; control characters
    // have no place in a file name.
    if (static_cast<uint32_t>(name[i]) < 0x20 || name[i] == ':') return false;
  }
  size_t start = 0;
  while (start <= length) {
    size_t end = start;
    while (end < length && name[end] != '\\') ++end;
    // Windows drops trailing dots and blanks of a component, so ". ." or
    // "..." could act as ".."; any all-dots-and-blanks component with two dots
    // is refused.
    size_t dots = 0;
    bool onlyDotsAndBlanks = true;
    for (size_t i = start; i < end; ++i) {
      if (name[i] == '.') {
        ++dots;
      } else if (name[i] != ' ') {
        onlyDotsAndBlanks = false;
      }
    }
    if (onlyDotsAndBlanks && dots >= 2) return false;
    if (IsDeviceName(name + start, end - start)) return false;
    start = end + 1;
  }
  return true;
}

static bool IsSafeRelativeName(const std::wstring& name) { return IsSafeRelativeName(name.data(), name.size()); }

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

// The spelling an archiver with an ANSI interface reports for a name the code
// page cannot carry whole: each character it lacks (a surrogate pair is one)
// as "?", never a look-alike that could name another file.
static bool MarkLostCharacters(const std::wstring& wide, std::string* bytes) {
  bytes->clear();
  for (size_t i = 0; i < wide.size();) {
    int units = i + 1 < wide.size() && IS_HIGH_SURROGATE(wide[i]) && IS_LOW_SURROGATE(wide[i + 1]) ? 2 : 1;
    char spelt[8];
    wchar_t back[2];
    BOOL usedDefault = FALSE;
    int length = WideCharToMultiByte(kNameCodePage, WC_NO_BEST_FIT_CHARS, &wide[i], units, spelt, sizeof spelt, "?",
                                     &usedDefault);
    bool exact = length > 0 && !usedDefault && MultiByteToWideChar(kNameCodePage, 0, spelt, length, back, 2) == units &&
                 memcmp(back, &wide[i], units * sizeof(wchar_t)) == 0;
    bytes->append(exact ? spelt : "?", exact ? static_cast<size_t>(length) : 1);
    i += static_cast<size_t>(units);
  }
  return !bytes->empty();
}

static void SetNameFromWide(ArchiveEntry* entry, std::wstring wide) {
  NormalizeSeparators(&wide, &entry->isDirectory);
  entry->nameSafe = IsSafeRelativeName(wide);
  entry->wideName.clear();
  if (ToCp932(wide, &entry->name)) {
    entry->nameUsable = true;
    return;
  }
  // Reported by its marked spelling, found by it as a pattern, and written
  // under its own name.
  entry->nameUsable = MarkLostCharacters(wide, &entry->name);
  if (entry->nameUsable) entry->wideName = wide;
}

// Printable ASCII reads the same in code page 932, UTF-8 and UTF-16, so such a
// name (most names in large archives) is judged on its bytes as stored:
// listing tens of thousands of entries then converts and allocates nothing.
static bool IsPrintableAscii(const char* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (bytes[i] < 0x20 || bytes[i] > 0x7E) return false;
  }
  return true;
}

static void SetNameFromAscii(ArchiveEntry* entry, const char* bytes, size_t length) {
  entry->name.assign(bytes, length);
  for (char& c : entry->name) {
    if (c == '/') c = '\\';
  }
  while (!entry->name.empty() && entry->name.back() == '\\') {
    entry->name.pop_back();
    entry->isDirectory = true;
  }
  entry->nameSafe = IsSafeRelativeName(entry->name.data(), entry->name.size());
  entry->nameUsable = !entry->name.empty();
}

void SetNameFromUtf8(ArchiveEntry* entry, const char* bytes, size_t length) {
  std::wstring wide;
  if (length > 0 && IsPrintableAscii(bytes, length)) {
    SetNameFromAscii(entry, bytes, length);
    return;
  }
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
  if (length > 0 && IsPrintableAscii(bytes, length)) {
    SetNameFromAscii(entry, bytes, length);
    return;
  }
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
