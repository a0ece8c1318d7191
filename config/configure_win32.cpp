#include "config/configure.h"

#include <windows.h>

namespace {

INT_PTR CALLBACK ConfigDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;  // let the dialog manager set the focus
  if (message == WM_COMMAND) {
    const WORD command = LOWORD(wParam);
    if (command == IDOK || command == IDCANCEL) EndDialog(dialog, command);
  }
  return FALSE;
}

}  // namespace

bool ConfigurePlugin(void* parentWindow, void* instance) {
  DialogBoxParamW(static_cast<HINSTANCE>(instance), L"CONFIG", static_cast<HWND>(parentWindow),
                  ConfigDialogProcedure, 0);
  return true;
}
