// Loads mondrel_input.aui2 from the folder of the running program, as the
// Windows test hosts keep a copy of the built DLL beside themselves.
#pragma once

#include <windows.h>

#include <string>

inline HMODULE LoadPluginBesideProgram() {
  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring path(program);
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"mondrel_input.aui2";
  return LoadLibraryW(path.c_str());
}
