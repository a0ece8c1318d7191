// The narrow layer between the plug-in core and the operating system.
// Everything that touches files, global memory, path existence or wide
// formatting goes through here: Win32 on Windows, a POSIX twin elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
typedef wchar_t WideChar;
#define MONDREL_WIDE(text) L##text
#else
typedef char16_t WideChar;
#define MONDREL_WIDE(text) u##text
#endif

namespace platform {

// Win32 HANDLE on Windows, a file descriptor carried in a pointer elsewhere.
typedef void* FileHandle;
extern FileHandle const kInvalidFile;  // INVALID_HANDLE_VALUE

// Opens an existing file for reading, sharing read access only.
FileHandle OpenFileForReading(const WideChar* path);
void CloseFile(FileHandle file);

// One synchronous read at the current position. False when the call itself
// fails; a short count at end of file is not a failure.
bool ReadFromFile(FileHandle file, void* destination, uint32_t byteCount,
                  uint32_t* bytesRead);

// Moves the read position to an absolute offset; false for offsets the
// system refuses (negative as a signed 64-bit position, or beyond its range).
bool SeekFile(FileHandle file, uint64_t offset);

// Where a run of reads left the file's read position: the end of the last
// read, while nothing else moved it. A run starts with it unknown and must be
// the file's only user until it ends.
struct ReadPosition {
  uint64_t offset = 0;
  bool known = false;
};

// Reads `byteCount` bytes from an absolute offset: a seek and one read on
// Windows, a single positioned read elsewhere. False when the system refuses
// the offset or the read fails; a short count at end of file is not a failure.
// With `position`, Windows skips the seek when the file already stands at
// `offset` (a run reading on from where it stopped), and notes where it ends.
bool ReadFileAt(FileHandle file, uint64_t offset, void* destination, uint32_t byteCount,
                uint32_t* bytesRead, ReadPosition* position = nullptr);

// The file's size in bytes, or -1 when it cannot be told.
int64_t FileSize(FileHandle file);

// Zero-filled fixed memory (GlobalAlloc/GlobalFree on Windows).
void* AllocateZeroed(size_t byteCount);
void FreeZeroed(void* block);

// True when a file or a folder exists under the path.
bool PathExists(const WideChar* path);

// Bounded wide formatting in the manner of StringCchPrintfW: the output is
// always terminated within `capacity` units and cut when too long. Supports
// %%, %s (wide string), %d with an optional 0 flag and a minimum width.
// Returns false when the output was cut.
bool FormatWide(WideChar* destination, size_t capacity, const WideChar* pattern, ...);

}  // namespace platform
