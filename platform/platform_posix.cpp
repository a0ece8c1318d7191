// POSIX twin of the Win32 platform layer, so the core builds and is tested
// natively. Behaviour follows the Win32 calls it stands in for: opening a
// folder fails as CreateFileW does, reads loop until the count or end of
// file as a synchronous ReadFile does, and the existence test is true for
// folders as PathFileExistsW is.
#include "platform/platform.h"
#include "platform/instrumentation.h"
#include "platform/utf16.h"
#include "platform/wide_format.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

FileHandle const kInvalidFile = reinterpret_cast<FileHandle>(static_cast<intptr_t>(-1));

namespace {

Instrumentation gInstrumentation;

int ToDescriptor(FileHandle file) {
  return static_cast<int>(reinterpret_cast<intptr_t>(file));
}

bool IsInjectedFailure(int64_t callIndex, int64_t failAt) {
  if (failAt <= 0 || callIndex != failAt) return false;
  ++gInstrumentation.injectedFailures;
  return true;
}

// One read or pread, through the hooks that make it short or interrupted.
ssize_t SystemRead(int descriptor, unsigned char* out, uint32_t count, int64_t offset) {
  ++gInstrumentation.systemReads;
  if (IsInjectedFailure(gInstrumentation.systemReads, gInstrumentation.interruptSystemRead)) {
    errno = EINTR;
    return -1;
  }
  if (count > 1 && IsInjectedFailure(gInstrumentation.systemReads, gInstrumentation.shortSystemRead)) count /= 2;
  return offset < 0 ? read(descriptor, out, count) : pread(descriptor, out, count, static_cast<off_t>(offset));
}

// The file name in UTF-8. False when there is no memory for it, so that no
// exception leaves the platform layer.
bool ToUtf8(const WideChar* text, std::string* result) try {
  result->clear();
  size_t length = 0;
  while (text[length] != 0) ++length;
  AppendUtf8(*result, text, length);
  return true;
} catch (const std::bad_alloc&) {
  return false;
}

// Reads until `byteCount` bytes or end of file, as a synchronous ReadFile
// does; from `offset` when it is not negative, else at the file position.
bool ReadFully(FileHandle file, int64_t offset, void* destination, uint32_t byteCount, uint32_t* bytesRead) {
  ++gInstrumentation.reads;
  *bytesRead = 0;
  if (IsInjectedFailure(gInstrumentation.reads, gInstrumentation.failRead)) return false;
  if (file == kInvalidFile) return false;
  unsigned char* out = static_cast<unsigned char*>(destination);
  uint32_t total = 0;
  while (total < byteCount) {
    const ssize_t got = SystemRead(ToDescriptor(file), out + total, byteCount - total, offset < 0 ? -1 : offset + total);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) break;
    total += static_cast<uint32_t>(got);
  }
  *bytesRead = total;
  return true;
}

}  // namespace

Instrumentation& GetInstrumentation() { return gInstrumentation; }

void ResetInstrumentation() {
  // Everything but the books of what is still allocated and open.
  for (std::atomic<int64_t>* counter :
       {&gInstrumentation.allocations, &gInstrumentation.opens, &gInstrumentation.reads,
        &gInstrumentation.existenceTests, &gInstrumentation.systemReads, &gInstrumentation.injectedFailures,
        &gInstrumentation.failAllocation, &gInstrumentation.failOpen, &gInstrumentation.failRead,
        &gInstrumentation.shortSystemRead, &gInstrumentation.interruptSystemRead}) {
    counter->store(0);
  }
}

FileHandle OpenFileForReading(const WideChar* path) {
  ++gInstrumentation.opens;
  if (IsInjectedFailure(gInstrumentation.opens, gInstrumentation.failOpen)) return kInvalidFile;
  if (path == nullptr) return kInvalidFile;
  std::string utf8;
  if (!ToUtf8(path, &utf8)) return kInvalidFile;
  // Opened without blocking, as opening a FIFO would wait for a writer.
  // Only regular files hold frames: folders, pipes and devices are refused,
  // and reads of what remains block as usual (O_NONBLOCK is the only status
  // flag set here, so clearing them all clears it).
  const int descriptor = open(utf8.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) return kInvalidFile;
  struct stat info;
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) || fcntl(descriptor, F_SETFL, 0) != 0) {
    close(descriptor);
    return kInvalidFile;
  }
  ++gInstrumentation.openFiles;
  return reinterpret_cast<FileHandle>(static_cast<intptr_t>(descriptor));
}

void CloseFile(FileHandle file) {
  if (file == kInvalidFile) return;
  --gInstrumentation.openFiles;
  close(ToDescriptor(file));
}

bool ReadFromFile(FileHandle file, void* destination, uint32_t byteCount, uint32_t* bytesRead) {
  return ReadFully(file, -1, destination, byteCount, bytesRead);
}

bool SeekFile(FileHandle file, uint64_t offset) {
  if (file == kInvalidFile || offset > static_cast<uint64_t>(INT64_MAX)) return false;
  return lseek(ToDescriptor(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

// A positioned read needs no seek, so `position` has nothing to save here.
bool ReadFileAt(FileHandle file, uint64_t offset, void* destination, uint32_t byteCount, uint32_t* bytesRead,
                ReadPosition* /*position*/) {
  *bytesRead = 0;
  if (offset > static_cast<uint64_t>(INT64_MAX) - byteCount) return false;
  return ReadFully(file, static_cast<int64_t>(offset), destination, byteCount, bytesRead);
}

int64_t FileSize(FileHandle file) {
  struct stat info;
  if (file == kInvalidFile || fstat(ToDescriptor(file), &info) != 0) return -1;
  return static_cast<int64_t>(info.st_size);
}

void* AllocateZeroed(size_t byteCount) {
  ++gInstrumentation.allocations;
  if (IsInjectedFailure(gInstrumentation.allocations, gInstrumentation.failAllocation)) return nullptr;
  void* block = std::calloc(1, byteCount == 0 ? 1 : byteCount);
  if (block != nullptr) ++gInstrumentation.liveBlocks;
  return block;
}

void FreeZeroed(void* block) {
  if (block == nullptr) return;
  --gInstrumentation.liveBlocks;
  std::free(block);
}

bool PathExists(const WideChar* path) {
  ++gInstrumentation.existenceTests;
  std::string utf8;
  if (path == nullptr || !ToUtf8(path, &utf8)) return false;
  struct stat info;
  return stat(utf8.c_str(), &info) == 0;
}

bool FormatWide(WideChar* destination, size_t capacity, const WideChar* pattern, ...) {
  va_list arguments;
  va_start(arguments, pattern);
  const bool complete = FormatWideList(destination, capacity, pattern, arguments);
  va_end(arguments);
  return complete;
}

}  // namespace platform
