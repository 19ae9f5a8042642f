// The "参照" buttons of the settings dialog: the shell's folder browser, started
// at the folder the edit box names and remembering the last choice.
#include "profile/folder_picker.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "base/state.h"
#include "base/window.h"

// What the browser's callback is handed: where it starts and its title.
struct BrowseStart {
  char initialFolder[kPathSize];
  const char* caption;
};

// Only file-system folders, in the resizable new-style browser.
static constexpr UINT kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;

static int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM, LPARAM data) {
  const BrowseStart* start = reinterpret_cast<const BrowseStart*>(data);
  switch (message) {
    case BFFM_INITIALIZED:
      SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(start->initialFolder));
      SetWindowTextA(browser, start->caption);
      CenterOnWorkArea(browser);
      break;
    default:
      break;
  }
  return 0;
}

static void BrowseAndRemember(HWND owner, const char* prompt, const char* caption, char* rememberedFolder, int editId) {
  BrowseStart start = {"", caption};
  char* initialFolder = start.initialFolder;
  BROWSEINFOA browse = {};
  browse.hwndOwner = owner;
  browse.pidlRoot = nullptr;
  browse.pszDisplayName = nullptr;
  browse.lpszTitle = prompt;
  browse.ulFlags = kBrowseFlags;
  browse.lpfn = BrowseCallback;
  browse.lParam = reinterpret_cast<LPARAM>(&start);
  browse.iImage = 0;

  SendDlgItemMessageA(owner, editId, WM_GETTEXT, sizeof start.initialFolder, reinterpret_cast<LPARAM>(initialFolder));
  if (!PathIsDirectoryA(initialFolder)) CopyText(initialFolder, sizeof start.initialFolder, rememberedFolder);

  LPITEMIDLIST chosenItem = SHBrowseForFolderA(&browse);
  if (chosenItem == nullptr) return;

  IMalloc* allocator = nullptr;
  if (FAILED(SHGetMalloc(&allocator)) || allocator == nullptr) {
    // The shell allocator is the task allocator, so the item list can still go.
    CoTaskMemFree(chosenItem);
    MessageBoxA(owner, "SHGetMalloc Error", "Error", MB_OK | MB_ICONERROR);
    return;
  }
  // Into a buffer of our own first: a failed conversion leaves the remembered
  // folder and the edit box as they were.
  char chosen[kPathSize] = "";
  BOOL converted = SHGetPathFromIDListA(chosenItem, chosen);
  allocator->Free(chosenItem);
  allocator->Release();
  if (!converted || chosen[0] == '\0') return;
  // A 259-byte path has no room for the final "\"; it is not taken rather than cut.
  if (!EnsureTrailingBackslash(chosen, sizeof chosen)) return;

  CopyText(rememberedFolder, kPathSize, chosen);
  SendDlgItemMessageA(owner, editId, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(rememberedFolder));
}

// The browser and the shell allocator need COM on this thread. It is the
// host's thread, so COM is taken only around the browser's use and released
// only when this call's CoInitialize succeeded (S_FALSE counts too): a host that
// already runs COM here, of either kind, keeps it exactly as it was.
void PickFolder(HWND owner, const char* prompt, const char* caption, char* rememberedFolder, int editId) {
  HRESULT com = CoInitialize(nullptr);
  BrowseAndRemember(owner, prompt, caption, rememberedFolder, editId);
  if (SUCCEEDED(com)) CoUninitialize();
}
