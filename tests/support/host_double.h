// The tests' stand-in for the host application: a top-level window made active,
// "TComboBox" children carrying dataset names, and the two host services
// recording every call. Plus the small file and text helpers every test uses.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct HostCall {
  std::string path;     // as handed over, code page 932
  bool existed;         // whether a file was there during the call
  long long size;       // its size then, or -1
  std::string content;  // its bytes then
};

struct HostDouble {
  HWND window = nullptr;
  std::vector<HostCall> registerCalls;
  std::vector<HostCall> launchCalls;
  int registerResult = 0;
  int launchResult = 0;
  // Runs inside hostRegister, after the call was recorded (e.g. to cancel a run).
  std::function<void(const char* path)> onRegister;
};

extern HostDouble gHost;

// Creates the host window, visible and active. HostClose destroys it.
void HostOpen();
void HostClose();
// A visible or hidden child of class "TComboBox" holding text, width pixels wide
// (client area), placed under parent (the host window when null).
HWND HostAddCombo(const char* text, int width, bool visible = true, HWND parent = nullptr);
// Clears the recorded calls.
void HostReset();

int __stdcall HostRegister(const char* path);
int __stdcall HostLaunch(const char* path);

// Pumps this thread's pending messages.
void PumpMessages();

// Drives modal dialogs and message boxes from a thread timer that their modal
// loop dispatches: each tick calls the current step with the thread's active
// window; a step returns true when it is done. After maxTicks ticks the active
// dialog is ended and DriveTimedOut() turns true, so a stuck test fails
// instead of hanging. Arm it before the call that opens the dialog.
using DialogStep = std::function<bool(HWND active)>;
void DriveDialogs(std::vector<DialogStep> steps, UINT periodMs = 15, int maxTicks = 2000);
void StopDriving();
bool DriveTimedOut();
size_t DriveStepsDone();

// A window's class name and text (text in code page 932).
std::string ClassOf(HWND window);
std::string TextOf(HWND window);
bool IsDialogWindow(HWND window);  // class "#32770"
// The text of a message box (its static control 65535).
std::string MessageBoxText(HWND box);
// Presses a button of a dialog or message box by id (BM_CLICK-like WM_COMMAND).
void PressButton(HWND dialog, int id);

// Text conversions for comparing with u8"..." literals independently of the
// plug-in's own constants.
std::string Cp932(const char* utf8);
std::string Utf8(const std::string& cp932);

// Files and folders (code page 932 paths).
std::string MakeTempFolder(const char* tag);  // fresh, ends with "\"
void RemoveTree(const std::string& path);
bool WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);  // "" when missing
bool FileExists(const std::string& path);
long long FileSizeOf(const std::string& path);  // -1 when missing
// The folder of build-time sample files made by the real tools (ends with "\").
std::string FixturesFolder();
std::string FixturePath(const char* name);
// The folder of the test executable, where Corvane.dll and 7-zip32.dll lie.
std::string BinFolder();

// The plug-in as the host sees it: Corvane.dll loaded and its eleven entry points.
struct LoadedPlugin {
  HMODULE module = nullptr;
  const char*(__stdcall* getAuthor)() = nullptr;
  const char*(__stdcall* getName)() = nullptr;
  const char*(__stdcall* getSDKVersion)() = nullptr;
  const char*(__stdcall* getSmallComment)() = nullptr;
  const char*(__stdcall* getVersion)() = nullptr;
  int(__stdcall* initPlugin)(int, int(__stdcall*)(const char*), int, int(__stdcall*)(const char*), int,
                             const char*) = nullptr;
  int(__stdcall* closePlugin)() = nullptr;
  const char*(__stdcall* inMenu)() = nullptr;
  void(__stdcall* onMenuClick)(int) = nullptr;
  const char*(__stdcall* inPopupMenu)() = nullptr;
  int(__stdcall* onPopupMenuClick)(int, const void*) = nullptr;
};
bool LoadPlugin(LoadedPlugin* plugin);  // false when the DLL or an entry point is missing
void UnloadPlugin(LoadedPlugin* plugin);

// Starts the plug-in code linked into the test executable (its dialog templates
// are linked in too) as initPlugin would for the host double's services.
int StartLinkedPlugin(const std::string& dataDir);
