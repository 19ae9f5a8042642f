// The host's main window: the dataset selector (a "TComboBox" window, the
// class the plug-in looks for), the ROM list of the current dataset, the menu
// bar with the plug-in's entries and the popup on a ROM.
// windows.h (through host.h) must come before commctrl.h.
#include "host/host.h"

#include <commctrl.h>

#include "host/host_texts.h"

HostApp gApp;

const char* const kDatasets[] = {"NES", "FDS", "PCE"};
const int kDatasetCount = sizeof kDatasets / sizeof kDatasets[0];

static const char kMainClass[] = "CorvaneDemoHost";
// The catalogue application's dataset selector has this class; the plug-in
// finds the dataset name by it.
static const char kDatasetClass[] = "TComboBox";

enum : int {
  kIdDatasetBox = 10,
  kIdDatasetCombo = 11,
  kIdRomList = 12,
  kIdStatusBar = 13,
  kCmdReload = 100,
  kCmdExit = 101,
  kCmdPluginMenuBase = 1000,
  kCmdPopupBase = 2000,
};
const int kMaxPluginEntries = 100;

const int kMargin = 8;
const int kSelectorWidth = 180;

std::string CataloguePath() { return gApp.dataDir + "catalogue.txt"; }

// --- the dataset selector ------------------------------------------------------

// A frame of class "TComboBox" around a real drop-down list: the plug-in sends
// the frame WM_GETTEXT, which answers with the list's selected text.
static LRESULT CALLBACK DatasetBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND combo = GetDlgItem(box, kIdDatasetCombo);
  switch (message) {
    case WM_CREATE: {
      RECT client;
      GetClientRect(box, &client);
      CreateWindowExA(0, WC_COMBOBOXA, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0, 0,
                      client.right, 200, box, reinterpret_cast<HMENU>(kIdDatasetCombo), gApp.instance, nullptr);
      return 0;
    }
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
    case WM_SETFONT:
      if (combo == nullptr) break;
      return SendMessageA(combo, message, wParam, lParam);
    case WM_SIZE:
      if (combo != nullptr) SetWindowPos(combo, nullptr, 0, 0, LOWORD(lParam), 200, SWP_NOZORDER | SWP_NOMOVE);
      return 0;
    case WM_COMMAND:
      // The owner hears the list's notifications as the selector's.
      return SendMessageA(GetParent(box), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(box), HIWORD(wParam)),
                          reinterpret_cast<LPARAM>(box));
    default:
      break;
  }
  return DefWindowProcA(box, message, wParam, lParam);
}

std::string CurrentDataset() {
  if (gApp.datasetBox == nullptr) return std::string();
  char name[MAX_PATH] = "";
  int length = static_cast<int>(SendMessageA(gApp.datasetBox, WM_GETTEXT, sizeof name, reinterpret_cast<LPARAM>(name)));
  return std::string(name, length > 0 ? length : 0);
}

bool SelectDataset(const std::string& name) {
  LRESULT index = SendMessageA(gApp.datasetCombo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                               reinterpret_cast<LPARAM>(name.c_str()));
  if (index == CB_ERR) return false;
  SendMessageA(gApp.datasetCombo, CB_SETCURSEL, index, 0);
  RefreshRomList();
  return true;
}

// --- the ROM list --------------------------------------------------------------

static void AddColumn(int index, const char* title, int width, int format) {
  LVCOLUMNA column = {};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
  column.fmt = format;
  column.cx = width;
  column.pszText = const_cast<char*>(title);
  column.iSubItem = index;
  SendMessageA(gApp.romList, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
}

static void SetCell(int row, int column, const std::string& text) {
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = const_cast<char*>(text.c_str());
  SendMessageA(gApp.romList, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

static void UpdateStatus(int count) {
  if (gApp.statusBar == nullptr) return;
  std::string countText = Format(kTextRomCount, count);
  SendMessageA(gApp.statusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(countText.c_str()));
}

// The list shows the current dataset's part of the catalogue; each row's
// lParam is the catalogue index, so the popup finds the CRC text again.
void RefreshRomList() {
  if (gApp.romList == nullptr) return;
  std::string dataset = CurrentDataset();
  SendMessageA(gApp.romList, WM_SETREDRAW, FALSE, 0);
  SendMessageA(gApp.romList, LVM_DELETEALLITEMS, 0, 0);
  int row = 0;
  for (size_t i = 0; i < gApp.catalogue.size(); ++i) {
    const CatalogueEntry& entry = gApp.catalogue[i];
    if (entry.dataset != dataset) continue;
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = const_cast<char*>(entry.crcText.c_str());
    item.lParam = static_cast<LPARAM>(i);
    int at = static_cast<int>(SendMessageA(gApp.romList, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    SetCell(at, 1, entry.name);
    SetCell(at, 2, Format("%lu", static_cast<unsigned long>(entry.size)));
    SetCell(at, 3, entry.dataset);
    ++row;
  }
  SendMessageA(gApp.romList, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(gApp.romList, nullptr, TRUE);
  UpdateStatus(row);
}

static int CatalogueIndexOfRow(int row) {
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (!SendMessageA(gApp.romList, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return -1;
  if (item.lParam < 0 || static_cast<size_t>(item.lParam) >= gApp.catalogue.size()) return -1;
  return static_cast<int>(item.lParam);
}

int FindRomRow(const std::string& crcText) {
  int rows = static_cast<int>(SendMessageA(gApp.romList, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < rows; ++row) {
    int index = CatalogueIndexOfRow(row);
    if (index >= 0 && gApp.catalogue[index].crcText == crcText) return row;
  }
  return -1;
}

void SelectRomRow(int row) {
  LVITEMA item = {};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(gApp.romList, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
  SendMessageA(gApp.romList, LVM_ENSUREVISIBLE, row, FALSE);
}

static int SelectedRow() {
  return static_cast<int>(SendMessageA(gApp.romList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// --- the plug-in's commands ------------------------------------------------------

static void MakeHostActive() {
  if (GetActiveWindow() != gApp.window) {
    SetForegroundWindow(gApp.window);
    SetActiveWindow(gApp.window);
  }
}

void RunPluginMenu(int index) {
  if (!gApp.pluginStarted) return;
  MakeHostActive();
  gApp.plugin.onMenuClick(index);
  RefreshRomList();
}

int LaunchRomRow(int row, int popupIndex) {
  if (!gApp.pluginStarted) return 0;
  int index = CatalogueIndexOfRow(row);
  if (index < 0) return 0;
  // The CRC text must outlive the call: copy it out of the catalogue, which
  // a registration could change meanwhile.
  std::string crcText = gApp.catalogue[index].crcText;
  HostSelection selection = {0, crcText.c_str()};
  MakeHostActive();
  gApp.lastPopupResult = gApp.plugin.onPopupMenuClick(popupIndex, &selection);
  return gApp.lastPopupResult;
}

static void ShowRomPopup(POINT screen, int row) {
  if (gApp.popupEntries.empty()) return;
  HMENU popup = CreatePopupMenu();
  for (size_t i = 0; i < gApp.popupEntries.size() && i < kMaxPluginEntries; ++i) {
    AppendMenuA(popup, MF_STRING, kCmdPopupBase + i, gApp.popupEntries[i].c_str());
  }
  int command = TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, screen.x, screen.y, 0,
                               gApp.window, nullptr);
  DestroyMenu(popup);
  if (command >= kCmdPopupBase && command < kCmdPopupBase + kMaxPluginEntries) {
    LaunchRomRow(row, command - kCmdPopupBase);
  }
}

// Right click on a ROM, or the context-menu key with a ROM selected.
static void OnContextMenu(HWND target, LPARAM lParam) {
  if (target != gApp.romList) return;
  POINT screen = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  int row = -1;
  if (lParam == -1) {
    row = SelectedRow();
    RECT bounds = {};
    bounds.left = LVIR_LABEL;
    if (row < 0 || !SendMessageA(gApp.romList, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds))) return;
    screen = {bounds.left, bounds.bottom};
    ClientToScreen(gApp.romList, &screen);
  } else {
    LVHITTESTINFO hit = {};
    hit.pt = screen;
    ScreenToClient(gApp.romList, &hit.pt);
    row = static_cast<int>(SendMessageA(gApp.romList, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (row < 0) return;
    SelectRomRow(row);
  }
  ShowRomPopup(screen, row);
}

void OpenRomPopup(int row) {
  RECT bounds = {};
  bounds.left = LVIR_LABEL;
  if (!SendMessageA(gApp.romList, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds))) return;
  POINT screen = {bounds.left + 40, bounds.bottom - 2};
  ClientToScreen(gApp.romList, &screen);
  SendMessageA(gApp.window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(gApp.romList), MAKELPARAM(screen.x, screen.y));
}

// --- the window ------------------------------------------------------------------

static void Layout(int width, int height) {
  if (gApp.statusBar != nullptr) SendMessageA(gApp.statusBar, WM_SIZE, 0, 0);
  RECT status = {};
  if (gApp.statusBar != nullptr) GetWindowRect(gApp.statusBar, &status);
  RECT selector = {};
  GetWindowRect(gApp.datasetBox, &selector);
  int top = kMargin * 2 + (selector.bottom - selector.top);
  int listHeight = height - top - (status.bottom - status.top);
  SetWindowPos(gApp.romList, nullptr, 0, top, width, listHeight > 0 ? listHeight : 0, SWP_NOZORDER);
}

static void CreateChildren(HWND window) {
  HWND label = CreateWindowExA(0, WC_STATICA, kTextDataset, WS_CHILD | WS_VISIBLE | SS_LEFT, kMargin, kMargin + 4, 90,
                               20, window, nullptr, gApp.instance, nullptr);
  SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(gApp.font), FALSE);
  gApp.datasetBox = CreateWindowExA(0, kDatasetClass, "", WS_CHILD | WS_VISIBLE, kMargin + 96, kMargin, kSelectorWidth,
                                    24, window, reinterpret_cast<HMENU>(kIdDatasetBox), gApp.instance, nullptr);
  gApp.datasetCombo = GetDlgItem(gApp.datasetBox, kIdDatasetCombo);
  SendMessageA(gApp.datasetCombo, WM_SETFONT, reinterpret_cast<WPARAM>(gApp.font), FALSE);
  for (int i = 0; i < kDatasetCount; ++i) {
    SendMessageA(gApp.datasetCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kDatasets[i]));
  }
  // The frame takes the height of the closed combo box.
  RECT combo = {};
  GetWindowRect(gApp.datasetCombo, &combo);
  SetWindowPos(gApp.datasetBox, nullptr, 0, 0, kSelectorWidth, combo.bottom - combo.top, SWP_NOZORDER | SWP_NOMOVE);

  gApp.romList = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0,
                                 40, 100, 100, window, reinterpret_cast<HMENU>(kIdRomList), gApp.instance, nullptr);
  SendMessageA(gApp.romList, WM_SETFONT, reinterpret_cast<WPARAM>(gApp.font), FALSE);
  SendMessageA(gApp.romList, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  AddColumn(0, "CRC", 90, LVCFMT_LEFT);
  AddColumn(1, kTextColumnName, 300, LVCFMT_LEFT);
  AddColumn(2, kTextColumnSize, 90, LVCFMT_RIGHT);
  AddColumn(3, kTextDataset, 110, LVCFMT_LEFT);

  gApp.statusBar = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window,
                                   reinterpret_cast<HMENU>(kIdStatusBar), gApp.instance, nullptr);
  SendMessageA(gApp.statusBar, WM_SETFONT, reinterpret_cast<WPARAM>(gApp.font), FALSE);
  // The ROM count, then the plug-in's own description.
  int parts[2] = {100, -1};
  SendMessageA(gApp.statusBar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
}

static HMENU BuildMenuBar() {
  HMENU bar = CreateMenu();
  HMENU file = CreatePopupMenu();
  AppendMenuA(file, MF_STRING, kCmdReload, kTextMenuReload);
  AppendMenuA(file, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(file, MF_STRING, kCmdExit, kTextMenuExit);
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), kTextMenuFile);
  if (gApp.pluginStarted && !gApp.menuEntries.empty()) {
    HMENU plugin = CreatePopupMenu();
    for (size_t i = 0; i < gApp.menuEntries.size() && i < kMaxPluginEntries; ++i) {
      AppendMenuA(plugin, MF_STRING, kCmdPluginMenuBase + i, gApp.menuEntries[i].c_str());
    }
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(plugin), gApp.plugin.getName());
  }
  return bar;
}

static void OnCommand(WPARAM wParam) {
  int id = LOWORD(wParam);
  if (id == kIdDatasetBox && HIWORD(wParam) == CBN_SELCHANGE) {
    RefreshRomList();
  } else if (id == kCmdReload) {
    LoadCatalogueFile(CataloguePath(), &gApp.catalogue);
    RefreshRomList();
  } else if (id == kCmdExit) {
    DestroyWindow(gApp.window);
  } else if (id >= kCmdPluginMenuBase && id < kCmdPluginMenuBase + kMaxPluginEntries) {
    RunPluginMenu(id - kCmdPluginMenuBase);
  }
}

static LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      CreateChildren(window);
      return 0;
    case WM_SIZE:
      Layout(LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_COMMAND:
      OnCommand(wParam);
      return 0;
    case WM_CONTEXTMENU:
      OnContextMenu(reinterpret_cast<HWND>(wParam), lParam);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool CreateMainWindow(const char* initialDataset) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  NONCLIENTMETRICSA metrics = {};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    gApp.font = CreateFontIndirectA(&metrics.lfMessageFont);
  }
  if (gApp.font == nullptr) gApp.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));

  WNDCLASSA main = {};
  main.lpfnWndProc = MainWindowProc;
  main.hInstance = gApp.instance;
  main.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  main.hCursor = LoadCursor(nullptr, IDC_ARROW);
  main.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  main.lpszClassName = kMainClass;
  WNDCLASSA selector = {};
  selector.lpfnWndProc = DatasetBoxProc;
  selector.hInstance = gApp.instance;
  selector.hCursor = LoadCursor(nullptr, IDC_ARROW);
  selector.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  selector.lpszClassName = kDatasetClass;
  if (!RegisterClassA(&main) || !RegisterClassA(&selector)) return false;

  gApp.window = CreateWindowExA(0, kMainClass, kTextHostCaption, WS_OVERLAPPEDWINDOW, 40, 40, 720, 460, nullptr,
                                BuildMenuBar(), gApp.instance, nullptr);
  if (gApp.window == nullptr) return false;
  if (gApp.pluginStarted && gApp.statusBar != nullptr) {
    std::string identity = Format("%s %s (%s) - %s", gApp.plugin.getName(), gApp.plugin.getVersion(),
                                  gApp.plugin.getAuthor(), gApp.plugin.getSmallComment());
    SendMessageA(gApp.statusBar, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>(identity.c_str()));
  }
  if (initialDataset == nullptr || !SelectDataset(initialDataset)) SelectDataset(kDatasets[0]);
  RECT client;
  GetClientRect(gApp.window, &client);
  Layout(client.right, client.bottom);
  return true;
}
