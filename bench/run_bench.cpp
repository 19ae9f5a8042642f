// The whole add-ROMs run, as the host starts it from its menu: onMenuClick(1)
// from call to return, through the real dialog, with a host whose registration
// returns at once. Beside it, in the same process, a bare loop doing the same
// work per file (read, header-less copy into the temp folder, zlib's crc32(),
// the host call, delete, the relation line). Also how long the user interface
// stood still: the longest gap between the ticks of a 5 ms host thread timer
// that the dialog's message loop serves, and how long a Cancel takes to ask.
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/state.h"
#include "bench/bench_support.h"
#include "plugin/plugin.h"
#include "registration/scan_dialog.h"
#include "support/host_double.h"

namespace {

constexpr DWORD kHeaderSize = 16;

struct Collection {
  const char* name;
  int folders;
  int filesPerFolder;
  DWORD fileSize;
};

const Collection kCollections[] = {
    {"(a) 2,000 ROMs of 64 KiB in 20 folders", 20, 100, 64u << 10},
    {"(b) 10,000 ROMs of 4 KiB in 400 folders", 400, 25, 4u << 10},
};

int __stdcall IgnoreRegister(const char*) { return 0; }
int __stdcall IgnoreLaunch(const char*) { return 0; }

// The user interface's pulse while a run goes on.
struct Pulse {
  double last = 0;
  double longest = 0;        // click to end of the run
  double longestPhase2 = 0;  // between two ticks that both fell in phase 2
  bool lastInPhase2 = false;
  // Cancel: when to ask, when it was asked, when the question came.
  int cancelAfterFiles = -1;
  bool clickerStarted = false;
  volatile double cancelPosted = 0;
  double questionShown = 0;
  HWND dialog = nullptr;
} pulse;

// The click comes from another thread a little later, so that it lands in the
// middle of a slice as a user's would, not in the pause between two.
DWORD WINAPI ClickCancelLater(void*) {
  Sleep(7);
  pulse.cancelPosted = Now();
  PostMessageA(pulse.dialog, WM_COMMAND, IDCANCEL, 0);
  return 0;
}

void CALLBACK PulseTick(HWND, UINT, UINT_PTR, DWORD) {
  double now = Now();
  double gap = now - pulse.last;
  if (gap > pulse.longest) pulse.longest = gap;
  bool inPhase2 = gScan.scanPhase == kPhaseProcess;
  if (inPhase2 && pulse.lastInPhase2 && gap > pulse.longestPhase2) pulse.longestPhase2 = gap;
  pulse.last = now;
  pulse.lastInPhase2 = inPhase2;
  HWND active = GetActiveWindow();
  if (pulse.dialog == nullptr && IsDialogWindow(active) && gScan.scanPhase != kPhaseIdle) pulse.dialog = active;
  if (pulse.cancelAfterFiles >= 0 && !pulse.clickerStarted && inPhase2 &&
      gScan.processedFiles >= pulse.cancelAfterFiles && pulse.dialog != nullptr) {
    pulse.clickerStarted = true;
    HANDLE clicker = CreateThread(nullptr, 0, ClickCancelLater, nullptr, 0, nullptr);
    if (clicker != nullptr) CloseHandle(clicker);
  }
  // The question is declined, so the run goes on to its end.
  if (pulse.questionShown != 0 && active != pulse.dialog && IsDialogWindow(active)) PressButton(active, IDCANCEL);
}

// The question box becoming active marks the answer to the click.
LRESULT CALLBACK WatchQuestion(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && pulse.cancelPosted != 0 && pulse.questionShown == 0) {
    HWND window = reinterpret_cast<HWND>(wParam);
    if (window != pulse.dialog && IsDialogWindow(window)) pulse.questionShown = Now();
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool MakeCollection(const Collection& c, const std::string& root, std::vector<std::string>* sources) {
  std::string bytes(c.fileSize, '\0');
  uint32_t seed = 7;
  for (int f = 0; f < c.folders; ++f) {
    char folder[32];
    snprintf(folder, sizeof folder, "f%03d\\", f);
    if (!CreateDirectoryA((root + folder).c_str(), nullptr)) return false;
    for (int i = 0; i < c.filesPerFolder; ++i) {
      for (char& b : bytes) b = static_cast<char>((seed = seed * 1664525u + 1013904223u) >> 24);
      char name[32];
      snprintf(name, sizeof name, "rom%03d.nes", i);
      std::string path = root + folder + name;
      if (!WriteBytes(path, bytes)) return false;
      sources->push_back(path);
    }
  }
  return true;
}

// The bare loop: the least work the run's job needs per file.
double ReferenceRun(const std::vector<std::string>& sources, const std::string& relationPath) {
  std::vector<char> buffer(1 << 20);
  double start = Now();
  HANDLE relation = CreateFileA(relationPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (relation == INVALID_HANDLE_VALUE) return -1;
  bool all = true;
  for (const std::string& source : sources) {
    HANDLE in =
        CreateFileA(source.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    DWORD got = 0;
    bool read = in != INVALID_HANDLE_VALUE && ReadFile(in, buffer.data(), (DWORD)buffer.size(), &got, nullptr) &&
                got >= kHeaderSize;
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    std::string copy = std::string(gState.tempDir) + source.substr(source.rfind('\\') + 1);
    if (!read || !WriteBytes(copy, buffer.data() + kHeaderSize, got - kHeaderSize)) {
      all = false;
      continue;
    }
    uLong crc =
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(buffer.data() + kHeaderSize), got - kHeaderSize);
    IgnoreRegister(copy.c_str());
    DeleteFileA(copy.c_str());
    char line[2 * MAX_PATH];
    int length = snprintf(line, sizeof line, "%08lX %s\r\n", crc, source.c_str());
    DWORD written = 0;
    if (!WriteFile(relation, line, length, &written, nullptr) || written != (DWORD)length) all = false;
  }
  CloseHandle(relation);
  double seconds = Now() - start;
  return all ? seconds : -1;
}

// One run through the menu. Returns the seconds from call to return.
double MenuRun(const std::string& root) {
  CopyText(gState.profile.romFolder, sizeof gState.profile.romFolder, root.c_str());
  gState.profile.depthChoice = 2;  // the root's own subfolders
  pulse.last = Now();
  pulse.longest = pulse.longestPhase2 = 0;
  pulse.lastInPhase2 = false;
  pulse.dialog = nullptr;
  pulse.cancelPosted = pulse.questionShown = 0;
  pulse.clickerStarted = false;
  UINT_PTR timer = SetTimer(nullptr, 0, 5, PulseTick);
  double start = Now();
  onMenuClick(1);
  double seconds = Now() - start;
  KillTimer(nullptr, timer);
  return seconds;
}

int CountLines(const std::string& path) {
  std::string text = ReadBytes(path);
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

const char* Verdict(bool met) { return met ? "met" : "NOT MET"; }

}  // namespace

int main() {
  char benchFolder[MAX_PATH];
  if (!MakeScratchFolder("run_bench", benchFolder, sizeof benchFolder)) {
    fprintf(stderr, "run_bench: cannot make the scratch folder\n");
    return 1;
  }
  std::string base = benchFolder;
  std::string data = base + "data\\";
  CreateDirectoryA(data.c_str(), nullptr);
  PluginAttach(GetModuleHandleA(nullptr));
  HostOpen();
  HostAddCombo("NES", 200);
  if (initPlugin(0, IgnoreLaunch, 0, IgnoreRegister, 0, data.c_str()) != 0) {
    fprintf(stderr, "run_bench: the plug-in did not start\n");
    return 1;
  }
  HHOOK hook = SetWindowsHookExA(WH_CBT, WatchQuestion, nullptr, GetCurrentThreadId());
  bool allMet = true;
  bool ok = true;
  for (const Collection& c : kCollections) {
    std::string root = base + (c.folders == 20 ? "roms_a\\" : "roms_b\\");
    std::vector<std::string> sources;
    if (!CreateDirectoryA(root.c_str(), nullptr) || !MakeCollection(c, root, &sources)) {
      fprintf(stderr, "run_bench: cannot make %s\n", c.name);
      ok = false;
      break;
    }
    // Each collection's runs start without the lines of the one before.
    DeleteFileA((data + "NES.rel").c_str());
    // Alternated, best of two, so both see the same state of the disk cache.
    double bestRun = 1e30, bestReference = 1e30, longest = 0, longestPhase2 = 0;
    for (int round = 0; round < 2; ++round) {
      pulse.cancelAfterFiles = -1;
      double run = MenuRun(root);
      longest = pulse.longest > longest ? pulse.longest : longest;
      longestPhase2 = pulse.longestPhase2 > longestPhase2 ? pulse.longestPhase2 : longestPhase2;
      double reference = ReferenceRun(sources, data + "reference.rel");
      if (reference < 0 || CountLines(data + "NES.rel") != (int)sources.size()) {
        fprintf(stderr, "run_bench: %s: a file was not registered\n", c.name);
        ok = false;
      }
      if (run < bestRun) bestRun = run;
      if (reference < bestReference) bestReference = reference;
    }
    // A Cancel half way, declined: how long until the question is asked.
    pulse.cancelAfterFiles = static_cast<int>(sources.size() / 2);
    MenuRun(root);
    double cancelMs = pulse.questionShown > 0 ? (pulse.questionShown - pulse.cancelPosted) * 1e3 : -1;

    double ratio = bestRun / bestReference;
    bool ratioMet = ratio <= 1.3;
    bool pulseMet = c.folders == 20 || (longest * 1e3 <= 100 && longestPhase2 * 1e3 <= 50);
    bool cancelMet = cancelMs >= 0 && cancelMs <= 100;
    allMet = allMet && ratioMet && pulseMet && cancelMet;
    printf("%s\n", c.name);
    printf("  run (onMenuClick to return)   %8.0f ms  %7.0f files/s\n", bestRun * 1e3, sources.size() / bestRun);
    printf("  reference (bare loop)         %8.0f ms  %7.0f files/s\n", bestReference * 1e3,
           sources.size() / bestReference);
    printf("  ratio run/reference           %8.2f   (goal <= 1.3: %s)\n", ratio, Verdict(ratioMet));
    printf("  longest stand-still           %8.1f ms (click to end), %.1f ms in phase 2%s\n", longest * 1e3,
           longestPhase2 * 1e3,
           c.folders == 20 ? ""
           : pulseMet      ? " (goals 100/50: met)"
                           : " (goals 100/50: NOT MET)");
    printf("  Cancel to question            %8.1f ms (goal <= 100: %s)\n", cancelMs, Verdict(cancelMet));
  }
  if (hook != nullptr) UnhookWindowsHookEx(hook);
  closePlugin();
  HostClose();
  RemoveTree(base);
  printf("  goals: %s\n", allMet ? "all met" : "NOT all met");
  return ok ? 0 : 1;
}
