// The demo catalogue host: a small stand-in for the catalogue application that
// Corvane.dll plugs into. It loads the plug-in like the real host, keeps a
// catalogue of registered ROMs per dataset, offers the plug-in's menu and popup
// entries, and starts an emulator command per dataset. All strings are code
// page 932, the ANSI code page the plug-in works in.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/host_interface.h"
#include "support/dialog_driver.h"
#include "support/files.h"
#include "support/screenshot.h"

// --- the plug-in as the host binds it --------------------------------------

// The entry points' types come from the plug-in's own interface header.
struct PluginBinding {
  HMODULE module;
  decltype(&::getAuthor) getAuthor;
  decltype(&::getName) getName;
  decltype(&::getSDKVersion) getSDKVersion;
  decltype(&::getSmallComment) getSmallComment;
  decltype(&::getVersion) getVersion;
  decltype(&::initPlugin) initPlugin;
  decltype(&::closePlugin) closePlugin;
  decltype(&::inMenu) inMenu;
  decltype(&::onMenuClick) onMenuClick;
  decltype(&::inPopupMenu) inPopupMenu;
  decltype(&::onPopupMenuClick) onPopupMenuClick;
};

// Loads the DLL and binds all eleven entry points; false (and nothing loaded)
// when the file or any entry point is missing.
bool LoadPluginBinding(const std::string& dllPath, PluginBinding* plugin);
void UnloadPluginBinding(PluginBinding* plugin);
// Splits an entry list ("a\0b\0\0") into its entries.
std::vector<std::string> SplitEntryList(const char* list);

// --- the catalogue ---------------------------------------------------------

struct CatalogueEntry {
  std::string dataset;
  std::string crcText;  // eight upper-case hexadecimal digits
  uint32_t size;        // bytes of the registered (header-less) file
  std::string name;     // the registered file's name
};

// CRC-32 of a whole file by zlib, independent of the plug-in's own routine.
bool FileCrc32(const std::string& path, uint32_t* crc, uint32_t* size);
std::string CrcText(uint32_t crc);
// Adds an entry, replacing one of the same dataset and CRC.
void AddToCatalogue(std::vector<CatalogueEntry>* catalogue, const CatalogueEntry& entry);
// The catalogue file: one "dataset<TAB>crc<TAB>size<TAB>name" line per ROM.
bool LoadCatalogueFile(const std::string& path, std::vector<CatalogueEntry>* catalogue);
bool SaveCatalogueFile(const std::string& path, const std::vector<CatalogueEntry>& catalogue);

// --- host services handed to initPlugin --------------------------------------

struct RegisterCall {
  std::string path;
  std::string dataset;
  bool readable;
  uint32_t size;
  std::string crcText;
};

struct LaunchCall {
  std::string path;
  std::string command;  // empty when no emulator is configured
  bool started;
  bool finished;
  DWORD exitCode;
  int result;
};

int __stdcall HostRegister(const char* path);
int __stdcall HostLaunch(const char* path);
// The emulator command line for a dataset, from emulators.ini in the data folder
// ([DATASET] command=...), with every "%1" replaced by path; "" when none.
std::string EmulatorCommand(const std::string& dataset, const std::string& path);

// --- the application -------------------------------------------------------

struct HostApp {
  HINSTANCE instance;
  HWND window;
  HWND datasetBox;    // our "TComboBox": the window the plug-in reads the name from
  HWND datasetCombo;  // the real combo box inside it
  HWND romList;
  HWND statusBar;
  HFONT font;
  std::string exeDir;   // ends with "\"
  std::string dataDir;  // ends with "\"
  PluginBinding plugin;
  bool pluginStarted;
  std::vector<std::string> menuEntries;
  std::vector<std::string> popupEntries;
  std::vector<CatalogueEntry> catalogue;
  // The scripted run waits for each emulator to end so that it can check it.
  bool waitForEmulator;
  std::vector<RegisterCall> registerCalls;
  std::vector<LaunchCall> launchCalls;
  int lastPopupResult;  // what onPopupMenuClick returned last
  // Called at the end of every hostRegister call (the scripted run's hook).
  void (*afterRegister)(const RegisterCall& call);
};

extern HostApp gApp;

extern const char* const kDatasets[];
extern const int kDatasetCount;

std::string CataloguePath();
bool CreateMainWindow(const char* initialDataset);
std::string CurrentDataset();
bool SelectDataset(const std::string& name);
void RefreshRomList();
// Row of the current dataset's ROM with this CRC text in the list; -1 if none.
int FindRomRow(const std::string& crcText);
void SelectRomRow(int row);
// What the menu and popup commands do; both make the host window active first,
// since the plug-in reads the dataset from the active window.
void RunPluginMenu(int index);
int LaunchRomRow(int row, int popupIndex);
// Opens the ROM popup on a row, as a right click there does.
void OpenRomPopup(int row);

// --- small helpers -----------------------------------------------------------

std::string WithBackslash(std::string path);
std::string FullPath(const std::string& path);
// These two read the path in the ANSI code page, so that a double-byte
// character's trail byte is never taken for a separator.
// After the last "\" or "/":
std::string BaseName(const std::string& path);
// One backslash for every run of them (a network path's leading pair stays):
std::string CollapseSeparators(const std::string& path);
// Equal as the file system sees them: case and doubled separators aside.
bool SamePath(const std::string& a, const std::string& b);
// The lines of a text, without their line breaks (LF or CR LF).
std::vector<std::string> SplitLines(const std::string& bytes);
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// --- the scripted run ----------------------------------------------------------

struct ScriptOptions {
  std::string demoDir;     // ends with "\"; holds roms\, extract\, manifest.txt, emulator.log
  std::string reportPath;  // UTF-8 report
  std::string shotsDir;    // ends with "\"; BMP screenshots
};
// Does what a user would through the real dialogs and checks every step;
// returns the process exit code (0 when every check passed).
int RunScript(const ScriptOptions& options);

// --- with nobody at the screen -------------------------------------------------

// Runs the plug-in's registration entry, answering every box with OK; false
// when it did not end within maxSeconds.
bool RegisterUnattended(int maxSeconds);
// From now on the host's registration call for the copy named name sets the
// event named eventName and never returns: the process is to be killed there.
// With pause, it returns once the event is reset (the test has done what it
// does at that moment), or after 30 s.
void HoldAtRegisterOf(const std::string& name, const std::string& eventName, bool pause = false);
// Launches the current dataset's ROMs registered under crcTexts (separated by
// ",") through the plug-in's popup entry, one after another, waiting for the
// emulator; true when each ended with 0.
bool LaunchUnattended(const std::string& crcTexts);
