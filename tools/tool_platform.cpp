#include "tools/tool_platform.h"

#include "platform/utf16.h"

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

WideString ToWide(const std::string& utf8) {
  WideString wide;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    uint32_t code = 0xFFFD;
    size_t length = 1;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead >> 5) == 6 && i + 1 < utf8.size()) {
      code = (lead & 0x1Fu) << 6 | (utf8[i + 1] & 0x3F);
      length = 2;
    } else if ((lead >> 4) == 14 && i + 2 < utf8.size()) {
      code = (lead & 0x0Fu) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F);
      length = 3;
    } else if ((lead >> 3) == 30 && i + 3 < utf8.size()) {
      code = (lead & 0x07u) << 18 | (utf8[i + 1] & 0x3F) << 12 | (utf8[i + 2] & 0x3F) << 6 | (utf8[i + 3] & 0x3F);
      length = 4;
    }
    if (code >= 0x10000) {
      wide += static_cast<WideChar>(0xD800 + ((code - 0x10000) >> 10));
      wide += static_cast<WideChar>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<WideChar>(code);
    }
    i += length;
  }
  return wide;
}

std::string ToUtf8(const WideString& wide) {
  std::string out;
  AppendUtf8(out, wide.data(), wide.size());
  return out;
}

#ifdef _WIN32

std::vector<std::string> Utf8Arguments(int, char**) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> result;
  for (int i = 0; i < count; ++i) result.push_back(ToUtf8(arguments[i]));
  LocalFree(arguments);
  return result;
}

const PluginTable* LoadPluginTable(const std::string& dllPath, std::string* error) {
  if (dllPath.empty()) return GetInputPluginTable();
  HMODULE module = LoadLibraryW(ToWide(dllPath).c_str());
  if (module == nullptr) {
    *error = "cannot load " + dllPath;
    return nullptr;
  }
  using GetTable = const PluginTable* (*)();
  GetTable getTable = reinterpret_cast<GetTable>(reinterpret_cast<void*>(GetProcAddress(module, "GetInputPluginTable")));
  if (getTable == nullptr) {
    *error = dllPath + " does not export GetInputPluginTable";
    return nullptr;
  }
  return getTable();  // the module stays loaded for the life of the tool
}

bool ErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

std::string SystemReason(const std::string& path) {
  HANDLE file = CreateFileW(ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    const bool onDisk = GetFileType(file) == FILE_TYPE_DISK;
    CloseHandle(file);
    return onDisk ? "cannot read the file" : "not a file on disk (a device, console or pipe)";
  }
  return SystemErrorText(GetLastError());
}

std::string SystemErrorText(unsigned long code) {
  wchar_t* message = nullptr;
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                          FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::string reason = length > 0 ? ToUtf8(WideString(message, message + length)) : "error " + std::to_string(code);
  if (message != nullptr) LocalFree(message);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) reason.pop_back();
  return reason;
}

#else

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

const PluginTable* LoadPluginTable(const std::string& dllPath, std::string* error) {
  if (dllPath.empty()) return GetInputPluginTable();
  *error = "--plugin loads a Windows DLL and works in the Windows build only";
  return nullptr;
}

bool ErrorIsTerminal() { return isatty(2) != 0; }

std::string SystemErrorText(unsigned long code) { return std::strerror(static_cast<int>(code)); }

std::string SystemReason(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return std::strerror(errno);
  if (S_ISDIR(info.st_mode)) return std::strerror(EISDIR);
  if (!S_ISREG(info.st_mode)) return "not a regular file";
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return std::strerror(errno);
  close(descriptor);
  return "cannot read the file";
}

#endif
