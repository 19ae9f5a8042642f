#include "bench/bench_support.h"

#include <cstdio>
#include <cstring>

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool MakeScratchFolder(const char* tag, char* folder, size_t size) {
  char temp[MAX_PATH];
  DWORD length = GetTempPathA(sizeof temp, temp);
  if (length == 0 || length >= sizeof temp) return false;
  int written = snprintf(folder, size, "%scv_%s_%lu\\", temp, tag, GetCurrentProcessId());
  if (written < 0 || static_cast<size_t>(written) >= size) return false;
  // A folder left by an earlier run of the same process id is cleared first.
  RemoveTree(folder);
  return CreateDirectoryA(folder, nullptr) != 0;
}

bool MakeSubfolder(const char* parent, const char* name, char* folder, size_t size) {
  int written = snprintf(folder, size, "%s%s\\", parent, name);
  if (written < 0 || static_cast<size_t>(written) >= size) return false;
  return CreateDirectoryA(folder, nullptr) != 0;
}

bool WriteWhole(const char* path, const void* bytes, DWORD size) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = size == 0 || WriteFile(file, bytes, size, &written, nullptr);
  CloseHandle(file);
  return ok && written == size;
}

void RemoveTree(const char* folder) {
  char dir[MAX_PATH];
  int written = snprintf(dir, sizeof dir, "%s", folder);
  if (written <= 0 || static_cast<size_t>(written) >= sizeof dir) return;
  if (dir[written - 1] == '\\') dir[written - 1] = '\0';
  char pattern[MAX_PATH];
  if (snprintf(pattern, sizeof pattern, "%s\\*", dir) >= (int)sizeof pattern) return;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(pattern, &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (strcmp(entry.cFileName, ".") == 0 || strcmp(entry.cFileName, "..") == 0) continue;
      char child[MAX_PATH];
      if (snprintf(child, sizeof child, "%s\\%s", dir, entry.cFileName) >= (int)sizeof child) continue;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesA(child, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(child);
      }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryA(dir);
}
