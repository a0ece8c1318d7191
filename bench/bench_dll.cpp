// Reads frame 0 of one file through mondrel_input.aui2, loaded from beside
// this program, and prints the median time per read in milliseconds, then
// the median of the limit under the same Wine: the file's bytes in one
// ReadFile plus writing the frame.
#include <windows.h>

#include "host/plugin_beside.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

template <typename Work>
double MedianMilliseconds(Work work) {
  work();  // warm the page cache and the buffers
  std::vector<double> times;
  for (int i = 0; i < 21; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  HMODULE module = LoadPluginBesideProgram();
  if (module == nullptr) return 1;
  using GetTable = const uint8_t* (*)();
  const uint8_t* table = reinterpret_cast<GetTable>(reinterpret_cast<void*>(GetProcAddress(module, "GetInputPluginTable")))();
  using Open = void* (*)(const wchar_t*);
  using Info = uint8_t (*)(void*, void*);
  using Read = int32_t (*)(void*, int32_t, void*);
  using Close = uint8_t (*)(void*);
  Open open;
  Info info;
  Read read;
  Close close;
  std::memcpy(&open, table + 32, 8);
  std::memcpy(&close, table + 40, 8);
  std::memcpy(&info, table + 48, 8);
  std::memcpy(&read, table + 56, 8);
  void* handle = open(argv[1]);
  if (handle == nullptr) return 1;
  uint8_t record[64] = {};
  info(handle, record);
  const uint8_t* bitmap;
  std::memcpy(&bitmap, record + 16, 8);
  uint32_t imageSize;
  std::memcpy(&imageSize, bitmap + 20, 4);
  std::vector<uint8_t> frame(imageSize);
  bool failed = false;
  const double ours = MedianMilliseconds([&] { failed |= read(handle, 0, frame.data()) != static_cast<int32_t>(imageSize); });
  close(handle);
  if (failed) return 1;

  HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  LARGE_INTEGER size;
  if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size)) return 1;
  CloseHandle(file);
  std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
  const double limit = MedianMilliseconds([&] {
    HANDLE whole = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD got = 0;
    ReadFile(whole, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(whole);
    std::memset(frame.data(), static_cast<int>(got & 1), frame.size());
  });
  std::printf("%.3f %.3f\n", ours, limit);
  return 0;
}
