// The host's catalogue: what hostRegister was handed, per dataset, kept in a
// small text file so that it survives a restart.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>

#include "host/host.h"

bool FileCrc32(const std::string& path, uint32_t* crc, uint32_t* size) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  uLong value = crc32(0L, Z_NULL, 0);
  uint64_t total = 0;
  static unsigned char block[65536];
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, block, sizeof block, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    value = crc32(value, block, got);
    total += got;
  }
  CloseHandle(file);
  // ROM images are small; a size beyond 32 bits is no ROM this host keeps.
  if (!ok || total > 0xFFFFFFFFull) return false;
  *crc = static_cast<uint32_t>(value);
  *size = static_cast<uint32_t>(total);
  return true;
}

std::string CrcText(uint32_t crc) { return Format("%08lX", static_cast<unsigned long>(crc)); }

void AddToCatalogue(std::vector<CatalogueEntry>* catalogue, const CatalogueEntry& entry) {
  for (CatalogueEntry& known : *catalogue) {
    if (known.dataset == entry.dataset && known.crcText == entry.crcText) {
      known = entry;
      return;
    }
  }
  catalogue->push_back(entry);
}

static bool IsCrcText(const std::string& text) {
  if (text.size() != 8) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// Lines that do not parse are skipped: a damaged line costs one ROM, not the
// whole catalogue.
bool LoadCatalogueFile(const std::string& path, std::vector<CatalogueEntry>* catalogue) {
  catalogue->clear();
  std::string bytes;
  if (!ReadBytes(path, &bytes)) return false;
  for (const std::string& line : SplitLines(bytes)) {
    std::vector<std::string> fields;
    size_t fieldStart = 0;
    for (int i = 0; i < 3; ++i) {
      size_t tab = line.find('\t', fieldStart);
      if (tab == std::string::npos) break;
      fields.push_back(line.substr(fieldStart, tab - fieldStart));
      fieldStart = tab + 1;
    }
    if (fields.size() != 3) continue;
    fields.push_back(line.substr(fieldStart));
    char* sizeEnd = nullptr;
    unsigned long size = strtoul(fields[2].c_str(), &sizeEnd, 10);
    if (fields[0].empty() || !IsCrcText(fields[1]) || fields[2].empty() || *sizeEnd != '\0' || fields[3].empty())
      continue;
    AddToCatalogue(catalogue, CatalogueEntry{fields[0], fields[1], static_cast<uint32_t>(size), fields[3]});
  }
  return true;
}

// Written aside and moved over the old file, so that a crash mid-write leaves
// the previous catalogue intact.
bool SaveCatalogueFile(const std::string& path, const std::vector<CatalogueEntry>& catalogue) {
  std::string bytes;
  for (const CatalogueEntry& entry : catalogue) {
    bytes += entry.dataset + "\t" + entry.crcText + "\t" + Format("%lu", static_cast<unsigned long>(entry.size)) +
             "\t" + entry.name + "\r\n";
  }
  std::string aside = path + ".new";
  if (!WriteBytes(aside, bytes)) return false;
  if (!MoveFileExA(aside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileA(aside.c_str());
    return false;
  }
  return true;
}
