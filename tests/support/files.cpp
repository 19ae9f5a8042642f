#include "support/files.h"

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <cwchar>

static std::string MakeFolderBelow(const char* base, const char* tag) {
  static int counter = 0;
  // Bounded: a name taken that often means something else is wrong.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    char path[MAX_PATH];
    int written = snprintf(path, sizeof path, "%scv_%s_%lu_%d\\", base, tag, GetCurrentProcessId(), ++counter);
    if (written < 0 || static_cast<size_t>(written) >= sizeof path) return std::string();
    if (CreateDirectoryA(path, nullptr)) return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  }
  return std::string();
}

std::string MakeTempFolder(const char* tag) {
  char base[MAX_PATH];
  DWORD length = GetTempPathA(sizeof base, base);
  if (length == 0 || length >= sizeof base) return std::string();
  return MakeFolderBelow(base, tag);
}

std::string MakeScratchFolder(const char* tag) {
  std::string folder = MakeFolderBelow("Z:\\dev\\shm\\", tag);
  return folder.empty() ? MakeTempFolder(tag) : folder;
}

// By wide names: a name the code page lacks has no "A" spelling to delete by.
static void RemoveWideTree(const std::wstring& dir) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((dir + L"*").c_str(), &found);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
    std::wstring path = dir + found.cFileName;
    if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveWideTree(path + L"\\");
    } else if (!DeleteFileW(path.c_str()) && SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL)) {
      // The attribute only when it is in the way: each call is a round trip to Wine's server.
      DeleteFileW(path.c_str());
    }
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  RemoveDirectoryW(dir.substr(0, dir.size() - 1).c_str());
}

void RemoveTree(const std::string& path) {
  if (path.empty()) return;
  std::wstring wide(path.size() + 1, L'\0');
  wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], path.size() + 1)));
  if (wide.empty()) return;
  wide.back() = L'\\';  // in place of the NUL
  if (wide.size() > 1 && wide[wide.size() - 2] == L'\\') wide.pop_back();
  RemoveWideTree(wide);
}

bool WriteBytes(const std::string& path, const void* bytes, size_t size) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = size == 0 || WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr);
  BOOL closed = CloseHandle(file);
  return ok && closed && (size == 0 || written == size);
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  return WriteBytes(path, bytes.data(), bytes.size());
}

bool ReadBytes(const std::string& path, std::string* bytes) {
  bytes->clear();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char block[65536];
  DWORD got = 0;
  bool ok = true;
  for (;;) {
    if (!ReadFile(file, block, sizeof block, &got, nullptr)) {
      ok = false;
      break;
    }
    bytes->append(block, got);
    // A short read is the end of a file on disk: no call more to be told so.
    if (got < sizeof block) break;
  }
  CloseHandle(file);
  if (!ok) bytes->clear();
  return ok;
}

std::string ReadBytes(const std::string& path) {
  std::string bytes;
  ReadBytes(path, &bytes);
  return bytes;
}

uint32_t NextRandom(uint32_t* state) {
  *state ^= *state << 13;
  *state ^= *state >> 17;
  *state ^= *state << 5;
  return *state;
}

std::string RandomBytes(size_t size, uint32_t seed) {
  // xorshift stays at 0 from 0: the seed is moved off it.
  uint32_t state = seed ^ 0x9E3779B9u;
  if (state == 0) state = 1;
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(NextRandom(&state) >> 24);
  return bytes;
}

std::wstring LongPath(const std::string& cp932) {
  std::wstring wide(cp932.size() + 1, L'\0');
  int length = MultiByteToWideChar(932, 0, cp932.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
  wide.resize(length > 0 ? length - 1 : 0);
  return L"\\\\?\\" + wide;
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

long long FileSizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::vector<std::string> FolderEntries(const std::string& folder, EntryKind kind) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (strcmp(entry.cFileName, ".") == 0 || strcmp(entry.cFileName, "..") == 0) continue;
    if (kind == kAllEntries || isFolder == (kind == kFoldersOnly)) names.push_back(entry.cFileName);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return names;
}

std::string BinFolder() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return std::string();
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::string FixturesFolder() { return BinFolder() + "..\\fixtures\\"; }
std::string FixturePath(const char* name) { return FixturesFolder() + name; }

static std::string Convert(const std::string& text, UINT from, UINT to, DWORD flags, const char* onFailure) {
  if (text.empty()) return text;
  int wideLength = MultiByteToWideChar(from, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (wideLength <= 0) return onFailure;
  std::wstring wide(wideLength, L'\0');
  MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), &wide[0], wideLength);
  int length = WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return onFailure;
  std::string out(length, '\0');
  WideCharToMultiByte(to, 0, wide.data(), wideLength, &out[0], length, nullptr, nullptr);
  return out;
}

std::string ConvertCodePage(const std::string& text, UINT from, UINT to) { return Convert(text, from, to, 0, ""); }

// Strict, so that a text that is no valid code page 932 never compares equal by accident.
std::string Cp932(const char* utf8) { return Convert(utf8, CP_UTF8, 932, MB_ERR_INVALID_CHARS, "<unconvertible>"); }
std::string Utf8(const std::string& cp932) {
  return Convert(cp932, 932, CP_UTF8, MB_ERR_INVALID_CHARS, "<unconvertible>");
}

std::string UnixPathOf(const std::string& path) {
  typedef char*(CDECL * UnixNameProc)(const WCHAR*);
  auto toUnix = reinterpret_cast<UnixNameProc>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  WCHAR wide[MAX_PATH];
  if (toUnix == nullptr || MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) == 0) return "";
  char* unixName = toUnix(wide);
  if (unixName == nullptr) return "";
  std::string unixPath = unixName;
  HeapFree(GetProcessHeap(), 0, unixName);
  return unixPath;
}

std::string ZDriveSpelling(const std::string& path) {
  std::string unixPath = UnixPathOf(path);
  if (unixPath.empty()) return "";
  std::string spelled = "Z:";
  for (char c : unixPath) spelled += c == '/' ? '\\' : c;
  return !path.empty() && path.back() == '\\' && spelled.back() != '\\' ? spelled + "\\" : spelled;
}

bool MakeUnixLink(const std::string& target, const std::string& link) {
  std::string from = UnixPathOf(target);
  std::string at = UnixPathOf(link);
  while (!from.empty() && from.back() == '/') from.pop_back();
  while (!at.empty() && at.back() == '/') at.pop_back();
  if (from.empty() || at.empty()) return false;
  // Wine starts a Unix program as it is; its links are what the Unix side sees.
  std::string command = "/bin/ln -s \"" + from + "\" \"" + at + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // Wine may report a Unix program done before it has run: look for its work.
  for (int i = 0; i < 100 && GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
  return GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static void ListTree(const std::string& folder, const std::string& relative, std::vector<std::string>* out) {
  for (const std::string& name : FolderEntries(folder + relative, kFoldersOnly)) {
    out->push_back(relative + name + "\\");
    ListTree(folder, relative + name + "\\", out);
  }
  for (const std::string& name : FolderEntries(folder + relative, kFilesOnly)) {
    out->push_back(relative + name + " = " + ReadBytes(folder + relative + name));
  }
}

std::vector<std::string> FolderTree(const std::string& folder) {
  std::vector<std::string> listing;
  ListTree(folder, "", &listing);
  std::sort(listing.begin(), listing.end());
  return listing;
}

std::string WriteAtPathOfLength(size_t length, const std::string& base, const std::string& extension,
                                const std::string& bytes) {
  std::string path = base.substr(0, base.size() - 1);
  // Folders of 60 characters while more than 80 are left, so the name stays short.
  while (length > path.size() + 80) {
    path += "\\" + std::string(60, 'p');
    if (!CreateDirectoryA(path.c_str(), nullptr)) return std::string();
  }
  if (length < path.size() + 2 + extension.size()) return std::string();
  path += "\\" + std::string(length - path.size() - 1 - extension.size(), 'f') + extension;
  return WriteBytes(path, bytes) ? path : std::string();
}

namespace {

struct FileHold {
  std::string path;
  DWORD ms;
  DWORD waitMs;
  HANDLE held;  // set once the file is open, or the wait is over
};

volatile LONG gHoldsOpen = 0;
// Set by ReleaseFileHolds: the holds end at once rather than when their time is up.
HANDLE gReleaseHolds = CreateEventA(nullptr, TRUE, FALSE, nullptr);

DWORD WINAPI KeepFileHeld(void* parameter) {
  FileHold* hold = static_cast<FileHold*>(parameter);
  DWORD start = GetTickCount();
  HANDLE file = INVALID_HANDLE_VALUE;
  for (;;) {
    file = CreateFileA(hold->path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetTickCount() - start >= hold->waitMs) break;
    Sleep(1);
  }
  bool opened = file != INVALID_HANDLE_VALUE;
  HANDLE done = hold->held;
  DWORD ms = hold->ms;
  // The starter may go on once this is set; hold is its, and gone then.
  if (!opened) InterlockedDecrement(&gHoldsOpen);
  SetEvent(done);
  if (!opened) return 0;
  WaitForSingleObject(gReleaseHolds, ms);
  CloseHandle(file);
  InterlockedDecrement(&gHoldsOpen);
  return 0;
}

}  // namespace

bool HoldFileFor(const std::string& path, DWORD ms, DWORD waitMs) {
  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (held == nullptr) return false;
  FileHold hold = {path, ms, waitMs, held};
  InterlockedIncrement(&gHoldsOpen);
  HANDLE thread = CreateThread(nullptr, 0, KeepFileHeld, &hold, 0, nullptr);
  if (thread == nullptr) {
    InterlockedDecrement(&gHoldsOpen);
    CloseHandle(held);
    return false;
  }
  CloseHandle(thread);
  WaitForSingleObject(held, INFINITE);
  CloseHandle(held);
  HANDLE probe = CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  // Held means that a delete is refused now.
  bool isHeld = probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
  if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
  return isHeld;
}

void ReleaseFileHolds() {
  SetEvent(gReleaseHolds);
  while (gHoldsOpen > 0) Sleep(5);
  ResetEvent(gReleaseHolds);
}
