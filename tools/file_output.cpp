#include "tools/file_output.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "sequence/sequence_name.h"
#include "tools/tool_platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Paths of the temporary files in flight, kept where an interrupt handler
// may read them without allocating or locking.
struct TemporarySlot {
  std::atomic<bool> used{false};
  WideChar widePath[kWideStoreUnits];
  char path[4096];
};
TemporarySlot gTemporaries[kTemporarySlots];
std::atomic<bool> gHandlerInstalled{false};

#ifdef _WIN32
BOOL WINAPI RemoveTemporariesOnInterrupt(DWORD) {
  for (TemporarySlot& slot : gTemporaries) {
    if (slot.used.load()) DeleteFileW(slot.widePath);
  }
  return FALSE;  // and on to the default handler, which ends the tool
}

void InstallInterruptHandler() { SetConsoleCtrlHandler(RemoveTemporariesOnInterrupt, TRUE); }
#else
void RemoveTemporariesOnSignal(int signal) {
  for (TemporarySlot& slot : gTemporaries) {
    if (slot.used.load()) unlink(slot.path);
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void InstallInterruptHandler() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, RemoveTemporariesOnSignal);
}
#endif

}  // namespace

bool ReadWholeFile(const std::string& path, FileBytes* bytes, std::string* error) try {
  const WideString wide = ToWide(path);
  const platform::FileHandle file = platform::OpenFileForReading(wide.c_str());
  if (file == platform::kInvalidFile) {
    *error = SystemReason(path);
    return false;
  }
  const int64_t size = platform::FileSize(file);
  bool complete = size >= 0;
  if (complete) bytes->resize(static_cast<size_t>(size));
  for (int64_t done = 0; complete && done < size;) {
    const int64_t piece = size - done < (int64_t{1} << 30) ? size - done : (int64_t{1} << 30);
    uint32_t read = 0;
    complete = platform::ReadFromFile(file, bytes->data() + done, static_cast<uint32_t>(piece), &read) && read > 0;
    done += read;
  }
  platform::CloseFile(file);
  if (!complete) *error = "cannot read the whole file";
  return complete;
} catch (const std::bad_alloc&) {
  *error = "not enough memory to read it";
  return false;
}

#ifdef _WIN32

bool WriteNewFile(const std::string& path, const uint8_t* bytes, size_t size, std::string* error) {
  const WideString wide = ToWide(path);
  // Shared for deletion, so that an interrupt can remove it while it is open.
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = SystemErrorText(GetLastError());
    return false;
  }
  size_t done = 0;
  bool written = true;
  while (written && done < size) {
    const size_t piece = size - done < (size_t{1} << 30) ? size - done : (size_t{1} << 30);
    DWORD count = 0;
    written = WriteFile(file, bytes + done, static_cast<DWORD>(piece), &count, nullptr) && count == piece;
    done += count;
  }
  if (!written) *error = SystemErrorText(GetLastError());
  if (!CloseHandle(file) && written) {
    *error = SystemErrorText(GetLastError());
    written = false;
  }
  if (!written) DeleteFileW(wide.c_str());
  return written;
}

bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace, std::string* error) {
  if (MoveFileExW(ToWide(from).c_str(), ToWide(to).c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) return true;
  *error = SystemErrorText(GetLastError());
  return false;
}

void RemoveFile(const std::string& path) { DeleteFileW(ToWide(path).c_str()); }

#else

bool WriteNewFile(const std::string& path, const uint8_t* bytes, size_t size, std::string* error) {
  const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (descriptor < 0) {
    *error = std::strerror(errno);
    return false;
  }
  size_t done = 0;
  bool written = true;
  while (written && done < size) {
    const ssize_t count = write(descriptor, bytes + done, size - done);
    if (count < 0 && errno == EINTR) continue;
    written = count > 0;
    if (written) done += static_cast<size_t>(count);
  }
  if (!written) *error = std::strerror(errno);
  if (close(descriptor) != 0 && written) {
    *error = std::strerror(errno);
    written = false;
  }
  if (!written) unlink(path.c_str());
  return written;
}

bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace, std::string* error) {
  if (replace) {
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    *error = std::strerror(errno);
    return false;
  }
  // A link fails where the name is taken, which a rename would replace.
  if (link(from.c_str(), to.c_str()) == 0) {
    unlink(from.c_str());
    return true;
  }
  // File systems without links: a rename after making sure, which leaves
  // only a moment in which another program could create the name.
  if (errno != EEXIST && access(to.c_str(), F_OK) != 0 && rename(from.c_str(), to.c_str()) == 0) return true;
  *error = std::strerror(errno);
  return false;
}

void RemoveFile(const std::string& path) { unlink(path.c_str()); }

#endif

void NoteTemporaryFile(int slot, const std::string& path) {
  if (!gHandlerInstalled.exchange(true)) InstallInterruptHandler();
  TemporarySlot& entry = gTemporaries[slot];
  const WideString wide = ToWide(path);
  CopyWideBounded(entry.widePath, kWideStoreUnits, wide.c_str());
  std::snprintf(entry.path, sizeof entry.path, "%s", path.c_str());
  entry.used.store(true);
}

void ForgetTemporaryFile(int slot) { gTemporaries[slot].used.store(false); }
