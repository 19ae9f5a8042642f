// The whole add-ROMs run as the host sees it: Corvane.dll loaded, onMenuClick(1)
// from call to return through its real dialog, with a host whose registration
// returns at once. Beside it, in the same process and on the same folders, a
// bare loop doing the same work per file (read, header-less copy into the temp
// folder, CRC, host call, delete, relation line). Also how long the user
// interface stood still (the longest gap between the ticks of a 5 ms host
// thread timer, which only a running message loop serves) and how long a
// Cancel takes to ask. The run is watched only through what the user sees: the
// active dialog, its counter and the boxes it opens.
//
// Also a ROM pack: a zip of 60,000 entries whose first is a 40 KiB ROM, beside
// one plain ROM, registered in full and with a Cancel ("p"); and a smaller one
// whose first name cannot be passed to the archiver ("q": every entry is then
// extracted, and removed again across the ticks).
//
// Usage: run_bench [COLLECTIONS [run|bare|none|count]]
//   COLLECTIONS     letters of the collections to measure (default "abcdpq"; "t"
//                   is a small one for system-call traces; "e", an empty folder,
//                   is only counted: the run's cost that no file adds)
//   run|bare|none   only the run, only the bare loop, or neither, once: traces
//                   of each, less the one of none, give the cost per file
//   count           the run and the bare loop once each, each between two
//                   marker files, for a wineserver trace to be cut at
//                   (scripts/count_requests.sh does the counting)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "bench/bench_support.h"
#include "base/crc32.h"
#include "resources/resource.h"
#include "support/host_double.h"

namespace {

constexpr DWORD kHeaderSize = 16;
constexpr DWORD kChunk = 1 << 20;
constexpr double kRatioGoal = 1.3;
constexpr double kStandStillGoalMs = 100;
constexpr double kCancelGoalMs = 100;

struct Collection {
  char letter;
  const char* name;
  int folders;
  int filesPerFolder;
  long long fileSize;
  int rounds;  // run and bare loop alternated; the medians are compared
};

const Collection kCollections[] = {
    {'a', "2,000 x 64 KiB in 20 folders", 20, 100, 64ll << 10, 5},
    // Seven rounds: with three, one round's noise on a busy machine (ratios
    // 0.82 to 1.39) moved the median more than the run's own cost does.
    {'b', "10,000 x 4 KiB in 400 folders", 400, 25, 4ll << 10, 7},
    {'c', "16 x 16 MiB", 1, 16, 16ll << 20, 5},
    // Three rounds even here: one round's ratio read 0.62, 0.94 and 1.53 in
    // three runs on one busy virtual machine.
    {'d', "2 x 1 GiB", 1, 2, 1ll << 30, 3},
    {'t', "200 x 64 KiB in 2 folders", 2, 100, 64ll << 10, 1},
    // Counted only: what a run costs with no file in it (the dialog made,
    // painted and closed, the run's start and end), to take off the others.
    {'e', "an empty folder (the run's fixed cost)", 1, 0, 0, 1},
};

int __stdcall IgnoreRegister(const char*) { return 0; }
int __stdcall IgnoreLaunch(const char*) { return 0; }

// What the user sees of one run, gathered on each tick of the host's timer.
struct Watch {
  double last = 0;
  double longest = 0;
  HWND dialog = nullptr;   // the run's dialog: the active one with the counter
  std::string root;        // the status names a folder below it once files are registered
  double registering = 0;  // when the status first named a folder
  double lastDialogTick = 0;
  // The run's parts as the user saw them: from the click to the first folder
  // named, and from the last tick in the dialog to the return.
  double searchMs = 0;
  double endMs = 0;
  DWORD cancelAfterMs = 0;  // 0: no Cancel
  bool clicked = false;
  volatile double cancelPosted = 0;
  double questionShown = 0;
  HWND question = nullptr;
  char counterAtQuestion[64] = "";
  std::string strayBox;  // the text of a box no step expected
} watch;

// The click comes from another thread, so that it lands wherever the run is
// then, in the middle of a file or a slice as a user's would.
DWORD WINAPI ClickCancelLater(void*) {
  Sleep(watch.cancelAfterMs);
  watch.cancelPosted = Now();
  PostMessageA(watch.dialog, WM_COMMAND, IDCANCEL, 0);
  return 0;
}

void CALLBACK PulseTick(HWND, UINT, UINT_PTR, DWORD) {
  double now = Now();
  watch.longest = std::max(watch.longest, now - watch.last);
  watch.last = now;
  HWND active = GetActiveWindow();
  if (!IsDialogWindow(active)) return;
  if (active == watch.dialog || GetDlgItem(active, IDC_SCAN_COUNTER) != nullptr) {
    watch.dialog = active;
    watch.lastDialogTick = now;
    if (watch.registering == 0) {
      char status[MAX_PATH] = "";
      GetDlgItemTextA(active, IDC_SCAN_STATUS, status, sizeof status);
      if (strncmp(status, watch.root.c_str(), watch.root.size()) == 0) watch.registering = now;
    }
    if (watch.cancelAfterMs == 0 || watch.clicked || watch.registering == 0) return;
    watch.clicked = true;
    HANDLE clicker = CreateThread(nullptr, 0, ClickCancelLater, nullptr, 0, nullptr);
    if (clicker != nullptr) CloseHandle(clicker);
  } else if (active == watch.question) {
    PressButton(active, IDCANCEL);  // declined: the run goes on to its end
  } else {
    if (watch.strayBox.empty()) watch.strayBox = MessageBoxText(active);
    PressButton(active, IDOK);
  }
}

// The question box becoming active marks the answer to the click.
LRESULT CALLBACK WatchQuestion(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && watch.cancelPosted != 0 && watch.question == nullptr) {
    HWND window = reinterpret_cast<HWND>(wParam);
    if (window != watch.dialog && IsDialogWindow(window)) {
      watch.questionShown = Now();
      watch.question = window;
      // The counter ("%5d/%5d(%2d%%)") tells where the click landed.
      GetDlgItemTextA(watch.dialog, IDC_SCAN_COUNTER, watch.counterAtQuestion, sizeof watch.counterAtQuestion);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A file of size pseudo-random bytes after an NES header's signature, written
// 1 MiB at a time; each 1 MiB block differs from the others in its first bytes.
bool WriteRom(const std::string& path, long long size, uint32_t* seed, std::vector<char>* block) {
  HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  size_t fill = static_cast<size_t>(std::min<long long>(size, kChunk));
  for (size_t i = 0; i < fill; ++i) (*block)[i] = static_cast<char>((*seed = *seed * 1664525u + 1013904223u) >> 24);
  bool ok = true;
  for (long long at = 0; ok && at < size; at += kChunk) {
    memcpy(block->data() + 4, &at, sizeof at);
    if (at == 0) memcpy(block->data(), "NES\x1a", 4);
    DWORD want = static_cast<DWORD>(std::min<long long>(size - at, kChunk));
    DWORD written = 0;
    ok = WriteFile(out, block->data(), want, &written, nullptr) && written == want;
  }
  return CloseHandle(out) && ok;
}

bool MakeCollection(const Collection& c, const std::string& root, int* files) {
  std::vector<char> block(kChunk);
  uint32_t seed = 7;
  *files = 0;
  if (!CreateDirectoryA(root.c_str(), nullptr)) return false;
  for (int f = 0; f < c.folders; ++f) {
    char folder[32];
    FormatText(folder, sizeof folder, "f%03d\\", f);
    if (!CreateDirectoryA((root + folder).c_str(), nullptr)) return false;
    for (int i = 0; i < c.filesPerFolder; ++i) {
      char name[32];
      FormatText(name, sizeof name, "rom%03d.nes", i);
      if (!WriteRom(root + folder + name, c.fileSize, &seed, &block)) return false;
      ++*files;
    }
  }
  return true;
}

// The dataset's settings file as the settings dialog saves it: header size,
// ROM folder (260 bytes), depth choice (2: the folder and its subfolders),
// extract flag, extraction folder (260 bytes).
bool WriteSettings(const std::string& path, const std::string& romFolder) {
  char record[532] = {};
  int32_t header = kHeaderSize, depth = 2;
  if (romFolder.size() >= 260) return false;
  memcpy(record, &header, 4);
  memcpy(record + 4, romFolder.c_str(), romFolder.size());
  memcpy(record + 264, &depth, 4);
  return WriteBytes(path, record, sizeof record);
}

// One file of the bare loop: the copy without its header and its CRC, the
// host call, the copy deleted, the line added to lines.
bool ReferenceFile(const std::string& source, const std::string& copy, std::vector<char>* buffer, std::string* lines) {
  HANDLE in = CreateFileA(source.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (in == INVALID_HANDLE_VALUE) return false;
  HANDLE out = CreateFileA(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  bool ok = out != INVALID_HANDLE_VALUE;
  uint32_t crc = 0;
  DWORD skip = kHeaderSize;
  for (DWORD got = kChunk; ok && got == kChunk;) {
    ok = ReadFile(in, buffer->data(), kChunk, &got, nullptr) != 0;
    DWORD from = std::min(skip, got);
    skip -= from;
    DWORD written = 0;
    if (ok && got > from) {
      ok = WriteFile(out, buffer->data() + from, got - from, &written, nullptr) && written == got - from;
      crc = Crc32Update(crc, buffer->data() + from, got - from);
    }
  }
  CloseHandle(in);
  if (out != INVALID_HANDLE_VALUE && !CloseHandle(out)) ok = false;
  if (!ok) return false;
  IgnoreRegister(copy.c_str());
  DeleteFileA(copy.c_str());
  char crcText[16];
  FormatText(crcText, sizeof crcText, "%08X ", crc);
  *lines += crcText + source + "\r\n";
  return true;
}

// The bare loop over the collection's folders, listed as the run lists them;
// lines go out 64 KiB at a time. Seconds, or -1 when a file failed.
double ReferenceRun(const std::string& root, int folders, const std::string& temp, const std::string& relationPath) {
  std::vector<char> buffer(kChunk);
  std::string lines;
  double start = Now();
  HANDLE relation = CreateFileA(relationPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (relation == INVALID_HANDLE_VALUE) return -1;
  bool ok = true;
  for (int f = 0; f < folders; ++f) {
    char folder[32];
    FormatText(folder, sizeof folder, "f%03d\\", f);
    std::string path = root + folder;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "*.*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return -1;
    do {
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      ok = ReferenceFile(path + entry.cFileName, temp + entry.cFileName, &buffer, &lines) && ok;
      DWORD written = 0;
      if (lines.size() >= (64u << 10)) {
        ok = WriteFile(relation, lines.data(), lines.size(), &written, nullptr) && written == lines.size() && ok;
        lines.clear();
      }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  DWORD written = 0;
  ok = WriteFile(relation, lines.data(), lines.size(), &written, nullptr) && written == lines.size() && ok;
  ok = CloseHandle(relation) && ok;
  double seconds = Now() - start;
  return ok ? seconds : -1;
}

// One run through the menu. With cancelAfterMs, Cancel is clicked that long
// after files began to be registered, and declined when asked. Seconds from
// call to return. The watch's timer ticks every pulseMs.
double MenuRun(const LoadedPlugin& plugin, const std::string& root, DWORD cancelAfterMs, UINT pulseMs = 5) {
  watch = Watch();
  watch.root = root;
  watch.cancelAfterMs = cancelAfterMs;
  watch.last = Now();
  UINT_PTR timer = SetTimer(nullptr, 0, pulseMs, PulseTick);
  double start = Now();
  plugin.onMenuClick(1);
  double end = Now();
  KillTimer(nullptr, timer);
  watch.longest = std::max(watch.longest, end - watch.last);
  watch.searchMs = watch.registering > 0 ? (watch.registering - start) * 1e3 : 0;
  watch.endMs = watch.lastDialogTick > 0 ? (end - watch.lastDialogTick) * 1e3 : 0;
  return end - start;
}

// The sorted CRC column of a relation file.
std::vector<std::string> CrcColumn(const std::string& path) {
  std::vector<std::string> crcs;
  std::string text = ReadBytes(path);
  for (size_t at = 0; at + 8 <= text.size();) {
    crcs.push_back(text.substr(at, 8));
    size_t end = text.find('\n', at);
    at = end == std::string::npos ? text.size() : end + 1;
  }
  std::sort(crcs.begin(), crcs.end());
  return crcs;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Bench {
  LoadedPlugin plugin;
  std::string data;  // the plug-in's data folder; its temp folder is under it
  std::string temp;
};

// A file made and deleted at once: its name in the wineserver's trace marks
// where one side begins or ends.
void Mark(const Bench& bench, char letter, const char* side, const char* edge) {
  char path[MAX_PATH];
  FormatText(path, sizeof path, "%scv_count_%c_%s_%s", bench.data.c_str(), letter, side, edge);
  HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  DeleteFileA(path);
}

// The run and the bare loop once each between markers, after a run that is
// not counted (the first makes the temp folder's files and warms the caches).
// The run must end with a relation file and no box: with no files the CRC
// columns match trivially, and a run turned away at once would count as cheap.
bool CountSides(Bench* bench, const Collection& c, const std::string& root, int files) {
  std::string relation = bench->data + "NES.rel";
  std::string reference = bench->data + "reference.rel";
  DeleteFileA(relation.c_str());
  MenuRun(bench->plugin, root, 0);
  DeleteFileA(relation.c_str());
  // The watch's own requests (its timer, the active window it asks for) are
  // the measuring host's, not the run's: counted, it ticks once a second,
  // only to answer a box nobody expected.
  Mark(*bench, c.letter, "run", "begin");
  MenuRun(bench->plugin, root, 0, 1000);
  Mark(*bench, c.letter, "run", "end");
  Mark(*bench, c.letter, "bare", "begin");
  // An empty folder's loop may take less than the clock's step: only -1 fails.
  bool ok = ReferenceRun(root, c.folders, bench->temp, reference) >= 0;
  Mark(*bench, c.letter, "bare", "end");
  bool ran = FileExists(relation) && watch.strayBox.empty();
  ok = ok && CrcColumn(relation) == CrcColumn(reference) && (int)CrcColumn(relation).size() == files;
  printf("counted %c %d files: %s\n", c.letter, files, c.name);
  if (!ran) {
    fprintf(stderr, "run_bench: %s: the counted run %s\n", c.name,
            watch.strayBox.empty() ? "left no relation file" : ("opened a box: " + watch.strayBox).c_str());
  } else if (!ok) {
    fprintf(stderr, "run_bench: %s: the run and the bare loop did not register the same CRCs\n", c.name);
  }
  ok = ok && ran;
  fflush(stdout);
  return ok;
}

// Measures one collection made under root. False when it could not be measured.
bool Measure(Bench* bench, const Collection& c, const std::string& root, const char* only) {
  int files = 0;
  double made = Now();
  if (!MakeCollection(c, root, &files) || !WriteSettings(bench->data + "NES.fol", root)) {
    fprintf(stderr, "run_bench: cannot make %s under %s\n", c.name, root.c_str());
    return false;
  }
  printf("%s (made in %.1f s)\n", c.name, Now() - made);
  fflush(stdout);
  if (strcmp(only, "count") == 0) return CountSides(bench, c, root, files);
  std::string relation = bench->data + "NES.rel";
  std::string reference = bench->data + "reference.rel";
  bool wantRun = only[0] == '\0' || strcmp(only, "run") == 0;
  bool wantBare = only[0] == '\0' || strcmp(only, "bare") == 0;
  int rounds = only[0] != '\0' ? 1 : c.rounds;
  std::vector<double> runs, bares, ratios, stills, searches, ends;
  bool ok = true;
  // One uncounted pass first: the first touch of memory the copies have not
  // used yet costs a virtual machine far more than a reuse, and would fall on
  // whichever side happened to go first.
  if (wantRun && wantBare) ok = ReferenceRun(root, c.folders, bench->temp, reference) > 0;
  for (int round = 0; round < rounds && ok; ++round) {
    // Every run starts without the lines of the one before.
    DeleteFileA(relation.c_str());
    if (wantRun) {
      runs.push_back(MenuRun(bench->plugin, root, 0));
      stills.push_back(watch.longest * 1e3);
      searches.push_back(watch.searchMs);
      ends.push_back(watch.endMs);
      if (!watch.strayBox.empty()) fprintf(stderr, "run_bench: unexpected box: %s\n", watch.strayBox.c_str());
    }
    if (wantBare) {
      bares.push_back(ReferenceRun(root, c.folders, bench->temp, reference));
      ok = bares.back() > 0;
    }
    if (wantRun && wantBare) {
      ratios.push_back(runs.back() / bares.back());
      ok = ok && CrcColumn(relation) == CrcColumn(reference) && (int)CrcColumn(relation).size() == files;
    }
  }
  if (!ok) fprintf(stderr, "run_bench: %s: the run and the bare loop did not register the same CRCs\n", c.name);
  if (!wantRun || !wantBare || !ok) return ok;

  // A third of the bare loop's time into the files: within the run, and for
  // large files in the middle of one.
  double bare = Median(bares);
  // This run ends with a merge that must look at every earlier line: the same
  // files under another spelling ("roms\.\f000\..."), which this run does not
  // write and which still exist.
  std::string earlier = ReadBytes(relation), respelt;
  for (size_t at = 0, end; (end = earlier.find("\r\n", at)) != std::string::npos; at = end + 2) {
    std::string line = earlier.substr(at, end + 2 - at);
    if (line.compare(9, root.size(), root) == 0) line.insert(9 + root.size(), ".\\");
    respelt += line;
  }
  ok = WriteBytes(relation, respelt);
  MenuRun(bench->plugin, root, static_cast<DWORD>(bare * 1e3 / 3) + 1);
  // A click that came only after the run had ended cannot be judged.
  double returned = Now();
  bool clickedInRun = watch.cancelPosted != 0 && watch.cancelPosted < returned;
  double cancelMs = watch.questionShown > 0 ? (watch.questionShown - watch.cancelPosted) * 1e3 : -1;
  // Its own row: the rounds' median stays theirs.
  double mergeStill = watch.longest * 1e3;

  double run = Median(runs), ratio = run / bare, still = Median(stills);
  auto low = std::min_element(ratios.begin(), ratios.end()), high = std::max_element(ratios.begin(), ratios.end());
  auto worst = std::max_element(stills.begin(), stills.end());
  double mib = files * (c.fileSize / 1048576.0);
  printf("  run (onMenuClick to return)  %9.0f ms  %7.0f files/s %5.0f MiB/s  median of %d\n", run * 1e3, files / run,
         mib / run, rounds);
  printf("    click to first folder named %6.0f ms, last tick in the dialog to return %.0f ms\n", Median(searches),
         Median(ends));
  printf("  bare loop                    %9.0f ms  %7.0f files/s %5.0f MiB/s\n", bare * 1e3, files / bare, mib / bare);
  // Each round's own ratio pairs a run with the bare loop right after it,
  // which a drift in the machine's speed over the rounds moves less.
  printf("  run / bare loop              %9.2f     (rounds %.2f-%.2f, median %.2f)", ratio, *low, *high,
         Median(ratios));
  EndRowWithGoal(ratio, kAtMost, kRatioGoal, "");
  printf("  longest stand-still          %9.1f ms  (median of %zu, max %.1f)", still, stills.size(), *worst);
  EndRowWithGoal(still, kAtMost, kStandStillGoalMs, "ms");
  printf("  the same, run ending with a merge over %d earlier lines %.1f ms", files, mergeStill);
  EndRowWithGoal(mergeStill, kAtMost, kStandStillGoalMs, "ms");
  // A Cancel clicked during the run that never got its question is a miss.
  if (!clickedInRun) {
    printf("  Cancel to question           not judged:");
    EndRowWithoutGoal("the run ended before the click");
  } else if (cancelMs < 0) {
    printf("  Cancel to question           never asked");
    EndRowWithGoal(1e9, kAtMost, kCancelGoalMs, "ms");
  } else {
    printf("  Cancel to question           %9.1f ms  (counter then %-16s)", cancelMs, watch.counterAtQuestion);
    EndRowWithGoal(cancelMs, kAtMost, kCancelGoalMs, "ms");
  }
  return true;
}

constexpr int kPackEntries = 60000;
// The fallback's one archiver call writes every entry: under Wine each new file
// in a full folder costs more, so that row is kept small.
constexpr int kFallbackPackEntries = 3000;
constexpr DWORD kPackRomSize = 40u << 10;
constexpr double kPackGoalMs = 2000;

void Put(std::string* bytes, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes->push_back(static_cast<char>(value >> (8 * i)));
}

// A stored zip written field by field: the ROM named first, then small entries
// in a folder. Its CRC-32s are checked by the archiver as it extracts.
std::string ZipPack(const std::string& firstName, const std::string& rom, int entries) {
  std::string archive, directory;
  for (int i = 0; i < entries; ++i) {
    char name[32];
    FormatText(name, sizeof name, "extra\\%05d.txt", i);
    std::string entryName = i == 0 ? firstName : name;
    std::string data = i == 0 ? rom : std::string("extra entry ") + name;
    std::replace(entryName.begin(), entryName.end(), '\\', '/');
    uint32_t crc = Crc32Update(0, data.data(), data.size());
    uint32_t offset = static_cast<uint32_t>(archive.size());
    for (std::string* header : {&archive, &directory}) {
      bool central = header == &directory;
      Put(header, central ? 0x02014b50 : 0x04034b50, 4);
      if (central) Put(header, 20, 2);
      Put(header, 20, 2);    // version needed
      Put(header, 0, 2);     // flags
      Put(header, 0, 2);     // stored
      Put(header, 0, 2);     // time
      Put(header, 0x21, 2);  // 1980-01-01
      Put(header, crc, 4);
      Put(header, static_cast<uint32_t>(data.size()), 4);
      Put(header, static_cast<uint32_t>(data.size()), 4);
      Put(header, static_cast<uint32_t>(entryName.size()), 2);
      Put(header, 0, 2);  // extra field
      if (central) {
        Put(header, 0, 2);  // comment
        Put(header, 0, 2);  // disk
        Put(header, 0, 2);  // internal attributes
        Put(header, 0, 4);  // external attributes
        Put(header, offset, 4);
      }
      *header += entryName;
    }
    archive += data;
  }
  uint32_t directoryOffset = static_cast<uint32_t>(archive.size());
  archive += directory;
  Put(&archive, 0x06054b50, 4);
  Put(&archive, 0, 4);  // disks
  Put(&archive, static_cast<uint32_t>(entries), 2);
  Put(&archive, static_cast<uint32_t>(entries), 2);
  Put(&archive, static_cast<uint32_t>(directory.size()), 4);
  Put(&archive, directoryOffset, 4);
  Put(&archive, 0, 2);  // comment
  return archive;
}

// The pack registered through the menu, then once more with a Cancel clicked
// as soon as files are being registered (declined). False when it could not
// be measured or its line is wrong.
bool MeasurePack(Bench* bench, const std::string& root, const std::string& firstName, int entries) {
  std::vector<char> block(kChunk);
  uint32_t seed = 11;
  std::string folder = root + "f000\\";
  std::string relation = bench->data + "NES.rel";
  if (!CreateDirectoryA(root.c_str(), nullptr) || !CreateDirectoryA(folder.c_str(), nullptr) ||
      !WriteRom(folder + "plain.nes", kPackRomSize, &seed, &block) || !WriteSettings(bench->data + "NES.fol", root)) {
    fprintf(stderr, "run_bench: cannot make the pack under %s\n", root.c_str());
    return false;
  }
  std::string rom = ReadBytes(folder + "plain.nes");
  rom[100] ^= 1;  // not the plain ROM's contents
  if (!WriteBytes(folder + "pack.zip", ZipPack(firstName, rom, entries))) return false;
  printf("a zip of %d entries, the first a %u KiB ROM named %s, beside a plain ROM\n", entries,
         static_cast<unsigned>(kPackRomSize >> 10), firstName.c_str());
  DeleteFileA(relation.c_str());
  double run = MenuRun(bench->plugin, root, 0);
  double still = watch.longest * 1e3;
  char line[64];
  FormatText(line, sizeof line, "%08X ", Crc32Update(0, rom.data() + kHeaderSize, rom.size() - kHeaderSize));
  // Below a root ending in "\\" the folder's path carries a second one: the
  // pack's line is found by its name.
  std::string lines = ReadBytes(relation);
  size_t at = lines.find("pack.zip\r\n");
  size_t start = at == std::string::npos ? 0 : lines.rfind('\n', at);
  start = start == std::string::npos ? 0 : start + 1;
  bool right = at != std::string::npos && lines.compare(start, 9, line) == 0;
  bool tempEmpty = FolderTree(bench->temp).empty();
  MenuRun(bench->plugin, root, 1);
  double cancelMs = watch.questionShown > 0 ? (watch.questionShown - watch.cancelPosted) * 1e3 : -1;
  tempEmpty = tempEmpty && FolderTree(bench->temp).empty();
  // The fallback's single archiver call extracts every entry, however long
  // that takes: its figures are shown, not held to the goals.
  bool held = firstName[0] != '-';
  const char* whyNot = "the name cannot be passed to the archiver, so one archiver call extracts every entry";
  auto end = [&](double figure, double goal) {
    if (held) {
      EndRowWithGoal(figure, kAtMost, goal, "ms");
    } else {
      EndRowWithoutGoal(whyNot);
    }
  };
  printf("  run (onMenuClick to return)  %9.0f ms", run * 1e3);
  end(run * 1e3, kPackGoalMs);
  printf("  longest stand-still          %9.1f ms", still);
  end(still, kStandStillGoalMs);
  if (cancelMs >= 0) {
    printf("  Cancel to question           %9.1f ms  (counter then %-16s)", cancelMs, watch.counterAtQuestion);
    end(cancelMs, kCancelGoalMs);
  } else {
    // A run shorter than the wait before the Cancel ends without the question;
    // a Cancel then waits at most for the slice in hand, the stand-still above.
    printf("  Cancel to question           the run ended first: at most the stand-still, %.1f ms", still);
    end(still, kCancelGoalMs);
  }
  printf("  relation line %s, temp folder %s afterwards\n", right ? "right" : "WRONG",
         tempEmpty ? "empty" : "NOT EMPTY");
  fflush(stdout);
  return right && tempEmpty;
}

}  // namespace

int main(int argc, char** argv) {
  const char* letters = argc > 1 ? argv[1] : "abcdpq";
  const char* only = argc > 2 ? argv[2] : "";
  char benchFolder[MAX_PATH];
  if (!MakeScratchFolder("run_bench", benchFolder, sizeof benchFolder)) {
    fprintf(stderr, "run_bench: cannot make the scratch folder\n");
    return 1;
  }
  printf("scratch folder %s\n", benchFolder);
  Bench bench;
  std::string base = benchFolder;
  bench.data = base + "data\\";
  bench.temp = bench.data + "temp\\";
  CreateDirectoryA(bench.data.c_str(), nullptr);
  if (!LoadPlugin(&bench.plugin)) {
    fprintf(stderr, "run_bench: cannot load %sCorvane.dll\n", BinFolder().c_str());
    RemoveTree(base);
    return 1;
  }
  HostOpen();
  HostAddCombo("NES", 200);
  if (bench.plugin.initPlugin(0, IgnoreLaunch, 0, IgnoreRegister, 0, bench.data.c_str()) != 0) {
    fprintf(stderr, "run_bench: the plug-in did not start\n");
    UnloadPlugin(&bench.plugin);
    HostClose();
    RemoveTree(base);
    return 1;
  }
  CreateDirectoryA(bench.temp.c_str(), nullptr);
  // The question is not timed when counting, and a hook costs requests at
  // each window made, activated or focused, which would count as the run's.
  HHOOK hook =
      strcmp(only, "count") == 0 ? nullptr : SetWindowsHookExA(WH_CBT, WatchQuestion, nullptr, GetCurrentThreadId());
  bool ok = true;
  for (const Collection& c : kCollections) {
    if (strchr(letters, c.letter) == nullptr) continue;
    std::string root = base + "roms_" + c.letter + "\\";
    ok = Measure(&bench, c, root, only) && ok;
    // The next collection gets the space back.
    RemoveTree(root);
  }
  for (const char* pack : {"p", "q"}) {
    if (strchr(letters, pack[0]) == nullptr) continue;
    std::string root = base + "roms_" + pack + "\\";
    ok = (pack[0] == 'p' ? MeasurePack(&bench, root, "game.nes", kPackEntries)
                         : MeasurePack(&bench, root, "-game.nes", kFallbackPackEntries)) &&
         ok;
    RemoveTree(root);
  }
  if (hook != nullptr) UnhookWindowsHookEx(hook);
  bench.plugin.closePlugin();
  UnloadPlugin(&bench.plugin);
  HostClose();
  RemoveTree(base);
  // A single side measured once is a trace, not held to the goals.
  if (only[0] != '\0') return ok ? 0 : 1;
  return GoalsExitCode(ok);
}
