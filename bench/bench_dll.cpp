// Reads frame 0 of one file through mondrel_input.aui2, loaded from beside
// this program, against the limit under the same Wine: the file's bytes in
// one ReadFile plus writing the frame. Prints four medians in milliseconds:
// ours and the limit with the file already open, then ours and the limit
// with the open and the close counted.
#include <windows.h>

#include "bench/bench_timer.h"
#include "host/plugin_beside.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

HANDLE OpenForReading(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
  std::vector<uint8_t> frame(imageSize, 1);

  HANDLE file = OpenForReading(argv[1]);
  LARGE_INTEGER size;
  if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size)) return 1;
  std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart), 1);
  const auto readWhole = [&](HANDLE from) {
    LARGE_INTEGER start{};
    DWORD got = 0;
    SetFilePointerEx(from, start, nullptr, FILE_BEGIN);
    ReadFile(from, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    std::memset(frame.data(), static_cast<int>(got & 1), frame.size());
  };

  bool failed = false;
  constexpr int kRuns = 21;
  const OursAndLimit alreadyOpen = MeasureAlternately(
      kRuns, [&] { failed |= read(handle, 0, frame.data()) != static_cast<int32_t>(imageSize); },
      [&] { readWhole(file); });
  close(handle);
  CloseHandle(file);
  const OursAndLimit fresh = MeasureAlternately(
      kRuns,
      [&] {
        void* opened = open(argv[1]);
        failed |= read(opened, 0, frame.data()) != static_cast<int32_t>(imageSize);
        close(opened);
      },
      [&] {
        HANDLE whole = OpenForReading(argv[1]);
        readWhole(whole);
        CloseHandle(whole);
      });
  if (failed) return 1;
  std::printf("%.3f %.3f %.3f %.3f\n", alreadyOpen.ours.median * 1e3, alreadyOpen.limit.median * 1e3,
              fresh.ours.median * 1e3, fresh.limit.median * 1e3);
  return 0;
}
