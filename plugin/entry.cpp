// The eleven entry points through which the host loads, queries, drives and
// stops the plug-in.
#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>

#include <cstring>

#include "launch/extract_at_launch.h"
#include "launch/launch.h"
#include "base/state.h"
#include "base/leftovers.h"
#include "base/own_record.h"
#include "plugin/plugin.h"
#include "base/texts.h"
#include "profile/active_dataset.h"
#include "profile/profile.h"
#include "profile/settings_dialog.h"
#include "relation/relation_pending.h"
#include "registration/scan_dialog.h"
#include "base/file_io.h"

// A constant text in a buffer of its own that is zero past the text.
template <size_t N>
struct PaddedText {
  char bytes[N];
};

template <size_t N, size_t M>
constexpr PaddedText<N> Padded(const char (&text)[M]) {
  static_assert(M < N, "the buffer must keep a zero byte past the text");
  PaddedText<N> padded{};
  for (size_t i = 0; i < M; ++i) padded.bytes[i] = text[i];
  return padded;
}

static constexpr PaddedText<16> kAuthor = Padded<16>("Tamsk");
static constexpr PaddedText<16> kName = Padded<16>("Corvane");
static constexpr PaddedText<16> kSdkVersion = Padded<16>("0.7");
static constexpr PaddedText<64> kSmallComment = Padded<64>(kTextSmallComment);
static constexpr PaddedText<16> kVersion = Padded<16>("1.0");
// One entry; the zero past it is the empty entry that ends the list.
static constexpr PaddedText<32> kPopupList = Padded<32>(kTextPopupLaunch);

// Two entries back to back, each with its NUL, then the empty entry that ends
// the list, in a 260-byte buffer that is zero past them.
template <size_t N, size_t M1, size_t M2>
constexpr PaddedText<N> PaddedPair(const char (&first)[M1], const char (&second)[M2]) {
  static_assert(M1 + M2 < N, "the buffer must keep a zero byte past the texts");
  PaddedText<N> padded = Padded<N>(first);
  for (size_t i = 0; i < M2; ++i) padded.bytes[M1 + i] = second[i];
  return padded;
}

static constexpr PaddedText<kPathSize> kMenuList = PaddedPair<kPathSize>(kTextMenuSettings, kTextMenuAddRoms);

void PluginAttach(HINSTANCE instance) { gState.moduleInstance = instance; }

extern "C" {

const char* __stdcall getAuthor() { return kAuthor.bytes; }
const char* __stdcall getName() { return kName.bytes; }
const char* __stdcall getSDKVersion() { return kSdkVersion.bytes; }
const char* __stdcall getSmallComment() { return kSmallComment.bytes; }
const char* __stdcall getVersion() { return kVersion.bytes; }

static void CreateDirectoryIfMissing(const char* path) {
  if (!PathIsDirectoryA(path)) CreateDirectoryA(path, nullptr);
}

int __stdcall initPlugin(int, HostPathCallback launch, int, HostPathCallback registerRom, int, const char* dataDir) {
  // Called from a host's timer while an action waits: refused as the menus
  // are, so that the action keeps its folders, callbacks and settings, and
  // nothing takes back the folders it is using.
  if (gState.actionInProgress) return -1;
  // A data directory too long for the file names composed from it leaves the
  // plug-in unstarted rather than cutting those names; an empty one would put
  // our files at the root of the current drive.
  char dir[kPathSize];
  bool usable = dataDir != nullptr && dataDir[0] != '\0' && CopyText(dir, sizeof dir, dataDir) &&
                EnsureTrailingBackslash(dir, sizeof dir) && strlen(dir) <= kMaxDataDirLength;
  // A folder that cannot be made has no room for our files either.
  if (usable) CreateDirectoryIfMissing(dir);
  if (!usable || !PathIsDirectoryA(dir)) {
    gState.started = false;
    return -1;
  }
  // The dialogs' controls, before the first dialog (never from the library
  // entry routine). Registering them again is harmless.
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_USEREX_CLASSES};
  InitCommonControlsEx(&controls);
  gState.hostLaunch = launch;
  gState.hostRegister = registerRom;
  gState.profile.headerSize = 16;
  CopyText(gState.dataDir, sizeof gState.dataDir, dir);
  FormatText(gState.tempDir, sizeof gState.tempDir, "%stemp\\", gState.dataDir);
  CreateDirectoryIfMissing(gState.tempDir);
  // A launch the host abandoned may still be working in its private folder.
  if (LaunchWorkersRunning() == 0) RemoveProvenLeftovers();
  CopyText(gState.lastRomBrowseFolder, sizeof gState.lastRomBrowseFolder, gState.tempDir);
  CopyText(gState.lastExtractBrowseFolder, sizeof gState.lastExtractBrowseFolder, gState.tempDir);
  CopyText(gState.profile.extractFolder, sizeof gState.profile.extractFolder, gState.dataDir);
  gState.started = true;
  // A run's lines another program kept from their place: put in place first.
  PutPendingRelationsInPlace(gState.dataDir);
  return LoadGlobalSettings();
}

int __stdcall closePlugin() {
  if (!gState.started) return -1;
  // A launch waiting for its worker gives up: the host may unload us next.
  AbandonWaitingLaunch();
  return SaveGlobalSettings();
}

const char* __stdcall inMenu() { return kMenuList.bytes; }

const char* __stdcall inPopupMenu() { return kPopupList.bytes; }

// A dialog that cannot be made (the system out of window resources) is told,
// not passed over in silence.
static void RunDialog(HWND owner, const char* name, DLGPROC procedure) {
  if (DialogBoxParamA(gState.moduleInstance, name, owner, procedure, 0) != -1) return;
  ReportSystemError("DialogBoxParamA", name, GetLastError());
  MessageBoxA(owner, kTextOutOfMemory, nullptr, MB_OK | MB_ICONINFORMATION);
}

void __stdcall onMenuClick(int index) {
  if (!gState.started || gState.actionInProgress) return;
  gState.actionInProgress = true;
  FindActiveDatasetName();
  LoadDatasetProfile();
  HWND owner = GetActiveWindow();
  switch (index) {
    case 0:
      RunDialog(owner, "CVSETTINGDLG", SettingsDialogProc);
      break;
    case 1:
      if (PathIsDirectoryA(gState.profile.romFolder)) {
        RunDialog(owner, "CVADDDLG", RegistrationDialogProc);
      } else {
        MessageBoxA(owner, kTextBadRomFolder, nullptr, MB_OK | MB_ICONINFORMATION);
      }
      break;
    default:
      break;
  }
  gState.actionInProgress = false;
}

int __stdcall onPopupMenuClick(int, const HostSelection* selection) {
  if (!gState.started || gState.actionInProgress) return 0;
  gState.actionInProgress = true;
  if (LaunchWorkersRunning() == 0) RemoveProvenLeftovers();
  FindActiveDatasetName();
  LoadDatasetProfile();
  int result = 0;
  if (selection != nullptr && selection->crcText != nullptr) result = LaunchByCrc(selection->crcText);
  // The launch's private folder is gone: the record of own files is put away.
  CloseOwnRecord();
  gState.actionInProgress = false;
  return result;
}

}  // extern "C"
