#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include <chrono>

namespace {

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::filesystem::path path = std::filesystem::temp_directory_path() / ("mondrel-fuzz-" + std::to_string(stamp));
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

// Frames larger than this are not read, so that runs stay fast.
constexpr int64_t kLargestFrameBytes = int64_t{2048} * 2048 * 8;
constexpr size_t kGuardBytes = 64;

}  // namespace

std::basic_string<WideChar> WriteFuzzFile(const char* name, const uint8_t* data, size_t size) {
  const std::filesystem::path path = Folder() / name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
#ifdef _WIN32
  return path.wstring();
#else
  return path.u16string();
#endif
}

void RemoveFuzzFile(const char* name) {
  std::error_code ignored;
  std::filesystem::remove(Folder() / name, ignored);
}

const char* LastFuzzOutcome = "";

void DriveHandle(const std::basic_string<WideChar>& path, const int32_t* frames, int frameCount) {
  const PluginTable* table = GetInputPluginTable();
  void* handle = table->open(path.c_str());
  LastFuzzOutcome = "refused";
  if (handle == nullptr) return;
  LastFuzzOutcome = "unread";
  InputInfo info;
  std::memset(&info, 0, sizeof info);
  if (!table->getInformation(handle, &info)) std::abort();
  const uint8_t* bitmap = static_cast<const uint8_t*>(info.format);
  int32_t width = 0;
  int32_t height = 0;
  std::memcpy(&width, bitmap + 4, 4);
  std::memcpy(&height, bitmap + 8, 4);
  if (width < 1 || height < 1) std::abort();  // open refuses empty windows
  const int64_t frameBytes = static_cast<int64_t>(width) * height * 8;
  if (frameBytes >= (int64_t{1} << 31)) std::abort();
  if (frameBytes <= kLargestFrameBytes) {
    LastFuzzOutcome = "no-frame";
    std::vector<uint8_t> frame(static_cast<size_t>(frameBytes) + kGuardBytes, 0xCD);
    for (int i = 0; i < frameCount; ++i) {
      const int32_t result = table->readFrame(handle, frames[i], frame.data());
      if (result != 0 && result != frameBytes) std::abort();
      if (result != 0) LastFuzzOutcome = "frames";
      for (size_t k = 0; k < kGuardBytes; ++k) {
        if (frame[static_cast<size_t>(frameBytes) + k] != 0xCD) std::abort();
      }
    }
  }
  if (!table->close(handle)) std::abort();
}
