// The mark of merged lines: a small fixed record beside the relation file,
// with a checksum of its own.
#include "relation/unmerged_mark.h"

#include <cstddef>
#include <cstring>

#include "base/file_io.h"
#include "base/held_files.h"
#include "base/text.h"

struct MergedMark {
  char magic[8];
  UnmergedStamp stamp;
  uint32_t checksum;  // FNV-1a of everything before it
};

static constexpr char kMarkMagic[8] = {'C', 'V', 'M', 'E', 'R', 'G', 'E', 'D'};

static uint32_t Checksum(const void* bytes, size_t size) {
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ static_cast<const uint8_t*>(bytes)[i]) * 16777619u;
  return hash;
}

bool UnmergedRelationPath(char* unmerged, size_t size, const char* relationPath) {
  return FormatText(unmerged, size, "%s.unmerged", relationPath);
}

static bool MarkPath(char* mark, size_t size, const char* relationPath) {
  return FormatText(mark, size, "%s.merged", relationPath);
}

bool ReadUnmergedStamp(const char* path, UnmergedStamp* stamp) {
  memset(stamp, 0, sizeof *stamp);
  // No access asked: a holder that shares nothing still lets it be answered.
  HANDLE file =
      CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool asked = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  if (!asked) return false;
  stamp->volumeSerial = info.dwVolumeSerialNumber;
  stamp->indexHigh = info.nFileIndexHigh;
  stamp->indexLow = info.nFileIndexLow;
  stamp->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp->lastWrite = info.ftLastWriteTime;
  return true;
}

bool IsMarkedMerged(const char* relationPath, const UnmergedStamp& stamp) {
  char mark[kPathSize];
  if (!MarkPath(mark, sizeof mark, relationPath)) return false;
  HANDLE file = CreateFileA(mark, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  MergedMark record;
  DWORD read = 0;
  bool whole = ReadFile(file, &record, sizeof record, &read, nullptr) && read == sizeof record;
  CloseHandle(file);
  return whole && memcmp(record.magic, kMarkMagic, sizeof kMarkMagic) == 0 &&
         record.checksum == Checksum(&record, offsetof(MergedMark, checksum)) &&
         memcmp(&record.stamp, &stamp, sizeof stamp) == 0;
}

bool SettleMergedLines(const char* relationPath, const UnmergedStamp& stamp) {
  char unmerged[kPathSize];
  char mark[kPathSize];
  if (!UnmergedRelationPath(unmerged, sizeof unmerged, relationPath) || !MarkPath(mark, sizeof mark, relationPath)) {
    return false;
  }
  HoldRetry once = {};
  if (TryDeleteFile(unmerged, &once) == kTryDone) return true;
  MergedMark record;
  memset(&record, 0, sizeof record);
  memcpy(record.magic, kMarkMagic, sizeof kMarkMagic);
  memcpy(&record.stamp, &stamp, sizeof stamp);
  record.checksum = Checksum(&record, offsetof(MergedMark, checksum));
  if (ReplaceFileWhole(mark, &record, sizeof record, kWriteRelation)) return true;
  ReportSystemError("ReplaceFileWhole", mark, GetLastError());
  return false;
}

void RemoveMergedLines(const char* relationPath) {
  char unmerged[kPathSize];
  char mark[kPathSize];
  if (!UnmergedRelationPath(unmerged, sizeof unmerged, relationPath) || !MarkPath(mark, sizeof mark, relationPath)) {
    return;
  }
  HoldRetry once = {};
  HoldRetry markOnce = {};
  if (TryDeleteFile(unmerged, &once) == kTryDone) TryDeleteFile(mark, &markOnce);
}
