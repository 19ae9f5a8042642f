#include "base/file_io.h"

#include <cstdio>
#include <cstring>

#include "base/held_files.h"
#include "base/test_switches.h"
#include "base/text.h"

bool WriteChecked(HANDLE file, const void* data, size_t size, WriteKind kind) {
#ifdef CORVANE_TEST_SWITCHES
  if (gTestSwitches.writeFault[kind] > 0 && --gTestSwitches.writeFault[kind] == 0) {
    SetLastError(ERROR_DISK_FULL);
    return false;
  }
#else
  (void)kind;
#endif
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, bytes, chunk, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    bytes += written;
    size -= written;
  }
  return true;
}

bool AsidePath(char* aside, size_t size, const char* path, unsigned number) {
  if (number > 0) return FormatText(aside, size, "%s.new%u", path, number);
  if (FormatText(aside, size, "%s.new", path)) return true;
  // A path too long for the suffix (Setting.ini in the longest data directory)
  // gets its last "." turned into "~" instead, which keeps its length. "." is
  // never the trail byte of a double-byte character.
  const char* dot = strrchr(LastComponent(path), '.');
  if (dot == nullptr || !CopyText(aside, size, path)) return false;
  aside[dot - path] = '~';
  return true;
}

HANDLE CreateAsideFile(const char* path) {
  char aside[kPathSize];
  if (!AsidePath(aside, sizeof aside, path)) return INVALID_HANDLE_VALUE;
  return CreateFileA(aside, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool NameFinishedAside(HANDLE aside, const char* path, const char* finished) {
  char asidePath[kPathSize];
  if (aside == INVALID_HANDLE_VALUE || !AsidePath(asidePath, sizeof asidePath, path)) {
    DiscardAsideFile(aside, path);
    return false;
  }
  // The rename record holds the new name in UTF-16 right after its header: a
  // full path, as the system reads a bare name in the current folder.
  union {
    FILE_RENAME_INFO info;
    char bytes[sizeof(FILE_RENAME_INFO) + kPathSize * sizeof(WCHAR)];
  } record = {};
  int length = MultiByteToWideChar(CP_ACP, 0, finished, -1, record.info.FileName, kPathSize);
  record.info.ReplaceIfExists = TRUE;
  record.info.FileNameLength = length > 0 ? static_cast<DWORD>(length - 1) * sizeof(WCHAR) : 0;
  // The data must be on disk before the name says the file is whole.
  const char* call = "FlushFileBuffers";
  bool named = FlushFileBuffers(aside) != 0;
  DWORD error = named ? ERROR_SUCCESS : GetLastError();
  if (named) {
    call = "SetFileInformationByHandle";
    named = length > 0 && SetFileInformationByHandle(aside, FileRenameInfo, &record, sizeof record) != 0;
    error = named ? ERROR_SUCCESS : (length > 0 ? GetLastError() : ERROR_INVALID_NAME);
  }
  if (!named) {
    ReportSystemError(call, finished, error);
    DiscardAsideFile(aside, path);
    SetLastError(error);
    return false;
  }
  if (!CloseHandle(aside)) ReportSystemError("CloseHandle", finished, GetLastError());
  return true;
}

void DiscardAsideFile(HANDLE aside, const char* path) {
  if (aside != INVALID_HANDLE_VALUE) CloseHandle(aside);
  char asidePath[kPathSize];
  if (AsidePath(asidePath, sizeof asidePath, path)) DeleteFileWaitingOutHolds(asidePath);
}

bool CloseAsideFile(HANDLE aside, const char* path) {
  char asidePath[kPathSize];
  if (aside == INVALID_HANDLE_VALUE || !AsidePath(asidePath, sizeof asidePath, path)) {
    DiscardAsideFile(aside, path);
    return false;
  }
  // The data must be on disk before the name points at it, or a crash could
  // leave an empty file where the old one was.
  bool flushed = FlushFileBuffers(aside) != 0;
  DWORD error = flushed ? ERROR_SUCCESS : GetLastError();
  bool closed = CloseHandle(aside) != 0;
  if (!flushed || !closed) {
    ReportSystemError(flushed ? "CloseHandle" : "FlushFileBuffers", asidePath, flushed ? GetLastError() : error);
    DeleteFileWaitingOutHolds(asidePath);
    return false;
  }
  return true;
}

TryResult TryPutAsideInPlace(const char* path, HoldRetry* retry) {
  char asidePath[kPathSize];
  if (!AsidePath(asidePath, sizeof asidePath, path)) return kTryFailed;
  // Aside file and destination share a folder, so the move never crosses volumes.
  TryResult moved = TryMoveIntoPlace(asidePath, path, retry);
  if (moved == kTryFailed) {
    ReportSystemError("MoveFileExA", path, GetLastError());
    DeleteFileWaitingOutHolds(asidePath);
  }
  return moved;
}

bool CommitAsideFile(HANDLE aside, const char* path) {
  if (!CloseAsideFile(aside, path)) return false;
  return WaitOutHolds([&](HoldRetry* retry) { return TryPutAsideInPlace(path, retry); });
}

bool ReplaceFileWhole(const char* path, const void* data, size_t size, WriteKind kind) {
  HANDLE aside = CreateAsideFile(path);
  if (aside == INVALID_HANDLE_VALUE) {
    ReportSystemError("CreateFileA", path, GetLastError());
    return false;
  }
  if (!WriteChecked(aside, data, size, kind)) {
    ReportSystemError("WriteFile", path, GetLastError());
    DiscardAsideFile(aside, path);
    return false;
  }
  return CommitAsideFile(aside, path);
}

void ReportSystemError(const char* call, const char* path, DWORD error) {
  char text[256] = "";
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                sizeof text, nullptr);
  // The system's text ends in a line break of its own.
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) text[--length] = '\0';
  // A host has no console: a debugger or a debug-output viewer shows the
  // line. The tests read it on standard error.
  char line[1024];
  FormatText(line, sizeof line, "Corvane: (%lu) %s(%s) - %s\n", static_cast<unsigned long>(error), call, path, text);
  OutputDebugStringA(line);
#ifdef CORVANE_TEST_SWITCHES
  fputs(line, stderr);
#endif
}
