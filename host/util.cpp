// Small file and text helpers of the host.
#include <cstdarg>
#include <cstdio>

#include "host/host.h"

std::string WithBackslash(std::string path) {
  if (path.empty() || BaseName(path).size() != 0) path += '\\';
  return path;
}

// Walks by character so that the trail byte of a double-byte character (as in
// "表", 0x95 0x5C) is never taken for a separator.
std::string BaseName(const std::string& path) {
  size_t start = 0;
  for (size_t i = 0; i < path.size();) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsDBCSLeadByte(c) && i + 1 < path.size()) {
      i += 2;
      continue;
    }
    if (c == '\\' || c == '/') start = i + 1;
    ++i;
  }
  return path.substr(start);
}

// The plug-in keeps paths exactly as it formed them, and below a ROM folder
// that ends with "\" its subfolders carry a doubled backslash; the file system
// reads both forms alike, so the comparison does too.
std::string CollapseSeparators(const std::string& path) {
  std::string out;
  bool afterSeparator = false;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsDBCSLeadByte(c) && i + 1 < path.size()) {
      out += path.substr(i, 2);
      ++i;
      afterSeparator = false;
      continue;
    }
    // A network path's leading "\\" keeps both.
    if (c == '\\' && afterSeparator && i > 1) continue;
    afterSeparator = c == '\\';
    out += path[i];
  }
  return out;
}

bool SamePath(const std::string& a, const std::string& b) {
  std::string left = CollapseSeparators(a);
  std::string right = CollapseSeparators(b);
  return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, left.c_str(), -1, right.c_str(), -1) == CSTR_EQUAL;
}

std::string FullPath(const std::string& path) {
  char full[MAX_PATH];
  DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) return path;
  return std::string(full, length);
}

std::vector<std::string> SplitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<size_t>(length) + 1);
    vsnprintf(&text[0], text.size(), format, again);
    text.resize(static_cast<size_t>(length));
  }
  va_end(again);
  return text;
}
