// Shows the plug-in's configuration dialog for a given number of
// milliseconds, then presses OK: for screenshots of the real dialog.
#include <windows.h>

#include "host/plugin_beside.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

DWORD WINAPI PressOkLater(void* milliseconds) {
  Sleep(static_cast<DWORD>(reinterpret_cast<uintptr_t>(milliseconds)));
  HWND dialog = FindWindowW(nullptr, L"Mondrel\u306e\u8a2d\u5b9a");
  if (dialog != nullptr) PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const uintptr_t milliseconds = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 3000;
  HMODULE module = LoadPluginBesideProgram();
  if (module == nullptr) return 1;
  using GetTable = const uint8_t* (*)();
  const uint8_t* table = reinterpret_cast<GetTable>(reinterpret_cast<void*>(GetProcAddress(module, "GetInputPluginTable")))();
  using Configure = uint8_t (*)(HWND, HINSTANCE);
  Configure configure;
  std::memcpy(&configure, table + 72, sizeof configure);
  CloseHandle(CreateThread(nullptr, 0, PressOkLater, reinterpret_cast<void*>(milliseconds), 0, nullptr));
  return configure(nullptr, module) == 1 ? 0 : 1;
}
