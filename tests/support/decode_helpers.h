#pragma once

#include <cstring>
#include <vector>

#include "exr/mondrel.h"
#include "test_files.h"

namespace exrtest {

constexpr int32_t kHandleScratchSize = 131104;
constexpr size_t kGuardBytes = 64;
constexpr uint8_t kGuardByte = 0xA5;

// A frame buffer followed by a guard region that must stay untouched.
struct GuardedFrame {
  explicit GuardedFrame(size_t frameBytes, uint8_t fill = 0xCD)
      : bytes(frameBytes + kGuardBytes, fill), size(frameBytes) {
    std::memset(bytes.data() + size, kGuardByte, kGuardBytes);
  }
  bool GuardIntact() const {
    for (size_t i = size; i < bytes.size(); ++i) {
      if (bytes[i] != kGuardByte) return false;
    }
    return true;
  }
  Bytes Frame() const { return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)); }
  uint8_t* data() { return bytes.data(); }
  std::vector<uint8_t> bytes;
  size_t size;
};

// Reads the first bytes of an open file into the header buffer and parses.
inline int32_t ParseBytesFromFile(Mondrel& image, platform::FileHandle file) {
  uint32_t bytesRead = 0;
  platform::SeekFile(file, 0);
  if (!platform::ReadFromFile(file, HeaderBuffer, kHeaderBufferSize, &bytesRead)) return 0;
  return image.ParseHeader(static_cast<int32_t>(bytesRead));
}

struct DecodeRun {
  int32_t parseStatus = 0;
  int32_t tableStatus = 0;
  int32_t decodeResult = -1;
  bool sameOnRereading = true;  // with `reread`: a second read gave the same
};

// Opens a file through the platform layer and runs the whole decode chain
// on it as a single-image open and read do. With `reread`, the frame is
// read once more after the file's read position was moved elsewhere, as
// the next frame of a single image is.
inline DecodeRun DecodeFile(const fs::path& path, GuardedFrame& frame,
                            int32_t scratchSize = kHandleScratchSize, bool reread = false) {
  DecodeRun run;
  const WideString wide = WidePath(path);
  platform::FileHandle file = platform::OpenFileForReading(wide.c_str());
  if (file == platform::kInvalidFile) return run;
  uint32_t bytesRead = 0;
  platform::ReadFromFile(file, HeaderBuffer, kHeaderBufferSize, &bytesRead);
  Mondrel image;
  run.parseStatus = image.ParseHeader(static_cast<int32_t>(bytesRead));
  std::vector<uint8_t> scratch(static_cast<size_t>(scratchSize));
  image.scratch = scratch.data();
  image.scratchSize = scratchSize;
  if (run.parseStatus > 0) {
    run.tableStatus = image.ReadLineOffsets(file);
    run.decodeResult = image.DecodeFrame(file, frame.data());
    if (reread) {
      GuardedFrame again(frame.size, 0xEE);
      platform::SeekFile(file, 0);
      run.sameOnRereading = image.DecodeFrame(file, again.data()) == run.decodeResult && again.Frame() == frame.Frame();
    }
  }
  platform::CloseFile(file);
  return run;
}

}  // namespace exrtest
