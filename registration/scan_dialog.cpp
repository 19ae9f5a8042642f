// Placeholder until the registration run lands: opens and closes on Cancel.
#include "registration/scan_dialog.h"

INT_PTR CALLBACK RegistrationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) EndDialog(dialog, IDCANCEL);
  return FALSE;
}
