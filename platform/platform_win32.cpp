// Win32 side of the platform layer: the only code of the plug-in that calls
// the operating system.
#include "platform/platform.h"

#include <windows.h>
#include <shlwapi.h>
#include <strsafe.h>

#include <cstdarg>

namespace platform {

FileHandle const kInvalidFile = INVALID_HANDLE_VALUE;

FileHandle OpenFileForReading(const WideChar* path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  // Devices, consoles and pipes open too (NUL, CON, \\.\pipe\...), and a
  // read of one may wait for ever: only files on disk are read.
  if (file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

void CloseFile(FileHandle file) {
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

bool ReadFromFile(FileHandle file, void* destination, uint32_t byteCount, uint32_t* bytesRead) {
  DWORD got = 0;
  const BOOL succeeded = ReadFile(file, destination, byteCount, &got, nullptr);
  *bytesRead = succeeded ? got : 0;
  return succeeded != FALSE;
}

bool SeekFile(FileHandle file, uint64_t offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
  // The full 64-bit position, so chunks beyond 2 GiB are reached.
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != FALSE;
}

bool ReadFileAt(FileHandle file, uint64_t offset, void* destination, uint32_t byteCount, uint32_t* bytesRead,
                ReadPosition* position) {
  *bytesRead = 0;
  const bool alreadyThere = position != nullptr && position->known && position->offset == offset;
  const bool read = (alreadyThere || SeekFile(file, offset)) && ReadFromFile(file, destination, byteCount, bytesRead);
  if (position != nullptr) {
    // A read that failed may have left the position anywhere. The sum stays
    // below 2^64: the position held `offset`, so it is at most 2^63 - 1.
    position->known = read;
    position->offset = offset + *bytesRead;
  }
  return read;
}

int64_t FileSize(FileHandle file) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return -1;
  return static_cast<int64_t>(size.QuadPart);
}

void* AllocateZeroed(size_t byteCount) {
  return GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, byteCount);
}

void FreeZeroed(void* block) {
  if (block != nullptr) GlobalFree(block);
}

bool PathExists(const WideChar* path) { return PathFileExistsW(path) != FALSE; }

bool FormatWide(WideChar* destination, size_t capacity, const WideChar* pattern, ...) {
  if (destination == nullptr || capacity == 0) return false;  // nowhere to write, as the twin refuses
  va_list arguments;
  va_start(arguments, pattern);
  const HRESULT result = StringCchVPrintfW(destination, capacity, pattern, arguments);
  va_end(arguments);
  return SUCCEEDED(result);
}

}  // namespace platform
